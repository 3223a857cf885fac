#include "app/uCheckReport.h"

#include <string>
#include <string_view>

#include "json/KivJson.h"
#include "support/KivStr.h"
#include "support/KivStream.h"

namespace {

// A text a spreadsheet would run as a formula gets an apostrophe in front
// (and quotes), as spreadsheet exporters do.
bool LooksLikeFormula(const std::string& AText) {
  return !AText.empty() && std::string_view("=+-@\t\r").find(AText[0]) != std::string_view::npos;
}

std::string CsvField(std::string AText) {
  const bool formula = LooksLikeFormula(AText);
  if (formula) AText.insert(0, 1, '\'');
  if (!formula && AText.find_first_of(",\"\r\n") == std::string::npos) return AText;
  std::string out = "\"";
  for (char c : AText) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

const char* VerdictName(const TCheckOutcome& AOutcome) { return AOutcome.Alive() ? "alive" : "dead"; }

}  // namespace

bool IsCsvReportName(const String& AFileName) {
  return AFileName.size() >= 4 && LowerCaseAscii(AFileName.substr(AFileName.size() - 4)) == u".csv";
}

Bytes CheckReportCsv(const std::vector<TCheckOutcome>& AOutcomes) {
  Bytes out = "position,bookSourceName,bookSourceUrl,verdict,status,failText,elapsedMs\r\n";
  for (const TCheckOutcome& o : AOutcomes) {
    out += std::to_string(o.Position + 1) + "," + CsvField(ToUtf8(o.BookSourceName)) + "," +
           CsvField(ToUtf8(o.BookSourceUrl)) + "," + VerdictName(o) + "," + std::to_string(o.Status) + "," +
           CsvField(ToUtf8(o.FailText)) + "," + std::to_string(o.ElapsedMs) + "\r\n";
  }
  return out;
}

Bytes CheckReportJson(const std::vector<TCheckOutcome>& AOutcomes) {
  JSONArray list;
  for (const TCheckOutcome& o : AOutcomes) {
    JSONObject* item = list.AddChildObject();
    item->SetInt(u"position", o.Position + 1);
    item->SetString(u"bookSourceName", o.BookSourceName);
    item->SetString(u"bookSourceUrl", o.BookSourceUrl);
    item->SetString(u"verdict", FromUtf8(VerdictName(o)));
    item->SetInt(u"status", o.Status);
    item->SetString(u"failText", o.FailText);
    item->SetInt64(u"elapsedMs", o.ElapsedMs);
  }
  TMemoryStream mem;
  list.SaveToStream(mem, 4, teUTF8, false, false);
  return mem.Data();
}

Bytes CheckReport(const std::vector<TCheckOutcome>& AOutcomes, const String& AFileName) {
  return IsCsvReportName(AFileName) ? CheckReportCsv(AOutcomes) : CheckReportJson(AOutcomes);
}
