#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/KivTypes.h"

// A temporary folder removed with the fixture.
class TempDir {
 public:
  TempDir() {
    static int seq = 0;
    FPath = std::filesystem::temp_directory_path() /
            ("tanvork-app-" + std::to_string(::getpid()) + "-" + std::to_string(++seq));
    std::filesystem::create_directories(FPath);
  }
  ~TempDir() { std::filesystem::remove_all(FPath); }
  // Writes the bytes to a file in the folder and returns its name as text.
  String Write(const std::string& ALeaf, const std::string& ABytes) const {
    std::ofstream(FPath / ALeaf, std::ios::binary) << ABytes;
    return Name(ALeaf);
  }
  String Name(const std::string& ALeaf) const { return FromUtf8((FPath / ALeaf).string()); }
  std::string Read(const std::string& ALeaf) const {
    std::ifstream in(FPath / ALeaf, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  const std::filesystem::path& Path() const { return FPath; }

 private:
  std::filesystem::path FPath;
};

// One source object as JSON text.
inline std::string Src(const std::string& AName, const std::string& AUrl, const std::string& AGroup = "",
                       const std::string& AExtra = "") {
  std::string s = "{\"bookSourceName\":\"" + AName + "\",\"bookSourceUrl\":\"" + AUrl + "\"";
  if (!AGroup.empty()) s += ",\"bookSourceGroup\":\"" + AGroup + "\"";
  if (!AExtra.empty()) s += "," + AExtra;
  return s + "}";
}
