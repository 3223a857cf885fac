// HTTP dates (RFC 1123 and RFC 850 forms) as local date-time numbers.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/KivTypes.h"

// Date-time numbers count days since 1899-12-30 00:00; 25569 is 1970-01-01.
using TDateTime = double;

// Module start-up: reads the local time-zone bias and fixes the century.
// Called by main and by test fixtures; may be called again after TZ changes.
void InitGMTTime();
// Minutes, UTC = local + bias.
int32_t TimeZoneBias();
// 100 * (current year div 100), fixed at start-up.
int32_t GMTCentury();

// 1..12 for the first three letters of an English month name (any case), else 0.
int32_t MonthOfName(std::string_view Text);

// Local date-time of a GMT date text, 0 when the text is no date. Field values
// that form no valid date (31 February, hour 25) raise EHTTPException.
TDateTime ParseGMTTime(std::string_view Text);

// Raises EHTTPException for values that are no valid date or time.
TDateTime EncodeDateTime(int32_t Year, int32_t Month, int32_t Day, int32_t Hour, int32_t Minute,
                         int32_t Second);
