#include "cli/uCliOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <climits>

#include "app/uDuplicateSets.h"
#include "app/uMergePreview.h"

namespace {

const char kUsage[] =
    "Usage: tanvork-cli [OPTIONS] FILE...\n"
    "Merge book-source files in the order given ('-' reads standard input), then\n"
    "rename groups, remove duplicates, check every source, and export the result.\n"
    "A FILE that begins with http:// or https:// is fetched (redirects followed,\n"
    "proxies from the environment, 30 s time-outs, at most 256 MB; an address\n"
    "ending in '#requestWithoutUA' is sent without a User-Agent); a file or address\n"
    "holding {\"sourceUrls\": [...]} loads each address it lists, in order.\n"
    "\n"
    "      --insecure           fetch input addresses without verifying the server\n"
    "                           certificate (the check itself always takes any)\n"
    "  -o, --output FILE        export the collection (UTF-8 without BOM, indent 4,\n"
    "                           CR LF); \".json\" is appended when FILE has no\n"
    "                           extension; '-' writes standard output\n"
    "      --rename-group OLD=NEW\n"
    "                           rename the group OLD to NEW (whole names; an empty\n"
    "                           NEW removes the group); repeatable, applied in order\n"
    "                           before anything else\n"
    "      --convert format3    convert format-2 sources (flat rule members) to the\n"
    "                           current format after merging and renaming; a source\n"
    "                           that would lose data stays as it was, and the log\n"
    "                           says why\n"
    "      --dedupe             remove duplicates (names and groups not compared)\n"
    "      --dedupe-strict      remove duplicates (names and groups compared too)\n"
    "      --dedupe-mode rules|address|site\n"
    "                           what makes copies duplicates (with --dedupe): the\n"
    "                           rules as --dedupe compares them (default), the exact\n"
    "                           bookSourceUrl, or the site (scheme and host without\n"
    "                           case, http = https, no 'www.', '#tag', trailing '/'\n"
    "                           or default port)\n"
    "      --keep first|last|newest|richest|fastest\n"
    "                           which copy of each set stays, in the place of the\n"
    "                           first (default first): the last one, the largest\n"
    "                           lastUpdateTime, the most rule members, the smallest\n"
    "                           respondTime; ties go to the earlier copy\n"
    "      --dedupe-report FILE the duplicate sets as JSON: reason, kept position\n"
    "                           and name, removed positions and names (1 = first);\n"
    "                           '-' writes standard output\n"
    "      --update FILE        after the inputs are merged, update the collection by\n"
    "                           address from FILE: new addresses are added, changed\n"
    "                           sources rewritten where they stand; repeatable\n"
    "      --keep-fields LIST   what an update leaves as it was: name, group,\n"
    "                           enabled, order, comma-separated (default none)\n"
    "      --check              check every source: dead ones get the group \"失效\",\n"
    "                           live ones lose it; blocked and unverifiable ones\n"
    "                           (bot walls, rate limits, addresses that are no\n"
    "                           http(s) site) keep their groups\n"
    "      --probe site|search|explore|all\n"
    "                           besides the site address (site, the default), also\n"
    "                           probe the search request, the first explore entry,\n"
    "                           or both; the report gets their results (pass,\n"
    "                           fail:<reason>, script, none); only the site decides\n"
    "                           \"失效\"\n"
    "      --no-confirm         mark sources dead after the first failed probe\n"
    "                           (by default every failure is probed once more\n"
    "                           after the others, one probe per host at a time)\n"
    "      --workers N          probes of the check at a time (default 60)\n"
    "      --timeout MS         connect and receive time-out of a probe (default 30000)\n"
    "      --retries N          probe again up to N times when no HTTP answer came\n"
    "                           (default 0)\n"
    "      --per-host N         at most N probes to one host at a time (default: no\n"
    "                           limit)\n"
    "      --drop-dead          after the check, remove the dead sources\n"
    "      --sort name|group    sort by bookSourceName or by bookSourceGroup\n"
    "      --filter TEXT        export only the sources whose group or name contains\n"
    "                           TEXT (ASCII letters compared without case)\n"
    "      --report FILE        one record per checked source: position after\n"
    "                           dedupe (1 = first), name, URL, verdict (alive, dead,\n"
    "                           blocked, unverifiable), HTTP status, failure text,\n"
    "                           elapsed ms, reason, confirmed, note, attempts; CSV\n"
    "                           when FILE ends in .csv, JSON otherwise; '-' writes\n"
    "                           standard output; needs --check\n"
    "      --fail-on-dead       exit with status 3 when any source is dead (blocked\n"
    "                           and unverifiable ones do not count)\n"    "      --history FILE       record the run in FILE (an SQLite database, made\n"
    "                           when missing): every checked source with its\n"
    "                           verdict; the summary and the report then name each\n"
    "                           source's previous verdict and count the newly dead,\n"
    "                           recovered, still dead, new and gone sources (the\n"
    "                           same source: the same bookSourceUrl); needs --check\n"
    "      --diff FILE          with --history: those lists as one JSON object\n"
    "                           (newlyDead, recovered, stillDead, new, gone); '-'\n"
    "                           writes standard output\n"
    "      --write-respond-time write respondTime into each checked source of the\n"
    "                           current format as the reader app does (elapsed ms\n"
    "                           when alive, time-out + elapsed ms when dead);\n"
    "                           needs --check\n"
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

// The command line's words as CLI11 takes them. Values stay text here; they
// are checked afterwards, so every message reads as the program's own.
struct TRawOptions {
  std::vector<std::string> Files, Renames;
  std::string Output, Report, Workers, Timeout, Retries, PerHost, Sort, Filter, Probe;
  std::vector<std::string> Updates;
  std::string DedupeMode, Keep, DedupeReport, KeepFields, Convert, History, Diff;
  bool Help = false, Version = false, Quiet = false, Dedupe = false, DedupeStrict = false, Check = false,
       DropDead = false, FailOnDead = false, NoConfirm = false, Insecure = false, WriteRespondTime = false;
};

// One option that takes a value: at most once, the value taken as it
// stands (also when it begins with '-').
CLI::Option* ValueOption(CLI::App& AApp, const std::string& ANames, std::string& AField) {
  return AApp.add_option(ANames, AField)
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw)
      ->allow_extra_args(false)
      ->expected(1);
}

