// Files and streams: loading with encoding detection, saving in a chosen
// encoding. A save writes a temporary file beside the target and renames it
// over the target only once every byte is on disk, so a failed save never
// destroys the file that was there.
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "json/KivJson.h"
#include "json/KivJsonInternal.h"
#include "support/KivStream.h"

using namespace kiv_json;

namespace {

String ErrnoText(int err) { return FromUtf8(std::strerror(err)); }

[[noreturn]] void ThrowSaveError(const String& AFileName, int err) {
  throw Exception(Format(u"无法保存文件 \"%s\": %s", AFileName, ErrnoText(err)));
}

// Writes all of Data to fd; false with errno set on failure.
bool WriteAll(int fd, const char* Data, size_t Len) {
  while (Len) {
    ssize_t n = ::write(fd, Data, Len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    Data += n;
    Len -= size_t(n);
  }
  return true;
}

// The folder part of a native path ("." when there is none).
std::string DirOf(const std::string& path) {
  size_t s = path.rfind('/');
  if (s == std::string::npos) return ".";
  if (s == 0) return "/";
  return path.substr(0, s);
}

// Six letters or digits, as mkstemp makes them.
std::string UniqueSuffix() {
  static const char kChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  static std::atomic<uint64_t> counter{0};
  std::random_device rd;
  uint64_t v = (uint64_t(rd()) << 32) ^ rd() ^ ++counter;
  std::string s(6, '0');
  for (char& c : s) {
    c = kChars[v % 62];
    v /= 62;
  }
  return s;
}

}  // namespace

void JSONBase::LoadFromFile(const String& AFileName, TTextEncoding AEncoding) {
  struct stat st;
  std::string native = FileNameToNative(AFileName);
  if (::stat(native.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return;
  // Directories, special and unreadable files are refused by the stream
  // with a message naming the file.
  TFileStream f(AFileName, TFileStream::fmOpenRead);
  LoadFromStream(f, AEncoding);
}

void JSONBase::LoadFromStream(TStream& AStream, TTextEncoding AEncoding) {
  String text = LoadTextW(AStream, AEncoding);
  if (text.size() < 2) throw Exception(kMsgNotJson);
  Decode(text);
}

void JSONBase::SaveToFile(const String& AFileName, int AIndent) {
  SaveToFile(AFileName, AIndent, teUTF8, true);
}

void JSONBase::SaveToFile(const String& AFileName, int AIndent, TTextEncoding AEncoding,
                          bool AWriteBOM) {
  // UTF-8 text streams into the temporary file; the other encodings are
  // built in memory first. Either way the target is touched only by the
  // final rename, so a writer error leaves it as it was.
  Bytes data;
  if (AEncoding != teUTF8) {
    TMemoryStream mem;
    SaveToStream(mem, AIndent, AEncoding, AWriteBOM, false);
    data = std::move(mem.Data());
  }

  std::string target = FileNameToNative(AFileName);
  // Save through a symbolic link into the file it points to, keeping the link.
  char resolved[PATH_MAX];
  struct stat st;
  bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists) {
    if (S_ISDIR(st.st_mode))
      throw Exception(Format(u"无法保存文件 \"%s\": 这是一个目录", AFileName));
    if (!S_ISREG(st.st_mode))
      throw Exception(Format(u"无法保存文件 \"%s\": 不是普通文件", AFileName));
    if (::realpath(target.c_str(), resolved)) target = resolved;
  }
  // The temporary name is short and hidden, in the target's folder so the
  // rename stays on one file system; 0666 lets the umask decide a new file's bits.
  // It carries the process id: the temporaries of a save that was killed
  // (its process gone) are removed by the next save in the folder.
  const std::string tmpPrefix = DirOf(target) + "/.kivjson-";
  RemoveStaleTempFiles(tmpPrefix, "");
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = tmpPrefix + std::to_string(::getpid()) + "-" + UniqueSuffix();
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) ThrowSaveError(AFileName, errno);
  }
  if (fd < 0) ThrowSaveError(AFileName, EEXIST);
  auto fail = [&](int err) {
    ::close(fd);
    ::unlink(tmp.c_str());
    ThrowSaveError(AFileName, err);
  };
  if (exists && ::fchmod(fd, st.st_mode & 07777) != 0) fail(errno);
  if (AEncoding == teUTF8) {
    try {
      if (AWriteBOM && !WriteAll(fd, "\xEF\xBB\xBF", 3)) ThrowSaveError(AFileName, errno);
      StreamUtf8Text(this, AIndent, false, [&](const char* p, size_t n) {
        if (!WriteAll(fd, p, n)) ThrowSaveError(AFileName, errno);
      });
    } catch (...) {
      ::close(fd);
      ::unlink(tmp.c_str());
      throw;
    }
  } else if (!WriteAll(fd, data.data(), data.size())) {
    fail(errno);
  }
  if (::fsync(fd) != 0) fail(errno);
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    ThrowSaveError(AFileName, err);
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    ThrowSaveError(AFileName, err);
  }
  // Make the rename itself durable.
  int dfd = ::open(DirOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

void JSONBase::SaveToStream(TStream& AStream, int AIndent, TTextEncoding AEncoding,
                            bool AWriteBOM, bool ADoEscape) {
  String text = AEncoding == teUTF8 ? String() : ToString(AIndent, ADoEscape);
  switch (AEncoding) {
    case teUTF8:
      SaveTextA(AStream, EncodeUtf8Text(this, AIndent, ADoEscape), AWriteBOM, true);
      break;
    case teAnsi:
      WriteAnsiBytes(AStream, AnsiEncode(text));
      break;
    case teUnicode16LE:
      SaveTextW(AStream, text, AWriteBOM);
      break;
    default:
      SaveTextWBE(AStream, text, AWriteBOM);
      break;
  }
}

void JSONBase::SaveToStream(TStream& AStream, int AIndent, bool ADoEscape) {
  SaveToStream(AStream, AIndent, teUTF8, false, ADoEscape);
}
