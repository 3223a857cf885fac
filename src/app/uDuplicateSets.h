// Duplicates the user steers: sets of copies found by the duplicate rule, by
// the exact address or by the site, the copy each set keeps, and their
// removal. One pass with hash keys; the rule mode runs the batch run's own
// scan (uRemoveRepeat), so it follows that rule wherever it goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <vector>

#include "app/uCheckOutcome.h"
#include "support/KivTypes.h"

class JSONObject;
class TMainLogic;
class TSourceCollection;
struct TJob;
using PJob = TJob*;

enum class TDuplicateMode { Rules, Address, Site };
enum class TKeepPolicy { First, Last, Newest, Richest, Fastest };

// The names the batch program takes and the report writes.
const char* DuplicateModeName(TDuplicateMode AMode);
const char* KeepPolicyName(TKeepPolicy APolicy);
bool ParseDuplicateMode(std::string_view AName, TDuplicateMode& AMode);
bool ParseKeepPolicy(std::string_view AName, TKeepPolicy& APolicy);

// No probe time known for a source (see ProbeTimeOf).
constexpr int64_t kNoProbeTime = -1;
// The last check of this session found the source dead.
constexpr int64_t kProbeFailed = -2;

struct TDuplicateOptions {
  TDuplicateMode Mode = TDuplicateMode::Rules;
  TKeepPolicy Keep = TKeepPolicy::First;
  // Rules mode: names and groups not compared ("真实去重").
  bool RealDedupe = true;
  // The last check's times by position (MeasuredTimes); empty: none.
  std::vector<int64_t> MeasuredMs;
};

// Members name their sources: texts and reports of a set are made before
// RemoveDuplicateSets destroys the copies that leave.
struct TDuplicateMember {
  int Position = 0;  // in the collection when scanned
  const JSONObject* Source = nullptr;
};

struct TDuplicateSet {
  TDuplicateMode Mode = TDuplicateMode::Rules;
  // Why the members belong together: the address (address), the site key
  // (site), the first member's address (rules).
  String Key;
  std::vector<TDuplicateMember> Members;  // in list order, two or more
  int Kept = 0;                           // index into Members
  bool Remove = true;                     // false: the user leaves the set alone

  const TDuplicateMember& KeptMember() const { return Members[size_t(Kept)]; }
};

struct TDuplicateScan {
  std::vector<TDuplicateSet> Sets;  // ordered by their first member
  bool Stopped = false;
  // Sources the removal of every set would take out.
  int Surplus() const;
};

// The scan. AProgress(done, total) may stop it (return false); it runs on
// the calling thread, and nothing may change the sources meanwhile.
TDuplicateScan FindDuplicateSets(const std::vector<const JSONObject*>& ASources, const TDuplicateOptions& AOptions,
                                 const std::function<bool(int ADone, int ATotal)>& AProgress = {});

// ---- the keep policies
// The member a policy keeps; ties go to the earlier member.
int ChooseKept(const TDuplicateSet& ASet, TKeepPolicy APolicy, const std::vector<int64_t>& AMeasuredMs);
// Non-empty rule members: the flat 'rule…' members, and the members of the
// rule objects with searchUrl, exploreUrl and bookUrlPattern.
int RichnessOf(const JSONObject* ASource);
// The time that ranks a copy for 'fastest': the last check of this session
// (AMeasured; kProbeFailed counts as none), else a measured respondTime
// (below 180000); kNoProbeTime when there is none.
int64_t ProbeTimeOf(const JSONObject* ASource, int64_t AMeasured);
// The last check's elapsed times by position, for the sources that still
// stand where they were checked (same address): kProbeFailed for dead
// ones, kNoProbeTime where none (or no verdict either way).
std::vector<int64_t> MeasuredTimes(const std::vector<TCheckOutcome>& AOutcomes,
                                   const std::vector<const JSONObject*>& ASources);

// ---- texts
String DuplicateReasonText(const TDuplicateSet& ASet, bool ARealDedupe);
// "【group】name  address"
String DuplicateMemberText(const JSONObject* ASource);
// Every set as text: its reason, then each member, the kept one marked.
String DuplicateSetsText(const std::vector<TDuplicateSet>& ASets, bool ARealDedupe);
// The batch program's --dedupe-report: per set the reason, the kept copy and
// the removed ones (positions from 1).
Bytes DuplicateReportJson(const std::vector<TDuplicateSet>& ASets);

// The collection's sources as the scan takes them (under the collection's lock).
std::vector<const JSONObject*> SourcesOf(TSourceCollection& ASources);

// Main thread: every set marked Remove keeps its chosen copy, which takes the
// place of the set's first member; the others leave the collection (one undo
// entry). Sources found no longer in the collection are passed over. Returns
// how many left.
int RemoveDuplicateSets(TMainLogic& ALogic, const std::vector<TDuplicateSet>& ASets);

// The scan as a job of the worker pool, so a window stays responsive. The
// collection must not change while it runs (the desktop holds a modal dialog
// and refuses to start during a batch run).
class TDuplicateScanJob {
 public:
  TDuplicateScanJob() = default;
  // Asks a running scan to stop and waits for it.
  ~TDuplicateScanJob();
  TDuplicateScanJob(const TDuplicateScanJob&) = delete;
  TDuplicateScanJob& operator=(const TDuplicateScanJob&) = delete;

  // Main thread: takes the sources as they stand and posts the scan.
  void Start(TSourceCollection& ASources, TDuplicateOptions AOptions);
  void Stop() { FStop = true; }
  bool Done() const { return FDone.load(std::memory_order_acquire); }
  // Progress for a bar (any thread).
  int Position() const { return FPosition.load(); }
  int Max() const { return FMax.load(); }
  // Once Done: the sets, and the error that ended the scan (empty if none).
  TDuplicateScan TakeResult();
  String Error();
  // Waits until Done, running ATick between looks (tests, the batch program).
  void WaitDone(const std::function<void()>& ATick = {});

 private:
  void Execute(PJob AJob);

  std::vector<const JSONObject*> FSources;
  TDuplicateOptions FOptions;
  std::atomic<bool> FStop{false}, FDone{false}, FStarted{false};
  std::atomic<int> FPosition{0}, FMax{0};
  std::mutex FLock;
  TDuplicateScan FResult;  // under FLock
  String FError;           // under FLock
};
