#include <gtest/gtest.h>

#include "FakeMainWindow.h"
#include "http/KivHttpClient.h"
#include "json/KivJson.h"

void AppEnvironment::SetUp() {
  InitHttpClient();
  KivWorkerInit();
}

void AppEnvironment::TearDown() { KivWorkerFinal(); }

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new AppEnvironment);
  return RUN_ALL_TESTS();
}
