#include "app/uRemoteSource.h"

#include <mutex>

#include "app/uSourceCollection.h"
#include "app/uSourceRequest.h"
#include "http/KivHttpClient.h"
#include "json/KivJson.h"
#include "support/KivStr.h"
#include "support/KivStream.h"
#include "workers/KivWorker.h"

namespace {

const char16_t kNoUserAgent[] = u"#requestWithoutUA";

bool EndsWith(StringView AText, StringView ATail) {
  return AText.size() >= ATail.size() && AText.substr(AText.size() - ATail.size()) == ATail;
}

void RemoveHeader(THttpHeaders& AHeaders, StringView AName) {
  for (int32_t i = AHeaders.Count() - 1; i >= 0; --i)
    if (SameTextAscii(AHeaders.GetItem(i)->Name, AName)) AHeaders.Delete(i);
}

String MegaBytes(int64_t ABytes) {
  if (ABytes % (1024 * 1024) == 0) return IntToStr(ABytes / (1024 * 1024)) + u" MB";
  return IntToStr(ABytes) + u" 字节";
}

}  // namespace

bool IsRemoteAddress(StringView AName) {
  return StartsTextAscii(AName, u"http://") || StartsTextAscii(AName, u"https://");
}

String AddressToSend(const String& AAddress) {
  if (!EndsWith(AAddress, kNoUserAgent)) return AAddress;
  return AAddress.substr(0, AAddress.size() - (sizeof kNoUserAgent / sizeof kNoUserAgent[0] - 1));
}

Bytes FetchRemote(const String& AAddress, const TRemoteOptions& AOptions, const std::atomic<bool>* ACancelled) {
  auto cancelled = [ACancelled] { return ACancelled && ACancelled->load(); };
  if (cancelled()) throw ELoadCancelled();
  THttpClient client;
  client.SetConnectionTimeOut(AOptions.TimeoutMs);
  client.SetRecvTimeOut(AOptions.TimeoutMs);
  client.SetAcceptAnyCertificate(AOptions.AcceptAnyCertificate);
  // A cancel also ends the wait for a server that has not answered yet.
  client.SetCancelFlag(ACancelled);
  client.SetAccept(u"*/*");
  // The reader app's own client: its User-Agent, or none when the address asks so.
  if (EndsWith(AAddress, kNoUserAgent))
    RemoveHeader(client.CustomHeaders(), u"User-Agent");
  else
    client.SetUserAgent(kDefaultUserAgent);
  // The ceiling is checked while reading, so an endless body stops there; the
  // client's own ceiling, a little above, only backs it up.
  bool tooLarge = false;
  client.SetMaxContentSize(AOptions.MaxBytes + 1024 * 1024);
  client.SetMaxInflateSize(AOptions.MaxBytes);
  client.ReceiveDataCallBack = [&](void*, int64_t AContentLength, int64_t AReadCount, bool& AAbort) {
    if (cancelled()) AAbort = true;
    if (AContentLength > AOptions.MaxBytes || AReadCount > AOptions.MaxBytes) {
      tooLarge = true;
      AAbort = true;
    }
  };
  const String limit = MegaBytes(AOptions.MaxBytes);
  THttpResult result;
  try {
    result = client.Get(AddressToSend(AAddress));
  } catch (const EHTTPException& E) {
    if (cancelled()) throw ELoadCancelled();
    if (E.Cause() == THttpFailureCause::TlsHandshake && !AOptions.AcceptAnyCertificate)
      throw Exception(Format(u"无法下载 %s: 服务器证书未通过验证 (%s); 确认网站可信后可选择接受任何证书",
                             AAddress, E.Message()));
    throw Exception(Format(u"无法下载 %s: %s", AAddress, E.Message()));
  }
  // A body cut short by a cancel is no body.
  if (cancelled()) throw ELoadCancelled();
  if (tooLarge) throw Exception(Format(u"无法下载 %s: 内容超过 %s 的上限, 已拒绝", AAddress, limit));
  const int32_t status = result.StatusCode();
  if (status < 200 || status > 299) throw Exception(Format(u"无法下载 %s: HTTP 状态 %d", AAddress, status));
  THttpResponse& response = *result.Response;
  if (!response.DecodeError().empty()) {
    // A gzip body that inflates past the ceiling, or one that is broken.
    throw Exception(Format(u"无法下载 %s: 无法解压内容 (%s), 上限 %s", AAddress, response.DecodeError(), limit));
  }
  Bytes body = response.ContentStream().Data();
  if (int64_t(body.size()) > AOptions.MaxBytes)
    throw Exception(Format(u"无法下载 %s: 内容超过 %s 的上限, 已拒绝", AAddress, limit));
  return body;
}

bool SourceListOf(const JSONBase* ARoot, std::vector<String>& AAddresses) {
  if (!ARoot || !ARoot->IsJSONObject()) return false;
  const auto* root = static_cast<const JSONObject*>(ARoot);
  if (TSourceCollection::IsSource(root)) return false;
  const PJSONValue list = root->GetItem(u"sourceUrls");
  if (!list || list->Type() != jdtObject || !list->GetObject() || list->GetObject()->IsJSONObject()) return false;
  const JSONBase* items = list->GetObject();
  AAddresses.clear();
  for (int i = 0; i < items->Count(); ++i) {
    const PJSONValue item = items->GetItems(i);
    AAddresses.push_back(item && item->Type() == jdtString ? Trim(item->AsString()) : String());
  }
  return true;
}

