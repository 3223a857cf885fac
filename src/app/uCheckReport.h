// The check report: one line (CSV) or one object (JSON) per checked source,
// in collection order. Both programs write it.
#pragma once

#include <vector>

#include "app/uCheckOutcome.h"
#include "support/KivTypes.h"

// A report file name ending in ".csv" (any case) gets CSV, any other JSON.
bool IsCsvReportName(const String& AFileName);
// APrevious (with a run history): each outcome's previous verdict, in a
// last "previous" column or field; without, the report is as before.
Bytes CheckReportCsv(const std::vector<TCheckOutcome>& AOutcomes, const std::vector<String>* APrevious = nullptr);
// The same form as an exported book-source file.
Bytes CheckReportJson(const std::vector<TCheckOutcome>& AOutcomes, const std::vector<String>* APrevious = nullptr);
Bytes CheckReport(const std::vector<TCheckOutcome>& AOutcomes, const String& AFileName,
                  const std::vector<String>* APrevious = nullptr);
