// Where the batch program's outputs land, checked before any work starts:
// two outputs must not be one file, a folder must be there to write in.
#pragma once

#include <string>

#include "cli/uCliOptions.h"

// The export's file: ".json" appended when the name has no extension, unless
// it names an existing device, pipe or socket (written as it is).
std::string ExportTarget(const std::string& AName);
// Whether the name is an existing file that is no regular file and no
// folder (/dev/stdout, a pipe): written directly, without rename.
bool IsDirectTarget(const std::string& AName);
// Whether two output names reach one file: the same device and inode when
// both exist, else the same resolved folder and leaf; "-" is standard output.
bool SameTarget(const std::string& A, const std::string& B);
// Usage errors (TUsageError): outputs that are one file, a dangling symbolic link.
void CheckOutputNames(const TCliOptions& AOptions);
// Runtime errors (Exception): an output whose folder is missing or cannot
// take a new file. Nothing is left behind.
void CheckOutputFolders(const TCliOptions& AOptions);