CLI::Option* FlagOption(CLI::App& AApp, const std::string& ANames, bool& AField) {
  return AApp.add_flag(ANames, AField)->disable_flag_override()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

// The option a CLI11 message names ("--output: ..." or "check was ..."), as typed.
std::string OptionNamed(const std::string& AMessage, const std::vector<std::string>& AArgs) {
  for (const std::string& a : AArgs) {
    if (a.size() < 2 || a[0] != '-') continue;
    const std::string name = a.substr(0, a.find('='));
    const std::string bare = name.substr(name.find_first_not_of('-'));
    if (AMessage.find(bare) != std::string::npos) return name;
  }
  return "an option";
}

// CLI11's complaints in the program's words.
[[noreturn]] void Translate(const CLI::ParseError& E, const std::vector<std::string>& AArgs) {
  const std::string what = E.what();
  if (dynamic_cast<const CLI::ExtrasError*>(&E)) {
    for (const std::string& a : AArgs)
      if (a.size() > 1 && a[0] == '-' && what.find(a) != std::string::npos)
        throw TUsageError("unknown option '" + a + "'");
    throw TUsageError(what);
  }
  if (what.find("At Most 1") != std::string::npos) throw TUsageError(OptionNamed(what, AArgs) + " given twice");
  if (what.find("flag override") != std::string::npos)
    throw TUsageError(OptionNamed(what, AArgs) + " takes no value");
  if (what.find("required") != std::string::npos || what.find("Expected") != std::string::npos)
    throw TUsageError(OptionNamed(what, AArgs) + " needs a value");
  throw TUsageError(what);
}

// The duplicate sets and the updates.
void CheckDuplicateOptions(const TCliOptions& O) {
  if (O.Dedupe == TDedupe::None) {
    if (O.DedupeMode != "rules" || O.Keep != "first" || !O.DedupeReport.empty()) {
      const char* option = !O.DedupeReport.empty() ? "--dedupe-report" : O.Keep != "first" ? "--keep" : "--dedupe-mode";
      throw TUsageError(std::string(option) + " needs --dedupe or --dedupe-strict");
    }
  }
  if (O.Dedupe == TDedupe::Strict && O.DedupeMode != "rules")
    throw TUsageError("--dedupe-strict compares names and groups with the rules: it takes no --dedupe-mode " +
                      O.DedupeMode);
  for (const char* other : {"--output", "--report"})
    if (O.DedupeReport == "-" && (other[2] == 'o' ? O.Output : O.Report) == "-")
      throw TUsageError(std::string(other) + " and --dedupe-report cannot both write standard output");
  if (!O.KeepFields.empty() && O.Updates.empty()) throw TUsageError("--keep-fields needs --update");
  for (const std::string& f : O.Updates)
    if (f == "-" && std::find(O.Files.begin(), O.Files.end(), "-") != O.Files.end())
      throw TUsageError("standard input ('-') can be read only once");
  if (std::count(O.Updates.begin(), O.Updates.end(), "-") > 1)
    throw TUsageError("standard input ('-') can be read only once");
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
    if (O.NoConfirm) throw TUsageError("--no-confirm needs --check");
    if (O.Probes != 0) throw TUsageError("--probe needs --check");
  }
  if (O.Output == "-" && O.Report == "-") throw TUsageError("--output and --report cannot both write standard output");
  if (!O.History.empty() && !O.Check) throw TUsageError("--history needs --check");
  if (O.WriteRespondTime && !O.Check) throw TUsageError("--write-respond-time needs --check");
  if (!O.Diff.empty() && O.History.empty()) throw TUsageError("--diff needs --history");
  if (O.Diff == "-" && (O.Output == "-" || O.Report == "-" || O.DedupeReport == "-"))
    throw TUsageError(std::string(O.Output == "-" ? "--output" : O.Report == "-" ? "--report" : "--dedupe-report") +
                      " and --diff cannot both write standard output");
  CheckDuplicateOptions(O);
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
  TRawOptions raw;
  CLI::App app("tanvork-cli");
  app.set_help_flag();  // the usage text is the program's own
  app.allow_extras(false);
  app.add_option("files", raw.Files)->take_all();
  FlagOption(app, "-h,--help", raw.Help);
  FlagOption(app, "--version", raw.Version);
  FlagOption(app, "-q,--quiet", raw.Quiet);
  CLI::Option* output = ValueOption(app, "-o,--output", raw.Output);
  CLI::Option* report = ValueOption(app, "--report", raw.Report);
  app.add_option("--rename-group", raw.Renames)->allow_extra_args(false)->expected(1)->take_all();
  FlagOption(app, "--dedupe", raw.Dedupe);
  FlagOption(app, "--dedupe-strict", raw.DedupeStrict);
  FlagOption(app, "--check", raw.Check);
  CLI::Option* workers = ValueOption(app, "--workers", raw.Workers);
  CLI::Option* timeout = ValueOption(app, "--timeout", raw.Timeout);
  CLI::Option* retries = ValueOption(app, "--retries", raw.Retries);
  CLI::Option* perHost = ValueOption(app, "--per-host", raw.PerHost);
  CLI::Option* sort = ValueOption(app, "--sort", raw.Sort);
  CLI::Option* filter = ValueOption(app, "--filter", raw.Filter);
  FlagOption(app, "--drop-dead", raw.DropDead);
  FlagOption(app, "--fail-on-dead", raw.FailOnDead);
  CLI::Option* dedupeMode = ValueOption(app, "--dedupe-mode", raw.DedupeMode);
  CLI::Option* keep = ValueOption(app, "--keep", raw.Keep);
  CLI::Option* dedupeReport = ValueOption(app, "--dedupe-report", raw.DedupeReport);
  app.add_option("--update", raw.Updates)->allow_extra_args(false)->expected(1)->take_all();
  CLI::Option* keepFields = ValueOption(app, "--keep-fields", raw.KeepFields);
  FlagOption(app, "--no-confirm", raw.NoConfirm);
  CLI::Option* probe = ValueOption(app, "--probe", raw.Probe);
  CLI::Option* convert = ValueOption(app, "--convert", raw.Convert);
  CLI::Option* history = ValueOption(app, "--history", raw.History);
  CLI::Option* diff = ValueOption(app, "--diff", raw.Diff);
  FlagOption(app, "--insecure", raw.Insecure);
  FlagOption(app, "--write-respond-time", raw.WriteRespondTime);

  // CLI11 takes the words last to first. "--name=" is a value option with an
  // empty value (CLI11 would call it missing). Until "--", short options
  // stand alone ("-oFILE" aside) and three dashes begin no option.
  static const std::vector<std::string> kValued = {"--output", "--report", "--rename-group", "--workers", "--timeout",
                                                   "--retries", "--per-host", "--sort", "--filter",
                                                   "--probe",
                                                   "--dedupe-mode", "--keep", "--dedupe-report", "--update",
                                                   "--keep-fields", "--convert", "--history", "--diff"};
  static const std::vector<std::string> kFlags = {"--help", "--version", "--quiet", "--dedupe", "--dedupe-strict",
                                                  "--check", "--drop-dead", "--fail-on-dead", "--no-confirm",
                                                  "--insecure", "--write-respond-time"};
  std::vector<std::string> words;
  bool options = true, value = false;
  for (const std::string& a : AArgs) {
    // The word after a value option is its value, whatever it looks like.
    const bool isValue = value;
    value = options && !isValue && (a == "-o" || std::find(kValued.begin(), kValued.end(), a) != kValued.end());
    if (options && !isValue) {
      if (a == "--") options = false;
      if (a.size() > 2 && a[0] == '-' && ((a[1] != '-' && a[1] != 'o') || a.compare(0, 3, "---") == 0))
        throw TUsageError("unknown option '" + a + "'");
      const size_t eq = a.find('=');
      const std::string name = a.substr(0, eq);
      if (eq != std::string::npos && a.compare(0, 2, "--") == 0 &&
          std::find(kFlags.begin(), kFlags.end(), name) != kFlags.end())
        throw TUsageError(name + " takes no value");
      if (eq == a.size() - 1 && std::find(kValued.begin(), kValued.end(), name) != kValued.end()) {
        words.push_back(name);
        words.emplace_back();
        continue;
      }
    }
    words.push_back(a);
  }
  std::reverse(words.begin(), words.end());
  try {
    app.parse(words);
  } catch (const CLI::ParseError& E) {
    Translate(E, AArgs);
  }

  TCliOptions O;
  O.Help = raw.Help;
  O.Version = raw.Version;
  O.Files = raw.Files;
  O.Quiet = raw.Quiet;
  if (output->count()) {
    O.Output = raw.Output;
    if (O.Output.empty()) throw TUsageError("--output needs a file name");
  }
  if (report->count()) {
    O.Report = raw.Report;
    if (O.Report.empty()) throw TUsageError("--report needs a file name");
  }
  for (const std::string& v : raw.Renames) {
    const size_t eq = v.find('=');
    if (eq == std::string::npos) throw TUsageError("--rename-group needs OLD=NEW, not '" + v + "'");
    O.Renames.push_back({v.substr(0, eq), v.substr(eq + 1)});
  }
  if (convert->count()) {
    if (raw.Convert != "format3") throw TUsageError("--convert takes 'format3', not '" + raw.Convert + "'");
    O.ConvertFormat3 = true;
  }
  if (raw.Dedupe && raw.DedupeStrict) throw TUsageError("--dedupe and --dedupe-strict exclude each other");
  O.Dedupe = raw.DedupeStrict ? TDedupe::Strict : raw.Dedupe ? TDedupe::Real : TDedupe::None;
  O.Check = raw.Check;
  if (workers->count()) O.Workers = ParseNumber("--workers", raw.Workers, 1, 1000);
  if (timeout->count()) O.TimeoutMs = ParseNumber("--timeout", raw.Timeout, 1, INT_MAX);
  if (retries->count()) O.Retries = ParseNumber("--retries", raw.Retries, 0, 100);
  if (perHost->count()) O.PerHost = ParseNumber("--per-host", raw.PerHost, 1, 100000);
  if (sort->count()) {
    if (raw.Sort == "name")
      O.Sort = TSortKey::Name;
    else if (raw.Sort == "group")
      O.Sort = TSortKey::Group;
    else
      throw TUsageError("--sort takes 'name' or 'group', not '" + raw.Sort + "'");
  }
  if (filter->count()) {
    O.Filter = raw.Filter;
    O.HasFilter = true;
  }
  if (dedupeMode->count()) {
    TDuplicateMode mode;
    if (!ParseDuplicateMode(raw.DedupeMode, mode))
      throw TUsageError("--dedupe-mode takes 'rules', 'address' or 'site', not '" + raw.DedupeMode + "'");
    O.DedupeMode = raw.DedupeMode;
  }
  if (keep->count()) {
    TKeepPolicy policy;
    if (!ParseKeepPolicy(raw.Keep, policy))
      throw TUsageError("--keep takes 'first', 'last', 'newest', 'richest' or 'fastest', not '" + raw.Keep + "'");
    O.Keep = raw.Keep;
  }
  if (dedupeReport->count()) {
    O.DedupeReport = raw.DedupeReport;
    if (O.DedupeReport.empty()) throw TUsageError("--dedupe-report needs a file name");
  }
  O.DedupeSets = dedupeMode->count() || keep->count() || dedupeReport->count();
  for (const std::string& f : raw.Updates) {
    if (f.empty()) throw TUsageError("--update needs a file name");
    O.Updates.push_back(f);
  }
  if (keepFields->count()) {
    TKeepFields fields;
    std::string unknown;
    if (!ParseKeepFields(raw.KeepFields, fields, unknown))
      throw TUsageError("--keep-fields takes name, group, enabled and order, not '" + unknown + "'");
    O.KeepFields = raw.KeepFields;
  }
  O.DropDead = raw.DropDead;
  O.FailOnDead = raw.FailOnDead;
  O.Insecure = raw.Insecure;
  O.WriteRespondTime = raw.WriteRespondTime;
  if (history->count()) {
    O.History = raw.History;
    if (O.History.empty() || O.History == "-") throw TUsageError("--history needs a file name");
  }
  if (diff->count()) {
    O.Diff = raw.Diff;
    if (O.Diff.empty()) throw TUsageError("--diff needs a file name");
  }
  O.NoConfirm = raw.NoConfirm;
  if (probe->count()) {
    static const std::pair<const char*, int> kProbes[] = {{"site", 0}, {"search", 1}, {"explore", 2}, {"all", 3}};
    bool known = false;
    for (const auto& [name, value] : kProbes)
      if (raw.Probe == name) {
        O.Probes = value;
        known = true;
      }
    if (!known) throw TUsageError("--probe takes 'site', 'search', 'explore' or 'all', not '" + raw.Probe + "'");
  }
  // --help and --version are answered whatever the checks below would say.
  if (O.Help || O.Version) return O;
  Validate(O);
  return O;
}
