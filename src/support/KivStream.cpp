#include "support/KivStream.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

String SysError(int err) { return FromUtf8(std::strerror(err)); }

[[noreturn]] void RaiseFileError(const char16_t* what, const String& name, int err) {
  throw Exception(Format(u"%s \"%s\": %s", what, name, SysError(err)));
}

int64_t ClampSeek(int64_t pos, int64_t size) {
  if (pos < 0) return 0;
  (void)size;
  return pos;
}

}  // namespace

int64_t TStream::GetSize() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
  if (Count > 0 && Write(Buffer, Count) != Count) throw Exception(u"Stream write error");
}

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
  auto* p = static_cast<char*>(Buffer);
  while (Count > 0) {
    int64_t n = Read(p, Count);
    if (n <= 0) throw Exception(u"Stream read error");
    p += n;
    Count -= n;
  }
}

Bytes TStream::ReadRest() {
  Bytes out;
  int64_t size = Size();
  int64_t pos = Position();
  if (size > pos) {
    out.resize(static_cast<size_t>(size - pos));
    int64_t got = 0;
    while (got < size - pos) {
      int64_t n = Read(out.data() + got, size - pos - got);
      if (n <= 0) break;
      got += n;
    }
    out.resize(static_cast<size_t>(got));
  }
  // Streams whose size is unknown (pipes) or grew meanwhile: read on to the end.
  char buf[65536];
  for (;;) {
    int64_t n = Read(buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  return out;
}

// ---- TMemoryStream

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  int64_t avail = static_cast<int64_t>(FData.size()) - FPosition;
  if (Count <= 0 || avail <= 0) return 0;
  int64_t n = Count < avail ? Count : avail;
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  size_t end = static_cast<size_t>(FPosition + Count);
  if (end > FData.size()) FData.resize(end);
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition += Count;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t base = Origin == TSeekOrigin::soBeginning ? 0
                 : Origin == TSeekOrigin::soCurrent ? FPosition
                                                    : static_cast<int64_t>(FData.size());
  FPosition = ClampSeek(base + Offset, GetSize());
  return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  FData.resize(static_cast<size_t>(NewSize));
  if (FPosition > NewSize) FPosition = NewSize;
}

// ---- TPointerStream

void TPointerStream::SetPointer(const void* P, int64_t Size) {
  FData = static_cast<const char*>(P);
  FSize = P && Size > 0 ? Size : 0;
  FPosition = 0;
}

int64_t TPointerStream::Read(void* Buffer, int64_t Count) {
  int64_t avail = FSize - FPosition;
  if (Count <= 0 || avail <= 0) return 0;
  int64_t n = Count < avail ? Count : avail;
  std::memcpy(Buffer, FData + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TPointerStream::Write(const void*, int64_t) {
  throw Exception(u"PointerStream Ban Written.");
}

int64_t TPointerStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t base = Origin == TSeekOrigin::soBeginning ? 0
                 : Origin == TSeekOrigin::soCurrent ? FPosition
                                                    : FSize;
  int64_t p = base + Offset;
  FPosition = p < 0 ? 0 : (p > FSize ? FSize : p);
  return FPosition;
}

void TPointerStream::SetSize(int64_t NewSize) {
  // The memory is not ours: the size may only shrink.
  if (NewSize < 0) NewSize = 0;
  if (NewSize < FSize) FSize = NewSize;
  if (FPosition > FSize) FPosition = FSize;
}

// ---- TFileStream

std::string FileNameToNative(const String& FileName) { return ToUtf8(FileName); }

bool FileExists(const String& FileName) {
  struct stat st;
  return ::stat(FileNameToNative(FileName).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

TFileStream::TFileStream(const String& FileName, TMode Mode) : FFileName(FileName) {
  std::string native = FileNameToNative(FileName);
  int flags = O_CLOEXEC;
  switch (Mode) {
    case fmOpenRead:
      // O_NONBLOCK keeps a FIFO without a writer from hanging the open.
      flags |= O_RDONLY | O_NONBLOCK;
      break;
    case fmOpenReadWrite:
      flags |= O_RDWR;
      break;
    case fmCreate:
      flags |= O_WRONLY | O_CREAT | O_TRUNC;
      break;
  }
  FFd = ::open(native.c_str(), flags, 0666);
  if (FFd < 0) RaiseFileError(Mode == fmCreate ? u"无法创建文件" : u"无法打开文件", FileName, errno);
  struct stat st;
  if (::fstat(FFd, &st) != 0) {
    int err = errno;
    ::close(FFd);
    FFd = -1;
    RaiseFileError(u"无法打开文件", FileName, err);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(FFd);
    FFd = -1;
    throw Exception(Format(S_ISDIR(st.st_mode) ? u"无法打开文件 \"%s\": 这是一个目录"
                                               : u"无法打开文件 \"%s\": 不是普通文件",
                           FileName));
  }
  if (Mode == fmOpenRead) {
    int fl = ::fcntl(FFd, F_GETFL);
    if (fl >= 0) ::fcntl(FFd, F_SETFL, fl & ~O_NONBLOCK);
    // Advisory: writers that lock too are kept out while we read.
    ::flock(FFd, LOCK_SH | LOCK_NB);
  }
}

TFileStream::~TFileStream() {
  if (FFd >= 0) ::close(FFd);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  for (;;) {
    ssize_t n = ::read(FFd, Buffer, static_cast<size_t>(Count));
    if (n >= 0) return n;
    if (errno != EINTR) RaiseFileError(u"读取文件出错", FFileName, errno);
  }
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count) {
  const char* p = static_cast<const char*>(Buffer);
  int64_t left = Count;
  while (left > 0) {
    ssize_t n = ::write(FFd, p, static_cast<size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(u"写入文件出错", FFileName, errno);
    }
    p += n;
    left -= n;
  }
  return Count < 0 ? 0 : Count;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int whence = Origin == TSeekOrigin::soBeginning ? SEEK_SET
               : Origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                  : SEEK_END;
  off_t r = ::lseek(FFd, Offset, whence);
  if (r < 0) RaiseFileError(u"文件定位出错", FFileName, errno);
  return r;
}

int64_t TFileStream::GetSize() {
  struct stat st;
  if (::fstat(FFd, &st) != 0) RaiseFileError(u"读取文件出错", FFileName, errno);
  return st.st_size;
}

void TFileStream::SetSize(int64_t NewSize) {
  if (::ftruncate(FFd, NewSize < 0 ? 0 : NewSize) != 0) RaiseFileError(u"写入文件出错", FFileName, errno);
}

void TFileStream::Flush() {
  if (::fsync(FFd) != 0 && errno != EINVAL) RaiseFileError(u"写入文件出错", FFileName, errno);
}

void RemoveStaleTempFiles(const std::string& APrefix, const std::string& ASuffix) {
  const size_t slash = APrefix.rfind('/');
  const std::string dirName = slash == std::string::npos ? "." : slash == 0 ? "/" : APrefix.substr(0, slash);
  const std::string leafPrefix = slash == std::string::npos ? APrefix : APrefix.substr(slash + 1);
  DIR* dir = ::opendir(dirName.c_str());
  if (!dir) return;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, leafPrefix.size(), leafPrefix) != 0 || name.size() < leafPrefix.size() + ASuffix.size() ||
        name.compare(name.size() - ASuffix.size(), ASuffix.size(), ASuffix) != 0)
      continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + leafPrefix.size(), &end, 10);
    if (pid <= 0 || *end != '-' || std::strlen(end + 1) != 6 + ASuffix.size()) continue;
    // Only a process that is gone for certain: EPERM means it lives under another user.
    if (::kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
    ::unlink((dirName + "/" + name).c_str());
  }
  ::closedir(dir);
}
