#include "app/uSourceCheck.h"

#include <chrono>
#include <thread>

#include "app/uBookSourceBean.h"
#include "http/KivHttpClient.h"
#include "http/KivURI.h"
#include "json/KivJson.h"
#include "workers/KivWorker.h"

namespace {

bool IsAcceptableUrl(const String& AUrl) {
  if (AUrl.empty() || AUrl == u"-") return false;
  return StartWith(LowerCaseAscii(AUrl).c_str(), u"http", false);
}

void AddLog(std::vector<String>* AOutLog, String ALine) {
  if (AOutLog) AOutLog->push_back(std::move(ALine));
}

// Discover entries lose every CR, LF and the two characters "\n" / "\N".
String CleanFindEntry(const String& AEntry) {
  String out;
  out.reserve(AEntry.size());
  for (size_t i = 0; i < AEntry.size(); ++i) {
    const char16_t c = AEntry[i];
    if (c == u'\r' || c == u'\n') continue;
    if (c == u'\\' && i + 1 < AEntry.size() && (AEntry[i + 1] == u'n' || AEntry[i + 1] == u'N')) {
      ++i;
      continue;
    }
    out.push_back(c);
  }
  return Trim(out);
}

// Entries are separated by "&&", or by line ends where a text has none.
std::vector<String> SplitFindEntries(const String& AText) {
  std::vector<String> entries;
  size_t p = 0;
  while (p < AText.size()) {
    size_t s = AText.find(u"&&", p);
    size_t skip = 2;
    if (s == String::npos) {
      s = AText.find(u'\n', p);
      skip = 1;
    }
    if (s != String::npos) {
      entries.push_back(AText.substr(p, s - p));
      p = s + skip;
    } else {
      entries.push_back(Trim(AText.substr(p)));
      p = AText.size();
    }
  }
  return entries;
}

bool CheckUrl(const String& AUrl, const String& AName, bool ARaiseErr, bool AAllow404, THttpClient& AHttp,
              THttpHeaders& AHeader, std::vector<String>* AOutLog, TCheckOutcome* AOutcome) {
  if (!IsAcceptableUrl(AUrl)) {
    AddLog(AOutLog, u"无效的" + AName + u".");
    if (AOutcome) AOutcome->FailText = u"无效的" + AName + u".";
    return false;
  }
  if (AOutcome) {
    AOutcome->Requested = true;
    ++AOutcome->Attempts;
  }
  try {
    THttpResult result = AHttp.Get(EncodeURL(AUrl, true), nullptr, &AHeader);
    const int32_t status = result.StatusCode();
    if (AOutcome) AOutcome->Status = status;
    if (status == 200 || (status == 404 && AAllow404)) {
      AddLog(AOutLog, AName + u"连接成功.");
      return true;
    }
    const String failed = Format(u"%s测试失败(StatusCode: %d, %s).", AName, status, AUrl);
    AddLog(AOutLog, failed);
    if (AOutcome) AOutcome->FailText = failed;
    if (ARaiseErr) throw Exception(failed);
    return false;
  } catch (const Exception& E) {
    const String failed = Format(u"%s测试出错(%s).", AName, E.Message());
    AddLog(AOutLog, failed);
    if (AOutcome) AOutcome->FailText = failed;
    if (ARaiseErr) throw Exception(failed);
    return false;
  }
}

void CheckFindUrl(const String& AText, const String& AName, bool ARaiseErr, THttpClient& AHttp,
                  THttpHeaders& AHeader, std::vector<String>* AOutLog) {
  if (AText.empty()) return;
  try {
    for (const String& entry : SplitFindEntries(AText)) {
      if (entry == u"\n" || entry == u"\r") continue;
      const String clean = CleanFindEntry(entry);
      const size_t sep = clean.find(u"::");
      if (!clean.empty() && sep != String::npos) {
        const String name = Trim(clean.substr(0, sep));
        const String url = Trim(clean.substr(sep + 2));
        CheckUrl(url, u"发现列表项【" + name + u"】", false, false, AHttp, AHeader, AOutLog, nullptr);
      } else {
        AddLog(AOutLog, u"发现列表格式错误");
      }
    }
  } catch (const Exception& E) {
    const String failed = Format(u"%s测试出错(%s).", AName, E.Message());
    AddLog(AOutLog, failed);
    if (ARaiseErr) throw Exception(failed);
  }
}

}  // namespace

