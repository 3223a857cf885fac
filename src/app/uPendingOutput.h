// Output files that appear whole or not at all: everything is written to a
// temporary file beside the target first, and renamed over it only when
// every output of the run is complete (the batch program's export and
// report, the desktop's report).
#pragma once

#include <string>

#include "support/KivTypes.h"

class TPendingOutput {
 public:
  // ATarget "-" means standard output; an existing device, pipe or socket
  // (/dev/stdout) is written directly. Either way the bytes wait in a
  // temporary file until Commit. ASuffix ends the temporary name (the export
  // needs ".json"). Throws Exception when the target cannot be written.
  TPendingOutput(const std::string& ATarget, const std::string& ASuffix);
  ~TPendingOutput();  // removes the temporary file unless committed
  TPendingOutput(const TPendingOutput&) = delete;
  TPendingOutput& operator=(const TPendingOutput&) = delete;

  const std::string& TempPath() const { return FTemp; }
  const std::string& Target() const { return FTarget; }
  // Replaces the temporary file's content (flushed to disk).
  void WriteBytes(const Bytes& AData);
  // Gives the temporary file the target's permissions; then renames it over
  // the target, or copies it to standard output or the device.
  void Commit();

 private:
  std::string FTarget, FTemp;
  bool FStdout = false, FDirect = false, FCommitted = false;
  unsigned FMode = 0644;
};
