// Runs the real tanvork-cli as a child process and collects what it printed.
#pragma once

#include <string>
#include <vector>

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
