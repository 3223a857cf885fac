// Figures of the collection logic on large files: duplicate removal against
// the floor of reading the compared fields, the list refresh and filter, and
// a batch check against a local server that answers after 100 ms.
// Prints figures; asserts nothing.
//   app_bench [--file sources.json] [--check-count 2000] [--workers 60]
#include <httplib.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/uBookSourceBean.h"
#include "app/uDuplicateSets.h"
#include "app/uMergePreview.h"
#include "app/uMainLogic.h"
#include "app/uRemoveRepeat.h"
#include "http/KivHttpClient.h"
#include "json/KivJson.h"
#include "support/KivStream.h"
#include "workers/KivWorker.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

long PeakRssKb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

bool Exists(const std::string& n) {
  struct stat st;
  return stat(n.c_str(), &st) == 0;
}


std::vector<const JSONObject*> View(JSONArray& A) {
  std::vector<const JSONObject*> v;
  v.reserve(size_t(A.Count()));
  for (int i = 0; i < A.Count(); ++i) v.push_back(A.GetJsonObject(i));
  return v;
}

void DedupeFigures(const String& AFile) {
  JSONArray list;
  auto t0 = Clock::now();
  list.LoadFromFile(AFile, teUnknown);
  std::printf("loaded %d sources in %.3f s\n", list.Count(), Seconds(t0));
  std::vector<const JSONObject*> sources = View(list);

  // The floor: every member of every source read once as text.
  double floor = 1e9;
  size_t sink = 0;
  for (int run = 0; run < 3; ++run) {
    t0 = Clock::now();
    for (const JSONObject* s : sources)
      for (int k = 0; k < s->Count(); ++k) sink += s->GetItems(k)->AsString().size();
    floor = std::min(floor, Seconds(t0));
  }
  double scan = 1e9;
  size_t removed = 0;
  for (int run = 0; run < 3; ++run) {
    t0 = Clock::now();
    TRepeatScanResult r = ScanRepeats(sources, true, nullptr);
    scan = std::min(scan, Seconds(t0));
    removed = r.Removed.size();
  }
  // Beside what loading and exporting the same collection costs.
  double load = 1e9, save = 1e9;
  for (int run = 0; run < 3; ++run) {
    JSONArray again;
    t0 = Clock::now();
    again.LoadFromFile(AFile, teUnknown);
    load = std::min(load, Seconds(t0));
    t0 = Clock::now();
    again.SaveToFile(FromUtf8(TANVORK_BENCH_DATA "/dedupe-export.json"), 4, teUTF8, false);
    save = std::min(save, Seconds(t0));
  }
  std::printf("dedupe of %zu sources: %.3f s, %zu removed; floor (every member read) %.3f s, ratio %.2f; "
              "load + export %.3f s, dedupe is %.0f%% of it\n",
              sources.size(), scan, removed, floor, scan / floor, load + save, 100 * scan / (load + save));

  // The pairwise scan on the first 2 000 (quadratic: 10 000 take minutes), to show the gap.
  const size_t n = std::min<size_t>(2000, sources.size());
  std::vector<const JSONObject*> first(sources.begin(), sources.begin() + long(n));
  t0 = Clock::now();
  std::vector<char> gone(n, 0);
  size_t pairRemoved = 0;
  for (size_t i = 0; i < n; ++i) {
    if (gone[i]) continue;
    for (size_t j = n - 1; j > i; --j)
      if (!gone[j] && IsRepeat(first[i], first[j], true)) gone[j] = 1, ++pairRemoved;
  }
  const double pairwise = Seconds(t0);
  t0 = Clock::now();
  TRepeatScanResult r10 = ScanRepeats(first, true, nullptr);
  const double hashed = Seconds(t0);
  std::printf("first %zu: pairwise %.3f s (%zu removed), one pass %.4f s (%zu removed), %.0fx\n", n, pairwise,
              pairRemoved, hashed, r10.Removed.size(), pairwise / hashed);
  if (sink == 42) std::printf(" ");
}

// A window that holds the filter text, so the refresh and the filter are timed as the desktop runs them.
class TFilterBox : public IMainWindow {
 public:
  String Filter;
  String GetGroupFilterText() override { return Filter; }
};

