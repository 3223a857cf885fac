// JSON parser: Decode raises on bad text, TryParse reports it; both must agree,
// and what the writer makes of a parsed document must parse, and settle after one round.
#include <cstdlib>

#include "FuzzText.h"
#include "json/KivJson.h"

namespace {

// Documents whose text is no JSON by design make no round: elements of an
// array that carry names (an object body read into an array, or the reader's
// "unknown" array) are written with them.
bool MakesNoRound(const JSONBase* AList) {
  for (PJSONValue item : *AList) {
    if (AList->IsJSONArray() && !item->Name().empty()) return true;
    if (const JSONBase* child = item->GetObject(); child && MakesNoRound(child)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const String text = FuzzText(Data, Size);
  JSONObject obj;
  const bool ok = obj.TryParse(text);
  JSONArray arr;
  const bool okArr = arr.TryParse(text);

  JSONObject decoded;
  bool decodedOk = true;
  try {
    decoded.Decode(text);
  } catch (const Exception&) {
    decodedOk = false;
  }
  if (decodedOk != ok) std::abort();  // Decode and TryParse disagree

  for (JSONBase* doc : {static_cast<JSONBase*>(&obj), static_cast<JSONBase*>(&arr)}) {
    if (doc == &obj ? !ok : !okArr) continue;
    if (MakesNoRound(doc)) continue;
    for (int indent : {0, 4}) {
      String once;
      try {
        once = doc->Encode(indent, true);
      } catch (const Exception&) {
        break;  // unnamed members (an array body read into an object) are refused by design
      }
      JSONBase* again = JSONBase::Parser(once, false);
      if (!again) std::abort();  // the writer's text does not parse
      // The first round may normalise (integral floats read back as integers,
      // \a and \v read back as letters); from then on the text must hold.
      const String twice = again->Encode(indent, true);
      delete again;
      JSONBase* third = JSONBase::Parser(twice, false);
      if (!third) std::abort();
      const String thrice = third->Encode(indent, true);
      delete third;
      if (thrice != twice) std::abort();  // text changes with every round
    }
    try {
      (void)doc->Encode(2, false);
    } catch (const Exception&) {
    }
  }
  return 0;
}
