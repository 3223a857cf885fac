// The book-source loader on a file of any bytes; what it accepted is exported,
// and the export must load again to the same sources, and settle after one round.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "app/uMainLogic.h"
#include "http/KivHttpClient.h"
#include "json/KivJson.h"
#include "workers/KivWorker.h"

namespace {

std::string ReadAll(const std::string& AName) {
  std::ifstream f(AName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Trees whose text is no JSON by design do not load again: elements of an
// array that carry names (the lenient reader makes them from broken text) are
// written with them.
bool MakesNoRound(const JSONBase* AList) {
  for (PJSONValue item : *AList) {
    if (AList->IsJSONArray() && !item->Name().empty()) return true;
    if (const JSONBase* child = item->GetObject(); child && MakesNoRound(child)) return true;
  }
  return false;
}

int FilesIn(const std::string& ADir) {
  int n = 0;
  if (DIR* d = opendir(ADir.c_str())) {
    while (dirent* e = readdir(d)) n += std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0;
    closedir(d);
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const std::string dir = [] {
    InitHttpClient();
    KivWorkerInit();
    static char tmpl[] = "/tmp/tanvork-fuzz-XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    std::atexit([] {
      for (const char* leaf : {"/in.json", "/out1.json", "/out2.json", "/out3.json"})
        std::remove((std::string(tmpl) + leaf).c_str());
      rmdir(tmpl);
    });
    return std::string(tmpl);
  }();
  const std::string in = dir + "/in.json", out1 = dir + "/out1.json", out2 = dir + "/out2.json",
                    out3 = dir + "/out3.json";
  {
    std::ofstream f(in, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(Data), std::streamsize(Size));
  }
  TMainLogic first;
  try {
    first.AddSrcFile(FromUtf8(in));
  } catch (const Exception&) {
    return 0;  // refused files are reported to the user
  }
  std::remove(out1.c_str());
  std::remove(out2.c_str());
  std::remove(out3.c_str());
  try {
    first.ExportTo(FromUtf8(out1));
  } catch (const Exception&) {
    // The writer refuses a member without a name that holds an object (the
    // lenient reader can make one). The refusal must leave nothing behind.
    if (FilesIn(dir) != 1) std::abort();
    return 0;
  }
  if (MakesNoRound(&first.Sources().Data())) return 0;
  TMainLogic second;
  second.AddSrcFile(FromUtf8(out1));  // an export that does not load again is lost data
  if (second.Sources().Data().Count() != first.Sources().Data().Count()) std::abort();
  second.ExportTo(FromUtf8(out2));
  // The first round may change text (units 7 and 11 are written as \a and \v,
  // which read back as letters); after it the file must stay as it is.
  TMainLogic third;
  third.AddSrcFile(FromUtf8(out2));
  if (third.Sources().Data().Count() != first.Sources().Data().Count()) std::abort();
  third.ExportTo(FromUtf8(out3));
  if (ReadAll(out2) != ReadAll(out3)) std::abort();
  return 0;
}
