#include "cli/uCliOptions.h"

#include <charconv>
#include <climits>

namespace {

const char kUsage[] =
    "Usage: tanvork-cli [OPTIONS] FILE...\n"
    "Merge book-source files in the order given ('-' reads standard input), then\n"
    "rename groups, remove duplicates, check every source, and export the result.\n"
    "\n"
    "  -o, --output FILE        export the collection (UTF-8 without BOM, indent 4,\n"
    "                           CR LF); \".json\" is appended when FILE has no\n"
    "                           extension; '-' writes standard output\n"
    "      --rename-group OLD=NEW\n"
    "                           rename the group OLD to NEW (whole names; an empty\n"
    "                           NEW removes the group); repeatable, applied in order\n"
    "                           before anything else\n"
    "      --dedupe             remove duplicates (names and groups not compared)\n"
    "      --dedupe-strict      remove duplicates (names and groups compared too)\n"
    "      --check              check every source: dead ones get the group \"失效\",\n"
    "                           live ones lose it\n"
    "      --workers N          probes of the check at a time (default 60)\n"
    "      --timeout MS         connect and receive time-out of a probe (default 30000)\n"
    "      --retries N          probe again up to N times when no HTTP answer came\n"
    "                           (default 0)\n"
    "      --per-host N         at most N probes to one host at a time (default: no\n"
    "                           limit)\n"
    "      --drop-dead          after the check, remove the sources that failed it\n"
    "      --sort name|group    sort by bookSourceName or by bookSourceGroup\n"
    "      --filter TEXT        export only the sources whose group or name contains\n"
    "                           TEXT (ASCII letters compared without case)\n"
    "      --report FILE        one record per checked source: position after\n"
    "                           dedupe (1 = first), name, URL, verdict, HTTP status,\n"
    "                           failure text, elapsed ms; CSV when FILE ends in .csv,\n"
    "                           JSON otherwise; '-' writes standard output; needs\n"
    "                           --check\n"
    "      --fail-on-dead       exit with status 3 when any source is dead\n"
    "  -q, --quiet              no progress, log or summary on standard error\n"
    "  -h, --help               show this text\n"
    "      --version            show the version\n"
    "\n"
    "Exit status: 0 done, 1 runtime error (nothing written), 2 usage error,\n"
    "3 dead sources with --fail-on-dead.\n";

int ParseNumber(const std::string& AOption, const std::string& AText, int AMin, int AMax) {
  int value = 0;
  const char* end = AText.data() + AText.size();
  auto [p, ec] = std::from_chars(AText.data(), end, value, 10);
  if (AText.empty() || ec != std::errc() || p != end || value < AMin || value > AMax)
    throw TUsageError(AOption + " needs a whole number from " + std::to_string(AMin) + " to " +
                      std::to_string(AMax) + ", not '" + AText + "'");
  return value;
}

// Walks the arguments; option values come from "--name=value" or the next argument.
class TArgReader {
 public:
  explicit TArgReader(const std::vector<std::string>& AArgs) : FArgs(AArgs) {}
  bool Done() const { return FPos >= FArgs.size(); }
  const std::string& Next() { return FArgs[FPos++]; }
  std::string Value(const std::string& AOption, const std::string* AInline) {
    if (AInline) return *AInline;
    if (Done()) throw TUsageError(AOption + " needs a value");
    return Next();
  }

 private:
  const std::vector<std::string>& FArgs;
  size_t FPos = 0;
};

void SetOnce(bool& ASeen, const std::string& AOption) {
  if (ASeen) throw TUsageError(AOption + " given twice");
  ASeen = true;
}

void Validate(const TCliOptions& O) {
  if (O.Files.empty()) throw TUsageError("no input file");
  int stdinCount = 0;
  for (const std::string& f : O.Files) stdinCount += f == "-";
  if (stdinCount > 1) throw TUsageError("standard input ('-') can be read only once");
  if (!O.Check) {
    if (!O.Report.empty()) throw TUsageError("--report needs --check");
    if (O.DropDead) throw TUsageError("--drop-dead needs --check");
    if (O.FailOnDead) throw TUsageError("--fail-on-dead needs --check");
  }
  if (O.Output == "-" && O.Report == "-") throw TUsageError("--output and --report cannot both write standard output");
  if (!O.Output.empty() && O.Output != "-" && ExportFileName(O.Output) == O.Report)
    throw TUsageError("--output and --report name the same file");
}

}  // namespace

