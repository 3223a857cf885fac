// tanvork-cli: the desktop program's batch work without a window.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "cli/uCliOptions.h"
#include "cli/uCliRun.h"
#include "cli/uCliTargets.h"
#include "cli/uConsoleWindow.h"
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
  // A closed standard output is an error to report, not a reason to die;
  // so is a file-size limit reached while writing.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  TCliOptions options;
  try {
    options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!options.Help && !options.Version) CheckOutputNames(options);
  } catch (const TUsageError& E) {
    const std::string message = ::isatty(STDERR_FILENO) ? ToUtf8(EscapeControls(FromUtf8(E.what()))) : E.what();
    std::fprintf(stderr, "tanvork-cli: %s\n\n%s", message.c_str(), UsageText());
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
