// The stream family used by the text and JSON functions.
#pragma once

#include <cstdint>
#include <string>

#include "support/KivTypes.h"

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads at most Count bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  // Writes Count bytes or throws Exception.
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  virtual int64_t GetSize();
  virtual void SetSize(int64_t NewSize) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t P) { Seek(P, TSeekOrigin::soBeginning); }
  int64_t Size() { return GetSize(); }
  void WriteBuffer(const void* Buffer, int64_t Count);  // all or throw
  void ReadBuffer(void* Buffer, int64_t Count);         // all or throw
  // The rest of the stream from its position.
  Bytes ReadRest();
};

// Growable in-memory stream.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(Bytes initial) : FData(std::move(initial)) {}
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(FData.size()); }
  void SetSize(int64_t NewSize) override;
  const Bytes& Data() const { return FData; }
  Bytes& Data() { return FData; }
  const char* Memory() const { return FData.data(); }

 private:
  Bytes FData;
  int64_t FPosition = 0;
};

// Read-only stream over memory it does not own.
class TPointerStream : public TStream {
 public:
  TPointerStream() = default;
  TPointerStream(const void* P, int64_t Size) { SetPointer(P, Size); }
  void SetPointer(const void* P, int64_t Size);
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;  // "PointerStream Ban Written."
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override { return FSize; }
  void SetSize(int64_t NewSize) override;  // within the memory only
  const void* Memory() const { return FData; }

 private:
  const char* FData = nullptr;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

// File stream on a POSIX descriptor.
class TFileStream : public TStream {
 public:
  enum TMode {
    fmOpenRead,       // read only, other writers denied where the platform allows (shared flock)
    fmOpenReadWrite,  // read and write an existing file
    fmCreate,         // create or truncate for writing
  };
  // Throws Exception naming the file when it cannot be opened, is a directory
  // or is not a regular file.
  TFileStream(const String& FileName, TMode Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override;
  void SetSize(int64_t NewSize) override;
  // Pushes written bytes to the disk; throws on failure.
  void Flush();
  const String& FileName() const { return FFileName; }
  int Handle() const { return FFd; }

 private:
  String FFileName;
  int FFd = -1;
};

// Removes the temporary files "<APrefix><pid>-XXXXXX<ASuffix>" (APrefix
// includes the folder; six characters after the dash) whose process no longer
// exists: what saves killed on the way left behind. Others are left alone.
void RemoveStaleTempFiles(const std::string& APrefix, const std::string& ASuffix);

// File names are UTF-16 in the core; the file system takes UTF-8.
std::string FileNameToNative(const String& FileName);
bool FileExists(const String& FileName);
