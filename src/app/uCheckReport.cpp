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

}  // namespace

bool IsCsvReportName(const String& AFileName) {
  return AFileName.size() >= 4 && LowerCaseAscii(AFileName.substr(AFileName.size() - 4)) == u".csv";
}

Bytes CheckReportCsv(const std::vector<TCheckOutcome>& AOutcomes, const std::vector<String>* APrevious) {
  // The columns of earlier reports keep their places; later ones follow.
  Bytes out =
      "position,bookSourceName,bookSourceUrl,verdict,status,failText,elapsedMs,reason,confirmed,note,attempts,search,"
      "explore";
  out += APrevious ? ",previous\r\n" : "\r\n";
  for (size_t i = 0; i < AOutcomes.size(); ++i) {
    const TCheckOutcome& o = AOutcomes[i];
    out += std::to_string(o.Position + 1) + "," + CsvField(ToUtf8(o.BookSourceName)) + "," +
           CsvField(ToUtf8(o.BookSourceUrl)) + "," + VerdictName(o.Verdict) + "," + std::to_string(o.Status) + "," +
           CsvField(ToUtf8(o.FailText)) + "," + std::to_string(o.ElapsedMs) + "," + CsvField(ToUtf8(o.Reason)) + "," +
           (o.Confirmed ? "true" : "false") + "," + CsvField(ToUtf8(o.Note)) + "," + std::to_string(o.Attempts) + "," +
           CsvField(ToUtf8(o.Search)) + "," + CsvField(ToUtf8(o.Explore));
    if (APrevious) out += "," + CsvField(i < APrevious->size() ? ToUtf8((*APrevious)[i]) : std::string());
    out += "\r\n";
  }
  return out;
}

Bytes CheckReportJson(const std::vector<TCheckOutcome>& AOutcomes, const std::vector<String>* APrevious) {
  JSONArray list;
  for (size_t i = 0; i < AOutcomes.size(); ++i) {
    const TCheckOutcome& o = AOutcomes[i];
    JSONObject* item = list.AddChildObject();
    item->SetInt(u"position", o.Position + 1);
    item->SetString(u"bookSourceName", o.BookSourceName);
    item->SetString(u"bookSourceUrl", o.BookSourceUrl);
    item->SetString(u"verdict", FromUtf8(VerdictName(o.Verdict)));
    item->SetInt(u"status", o.Status);
    item->SetString(u"failText", o.FailText);
    item->SetInt64(u"elapsedMs", o.ElapsedMs);
    item->SetString(u"reason", o.Reason);
    item->SetBoolean(u"confirmed", o.Confirmed);
    item->SetString(u"note", o.Note);
    item->SetInt(u"attempts", o.Attempts);
    // Deep probes only where they ran.
    if (!o.Search.empty()) item->SetString(u"search", o.Search);
    if (!o.Explore.empty()) item->SetString(u"explore", o.Explore);
    if (APrevious && i < APrevious->size()) item->SetString(u"previous", (*APrevious)[i]);
  }
  TMemoryStream mem;
  list.SaveToStream(mem, 4, teUTF8, false, false);
  return mem.Data();
}

Bytes CheckReport(const std::vector<TCheckOutcome>& AOutcomes, const String& AFileName,
                  const std::vector<String>* APrevious) {
  return IsCsvReportName(AFileName) ? CheckReportCsv(AOutcomes, APrevious) : CheckReportJson(AOutcomes, APrevious);
}