TCheckTarget TCheckTarget::Of(const JSONObject* AItem) {
  TBookSourceItem item(const_cast<JSONObject*>(AItem));
  TCheckTarget t;
  t.BookSourceName = item.bookSourceName();
  t.BookSourceUrl = item.bookSourceUrl();
  t.HttpUserAgent = item.httpUserAgent();
  t.RuleSearchUrl = item.ruleSearchUrl();
  t.RuleFindUrl = item.ruleFindUrl();
  return t;
}

bool TSourceChecker::Check(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader, bool ARaiseErr,
                           std::vector<String>* AOutLog, TCheckOutcome* AOutcome) {
  if (ATarget.BookSourceUrl.empty()) {
    AddLog(AOutLog, u"书源URL未设置.");
    throw Exception(u"书源URL无效");
  }
  const int64_t start = GetTimestamp();
  AHeader.Clear();
  if (!ATarget.HttpUserAgent.empty()) AHeader.Add(u"User-Agent", ATarget.HttpUserAgent);
  const bool verdict =
      CheckUrl(Trim(ATarget.BookSourceUrl), u"书源URL", ARaiseErr, true, AHttp, AHeader, AOutLog, AOutcome);
  if (verdict && AOutLog) {
    CheckUrl(Trim(ATarget.RuleSearchUrl), u"搜索地址", false, false, AHttp, AHeader, AOutLog, nullptr);
    CheckFindUrl(Trim(ATarget.RuleFindUrl), u"发现", ARaiseErr, AHttp, AHeader, AOutLog);
  }
  if (AOutLog) AOutLog->push_back(Format(u"用时 %d ms.", GetTimestamp() - start));
  return verdict;
}

bool TSourceChecker::CheckSource(const JSONObject* AItem, bool ARaiseErr, std::vector<String>* AOutLog) {
  if (!AItem) return false;
  THttpClient http;
  http.SetConnectionTimeOut(AOutLog ? 6000 : 30000);
  http.SetRecvTimeOut(30000);
  http.SetStatusOnly(true);
  THttpHeaders header;
  return Check(TCheckTarget::Of(AItem), http, header, ARaiseErr, AOutLog, nullptr);
}

void TSourceChecker::PrepareClient(THttpClient& AHttp) const {
  AHttp.SetConnectionTimeOut(FPolicy.TimeoutMs);
  AHttp.SetRecvTimeOut(FPolicy.TimeoutMs);
  // The verdict needs the status only.
  AHttp.SetStatusOnly(true);
}

bool TSourceChecker::EnterHost(const String& AHost, const std::function<bool()>& AStopping) {
  if (FPolicy.PerHost <= 0) return true;
  std::unique_lock<std::mutex> lock(FHostLock);
  // A stop must not wait for a busy host.
  while (FHostProbes[AHost] >= FPolicy.PerHost) {
    if (AStopping && AStopping()) return false;
    FHostFree.wait_for(lock, std::chrono::milliseconds(50));
  }
  ++FHostProbes[AHost];
  return true;
}

void TSourceChecker::LeaveHost(const String& AHost) {
  if (FPolicy.PerHost <= 0) return;
  {
    std::lock_guard<std::mutex> lock(FHostLock);
    if (--FHostProbes[AHost] <= 0) FHostProbes.erase(AHost);
  }
  FHostFree.notify_all();
}

bool TSourceChecker::CheckWithPolicy(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader,
                                     TCheckOutcome& AOutcome, const std::function<bool()>& AStopping) {
  const int64_t start = GetTimestamp();
  const String host = LowerCaseAscii(TURI(Trim(ATarget.BookSourceUrl)).Host());
  bool verdict = false;
  if (EnterHost(host, AStopping)) {
    for (int attempt = 0;; ++attempt) {
      TCheckOutcome one = AOutcome;
      one.Status = 0;
      one.FailText.clear();
      one.Requested = false;
      try {
        verdict = Check(ATarget, AHttp, AHeader, false, nullptr, &one);
      } catch (const Exception& E) {
        verdict = false;
        one.FailText = E.Message();
      }
      AOutcome = one;
      // Only a probe that got no answer at all is worth another try.
      if (verdict || one.Status != 0 || !one.Requested || attempt >= FPolicy.Retries || (AStopping && AStopping()))
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(FPolicy.RetryPauseMs));
    }
    LeaveHost(host);
  } else {
    AOutcome.Skipped = true;
  }
  AOutcome.ElapsedMs = GetTimestamp() - start;
  AOutcome.Verdict = verdict ? cvAlive : cvDead;
  return verdict;
}
