#include "cli/uCliTargets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/KivTypes.h"

namespace {

std::string DirOf(const std::string& APath) {
  const size_t s = APath.rfind('/');
  if (s == std::string::npos) return ".";
  return s == 0 ? "/" : APath.substr(0, s);
}

std::string LeafOf(const std::string& APath) {
  const size_t s = APath.rfind('/');
  return s == std::string::npos ? APath : APath.substr(s + 1);
}

// The file a name reaches: device and inode, or the resolved folder plus the leaf.
struct TIdentity {
  bool Exists = false;
  dev_t Dev = 0;
  ino_t Ino = 0;
  std::string Path;
};

TIdentity IdentityOf(const std::string& AName) {
  TIdentity id;
  struct stat st;
  const bool found = AName == "-" ? ::fstat(STDOUT_FILENO, &st) == 0 : ::stat(AName.c_str(), &st) == 0;
  if (found) {
    id.Exists = true;
    id.Dev = st.st_dev;
    id.Ino = st.st_ino;
    return id;
  }
  char resolved[PATH_MAX];
  const std::string dir = DirOf(AName);
  id.Path = (::realpath(dir.c_str(), resolved) ? std::string(resolved) : dir) + "/" + LeafOf(AName);
  return id;
}

struct TOutput {
  const char* Option;
  std::string Target;
};

std::vector<TOutput> OutputsOf(const TCliOptions& AOptions) {
  std::vector<TOutput> outputs;
  if (!AOptions.Output.empty())
    outputs.push_back({"--output", AOptions.Output == "-" ? "-" : ExportTarget(AOptions.Output)});
  if (!AOptions.Report.empty()) outputs.push_back({"--report", AOptions.Report});
  if (!AOptions.DedupeReport.empty()) outputs.push_back({"--dedupe-report", AOptions.DedupeReport});
  if (!AOptions.Diff.empty()) outputs.push_back({"--diff", AOptions.Diff});
  // Not written through a temporary file, but no output may replace it either.
  if (!AOptions.History.empty()) outputs.push_back({"--history", AOptions.History});
  return outputs;
}

[[noreturn]] void CannotWrite(const std::string& AName, const std::string& AWhy) {
  throw Exception(FromUtf8("cannot write '" + AName + "': " + AWhy));
}

}  // namespace

bool IsDirectTarget(const std::string& AName) {
  struct stat st;
  return AName != "-" && ::stat(AName.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

std::string ExportTarget(const std::string& AName) { return IsDirectTarget(AName) ? AName : ExportFileName(AName); }

bool SameTarget(const std::string& A, const std::string& B) {
  const TIdentity a = IdentityOf(A), b = IdentityOf(B);
  if (a.Exists != b.Exists) return false;
  return a.Exists ? a.Dev == b.Dev && a.Ino == b.Ino : a.Path == b.Path;
}

void CheckOutputNames(const TCliOptions& AOptions) {
  const std::vector<TOutput> outputs = OutputsOf(AOptions);
  for (const TOutput& o : outputs) {
    struct stat st;
    if (o.Target != "-" && ::lstat(o.Target.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
        ::stat(o.Target.c_str(), &st) != 0)
      throw TUsageError(std::string(o.Option) + " '" + o.Target + "' is a symbolic link to a missing file");
  }
  for (size_t i = 0; i < outputs.size(); ++i)
    for (size_t j = i + 1; j < outputs.size(); ++j)
      if (SameTarget(outputs[i].Target, outputs[j].Target))
        throw TUsageError(std::string(outputs[i].Option) + " and " + outputs[j].Option + " name the same file");
}

void CheckOutputFolders(const TCliOptions& AOptions) {
  for (const TOutput& o : OutputsOf(AOptions)) {
    if (o.Target == "-" || IsDirectTarget(o.Target)) continue;
    struct stat st;
    std::string target = o.Target;
    char resolved[PATH_MAX];
    if (::stat(target.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) CannotWrite(o.Target, "it is a folder");
      if (::realpath(target.c_str(), resolved)) target = resolved;
    }
    const std::string dir = DirOf(target);
    if (::stat(dir.c_str(), &st) != 0) CannotWrite(o.Target, "folder '" + dir + "': " + std::strerror(errno));
    if (!S_ISDIR(st.st_mode)) CannotWrite(o.Target, "'" + dir + "' is not a folder");
    // Only making a file there tells (a read-only mount, permissions, quotas).
    std::string probe = dir + "/.tanvork-cli-probe-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) CannotWrite(o.Target, std::strerror(errno));
    ::close(fd);
    ::unlink(probe.c_str());
  }
}
