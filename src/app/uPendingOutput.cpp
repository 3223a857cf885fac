#include "app/uPendingOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/KivStream.h"

namespace {

[[noreturn]] void Fail(const std::string& AWhat, const std::string& AName, int AErr) {
  throw Exception(FromUtf8("cannot " + AWhat + " '" + AName + "': " + std::strerror(AErr)));
}

bool WriteAll(int AFd, const char* AData, size_t ALen) {
  while (ALen) {
    const ssize_t n = ::write(AFd, AData, ALen);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    AData += n;
    ALen -= size_t(n);
  }
  return true;
}

std::string DirOf(const std::string& APath) {
  const size_t s = APath.rfind('/');
  if (s == std::string::npos) return ".";
  return s == 0 ? "/" : APath.substr(0, s);
}

std::string LeafOf(const std::string& APath) {
  const size_t s = APath.rfind('/');
  return s == std::string::npos ? APath : APath.substr(s + 1);
}

std::string TempFolder() {
  const char* dir = std::getenv("TMPDIR");
  return dir && *dir ? dir : "/tmp";
}

// A fresh file from a mkstemps pattern ending in ASuffix; returns its path.
std::string MakeTemp(const std::string& APrefix, const std::string& ASuffix, const std::string& AShownName) {
  std::string path = APrefix + "XXXXXX" + ASuffix;
  const int fd = ::mkstemps(path.data(), int(ASuffix.size()));
  if (fd < 0) Fail("write", AShownName, errno);
  ::close(fd);
  return path;
}

}  // namespace

TPendingOutput::TPendingOutput(const std::string& ATarget, const std::string& ASuffix) : FTarget(ATarget) {
  struct stat st;
  const bool exists = ATarget != "-" && ::stat(ATarget.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) throw Exception(FromUtf8("cannot write '" + ATarget + "': it is a folder"));
  if (ATarget == "-" || (exists && !S_ISREG(st.st_mode))) {
    // A device or a pipe cannot be renamed over: its bytes are copied into it.
    FStdout = ATarget == "-";
    FDirect = !FStdout;
    FTemp = MakeTemp(TempFolder() + "/tanvork-cli-", ASuffix, FStdout ? "standard output" : ATarget);
    return;
  }
  if (exists) {
    FMode = st.st_mode & 07777;
    // Writing through a symbolic link keeps the link.
    char resolved[PATH_MAX];
    if (::realpath(ATarget.c_str(), resolved)) FTarget = resolved;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    FMode = 0666 & ~mask;
  }
  // Same folder as the target, so the final rename cannot cross file systems.
  // The process id in the name tells a later run which ones were left by a
  // process that is gone (killed during its save): those are removed.
  const std::string prefix = DirOf(FTarget) + "/." + LeafOf(FTarget) + ".tmp-";
  RemoveStaleTempFiles(prefix, ASuffix);
  FTemp = MakeTemp(prefix + std::to_string(::getpid()) + "-", ASuffix, ATarget);
}

TPendingOutput::~TPendingOutput() {
  if (!FCommitted && !FTemp.empty()) ::unlink(FTemp.c_str());
}

void TPendingOutput::WriteBytes(const Bytes& AData) {
  const std::string shown = FStdout ? "standard output" : FTarget;
  const int fd = ::open(FTemp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) Fail("write", shown, errno);
  if (!WriteAll(fd, AData.data(), AData.size()) || ::fsync(fd) != 0) {
    const int err = errno;
    ::close(fd);
    Fail("write", shown, err);
  }
  if (::close(fd) != 0) Fail("write", shown, errno);
}

void TPendingOutput::Commit() {
  if (FStdout || FDirect) {
    const std::string shown = FStdout ? "standard output" : FTarget;
    int out = STDOUT_FILENO;
    if (FDirect && (out = ::open(FTarget.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC)) < 0) Fail("write", shown, errno);
    struct TCloseOut {
      int Fd;
      ~TCloseOut() {
        if (Fd != STDOUT_FILENO) ::close(Fd);
      }
    } closeOut{out};
    const int fd = ::open(FTemp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("read", FTemp, errno);
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        const int err = errno;
        ::close(fd);
        Fail("read", FTemp, err);
      }
      if (n == 0) break;
      if (!WriteAll(out, buf, size_t(n))) {
        const int err = errno;
        ::close(fd);
        Fail("write", shown, err);
      }
    }
    ::close(fd);
    ::unlink(FTemp.c_str());
    FCommitted = true;
    return;
  }
  if (::chmod(FTemp.c_str(), FMode) != 0) Fail("write", FTarget, errno);
  if (::rename(FTemp.c_str(), FTarget.c_str()) != 0) Fail("write", FTarget, errno);
  FCommitted = true;
  const int dfd = ::open(DirOf(FTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}