void ListFigures(const String& AFile) {
  TFilterBox win;
  TMainLogic logic(win);
  logic.AddSrcFile(AFile);
  double refresh = 1e9, filter = 1e9, clear = 1e9;
  for (int run = 0; run < 3; ++run) {
    auto t0 = Clock::now();
    logic.NotifyListChange(lcSourcesChanged);
    refresh = std::min(refresh, Seconds(t0));
    win.Filter = u"v";
    t0 = Clock::now();
    logic.FilterChanged();
    filter = std::min(filter, Seconds(t0));
    win.Filter = u"";
    t0 = Clock::now();
    logic.FilterChanged();
    clear = std::min(clear, Seconds(t0));
  }
  std::printf("%d sources: NotifyListChange(lcSourcesChanged) %.1f ms, filter 'v' %.1f ms (%d rows), filter cleared %.1f ms (goal < 100 ms)\n",
              logic.Sources().Data().Count(), refresh * 1000, filter * 1000, logic.RowCount(), clear * 1000);
}

// Loading and refreshing with every source in a group of its own: the group
// index must grow with the names (it once had 997 fixed buckets).
void GroupFigures() {
  for (const int count : {10000, 100000}) {
    for (const bool groups : {false, true}) {
      std::string text = "[";
      for (int i = 0; i < count; ++i) {
        text += (i ? ",{" : "{") + std::string("\"bookSourceName\":\"s") + std::to_string(i) +
                "\",\"bookSourceUrl\":\"http://h" + std::to_string(i) + "/\"";
        if (groups) text += ",\"bookSourceGroup\":\"g" + std::to_string(i) + "\"";
        text += "}";
      }
      text += "]";
      TMainLogic logic;
      TMemoryStream in;
      in.Data() = text;
      const auto t0 = Clock::now();
      logic.AddSrcStream(in, u"-");
      const double load = Seconds(t0);
      const auto t1 = Clock::now();
      const size_t names = logic.GroupNames().size();
      std::printf("%d sources %s: load and refresh %.3f s, group list of %zu names %.3f s\n", count,
                  groups ? "each in a group of its own" : "without groups", load, names, Seconds(t1));
    }
  }
}

// Duplicate sets by rules, address and site with each keep policy, and the
// merge preview, against loading and exporting the same collection (goal:
// each under 25 % of load + export).
void DuplicateSetFigures(const String& AFile) {
  TMainLogic logic;
  auto t0 = Clock::now();
  logic.AddSrcFile(AFile);
  const double load = Seconds(t0);
  const std::string exported = std::string(TANVORK_BENCH_DATA) + "/duplicate-sets-export.json";
  t0 = Clock::now();
  logic.ExportTo(FromUtf8(exported));
  const double save = Seconds(t0);
  std::remove(exported.c_str());
  const double base = load + save;
  const std::vector<const JSONObject*> sources = SourcesOf(logic.Sources());
  std::printf("%zu sources with address variants: load %.3f s + export %.3f s = %.3f s\n", sources.size(), load, save,
              base);
  for (TDuplicateMode mode : {TDuplicateMode::Rules, TDuplicateMode::Address, TDuplicateMode::Site}) {
    for (TKeepPolicy keep :
         {TKeepPolicy::First, TKeepPolicy::Last, TKeepPolicy::Newest, TKeepPolicy::Richest, TKeepPolicy::Fastest}) {
      TDuplicateOptions options;
      options.Mode = mode;
      options.Keep = keep;
      double best = 1e9;
      TDuplicateScan scan;
      for (int run = 0; run < 3; ++run) {
        t0 = Clock::now();
        scan = FindDuplicateSets(sources, options);
        best = std::min(best, Seconds(t0));
      }
      std::printf("  sets by %-7s keep %-7s %.3f s (%5.1f %% of load + export): %zu sets, %d to remove\n",
                  DuplicateModeName(mode), KeepPolicyName(keep), best, 100 * best / base, scan.Sets.size(),
                  scan.Surplus());
    }
  }

  // A 50 000-source file: a quarter the same as the collection's, a quarter
  // with a changed rule, half new addresses.
  JSONArray incoming;
  for (int i = 0; i < 50000 && !sources.empty(); ++i) {
    JSONObject* copy = incoming.AddChildObject();
    copy->Parse(sources[size_t(i * 2) % sources.size()]->ToString(), false);
    if (i % 4 == 1) copy->SetString(u"ruleBookName", u"changed " + IntToStr(i));
    if (i % 2 == 0) copy->SetString(u"bookSourceUrl", u"http://new-" + IntToStr(i) + u".example/");
  }
  const std::vector<const JSONObject*> file = FileSources(incoming);
  double best = 1e9;
  TMergePreview preview;
  for (int run = 0; run < 3; ++run) {
    t0 = Clock::now();
    preview = ClassifyMerge(sources, file);
    best = std::min(best, Seconds(t0));
  }
  std::printf("  merge preview of %zu against %zu: %.3f s (%5.1f %% of load + export): %d new, %d identical, "
              "%d changed\n",
              file.size(), sources.size(), best, 100 * best / base, preview.Count(TMergeKind::New),
              preview.Count(TMergeKind::Identical), preview.Count(TMergeKind::Changed));
}

