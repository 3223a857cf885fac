// The duplicate rule and the scan that finds every later copy of a source.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class JSONObject;

// B repeats A: the compared fields read the same after lower-casing A-Z
// (bookSourceUrl, loginUrl, ruleBookContent, httpUserAgent, the rule fields
// from ruleBookKind to ruleSearchUrl, and with ARealDedupe off also
// bookSourceName and the whole bookSourceGroup text).
bool IsRepeat(const JSONObject* A, const JSONObject* B, bool ARealDedupe);

// A hash of exactly what IsRepeat compares: equal sources hash equal.
uint64_t RepeatHash(const JSONObject* A, bool ARealDedupe);

// The scan over a list: the first of every set of duplicates stays, the later
// ones are marked. Outer steps run in list order over the sources that stay;
// after each one AfterStep(settled, remaining) may stop the scan (return false).
struct TRepeatScanResult {
  std::vector<int> Removed;  // ascending indexes
  bool Stopped = false;
};
TRepeatScanResult ScanRepeats(const std::vector<const JSONObject*>& ASources, bool ARealDedupe,
                              const std::function<bool(int ASettled, int ARemaining)>& AAfterStep);
