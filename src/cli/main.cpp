// tanvork-cli: the desktop program's batch work without a window.
#include <signal.h>

#include <atomic>
#include <cstdio>

#include "cli/uCliOptions.h"
#include "cli/uCliRun.h"
#include "http/KivHttpClient.h"
#include "workers/KivWorker.h"

namespace {

std::atomic<bool> GInterrupted{false};

void OnInterrupt(int) { GInterrupted = true; }

// The first Ctrl-C stops the run cleanly (nothing written); a second one,
// with the default action restored, ends the program at once.
void CatchInterrupts() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sa.sa_flags = SA_RESETHAND;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  // A closed standard output is an error to report, not a reason to die.
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  TCliOptions options;
  try {
    options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const TUsageError& E) {
    std::fprintf(stderr, "tanvork-cli: %s\n\n%s", E.what(), UsageText());
    return exitUsage;
  }
  if (options.Help) {
    std::fputs(UsageText(), stdout);
    return exitDone;
  }
  if (options.Version) {
    std::printf("tanvork-cli %s\n", TANVORK_VERSION);
    return exitDone;
  }
  CatchInterrupts();
  InitHttpClient();
  KivWorkerInit();
  const int rc = RunBatch(options, &GInterrupted);
  KivWorkerFinal();
  return rc;
}