namespace {

// One file or address: its sources, or (Sources null) the addresses of the list it holds.
TLoadedPart LoadOne(const String& AName, const TRemoteOptions& AOptions, const TLoadControl& AControl,
                    std::vector<String>* AListed) {
  TLoadedPart part;
  part.Name = AName;
  if (IsRemoteAddress(AName)) {
    if (AControl.OnFetch) AControl.OnFetch(AName);
    TMemoryStream body(FetchRemote(AName, AOptions, AControl.Cancelled));
    part.Sources = TSourceCollection::LoadStream(body, AName, &part.Values, &part.Trailing, AListed);
  } else {
    part.Sources = TSourceCollection::LoadFile(AName, &part.Values, &part.Trailing, AListed);
  }
  return part;
}

}  // namespace

std::vector<TLoadedPart> LoadSourcesFrom(const String& AName, const TRemoteOptions& AOptions,
                                         const TLoadControl& AControl) {
  std::vector<String> listed;
  std::vector<TLoadedPart> parts;
  TLoadedPart first = LoadOne(AName, AOptions, AControl, &listed);
  if (first.Sources) {
    parts.push_back(std::move(first));
    return parts;
  }
  for (const String& address : listed) {
    if (AControl.IsCancelled()) throw ELoadCancelled();
    TLoadedPart part;
    part.Name = address;
    try {
      // Only addresses: a list someone shares must not read this machine's files.
      if (!IsRemoteAddress(address))
        throw Exception(Format(u"书源网址列表 %s 中的 \"%s\" 不是 http(s) 网址", AName, address));
      std::vector<String> nested;
      part = LoadOne(address, AOptions, AControl, &nested);
      if (!part.Sources)
        throw Exception(Format(u"%s 又是一个书源网址列表, 列表不能嵌套", address));
    } catch (const ELoadCancelled&) {
      throw;
    } catch (const Exception& E) {
      part.Sources.reset();
      part.Error = E.Message();
    }
    parts.push_back(std::move(part));
  }
  return parts;
}

// ---------------------------------------------------------------- in the background

// Shared by the job and its owner, so either may go first.
struct TRemoteLoadJob::TState {
  std::atomic<bool> Cancelled{false};
  std::mutex Lock;
  String Fetching;  // under Lock
  // Main thread only.
  bool Finished = false;
  TFetching OnFetch;
  TDone OnDone;
};

TRemoteLoadJob::TRemoteLoadJob(const String& AName, const TRemoteOptions& AOptions, TFetching AOnFetch,
                               TDone AOnDone)
    : FState(std::make_shared<TState>()) {
  FState->OnFetch = std::move(AOnFetch);
  FState->OnDone = std::move(AOnDone);
  std::shared_ptr<TState> state = FState;
  const TJobHandle posted =
      GlobalWorkers ? GlobalWorkers->Post(TJobProcRef([state, AName, AOptions](PJob) { Run(state, AName, AOptions); }))
                    : 0;
  if (!posted) {
    Cancel();
    throw Exception(Format(u"无法启动下载任务: %s", AName));
  }
}

TRemoteLoadJob::~TRemoteLoadJob() { Cancel(); }

bool TRemoteLoadJob::Running() const { return !FState->Finished && !FState->Cancelled.load(); }

void TRemoteLoadJob::Cancel() {
  FState->Cancelled = true;
  // What the callbacks hold goes now, on the main thread, not with the last job.
  FState->OnFetch = nullptr;
  FState->OnDone = nullptr;
}

void TRemoteLoadJob::Run(const std::shared_ptr<TState>& AState, const String& AName, const TRemoteOptions& AOptions) {
  struct TResult {
    std::vector<TLoadedPart> Parts;
    String Error;
  };
  auto result = std::make_shared<TResult>();
  TLoadControl control;
  control.Cancelled = &AState->Cancelled;
  control.OnFetch = [&AState](const String& AAddress) {
    {
      std::lock_guard<std::mutex> lock(AState->Lock);
      AState->Fetching = AAddress;
    }
    if (AState->Cancelled) return;
    // The notice reads the latest address when it runs: notices may arrive out of order.
    std::shared_ptr<TState> state = AState;
    GlobalWorkers->Post(TJobProcRef([state](PJob) {
                          if (state->Cancelled || state->Finished || !state->OnFetch) return;
                          String address;
                          {
                            std::lock_guard<std::mutex> lock(state->Lock);
                            address = state->Fetching;
                          }
                          state->OnFetch(address);
                        }),
                        nullptr, true);
  };
  try {
    result->Parts = LoadSourcesFrom(AName, AOptions, control);
  } catch (const ELoadCancelled&) {
    return;
  } catch (const Exception& E) {
    result->Error = E.Message();
  } catch (const std::exception& E) {
    result->Error = Format(u"无法载入 %s: %s", AName, FromUtf8(E.what()));
  }
  if (AState->Cancelled) return;
  std::shared_ptr<TState> state = AState;
  GlobalWorkers->Post(TJobProcRef([state, result](PJob) {
                        if (state->Cancelled || state->Finished) return;
                        state->Finished = true;
                        state->OnFetch = nullptr;
                        // Moved out first: the owner may drop the job from inside the call.
                        TDone done = std::move(state->OnDone);
                        state->OnDone = nullptr;
                        if (done) done(result->Parts, result->Error);
                      }),
                      nullptr, true);
}
