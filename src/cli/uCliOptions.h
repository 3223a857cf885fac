// The command line of tanvork-cli: what to load, which stages to run and
// where the results go.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// A command line that cannot be run: exit status 2 with the usage text.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TSortKey { None, Name, Group };
enum class TDedupe { None, Real, Strict };

struct TGroupRename {
  std::string Old, New;  // UTF-8 as given
};

struct TCliOptions {
  std::vector<std::string> Files;  // "-" is standard input; http(s) addresses are fetched
  std::string Output;              // empty: no export; "-" standard output
  std::string Report;              // empty: no report; "-" standard output
  std::vector<TGroupRename> Renames;
  bool ConvertFormat3 = false;  // --convert format3
  TDedupe Dedupe = TDedupe::None;
  // Duplicate sets (--dedupe-mode, --keep, --dedupe-report) instead of the
  // run's own duplicate removal; the names as given, checked by the parser.
  bool DedupeSets = false;
  std::string DedupeMode = "rules", Keep = "first";
  std::string DedupeReport;           // empty: none; "-" standard output
  std::vector<std::string> Updates;   // --update files, in order
  std::string KeepFields;             // --keep-fields as given; empty: none
  bool Check = false;
  int Workers = 60;
  int TimeoutMs = 30000;
  int Retries = 0;
  int PerHost = 0;  // 0: no limit
  TSortKey Sort = TSortKey::None;
  bool HasFilter = false;
  std::string Filter;
  bool DropDead = false;
  bool NoConfirm = false;
  int Probes = 0;  // a TProbeSet: 0 site, 1 search, 2 explore, 3 all
  bool FailOnDead = false;
  bool Insecure = false;           // --insecure: inputs fetched without verifying the certificate
  std::string History;             // --history: the run history file; empty: none
  std::string Diff;                // --diff: what changed since the last run, as JSON; "-" standard output
  bool WriteRespondTime = false;   // --write-respond-time
  bool Quiet = false;
  bool Help = false;
  bool Version = false;
};

// Throws TUsageError. --help and --version end the parsing of checks: they
// are answered whatever else the line holds.
TCliOptions ParseCommandLine(const std::vector<std::string>& AArgs);
const char* UsageText();
// The name the desktop export writes to: ".json" appended when the leaf has no extension.
std::string ExportFileName(const std::string& AName);