const char* UsageText() { return kUsage; }

std::string ExportFileName(const std::string& AName) {
  const size_t slash = AName.find_last_of("/\\");
  const size_t dot = AName.rfind('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return hasExt ? AName : AName + ".json";
}

TCliOptions ParseCommandLine(const std::vector<std::string>& AArgs) {
  TCliOptions O;
  TArgReader in(AArgs);
  bool seenOutput = false, seenReport = false, seenSort = false, seenFilter = false, seenWorkers = false,
       seenTimeout = false, seenRetries = false, seenPerHost = false;
  bool onlyFiles = false;
  while (!in.Done()) {
    const std::string arg = in.Next();
    if (onlyFiles || arg == "-" || arg.empty() || arg[0] != '-') {
      O.Files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyFiles = true;
      continue;
    }
    std::string name = arg;
    std::string inlineValue;
    const std::string* inl = nullptr;
    if (arg.rfind("--", 0) == 0) {
      const size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        name = arg.substr(0, eq);
        inlineValue = arg.substr(eq + 1);
        inl = &inlineValue;
      }
    } else if (arg.size() > 2 && arg[1] == 'o') {  // -oFILE
      name = "-o";
      inlineValue = arg.substr(2);
      inl = &inlineValue;
    }
    auto flag = [&](bool& AField) {
      if (inl) throw TUsageError(name + " takes no value");
      AField = true;
    };
    if (name == "-h" || name == "--help") {
      flag(O.Help);
    } else if (name == "--version") {
      flag(O.Version);
    } else if (name == "-q" || name == "--quiet") {
      flag(O.Quiet);
    } else if (name == "-o" || name == "--output") {
      SetOnce(seenOutput, "--output");
      O.Output = in.Value(name, inl);
      if (O.Output.empty()) throw TUsageError(name + " needs a file name");
    } else if (name == "--report") {
      SetOnce(seenReport, name);
      O.Report = in.Value(name, inl);
      if (O.Report.empty()) throw TUsageError(name + " needs a file name");
    } else if (name == "--rename-group") {
      const std::string v = in.Value(name, inl);
      const size_t eq = v.find('=');
      if (eq == std::string::npos) throw TUsageError("--rename-group needs OLD=NEW, not '" + v + "'");
      O.Renames.push_back({v.substr(0, eq), v.substr(eq + 1)});
    } else if (name == "--dedupe" || name == "--dedupe-strict") {
      const TDedupe mode = name == "--dedupe" ? TDedupe::Real : TDedupe::Strict;
      bool on = false;
      flag(on);
      if (O.Dedupe != TDedupe::None && O.Dedupe != mode)
        throw TUsageError("--dedupe and --dedupe-strict exclude each other");
      O.Dedupe = mode;
    } else if (name == "--check") {
      flag(O.Check);
    } else if (name == "--workers") {
      SetOnce(seenWorkers, name);
      O.Workers = ParseNumber(name, in.Value(name, inl), 1, 1000);
    } else if (name == "--timeout") {
      SetOnce(seenTimeout, name);
      O.TimeoutMs = ParseNumber(name, in.Value(name, inl), 1, INT_MAX);
    } else if (name == "--retries") {
      SetOnce(seenRetries, name);
      O.Retries = ParseNumber(name, in.Value(name, inl), 0, 100);
    } else if (name == "--per-host") {
      SetOnce(seenPerHost, name);
      O.PerHost = ParseNumber(name, in.Value(name, inl), 1, 100000);
    } else if (name == "--sort") {
      SetOnce(seenSort, name);
      const std::string v = in.Value(name, inl);
      if (v == "name")
        O.Sort = TSortKey::Name;
      else if (v == "group")
        O.Sort = TSortKey::Group;
      else
        throw TUsageError("--sort takes 'name' or 'group', not '" + v + "'");
    } else if (name == "--filter") {
      SetOnce(seenFilter, name);
      O.Filter = in.Value(name, inl);
      O.HasFilter = true;
    } else if (name == "--drop-dead") {
      flag(O.DropDead);
    } else if (name == "--fail-on-dead") {
      flag(O.FailOnDead);
    } else {
      throw TUsageError("unknown option '" + arg + "'");
    }
  }
  if (O.Help || O.Version) return O;
  Validate(O);
  return O;
}
