// Format 2 (flat rule members) to format 3 (rule objects, searchUrl with
// options), without the losses of the reader app's own converter: a source
// whose members cannot be carried over whole stays as it was, with the reason.
#pragma once

#include "support/KivTypes.h"

class JSONObject;

enum TConvertOutcome : int {
  coConverted,       // format 2 or mixed, now format 3
  coAlreadyFormat3,  // left: no format-2 member
  coBare,            // left: name, address and group only; both formats read it alike
  coRefused          // left as it was: Reason says what would be lost
};

struct TConvertResult {
  TConvertOutcome Outcome = coBare;
  String Reason;  // for the log: why it was left (every outcome but coConverted)
  bool Changed() const { return Outcome == coConverted; }
};

// What a conversion of many sources did.
struct TConvertCounts {
  int Converted = 0;
  int Left = 0;     // already format 3, or bare
  int Refused = 0;  // kept as format 2: converting would lose data
};

// Converts in place or leaves the source untouched. Kept: every member
// format 3 shares (weight, lastUpdateTime, ...) and unknown members where
// they stand; the format-3 members are appended; in a mixed source the
// format-3 members (and rule members) win and the format-2 ones are removed.
TConvertResult ConvertToFormat3(JSONObject* ASource);

// One address (ruleSearchUrl, or the address of one ruleFindUrl entry) in
// format 3. Refusal is empty when the conversion loses nothing; otherwise
// it says what ("有第二个'|'部分"), and Text is the best that could be made.
struct TAddressConversion {
  String Text;
  String Refusal;
};
TAddressConversion ConvertAddress(StringView AAddress);
// A whole ruleFindUrl as exploreUrl: entries split at '&&' and line feeds,
// each address converted, empty pieces skipped, joined with line feeds; a
// script kept as it is.
TAddressConversion ConvertExploreAddress(StringView ARuleFindUrl);
// One format-2 rule text in format 3 ('#' → '##', '|' → '||', '&' → '&&'
// where format 3 doubles them); blank gives "".
String ConvertRule(StringView ARule);
