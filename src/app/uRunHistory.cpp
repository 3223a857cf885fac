#include "app/uRunHistory.h"

#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <unordered_set>

#include "json/KivJson.h"
#include "support/KivStr.h"
#include "support/KivStream.h"

namespace {

// Statements are finalised on every path, errors included.
class TStatement {
 public:
  TStatement(sqlite3* ADb, const char* ASql) : FDb(ADb) {
    if (sqlite3_prepare_v2(ADb, ASql, -1, &FStmt, nullptr) != SQLITE_OK) FStmt = nullptr;
  }
  ~TStatement() { sqlite3_finalize(FStmt); }
  TStatement(const TStatement&) = delete;
  TStatement& operator=(const TStatement&) = delete;
  bool Ok() const { return FStmt != nullptr; }
  sqlite3_stmt* operator*() const { return FStmt; }

  void Bind(int AIndex, const String& AText) {
    const std::string utf8 = ToUtf8(AText);
    sqlite3_bind_text(FStmt, AIndex, utf8.data(), int(utf8.size()), SQLITE_TRANSIENT);
  }
  void Bind(int AIndex, const std::string& AText) {
    sqlite3_bind_text(FStmt, AIndex, AText.data(), int(AText.size()), SQLITE_TRANSIENT);
  }
  void Bind(int AIndex, int64_t AValue) { sqlite3_bind_int64(FStmt, AIndex, AValue); }
  int Step() { return sqlite3_step(FStmt); }
  void Reset() {
    sqlite3_reset(FStmt);
    sqlite3_clear_bindings(FStmt);
  }
  String Text(int ACol) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, ACol));
    return p ? FromUtf8(std::string(p, size_t(sqlite3_column_bytes(FStmt, ACol)))) : String();
  }
  int64_t Int(int ACol) const { return sqlite3_column_int64(FStmt, ACol); }

 private:
  sqlite3* FDb;
  sqlite3_stmt* FStmt = nullptr;
};

std::string IsoTime(int64_t AUnixMs) {
  const std::time_t seconds = std::time_t(AUnixMs / 1000);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, int(AUnixMs % 1000));
  return text;
}

bool VerdictOfName(const String& AName, TCheckVerdict& AVerdict) {
  for (TCheckVerdict v : {cvDead, cvAlive, cvBlocked, cvUnverifiable})
    if (AName == FromUtf8(VerdictName(v))) {
      AVerdict = v;
      return true;
    }
  return false;
}

TChangedSource ChangedOf(const TCheckOutcome& AOutcome) {
  return {AOutcome.BookSourceName, AOutcome.BookSourceUrl, AOutcome.Reason};
}

String ProbesOf(const TCheckOutcome& AOutcome) {
  String probes;
  if (!AOutcome.Search.empty()) probes += u"search=" + AOutcome.Search;
  if (!AOutcome.Explore.empty()) probes += String(probes.empty() ? u"" : u" ") + u"explore=" + AOutcome.Explore;
  return probes;
}

void AddList(JSONObject& ARoot, StringView AKey, const std::vector<TChangedSource>& AList) {
  JSONArray* list = ARoot.AddChildArray(AKey);
  for (const TChangedSource& s : AList) {
    JSONObject* item = list->AddChildObject();
    item->SetString(u"bookSourceName", s.BookSourceName);
    item->SetString(u"bookSourceUrl", s.BookSourceUrl);
    item->SetString(u"reason", s.Reason);
  }
}

}  // namespace

int64_t NowUnixMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// ---------------------------------------------------------------- changes

