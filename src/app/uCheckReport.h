// The check report: one line (CSV) or one object (JSON) per checked source,
// in collection order. Both programs write it.
#pragma once

#include <vector>

#include "app/uCheckOutcome.h"
#include "support/KivTypes.h"

// A report file name ending in ".csv" (any case) gets CSV, any other JSON.
bool IsCsvReportName(const String& AFileName);
Bytes CheckReportCsv(const std::vector<TCheckOutcome>& AOutcomes);
// The same form as an exported book-source file.
Bytes CheckReportJson(const std::vector<TCheckOutcome>& AOutcomes);
Bytes CheckReport(const std::vector<TCheckOutcome>& AOutcomes, const String& AFileName);
