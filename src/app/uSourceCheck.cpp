#include "app/uSourceCheck.h"

#include <algorithm>
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

bool StartsWithIgnoreCase(const String& AText, StringView APrefix) {
  return AText.size() >= APrefix.size() && LowerCaseAscii(AText.substr(0, APrefix.size())) == APrefix;
}

// An address no probe can decide: empty, "-", a script, not http(s).
void ClassifyUnprobed(const String& AUrl, TCheckOutcome& AOutcome) {
  AOutcome.Verdict = cvUnverifiable;
  AOutcome.Reason = StartsWithIgnoreCase(AUrl, u"@js:") || StartsWithIgnoreCase(AUrl, u"<js>") ? u"script" : u"not-http";
}

// An anti-bot wall answers 403/503 with a challenge: the reader app's web
// view gets through, a bare probe does not.
bool IsBotWall(int32_t AStatus, THttpResponse* AResponse) {
  if ((AStatus != 403 && AStatus != 503) || !AResponse) return false;
  if (LowerCaseAscii(Trim(AResponse->GetHeaderValue(u"cf-mitigated"))) == u"challenge") return true;
  const String server = LowerCaseAscii(AResponse->GetHeaderValue(u"Server"));
  return server.find(u"cloudflare") != String::npos || server.find(u"ddos-guard") != String::npos;
}

void ClassifyAnswer(int32_t AStatus, bool AAlive, THttpResponse* AResponse, TCheckOutcome& AOutcome) {
  if (AAlive) {
    AOutcome.Verdict = cvAlive;
    AOutcome.Reason = u"ok";
  } else if (AStatus == 429) {
    AOutcome.Verdict = cvBlocked;
    AOutcome.Reason = u"rate-limited";
  } else if (IsBotWall(AStatus, AResponse)) {
    AOutcome.Verdict = cvBlocked;
    AOutcome.Reason = u"bot-wall";
  } else {
    AOutcome.Verdict = cvDead;
    AOutcome.Reason = Format(u"http-%d", AStatus);
  }
}

void ClassifyFailure(const Exception& AError, bool ALooped, TCheckOutcome& AOutcome) {
  AOutcome.Verdict = cvDead;
  const auto* http = dynamic_cast<const EHTTPException*>(&AError);
  switch (http ? http->Cause() : THttpFailureCause::Other) {
    case THttpFailureCause::Dns:
      AOutcome.Reason = u"dns";
      return;
    case THttpFailureCause::Refused:
      AOutcome.Reason = u"refused";
      return;
    case THttpFailureCause::Reset:
      AOutcome.Reason = u"reset";
      return;
    case THttpFailureCause::Timeout:
      AOutcome.Reason = u"timeout";
      return;
    case THttpFailureCause::TlsHandshake:
      AOutcome.Reason = u"tls-handshake";
      return;
    case THttpFailureCause::TooManyRedirects:
      AOutcome.Reason = ALooped ? u"redirect-loop" : u"too-many-redirects";
      return;
    case THttpFailureCause::UnsupportedProtocol:
      AOutcome.Verdict = cvUnverifiable;
      AOutcome.Reason = u"not-http";
      return;
    case THttpFailureCause::Other:
      break;
  }
  AOutcome.Reason = u"error";
}

// Notes the addresses a probe is sent on to: one seen twice is a loop.
class TRedirectWatch {
 public:
  TRedirectWatch(THttpClient& AHttp, const String& AUrl) : FHttp(AHttp), FSeen{AUrl} {
    FHttp.OnRequestRedirect = [this](void*, int32_t, const String& ANewUrl) {
      if (std::find(FSeen.begin(), FSeen.end(), ANewUrl) != FSeen.end()) FLooped = true;
      FSeen.push_back(ANewUrl);
    };
  }
  ~TRedirectWatch() { FHttp.OnRequestRedirect = nullptr; }
  bool Looped() const { return FLooped; }

 private:
  THttpClient& FHttp;
  std::vector<String> FSeen;
  bool FLooped = false;
};

