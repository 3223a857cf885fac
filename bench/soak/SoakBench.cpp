// Soak run of the batch check against a hostile network: 10 000 sources on
// local sites that reset, stall past the time-out, send endless bodies, gzip
// bombs, malformed status lines and headers, redirect loops and 1 MB header
// lines, next to good sites (200 and 404, and 200 before an endless body or a
// bomb). Prints the elapsed time, the peak
// resident memory, the verdicts per site and the thread counts; exits 1 when a
// verdict is wrong, the run does not end in time or threads are left behind.
// The sites run in a child process, so that the figures are the client's own.
// Only 127.0.0.1 is ever contacted.
//   soak_bench [--count 10000] [--workers 60] [--timeout-ms 2000]
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <poll.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/uBookSourceBean.h"
#include "app/uMainLogic.h"
#include "http/KivHttpClient.h"
#include "json/KivJson.h"
#include "workers/KivWorker.h"

namespace {

// ThreadSanitizer runs a background thread of its own; the sanitizers' shadow
// memory says nothing of the client's, so the memory goal holds only without them.
#if defined(__SANITIZE_THREAD__)
constexpr int kToolThreads = 1;
#else
constexpr int kToolThreads = 0;
#endif
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryGoal = false;
#else
constexpr bool kMemoryGoal = true;
#endif

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

long StatusKb(const char* AKey) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(AKey);
  while (std::getline(f, line))
    if (line.compare(0, n, AKey) == 0) return std::atol(line.c_str() + n);
  return 0;
}

// Names of the threads of this process, for the report when some are left.
std::string ThreadNames() {
  std::string r;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      std::ifstream f(std::string("/proc/self/task/") + e->d_name + "/comm");
      std::string name;
      std::getline(f, name);
      r += (r.empty() ? "" : ", ") + name;
    }
    closedir(d);
  }
  return r;
}

int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

// ---------------------------------------------------------------- the sites

enum TSite { sGood200, sGood404, sReset, sStall, sEndless, sGzipBomb, sBadStatus, sBadHeaders, sRedirectLoop,
             sHugeHeader, sEndless200, sGzipBomb200, sSiteCount };
const char* const kSiteNames[sSiteCount] = {"200",         "404",          "reset",         "stall past time-out",
                                            "endless body", "gzip bomb",    "bad status line", "bad headers",
                                            "redirect loop", "1 MB header line", "200, endless body",
                                            "200, gzip bomb"};
// The check passes on the status alone and reads no body, so a good status
// before an endless body or a bomb is alive; those sites show that nothing
// hangs or swells on them.
bool ShouldLive(int ASite) {
  return ASite == sGood200 || ASite == sGood404 || ASite == sEndless200 || ASite == sGzipBomb200;
}

struct TListener {
  int Fd = -1;
  int Port = 0;
};

TListener Listen() {
  TListener l;
  l.Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(l.Fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(l.Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l.Fd, 512) != 0) {
    std::perror("listen");
    std::exit(2);
  }
  socklen_t len = sizeof a;
  getsockname(l.Fd, reinterpret_cast<sockaddr*>(&a), &len);
  l.Port = ntohs(a.sin_port);
  return l;
}

bool SendAll(int Fd, const char* P, size_t N) {
  while (N) {
    ssize_t k = send(Fd, P, N, MSG_NOSIGNAL);
    if (k <= 0) return false;
    P += k;
    N -= size_t(k);
  }
  return true;
}
bool SendAll(int Fd, const std::string& S) { return SendAll(Fd, S.data(), S.size()); }

