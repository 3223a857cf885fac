// Shared bits of the JSON tests: a fixture that puts the library-wide
// settings back after each test, and readable UTF-8 output of texts.
#pragma once

#include <gtest/gtest.h>

#include "json/KivJson.h"

class JsonTest : public ::testing::Test {
 protected:
  void SetUp() override { Save(); }
  void TearDown() override { Restore(); }

  void Save() {
    FStrict = StrictJson;
    FCase = JsonCaseSensitive;
    FSpace = JsonNameAfterSpace;
    FDigits = JsonFloatDigits;
    FJs = JsonDateAsJavaScript;
    FSeconds = JsonDateInSeconds;
    FZone = JsonTimeZone;
    FBase64 = JsonBlobBase64;
  }
  void Restore() {
    StrictJson = FStrict;
    JsonCaseSensitive = FCase;
    JsonNameAfterSpace = FSpace;
    JsonFloatDigits = FDigits;
    JsonDateAsJavaScript = FJs;
    JsonDateInSeconds = FSeconds;
    JsonTimeZone = FZone;
    JsonBlobBase64 = FBase64;
  }

  // The message of the exception f throws, or "<no error>".
  template <typename F>
  static std::string ErrorOf(F f) {
    try {
      f();
    } catch (const Exception& e) {
      return ToUtf8(e.Message());
    }
    return "<no error>";
  }

 private:
  bool FStrict{}, FCase{}, FSpace{}, FJs{}, FSeconds{}, FBase64{};
  int FDigits{};
  int8_t FZone{};
};

inline std::string U8(StringView s) { return ToUtf8(s); }
