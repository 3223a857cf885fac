#include "http/KivGMTTime.h"

#include <atomic>
#include <ctime>

#include "http/KivHttpException.h"

namespace {

std::atomic<int32_t> GTimeZoneBias{0};
std::atomic<int32_t> GCentury{2000};

bool IsLeapYear(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t DaysInMonth(int32_t y, int32_t m) {
  static const int32_t Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : Days[m - 1];
}

inline char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

// Decimal field of at most 9 digits; -1 when empty or not a number.
int32_t FieldNumber(std::string_view S) {
  if (S.empty() || S.size() > 9) return -1;
  int32_t v = 0;
  for (char c : S) {
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The text from P up to the first of Seps; false when none follows before the end.
bool ReadField(std::string_view Text, size_t& P, std::string_view Seps, std::string_view& Field,
               char* SepFound = nullptr) {
  size_t e = Text.find_first_of(Seps, P);
  if (e == std::string_view::npos) return false;
  Field = Text.substr(P, e - P);
  if (SepFound) *SepFound = Text[e];
  P = e + 1;
  return true;
}

}  // namespace

void InitGMTTime() {
  tzset();
  time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  // tm_gmtoff already holds the daylight saving offset in force now.
  GTimeZoneBias = static_cast<int32_t>(-local.tm_gmtoff / 60);
  GCentury = 100 * ((local.tm_year + 1900) / 100);
}

int32_t TimeZoneBias() { return GTimeZoneBias; }
int32_t GMTCentury() { return GCentury; }

int32_t MonthOfName(std::string_view Text) {
  static const char* const Names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                      "jul", "aug", "sep", "oct", "nov", "dec"};
  if (Text.size() < 3) return 0;
  for (int32_t i = 0; i < 12; ++i) {
    if (LowerChar(Text[0]) == Names[i][0] && LowerChar(Text[1]) == Names[i][1] &&
        LowerChar(Text[2]) == Names[i][2])
      return i + 1;
  }
  return 0;
}

TDateTime EncodeDateTime(int32_t Year, int32_t Month, int32_t Day, int32_t Hour, int32_t Minute,
                         int32_t Second) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 ||
      Day > DaysInMonth(Year, Month))
    throw EHTTPException(
        Format(u"Invalid date: year %d, month %d, day %d", Year, Month, Day));
  if (Hour < 0 || Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 || Second > 59)
    throw EHTTPException(
        Format(u"Invalid time: hour %d, minute %d, second %d", Hour, Minute, Second));
  // Days from 0001-01-01 to the date, then shifted to the 1899-12-30 epoch.
  int32_t y = Year - 1;
  int64_t days = int64_t(y) * 365 + y / 4 - y / 100 + y / 400;
  for (int32_t m = 1; m < Month; ++m) days += DaysInMonth(Year, m);
  days += Day - 1;
  constexpr int64_t DaysTo18991230 = 693593;
  return double(days - DaysTo18991230) + (Hour * 3600 + Minute * 60 + Second) / 86400.0;
}

TDateTime ParseGMTTime(std::string_view Text) {
  if (Text.size() < 25) return 0;
  size_t comma = Text.find(',');
  if (comma == std::string_view::npos || comma + 1 >= Text.size()) return 0;
  if (comma < 3 && Text[comma + 1] != ' ') return 0;
  size_t p = comma + 2;

  std::string_view field;
  if (!ReadField(Text, p, " -", field)) return 0;
  int32_t day = FieldNumber(field);
  if (day <= 0) return 0;

  char sep = 0;
  if (!ReadField(Text, p, " -", field, &sep)) return 0;
  if (field.size() < 3 && sep != ' ') return 0;
  int32_t month = MonthOfName(field);
  if (month == 0) month = 1;

  if (!ReadField(Text, p, " -", field)) return 0;
  int32_t year = FieldNumber(field);
  if (year < 0) return 0;
  if (year < 100) year += GMTCentury();

  int32_t hour, minute, second;
  if (!ReadField(Text, p, ":", field) || (hour = FieldNumber(field)) < 0) return 0;
  if (!ReadField(Text, p, ":", field) || (minute = FieldNumber(field)) < 0) return 0;
  if (!ReadField(Text, p, " ", field) || (second = FieldNumber(field)) < 0) return 0;

  return EncodeDateTime(year, month, day, hour, minute, second) - TimeZoneBias() / 1440.0;
}