bool CheckUrl(const String& AUrl, const String& AName, bool ARaiseErr, bool AAllow404, THttpClient& AHttp,
              THttpHeaders& AHeader, std::vector<String>* AOutLog, TCheckOutcome* AOutcome) {
  if (!IsAcceptableUrl(AUrl)) {
    AddLog(AOutLog, u"无效的" + AName + u".");
    if (AOutcome) {
      AOutcome->FailText = u"无效的" + AName + u".";
      ClassifyUnprobed(AUrl, *AOutcome);
    }
    return false;
  }
  if (AOutcome) {
    AOutcome->Requested = true;
    ++AOutcome->Attempts;
  }
  TRedirectWatch redirects(AHttp, EncodeURL(AUrl, true));
  bool answered = false;  // the outcome already says what the answer was
  try {
    THttpResult result = AHttp.Get(EncodeURL(AUrl, true), nullptr, &AHeader);
    const int32_t status = result.StatusCode();
    const bool alive = status == 200 || (status == 404 && AAllow404);
    if (AOutcome) {
      AOutcome->Status = status;
      if (result.CertificateUntrusted()) AOutcome->Note = u"tls-untrusted";
      if (result.RedirectRefused()) {
        AOutcome->Verdict = cvUnverifiable;
        AOutcome->Reason = u"redirect-private";
      } else {
        ClassifyAnswer(status, alive, result.Response, *AOutcome);
      }
      answered = true;
    }
    if (alive) {
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
    if (AOutcome) {
      AOutcome->FailText = failed;
      if (!answered) ClassifyFailure(E, redirects.Looped(), *AOutcome);
    }
    if (ARaiseErr) throw Exception(failed);
    return false;
  }
}

// Sends a built request: GET, or POST with its body; its own headers.
THttpResult SendRequest(const TSourceRequest& ARequest, THttpClient& AHttp) {
  THttpHeaders headers;
  for (const auto& [name, value] : ARequest.Headers) headers.Add(name, value);
  if (!ARequest.ContentType.empty()) headers.Add(u"Content-Type", ARequest.ContentType);
  if (ARequest.Method == u"POST") {
    TMemoryStream body;
    body.Data() = ARequest.Body;
    return AHttp.Post(ARequest.Url, &body, nullptr, &headers);
  }
  return AHttp.Get(ARequest.Url, nullptr, &headers);
}

// The logged probe of a built request (format 3): the texts of the flat
// probes, and "无法校验的…(脚本)." for one that needs a script engine.
void CheckRequest(const TSourceRequest& ARequest, const String& AName, THttpClient& AHttp,
                  std::vector<String>* AOutLog) {
  if (!ARequest.Probeable) {
    if (ARequest.WhyNot == kWhyScript)
      AddLog(AOutLog, u"无法校验的" + AName + u"(脚本).");
    else if (ARequest.WhyNot == kWhyBrowser)
      AddLog(AOutLog, u"无法校验的" + AName + u"(浏览器).");
    else
      AddLog(AOutLog, u"无效的" + AName + u".");
    return;
  }
  try {
    const int32_t status = SendRequest(ARequest, AHttp).StatusCode();
    if (status == 200)
      AddLog(AOutLog, AName + u"连接成功.");
    else
      AddLog(AOutLog, Format(u"%s测试失败(StatusCode: %d, %s).", AName, status, ARequest.Url));
  } catch (const Exception& E) {
    AddLog(AOutLog, Format(u"%s测试出错(%s).", AName, E.Message()));
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

TCheckTarget TCheckTarget::Of(const JSONObject* AItem, bool ARequests) {
  TBookSourceItem item(const_cast<JSONObject*>(AItem));
  TCheckTarget t;
  t.BookSourceName = item.bookSourceName();
  t.BookSourceUrl = item.bookSourceUrl();
  t.HttpUserAgent = item.httpUserAgent();
  t.RuleSearchUrl = item.ruleSearchUrl();
  t.RuleFindUrl = item.ruleFindUrl();
  t.Format = SourceFormatOf(AItem);
  if (SpeaksFormat3(t.Format)) {
    const TBookSource3 source(const_cast<JSONObject*>(AItem));
    t.HasHeader = source.Has(u"header");
    t.Headers = source.Headers(&t.HeaderScript);
  }
  if (ARequests) {
    t.HasRequests = true;
    t.Search = SearchRequestOf(AItem, TBookSource3(const_cast<JSONObject*>(AItem)).CheckKeyWord());
    t.Explore = ExploreRequestsOf(AItem);
  }
  return t;
}

String TSourceChecker::ConclusionLine(const TCheckOutcome& AOutcome) {
  String why = AOutcome.Reason;
  if (!AOutcome.Note.empty()) why += u", " + AOutcome.Note;
  return Format(u"结论: %s (%s)", VerdictCaption(AOutcome.Verdict), why);
}

bool TSourceChecker::Check(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader, bool ARaiseErr,
                           std::vector<String>* AOutLog, TCheckOutcome* AOutcome) {
  if (ATarget.BookSourceUrl.empty()) {
    AddLog(AOutLog, u"书源URL未设置.");
    if (AOutcome) ClassifyUnprobed(ATarget.BookSourceUrl, *AOutcome);
    throw Exception(u"书源URL无效");
  }
  const int64_t start = GetTimestamp();
  // Each source starts with an empty jar: cookies live within its own probes
  // and their redirects, never reach another site, never pile up.
  AHttp.CookieMgr().Clear();
  AHeader.Clear();
  // A format-3 source's own headers go with its site probe (its `header`
  // speaks before a flat User-Agent in a mixed source).
  if (ATarget.HasHeader && !ATarget.HeaderScript) {
    for (const auto& [name, value] : ATarget.Headers)
      if (!(LowerCaseAscii(name) == u"user-agent" && value == u"null")) AHeader.Add(name, value);
  } else if (!ATarget.HttpUserAgent.empty()) {
    AHeader.Add(u"User-Agent", ATarget.HttpUserAgent);
  }
  const bool verdict =
      CheckUrl(Trim(ATarget.BookSourceUrl), u"书源URL", ARaiseErr, true, AHttp, AHeader, AOutLog, AOutcome);
  if (verdict && AOutLog) {
    if (SpeaksFormat3(ATarget.Format)) {
      // The requests the reader app makes: the search with its check keyword,
      // then each explore entry (headings skipped).
      CheckRequest(ATarget.Search, u"搜索地址", AHttp, AOutLog);
      for (const TExploreEntry& entry : ATarget.Explore) {
        if (entry.Heading) continue;
        CheckRequest(entry.Request, entry.Title.empty() ? String(u"发现") : u"发现列表项【" + entry.Title + u"】", AHttp,
                     AOutLog);
      }
    } else {
      CheckUrl(Trim(ATarget.RuleSearchUrl), u"搜索地址", false, false, AHttp, AHeader, AOutLog, nullptr);
      CheckFindUrl(Trim(ATarget.RuleFindUrl), u"发现", ARaiseErr, AHttp, AHeader, AOutLog);
    }
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
  // Reader apps take any certificate (the outcome notes an untrusted one); a
  // listed site must not make the check probe this machine or its network.
  http.SetAcceptAnyCertificate(true);
  http.SetRefusePrivateRedirects(true);
  THttpHeaders header;
  TCheckOutcome outcome;
  // The log ends with the class and the reason, also when the check raises.
  try {
    const bool verdict = Check(TCheckTarget::Of(AItem, true), http, header, ARaiseErr, AOutLog, &outcome);
    AddLog(AOutLog, ConclusionLine(outcome));
    return verdict;
  } catch (...) {
    AddLog(AOutLog, ConclusionLine(outcome));
    throw;
  }
}

void TSourceChecker::PrepareClient(THttpClient& AHttp) const {
  AHttp.SetConnectionTimeOut(FPolicy.TimeoutMs);
  AHttp.SetRecvTimeOut(FPolicy.TimeoutMs);
  // The verdict needs the status only.
  AHttp.SetStatusOnly(true);
  AHttp.SetAcceptAnyCertificate(true);
  AHttp.SetRefusePrivateRedirects(true);
}

bool THostGate::Enter(const String& AHost, const std::function<bool()>& AStopping) {
  if (FLimit <= 0) return true;
  std::unique_lock<std::mutex> lock(FLock);
  // A stop must not wait for a busy host.
  while (FProbes[AHost] >= FLimit) {
    if (AStopping && AStopping()) return false;
    FFree.wait_for(lock, std::chrono::milliseconds(50));
  }
  ++FProbes[AHost];
  return true;
}

void THostGate::Leave(const String& AHost) {
  if (FLimit <= 0) return;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (--FProbes[AHost] <= 0) FProbes.erase(AHost);
  }
  FFree.notify_all();
}

String THostGate::HostOf(const String& AUrl) { return LowerCaseAscii(TURI(Trim(AUrl)).Host()); }

String THostGate::OriginOf(const String& AUrl) {
  const TURI uri(Trim(AUrl));
  return LowerCaseAscii(uri.Host()) + u":" + IntToStr(uri.Port());
}

void TSourceChecker::SetPolicy(const TCheckPolicy& APolicy) {
  FPolicy = APolicy;
  FHosts.SetLimit(APolicy.PerHost);
}

bool TSourceChecker::ProbeOnce(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader,
                               TCheckOutcome& AOutcome) {
  AOutcome.Status = 0;
  AOutcome.FailText.clear();
  AOutcome.Requested = false;
  AOutcome.Verdict = cvDead;
  AOutcome.Reason.clear();
  AOutcome.Note.clear();
  try {
    return Check(ATarget, AHttp, AHeader, false, nullptr, &AOutcome);
  } catch (const Exception& E) {
    AOutcome.FailText = E.Message();
    if (AOutcome.Reason.empty()) ClassifyFailure(E, false, AOutcome);
    return false;
  }
}

String TSourceChecker::ProbeRequest(const TSourceRequest& ARequest, THttpClient& AHttp) {
  if (!ARequest.Probeable)
    return ARequest.WhyNot == kWhyScript || ARequest.WhyNot == kWhyBrowser ? u"script" : u"none";
  TCheckOutcome outcome;
  for (int attempt = 0;; ++attempt) {
    try {
      THttpResult result = SendRequest(ARequest, AHttp);
      const int32_t status = result.StatusCode();
      if (status >= 200 && status < 300) return u"pass";
      ClassifyAnswer(status, false, result.Response, outcome);
      if (result.RedirectRefused()) outcome.Reason = u"redirect-private";
    } catch (const Exception& E) {
      ClassifyFailure(E, false, outcome);
    }
    // The request's own "retry": more attempts while the status is not 2xx.
    if (attempt >= ARequest.Retry) break;
  }
  return u"fail:" + outcome.Reason;
}

void TSourceChecker::ProbeDeep(const TCheckTarget& ATarget, TProbeSet AProbes, THttpClient& AHttp,
                               TCheckOutcome& AOutcome) {
  if (!ATarget.HasRequests) return;
  if (AProbes & psSearch) AOutcome.Search = ProbeRequest(ATarget.Search, AHttp);
  if (AProbes & psExplore) {
    // As the reader app's own check: the first entry that is no heading.
    AOutcome.Explore = u"none";
    for (const TExploreEntry& entry : ATarget.Explore) {
      if (entry.Heading) continue;
      AOutcome.Explore = ProbeRequest(entry.Request, AHttp);
      break;
    }
  }
}

bool TSourceChecker::CheckWithPolicy(const TCheckTarget& ATarget, THttpClient& AHttp, THttpHeaders& AHeader,
                                     TCheckOutcome& AOutcome, const std::function<bool()>& AStopping) {
  const int64_t start = GetTimestamp();
  const String host = THostGate::HostOf(ATarget.BookSourceUrl);
  bool verdict = false;
  if (FHosts.Enter(host, AStopping)) {
    for (int attempt = 0;; ++attempt) {
      verdict = ProbeOnce(ATarget, AHttp, AHeader, AOutcome);
      // Only a probe that got no answer at all is worth another try.
      if (verdict || AOutcome.Status != 0 || !AOutcome.Requested || attempt >= FPolicy.Retries ||
          (AStopping && AStopping()))
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(FPolicy.RetryPauseMs));
    }
    FHosts.Leave(host);
  } else {
    AOutcome.Skipped = true;
  }
  AOutcome.ElapsedMs = GetTimestamp() - start;
  return verdict;
}
