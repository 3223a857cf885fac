#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "http/KivGMTTime.h"
#include "http/KivHttpException.h"

namespace {

class GMTTime : public ::testing::Test {
 protected:
  void SetUp() override { InitGMTTime(); }
  static double Local(int y, int m, int d, int h, int n, int s) {
    return EncodeDateTime(y, m, d, h, n, s) - TimeZoneBias() / 1440.0;
  }
};

TEST_F(GMTTime, EncodeDateTimeEpochs) {
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1970, 1, 1, 0, 0, 0), 25569.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1994, 11, 6, 12, 0, 0), 34644.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2024, 2, 29, 0, 0, 0) - EncodeDateTime(2024, 2, 28, 0, 0, 0), 1.0);
}

TEST_F(GMTTime, InvalidFieldsRaise) {
  const int bad[][6] = {{2021, 2, 29, 0, 0, 0}, {2021, 2, 31, 0, 0, 0}, {2021, 13, 1, 0, 0, 0},
                        {2021, 1, 1, 25, 0, 0}, {2021, 1, 1, 0, 60, 0}, {2021, 1, 1, 0, 0, 60},
                        {0, 1, 1, 0, 0, 0},     {1900, 2, 29, 0, 0, 0}};
  for (const auto& b : bad)
    EXPECT_THROW(EncodeDateTime(b[0], b[1], b[2], b[3], b[4], b[5]), EHTTPException) << b[0];
}

TEST_F(GMTTime, BiasFollowsTheTimeZone) {
  const char* old = getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "UTC-8", 1);  // POSIX sign: eight hours east of UTC
  InitGMTTime();
  EXPECT_EQ(TimeZoneBias(), -480);
  EXPECT_DOUBLE_EQ(ParseGMTTime("Sun, 06 Nov 1994 08:49:37 GMT"),
                   EncodeDateTime(1994, 11, 6, 16, 49, 37));
  setenv("TZ", "UTC+5", 1);
  InitGMTTime();
  EXPECT_EQ(TimeZoneBias(), 300);
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  InitGMTTime();
}

TEST_F(GMTTime, CenturyOfTheCurrentYear) {
  time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  EXPECT_EQ(GMTCentury(), (t.tm_year + 1900) / 100 * 100);
}

TEST_F(GMTTime, MonthOfName) {
  const std::pair<const char*, int> cases[] = {{"Jan", 1}, {"feb", 2}, {"NOV", 11}, {"dec", 12},
                                               {"September", 9}, {"Ja", 0}, {"", 0}, {"xyz", 0}};
  for (auto [text, month] : cases) EXPECT_EQ(MonthOfName(text), month) << text;
}

TEST_F(GMTTime, ParsesBothForms) {
  EXPECT_DOUBLE_EQ(ParseGMTTime("Sun, 06 Nov 1994 08:49:37 GMT"), Local(1994, 11, 6, 8, 49, 37));
  EXPECT_DOUBLE_EQ(ParseGMTTime("Sunday, 06-Nov-94 08:49:37 GMT"),
                   Local(GMTCentury() + 94, 11, 6, 8, 49, 37));
  // Unknown month names count as January; the zone text is never read.
  EXPECT_DOUBLE_EQ(ParseGMTTime("Sun, 06 Xyz 1994 08:49:37 PST"), Local(1994, 1, 6, 8, 49, 37));
  EXPECT_DOUBLE_EQ(ParseGMTTime("Thu, 29 Feb 2024 23:59:59 GMT"), Local(2024, 2, 29, 23, 59, 59));
}

TEST_F(GMTTime, NoDateGivesZero) {
  const char* texts[] = {
      "Sun, 06 Nov 1994",               // too short
      "Sun 06 Nov 1994 08:49:37 GMT",   // no comma
      "Sun, 06 Nov 1994 08:49:37",      // seconds run to the end
      "Sun, 06 Nov 1994 08:49 GMT xxx", // no second colon
      "Su,X06 Nov 1994 08:49:37 GMT",   // no blank after an early comma
      "Sun, 00 Nov 1994 08:49:37 GMT",  // day 0
      "Sun, xx Nov 1994 08:49:37 GMT",  // day not a number
      "Sun, 06 No-1994 08:49:37 GMT",   // month token too short
      "Sun, 06 Nov yyyy 08:49:37 GMT",  // year not a number
      "Sun, 06 Nov 1994 aa:49:37 GMT",  // hour not a number
      "                             ,", // comma at the end
      "Sun,                         ",
  };
  for (const char* t : texts) EXPECT_EQ(ParseGMTTime(t), 0.0) << t;
}

TEST_F(GMTTime, FieldsThatFormNoDateRaise) {
  for (const char* t : {"Sun, 31 Feb 2021 08:49:37 GMT", "Sun, 06 Nov 1994 25:49:37 GMT",
                        "Thu, 29 Feb 2023 00:00:00 GMT"})
    EXPECT_THROW(ParseGMTTime(t), EHTTPException) << t;
}

// Every prefix of dates and odd texts from exactly sized buffers (sanitizers): a
// date counts only once the blank after its seconds is there.
TEST_F(GMTTime, TruncatedTextsNeverReadBeyond) {
  const std::string texts[] = {"Sunday, 06-Nov-94 08:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 GMT",
                               ",,,,,,,,,,,,,,,,,,,,,,,,,,,,,,", "a, 1-Jan-1 1:1:1 -----------",
                               "Sun, 99999999999999 Nov 1994 08:49:37 GMT"};
  for (const std::string& full : texts) {
    const bool valid = full.find(" GMT") != std::string::npos && full.find("999") == std::string::npos;
    const double whole = valid ? ParseGMTTime(full) : 0;
    for (size_t n = 0; n <= full.size(); ++n) {
      std::unique_ptr<char[]> exact(new char[n ? n : 1]);
      full.copy(exact.get(), n);
      double v = ParseGMTTime(std::string_view(exact.get(), n));
      if (valid) {
        EXPECT_EQ(v, n > full.find(" GMT") ? whole : 0.0) << full << " / " << n;
      }
    }
  }
}

}  // namespace