TRunChanges CompareRun(const TPreviousChecks& APrevious, const std::vector<TCheckOutcome>& AOutcomes) {
  TRunChanges changes;
  std::unordered_set<String> now;
  for (const TCheckOutcome& o : AOutcomes) {
    now.insert(o.BookSourceUrl);
    const auto before = APrevious.Latest.find(o.BookSourceUrl);
    if (before == APrevious.Latest.end()) {
      changes.New.push_back(ChangedOf(o));
    } else if (o.Verdict == cvDead) {
      (before->second == cvDead ? changes.StillDead : changes.NewlyDead).push_back(ChangedOf(o));
    } else if (o.Verdict == cvAlive && before->second == cvDead) {
      changes.Recovered.push_back(ChangedOf(o));
    }
  }
  std::unordered_set<String> named;
  for (const TChangedSource& s : APrevious.LastRun)
    if (!now.count(s.BookSourceUrl) && named.insert(s.BookSourceUrl).second) changes.Gone.push_back(s);
  return changes;
}

Bytes RunChangesJson(const TRunChanges& AChanges) {
  JSONObject root;
  AddList(root, u"newlyDead", AChanges.NewlyDead);
  AddList(root, u"recovered", AChanges.Recovered);
  AddList(root, u"stillDead", AChanges.StillDead);
  AddList(root, u"new", AChanges.New);
  AddList(root, u"gone", AChanges.Gone);
  TMemoryStream mem;
  root.SaveToStream(mem, 4, teUTF8, false, false);
  return mem.Data();
}

String RunChangesCounts(const TRunChanges& AChanges) {
  return Format(u"newly dead %d, recovered %d, still dead %d, new %d, gone %d", int(AChanges.NewlyDead.size()),
                int(AChanges.Recovered.size()), int(AChanges.StillDead.size()), int(AChanges.New.size()),
                int(AChanges.Gone.size()));
}

std::vector<String> PreviousVerdicts(const TPreviousChecks& APrevious, const std::vector<TCheckOutcome>& AOutcomes) {
  std::vector<String> result;
  result.reserve(AOutcomes.size());
  for (const TCheckOutcome& o : AOutcomes) {
    const auto before = APrevious.Latest.find(o.BookSourceUrl);
    result.push_back(before == APrevious.Latest.end() ? String(u"none") : FromUtf8(VerdictName(before->second)));
  }
  return result;
}

// ---------------------------------------------------------------- the file