// Up to the blank line; false when the peer closed or nothing came in 5 s.
bool ReadHead(int Fd, std::string& AHead) {
  char buf[2048];
  while (AHead.find("\r\n\r\n") == std::string::npos) {
    pollfd p{Fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return false;
    ssize_t n = recv(Fd, buf, sizeof buf, 0);
    if (n <= 0 || AHead.size() > 65536) return false;
    AHead.append(buf, size_t(n));
  }
  return true;
}

// Waits until the peer closes (or AMs pass).
void WaitForClose(int Fd, int AMs) {
  char buf[256];
  const auto end = Clock::now() + std::chrono::milliseconds(AMs);
  while (Clock::now() < end) {
    pollfd p{Fd, POLLIN, 0};
    if (poll(&p, 1, 100) > 0 && recv(Fd, buf, sizeof buf, 0) <= 0) return;
  }
}

std::string GzipOfZeros(size_t ASize) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
  std::string in(1 << 20, '\0'), out;
  char buf[1 << 16];
  for (size_t done = 0; done < ASize;) {
    const size_t n = std::min(in.size(), ASize - done);
    done += n;
    z.next_in = reinterpret_cast<Bytef*>(in.data());
    z.avail_in = uInt(n);
    const int flush = done == ASize ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = reinterpret_cast<Bytef*>(buf);
      z.avail_out = sizeof buf;
      deflate(&z, flush);
      out.append(buf, sizeof buf - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return out;
}

void Serve(int ASite, int Fd, const std::string& ABomb, int AStallMs) {
  std::string head;
  if (!ReadHead(Fd, head)) return;
  switch (ASite) {
    case sGood200:
      SendAll(Fd, "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: 2\r\n"
                  "Connection: close\r\n\r\nok");
      break;
    case sGood404:
      SendAll(Fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\nConnection: close\r\n\r\nnot found");
      break;
    case sReset: {
      linger l{1, 0};  // close sends RST
      setsockopt(Fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      return;
    }
    case sStall:
      WaitForClose(Fd, AStallMs);
      return;
    case sEndless:
    case sEndless200: {
      if (!SendAll(Fd, ASite == sEndless ? "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/html\r\n\r\n"
                                         : "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n"))
        return;
      const std::string chunk(16384, 'x');
      const auto end = Clock::now() + std::chrono::seconds(20);
      while (Clock::now() < end && SendAll(Fd, chunk)) {
      }
      return;
    }
    case sGzipBomb:
    case sGzipBomb200:
      SendAll(Fd, std::string(ASite == sGzipBomb ? "HTTP/1.1 500 Internal Server Error" : "HTTP/1.1 200 OK") +
                      "\r\nContent-Encoding: gzip\r\nContent-Length: " +
                      std::to_string(ABomb.size()) + "\r\nConnection: close\r\n\r\n");
      SendAll(Fd, ABomb);
      break;
    case sBadStatus:
      SendAll(Fd, "HTTP/1.1 2x0 OK\r\n\x01\x02garbage\r\n\r\n");
      break;
    case sBadHeaders:
      SendAll(Fd, "HTTP/1.1 200 OK\r\nNo colon in this line\r\nContent-Length: 2\r\n\r\nok");
      break;
    case sRedirectLoop:
      SendAll(Fd, "HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
      break;
    case sHugeHeader:
      SendAll(Fd, "HTTP/1.1 200 OK\r\nX-Big: " + std::string(1 << 20, 'a') + "\r\nContent-Length: 2\r\n\r\nok");
      break;
  }
  shutdown(Fd, SHUT_WR);
  WaitForClose(Fd, 2000);
}

// The child process: one accept loop per site, one thread per connection.
[[noreturn]] void RunSites(const std::vector<TListener>& ASites, int AStallMs, int AReady) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  const std::string bomb = GzipOfZeros(size_t(1) << 30);  // 1 GB of zeros, about 1 MB on the wire
  if (write(AReady, "r", 1) != 1) _exit(2);
  close(AReady);
  std::vector<std::thread> loops;
  for (size_t s = 0; s < ASites.size(); ++s)
    loops.emplace_back([&, s] {
      for (;;) {
        int fd = accept4(ASites[s].Fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::thread([=, &bomb] {
          Serve(int(s), fd, bomb, AStallMs);
          close(fd);
        }).detach();
      }
    });
  for (auto& t : loops) t.join();
  _exit(0);
}

// ---------------------------------------------------------------- the run


}  // namespace

int main(int argc, char** argv) {
  int count = 10000, workers = 60, timeoutMs = 2000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--count") count = std::atoi(argv[i + 1]);
    else if (a == "--workers") workers = std::atoi(argv[i + 1]);
    else if (a == "--timeout-ms") timeoutMs = std::atoi(argv[i + 1]);
  }
  // The sites are forked before any thread of this process exists.
  std::vector<TListener> sites;
  for (int s = 0; s < sSiteCount; ++s) sites.push_back(Listen());
  int ready[2];
  if (pipe(ready) != 0) return 2;
  const pid_t child = fork();
  if (child == 0) RunSites(sites, timeoutMs * 2, ready[1]);
  for (auto& l : sites) close(l.Fd);
  close(ready[1]);
  char r = 0;
  if (read(ready[0], &r, 1) != 1) {
    std::fprintf(stderr, "the sites did not start\n");
    return 2;
  }
  close(ready[0]);
  for (const char* v : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                        "ALL_PROXY", "NO_PROXY"})
    unsetenv(v);

  const int threadsAtStart = ThreadCount();
  InitHttpClient();
  KivWorkerInit();
  const int threadsBefore = ThreadCount();
  bool ok = true;
  {
    TMainLogic logic;
    logic.SetCheckTimeout(timeoutMs);
    std::vector<int> siteOf(static_cast<size_t>(count));
    {
      JSONArray& data = logic.Sources().Data();
      for (int i = 0; i < count; ++i) {
        const int s = i % sSiteCount;
        siteOf[size_t(i)] = s;
        JSONObject* o = data.AddChildObject();
        o->SetString(u"bookSourceName", u"s" + IntToStr(i));
        o->SetString(u"bookSourceUrl",
                     FromUtf8("http://127.0.0.1:" + std::to_string(sites[size_t(s)].Port) + "/s" + std::to_string(i)));
      }
    }
    TRunOptions options;
    options.RemoveRepeat = false;
    options.CheckSources = true;
    options.WorkerCount = IntToStr(workers);
    const long rssBefore = StatusKb("VmRSS:");
    std::atomic<int> checked{0}, shown{0};
    std::atomic<int64_t> siteMs[sSiteCount] = {};
    logic.CheckListeners().Add([&](const TCheckOutcome& AOutcome) {
      checked.fetch_add(1);
      const int s = siteOf[size_t(AOutcome.Position)];
      siteMs[s].fetch_add(AOutcome.ElapsedMs);
      if (AOutcome.Alive() != ShouldLive(s) && shown.fetch_add(1) < 10)
        std::printf("  wrong verdict for %s site, source %d: status %d, %d attempts, %lld ms: %s\n", kSiteNames[s],
                    AOutcome.Position, AOutcome.Status, AOutcome.Attempts, static_cast<long long>(AOutcome.ElapsedMs),
                    ToUtf8(AOutcome.FailText).c_str());
    });
    const auto t0 = Clock::now();
    logic.ExecuteRun(options);
    const double elapsed = Seconds(t0);
    const int threadsAfterRun = ThreadCount();

    int alive[sSiteCount] = {}, dead[sSiteCount] = {};
    for (int i = 0; i < count; ++i) {
      bool isDead = false;
      for (const String& g : TBookSourceItem(logic.Sources().Data().GetJsonObject(i)).GetGroupList())
        isDead = isDead || g == u"失效";
      (isDead ? dead : alive)[siteOf[size_t(i)]]++;
    }
    std::printf("soak: %d sources, %d workers, time-out %d ms: %.1f s, %d checked\n", count, workers, timeoutMs,
                elapsed, checked.load());
    std::printf("peak resident memory (VmHWM) %ld MB, before the run %ld MB (goal under 500 MB)\n",
                StatusKb("VmHWM:") / 1024, rssBefore / 1024);
    int wrong = 0, totalAlive = 0, totalDead = 0;
    for (int s = 0; s < sSiteCount; ++s) {
      const int bad = ShouldLive(s) ? dead[s] : alive[s];
      wrong += bad;
      totalAlive += alive[s];
      totalDead += dead[s];
      std::printf("  %-20s alive %5d  dead %5d  mean check %6.0f ms%s\n", kSiteNames[s], alive[s], dead[s],
                  double(siteMs[s].load()) / std::max(1, alive[s] + dead[s]), bad ? "  <- wrong" : "");
    }
    std::printf("verdicts: %d alive, %d dead, %d wrong\n", totalAlive, totalDead, wrong);
    if (wrong || checked.load() != count) ok = false;
    if (kMemoryGoal && StatusKb("VmHWM:") > 500 * 1024) ok = false;

    // Idle workers retire after 15 to 22.5 s; then only the resident ones remain.
    const auto w0 = Clock::now();
    while (ThreadCount() > threadsBefore && Seconds(w0) < 90)
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::printf("threads: %d before the pool, %d with the pool (main, 2 workers, monitor), %d as the run ended, "
                "%d after %.0f s idle\n",
                threadsAtStart, threadsBefore, threadsAfterRun, ThreadCount(), Seconds(w0));
    if (ThreadCount() > threadsBefore) ok = false;
  }
  KivWorkerFinal();
  // A thread that has been told to end may need a moment to leave.
  const auto e0 = Clock::now();
  while (ThreadCount() > threadsAtStart + kToolThreads && Seconds(e0) < 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const int threadsAtEnd = ThreadCount();
  std::printf("threads after the pool's shutdown: %d (%s)\n", threadsAtEnd, ThreadNames().c_str());
  if (threadsAtEnd > threadsAtStart + kToolThreads) ok = false;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  std::printf("soak %s\n", ok ? "passed" : "FAILED");
  return ok ? 0 : 1;
}
