// The duplicate rule and the scan that finds every later copy of a source.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class JSONObject;

// B repeats A: every member of either source reads the same after
// lower-casing A-Z, except the bookkeeping members (enable, enabled,
// enabledExplore, enabledCookieJar, serialNumber, customOrder, weight,
// lastUpdateTime, respondTime, bookSourceComment, exploreScreen) and, with
// ARealDedupe on, bookSourceName and bookSourceGroup (compared as whole texts
// when it is off). Member names match without regard to case; an absent
// member equals an empty text; format 3's rule objects compare member by
// member whether stored as an object or as the text of one, in any order;
// other objects and arrays compare by their written text.
bool IsRepeat(const JSONObject* A, const JSONObject* B, bool ARealDedupe);

// A hash of what IsRepeat compares: equal sources hash equal (a source that
// holds one member twice under names differing in case may hash apart from
// its copies; such copies are then kept).
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