TRunHistory::TRunHistory(const String& AFileName) : FFileName(AFileName) {
  const std::string name = ToUtf8(AFileName);
  if (sqlite3_open_v2(name.c_str(), &FDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    const String why = FDb ? FromUtf8(sqlite3_errmsg(FDb)) : String(u"out of memory");
    sqlite3_close(FDb);
    FDb = nullptr;
    throw Exception(Format(u"无法打开历史记录 %s: %s", AFileName, why));
  }
  try {
    sqlite3_busy_timeout(FDb, 10000);
    CreateOrCheckSchema();
  } catch (...) {
    sqlite3_close(FDb);
    FDb = nullptr;
    throw;
  }
}

TRunHistory::~TRunHistory() { sqlite3_close(FDb); }

void TRunHistory::Fail(const char* AWhat) {
  throw Exception(Format(u"历史记录 %s: %s: %s", FFileName, FromUtf8(AWhat), FromUtf8(sqlite3_errmsg(FDb))));
}

void TRunHistory::Exec(const char* ASql) {
  if (sqlite3_exec(FDb, ASql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(ASql);
}

void TRunHistory::CreateOrCheckSchema() {
  // Another kind of file fails here ("file is not a database").
  {
    TStatement probe(FDb, "SELECT count(*) FROM sqlite_master");
    if (!probe.Ok() || probe.Step() != SQLITE_ROW)
      throw Exception(Format(u"%s 不是历史记录文件: %s", FFileName, FromUtf8(sqlite3_errmsg(FDb))));
  }
  // Readers never wait for the writer of a run, and a crash leaves the file whole.
  Exec("PRAGMA journal_mode=WAL");
  Exec("PRAGMA foreign_keys=ON");
  Exec("BEGIN IMMEDIATE");
  try {
    int version = 0;
    bool hasTables = false;
    {
      TStatement tables(FDb, "SELECT count(*) FROM sqlite_master WHERE type='table'");
      if (tables.Ok() && tables.Step() == SQLITE_ROW) hasTables = tables.Int(0) > 0;
    }
    if (hasTables) {
      TStatement schema(FDb, "SELECT version FROM schema_version");
      if (!schema.Ok() || schema.Step() != SQLITE_ROW)
        throw Exception(Format(u"%s 不是历史记录文件 (没有 schema_version)", FFileName));
      version = int(schema.Int(0));
      if (version > kSchemaVersion)
        throw Exception(Format(u"历史记录 %s 的格式 (版本 %d) 比本程序新 (版本 %d)", FFileName, version,
                               int(kSchemaVersion)));
    }
    if (version < 1) {
      Exec(
          "CREATE TABLE schema_version (version INTEGER NOT NULL);"
          "INSERT INTO schema_version VALUES (1);"
          "CREATE TABLE runs ("
          " id INTEGER PRIMARY KEY, started TEXT NOT NULL, ended TEXT NOT NULL, options TEXT NOT NULL,"
          " inputs TEXT NOT NULL, loaded INTEGER NOT NULL, checked INTEGER NOT NULL, alive INTEGER NOT NULL,"
          " dead INTEGER NOT NULL, blocked INTEGER NOT NULL, unverifiable INTEGER NOT NULL,"
          " newly_dead INTEGER NOT NULL, recovered INTEGER NOT NULL, still_dead INTEGER NOT NULL,"
          " new INTEGER NOT NULL, gone INTEGER NOT NULL);"
          "CREATE TABLE checks ("
          " run_id INTEGER NOT NULL REFERENCES runs(id) ON DELETE CASCADE, position INTEGER NOT NULL,"
          " url TEXT NOT NULL, name TEXT NOT NULL, verdict TEXT NOT NULL, reason TEXT NOT NULL,"
          " status INTEGER NOT NULL, elapsed_ms INTEGER NOT NULL, probes TEXT NOT NULL,"
          " PRIMARY KEY (run_id, position));"
          "CREATE INDEX checks_by_url ON checks (url, run_id);");
    }
    Exec("COMMIT");
  } catch (...) {
    sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

TPreviousChecks TRunHistory::Previous() {
  TPreviousChecks previous;
  {
    // The latest run of each address; of its copies in that run, the first.
    TStatement latest(FDb,
                      "SELECT c.url, c.verdict FROM checks c JOIN (SELECT url, MAX(run_id) AS r FROM checks GROUP BY "
                      "url) m ON c.url = m.url AND c.run_id = m.r ORDER BY c.position DESC");
    if (!latest.Ok()) Fail("reading the previous verdicts");
    int rc;
    while ((rc = latest.Step()) == SQLITE_ROW) {
      TCheckVerdict verdict;
      if (VerdictOfName(latest.Text(1), verdict)) previous.Latest[latest.Text(0)] = verdict;
    }
    if (rc != SQLITE_DONE) Fail("reading the previous verdicts");
  }
  TStatement last(FDb,
                  "SELECT name, url, reason FROM checks WHERE run_id = (SELECT MAX(id) FROM runs) ORDER BY position");
  if (!last.Ok()) Fail("reading the last run");
  int rc;
  while ((rc = last.Step()) == SQLITE_ROW) previous.LastRun.push_back({last.Text(0), last.Text(1), last.Text(2)});
  if (rc != SQLITE_DONE) Fail("reading the last run");
  return previous;
}

int64_t TRunHistory::Record(const TRunRecord& ARun, const std::vector<TCheckOutcome>& AOutcomes,
                            const TRunChanges& AChanges) {
  int counts[4] = {};
  for (const TCheckOutcome& o : AOutcomes) ++counts[o.Verdict];
  std::string inputs;
  {
    // As the exported files write text: readable, quotes escaped.
    JSONArray list;
    for (const String& name : ARun.Inputs) list.Add(name);
    TMemoryStream mem;
    list.SaveToStream(mem, 0, teUTF8, false, false);
    inputs = Trim(FromUtf8(mem.Data())) == u"" ? "[]" : ToUtf8(Trim(FromUtf8(mem.Data())));
  }
  Exec("BEGIN IMMEDIATE");
  try {
    TStatement run(FDb,
                   "INSERT INTO runs (started, ended, options, inputs, loaded, checked, alive, dead, blocked, "
                   "unverifiable, newly_dead, recovered, still_dead, new, gone) "
                   "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    if (!run.Ok()) Fail("recording the run");
    run.Bind(1, IsoTime(ARun.StartedMs));
    run.Bind(2, IsoTime(ARun.EndedMs));
    run.Bind(3, ARun.Options);
    run.Bind(4, inputs);
    const int64_t values[] = {ARun.Loaded,
                              int64_t(AOutcomes.size()),
                              counts[cvAlive],
                              counts[cvDead],
                              counts[cvBlocked],
                              counts[cvUnverifiable],
                              int64_t(AChanges.NewlyDead.size()),
                              int64_t(AChanges.Recovered.size()),
                              int64_t(AChanges.StillDead.size()),
                              int64_t(AChanges.New.size()),
                              int64_t(AChanges.Gone.size())};
    for (size_t i = 0; i < std::size(values); ++i) run.Bind(int(i) + 5, values[i]);
    if (run.Step() != SQLITE_DONE) Fail("recording the run");
    const int64_t id = sqlite3_last_insert_rowid(FDb);
    TStatement check(FDb,
                     "INSERT INTO checks (run_id, position, url, name, verdict, reason, status, elapsed_ms, probes) "
                     "VALUES (?,?,?,?,?,?,?,?,?)");
    if (!check.Ok()) Fail("recording the checked sources");
    for (const TCheckOutcome& o : AOutcomes) {
      check.Bind(1, id);
      check.Bind(2, int64_t(o.Position) + 1);
      check.Bind(3, o.BookSourceUrl);
      check.Bind(4, o.BookSourceName);
      check.Bind(5, std::string(VerdictName(o.Verdict)));
      check.Bind(6, o.Reason);
      check.Bind(7, int64_t(o.Status));
      check.Bind(8, o.ElapsedMs);
      check.Bind(9, ProbesOf(o));
      if (check.Step() != SQLITE_DONE) Fail("recording the checked sources");
      check.Reset();
    }
    Exec("COMMIT");
    return id;
  } catch (...) {
    sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::vector<TRunRow> TRunHistory::Runs() {
  TStatement s(FDb,
               "SELECT id, started, ended, options, inputs, loaded, checked, alive, dead, blocked, unverifiable, "
               "newly_dead, recovered, still_dead, new, gone FROM runs ORDER BY id");
  if (!s.Ok()) Fail("reading the runs");
  std::vector<TRunRow> rows;
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    TRunRow r;
    r.Id = s.Int(0);
    r.Started = s.Text(1);
    r.Ended = s.Text(2);
    r.Options = s.Text(3);
    r.Inputs = s.Text(4);
    int* fields[] = {&r.Loaded, &r.Checked,   &r.Alive,     &r.Dead, &r.Blocked, &r.Unverifiable,
                     &r.NewlyDead, &r.Recovered, &r.StillDead, &r.New,  &r.Gone};
    for (size_t i = 0; i < std::size(fields); ++i) *fields[i] = int(s.Int(int(i) + 5));
    rows.push_back(std::move(r));
  }
  if (rc != SQLITE_DONE) Fail("reading the runs");
  return rows;
}

std::vector<TCheckRow> TRunHistory::Checks(int64_t ARunId) {
  TStatement s(FDb,
               "SELECT url, name, verdict, reason, probes, position, status, elapsed_ms FROM checks WHERE run_id = ? "
               "ORDER BY position");
  if (!s.Ok()) Fail("reading the checked sources");
  s.Bind(1, ARunId);
  std::vector<TCheckRow> rows;
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW)
    rows.push_back({s.Text(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4), int(s.Int(5)), int(s.Int(6)), s.Int(7)});
  if (rc != SQLITE_DONE) Fail("reading the checked sources");
  return rows;
}
