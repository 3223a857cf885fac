#include "WorkerTestSupport.h"

#include <gtest/gtest.h>

bool WaitUntil(const std::function<bool()>& APred, int ATimeoutMs) {
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ATimeoutMs);
  while (!APred()) {
    if (std::chrono::steady_clock::now() > Deadline) return false;
    PumpMessages();
    SleepMs(2);
  }
  return true;
}

namespace {
// The module is started once for the whole run, as a program's main would.
class TWorkerModule : public testing::Environment {
 public:
  void SetUp() override { KivWorkerInit(); }
  void TearDown() override { KivWorkerFinal(); }
};
const auto* const GModule = testing::AddGlobalTestEnvironment(new TWorkerModule);
}  // namespace
