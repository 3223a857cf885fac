// Runs the real tanvork-cli as a child process and collects what it printed.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

struct TCliResult {
  int Status = -1;  // exit status; -1 when it did not exit normally
  std::string Out, Err;
};

// AInput is fed to standard input (closed at its end). The child is killed
// after ATimeoutMs and the result shows status -1. With AInterruptAfterMs > 0
// it gets SIGINT once that time has passed.
TCliResult RunCli(const std::vector<std::string>& AArgs, const std::string& AInput = {}, int ATimeoutMs = 60000,
                  int AInterruptAfterMs = 0);
// The same on a pseudo-terminal: standard error and output both land in Out.
TCliResult RunCliOnTerminal(const std::vector<std::string>& AArgs, int ATimeoutMs = 60000);

// A scratch folder of one test, removed with it.
class TempDir {
 public:
  explicit TempDir(const std::string& APrefix = "tanvork-cli-") {
    static int seq = 0;
    FPath = std::filesystem::temp_directory_path() /
            (APrefix + std::to_string(::getpid()) + "-" + std::to_string(++seq));
    std::filesystem::create_directories(FPath);
  }
  ~TempDir() { std::filesystem::remove_all(FPath); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& ALeaf) const { return (FPath / ALeaf).string(); }
  void Write(const std::string& ALeaf, const std::string& ABytes) const {
    std::ofstream(FPath / ALeaf, std::ios::binary) << ABytes;
  }
  std::vector<std::string> Leaves() const {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(FPath)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::filesystem::path FPath;
};

inline std::string ReadFile(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