void CheckFigures(int ACount, int AWorkers) {
  httplib::Server server;
  server.new_task_queue = [] { return new httplib::ThreadPool(256); };
  server.Get("/.*", [](const httplib::Request&, httplib::Response& res) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    res.set_content("ok", "text/plain");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread serve([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  TMainLogic logic;
  {
    JSONArray& data = logic.Sources().Data();
    for (int i = 0; i < ACount; ++i) {
      JSONObject* o = data.AddChildObject();
      o->SetString(u"bookSourceName", u"s" + IntToStr(i));
      o->SetString(u"bookSourceUrl", FromUtf8("http://127.0.0.1:" + std::to_string(port) + "/s" + std::to_string(i)));
    }
  }
  TRunOptions options;
  options.RemoveRepeat = false;
  options.CheckSources = true;
  options.WorkerCount = IntToStr(AWorkers);
  const long rssBefore = PeakRssKb();
  std::atomic<int64_t> elapsedSum{0};
  std::mutex threadsLock;
  std::vector<std::thread::id> threads;
  std::vector<double> firstSeen;
  auto t0 = Clock::now();
  logic.CheckListeners().Add([&](const TCheckOutcome& AOutcome) {
    elapsedSum.fetch_add(AOutcome.ElapsedMs);
    std::lock_guard<std::mutex> g(threadsLock);
    if (std::find(threads.begin(), threads.end(), std::this_thread::get_id()) == threads.end()) {
      threads.push_back(std::this_thread::get_id());
      firstSeen.push_back(Seconds(t0) - AOutcome.ElapsedMs / 1000.0);
    }
  });
  logic.ExecuteRun(options);
  const double wall = Seconds(t0);
  std::printf("mean time of one probe %.1f ms; %zu check threads, the last started after %.0f ms\n",
              double(elapsedSum.load()) / ACount, threads.size(), firstSeen.empty() ? 0.0 : firstSeen.back() * 1000);
  int dead = 0;
  for (int i = 0; i < ACount; ++i)
    dead += TBookSourceItem(logic.Sources().Data().GetJsonObject(i)).bookSourceGroup() == u"失效";
  const double ideal = ACount * 0.1 / (AWorkers - 1);
  std::printf("check of %d sources, %d workers, 100 ms answers: %.3f s; ideal %.3f s; ratio %.3f (goal <= 1.05); "
              "%d dead; peak RSS %ld MB (before the run %ld MB)\n",
              ACount, AWorkers, wall, ideal, wall / ideal, dead, PeakRssKb() / 1024, rssBefore / 1024);
  server.stop();
  serve.join();
}

}  // namespace

int main(int argc, char** argv) {
  std::string file;
  int checkCount = 2000, workers = 60;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--file" && i + 1 < argc) file = argv[++i];
    else if (a == "--check-count" && i + 1 < argc) checkCount = std::atoi(argv[++i]);
    else if (a == "--workers" && i + 1 < argc) workers = std::atoi(argv[++i]);
  }
  InitHttpClient();
  KivWorkerInit();
  JsonCaseSensitive = false;
  if (file.empty()) {
    const std::string gen = std::string(TANVORK_SHARED_DIR) + "/tools/gen_sources.py";
    file = std::string(TANVORK_BENCH_DATA) + "/sources-100000-s2.json";
    if (!Exists(file)) {
      if (!Exists(gen)) {
        std::printf("skipped the file figures: %s is absent and no --file was given\n", gen.c_str());
      } else {
        std::system(("mkdir -p '" TANVORK_BENCH_DATA "' && python3 '" + gen +
                     "' --count 100000 --dup-ratio 0.3 --seed 2 -o '" + file + "'").c_str());
      }
    }
  }
  if (Exists(file)) {
    DedupeFigures(FromUtf8(file));
    ListFigures(FromUtf8(file));
  }
  const std::string variants = std::string(TANVORK_BENCH_DATA) + "/sources-100000-variants.json";
  const std::string gen = std::string(TANVORK_SHARED_DIR) + "/tools/gen_sources.py";
  if (!Exists(variants) && Exists(gen))
    std::system(("mkdir -p '" TANVORK_BENCH_DATA "' && python3 '" + gen +
                 "' --count 100000 --format mixed --dup-ratio 0.2 --address-variants 0.1 --seed 21 -o '" + variants +
                 "'").c_str());
  if (Exists(variants)) {
    std::printf("-- mixed formats (format 2, 3 and both) --\n");
    DedupeFigures(FromUtf8(variants));
    DuplicateSetFigures(FromUtf8(variants));
  }
  GroupFigures();
  CheckFigures(checkCount, workers);
  KivWorkerFinal();
  return 0;
}
