#include "CliProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

namespace {

std::vector<char*> Argv(std::vector<std::string>& AArgs) {
  std::vector<char*> argv;
  for (std::string& a : AArgs) argv.push_back(a.data());
  argv.push_back(nullptr);
  return argv;
}

int WaitStatus(pid_t APid) {
  int status = 0;
  while (::waitpid(APid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TCliResult RunCli(const std::vector<std::string>& AArgs, const std::string& AInput, int ATimeoutMs,
                  int AInterruptAfterMs) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return {};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  std::vector<std::string> args{TANVORK_CLI};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  std::vector<char*> argv = Argv(args);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, TANVORK_CLI, &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  TCliResult result;
  if (rc != 0) {
    ::close(in[1]);
    ::close(out[0]);
    ::close(err[0]);
    return result;
  }
  // A child that stops reading must not kill the test.
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  int inFd = in[1];
  if (AInput.empty()) {
    ::close(inFd);
    inFd = -1;
  }
  const auto started = std::chrono::steady_clock::now();
  const auto deadline = started + std::chrono::milliseconds(ATimeoutMs);
  bool interrupted = AInterruptAfterMs <= 0;
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
    if (!outOpen) fds[0].fd = -1;
    if (!errOpen) fds[1].fd = -1;
    ::poll(fds, 3, 100);
    char buf[65536];
    for (int k = 0; k < 2; ++k) {
      if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
      if (n > 0) {
        (k == 0 ? result.Out : result.Err).append(buf, size_t(n));
      } else if (n == 0 || errno != EINTR) {
        (k == 0 ? outOpen : errOpen) = false;
      }
    }
    if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = ::write(inFd, AInput.data() + written, AInput.size() - written);
      if (n > 0) written += size_t(n);
      if (n < 0 || written == AInput.size()) {
        ::close(inFd);
        inFd = -1;
      }
    }
    if (!interrupted && std::chrono::steady_clock::now() > started + std::chrono::milliseconds(AInterruptAfterMs)) {
      interrupted = true;
      ::kill(pid, SIGINT);
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      break;
    }
  }
  if (inFd >= 0) ::close(inFd);
  ::close(out[0]);
  ::close(err[0]);
  result.Status = WaitStatus(pid);
  return result;
}

TCliResult RunCliOnTerminal(const std::vector<std::string>& AArgs, int ATimeoutMs) {
  std::vector<std::string> args{TANVORK_CLI};
  args.insert(args.end(), AArgs.begin(), AArgs.end());
  std::vector<char*> argv = Argv(args);
  int master = -1;
  winsize ws{};
  ws.ws_col = 120;
  ws.ws_row = 24;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, &ws);
  TCliResult result;
  if (pid < 0) return result;
  if (pid == 0) {
    ::execv(TANVORK_CLI, argv.data());
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
  for (;;) {
    pollfd fd{master, POLLIN, 0};
    ::poll(&fd, 1, 100);
    if (fd.revents & (POLLIN | POLLHUP | POLLERR)) {
      char buf[4096];
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n > 0)
        result.Out.append(buf, size_t(n));
      else if (n == 0 || errno != EINTR)
        break;  // EIO once the child has gone
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      break;
    }
  }
  ::close(master);
  result.Status = WaitStatus(pid);
  return result;
}
