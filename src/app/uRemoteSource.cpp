#include "app/uRemoteSource.h"

#include "app/uSourceCollection.h"
#include "app/uSourceRequest.h"
#include "http/KivHttpClient.h"
#include "json/KivJson.h"
#include "support/KivStr.h"
#include "support/KivStream.h"

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

Bytes FetchRemote(const String& AAddress, const TRemoteOptions& AOptions) {
  THttpClient client;
  client.SetConnectionTimeOut(AOptions.TimeoutMs);
  client.SetRecvTimeOut(AOptions.TimeoutMs);
  client.SetAcceptAnyCertificate(AOptions.AcceptAnyCertificate);
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
    if (E.Cause() == THttpFailureCause::TlsHandshake && !AOptions.AcceptAnyCertificate)
      throw Exception(Format(u"无法下载 %s: 服务器证书未通过验证 (%s); 确认网站可信后可选择接受任何证书",
                             AAddress, E.Message()));
    throw Exception(Format(u"无法下载 %s: %s", AAddress, E.Message()));
  }
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
TLoadedPart LoadOne(const String& AName, const TRemoteOptions& AOptions, std::vector<String>* AListed) {
  TLoadedPart part;
  part.Name = AName;
  if (IsRemoteAddress(AName)) {
    TMemoryStream body(FetchRemote(AName, AOptions));
    part.Sources = TSourceCollection::LoadStream(body, AName, &part.Values, &part.Trailing, AListed);
  } else {
    part.Sources = TSourceCollection::LoadFile(AName, &part.Values, &part.Trailing, AListed);
  }
  return part;
}

}  // namespace

std::vector<TLoadedPart> LoadSourcesFrom(const String& AName, const TRemoteOptions& AOptions) {
  std::vector<String> listed;
  std::vector<TLoadedPart> parts;
  TLoadedPart first = LoadOne(AName, AOptions, &listed);
  if (first.Sources) {
    parts.push_back(std::move(first));
    return parts;
  }
  for (const String& address : listed) {
    TLoadedPart part;
    part.Name = address;
    try {
      // Only addresses: a list someone shares must not read this machine's files.
      if (!IsRemoteAddress(address))
        throw Exception(Format(u"书源网址列表 %s 中的 \"%s\" 不是 http(s) 网址", AName, address));
      std::vector<String> nested;
      part = LoadOne(address, AOptions, &nested);
      if (!part.Sources)
        throw Exception(Format(u"%s 又是一个书源网址列表, 列表不能嵌套", address));
    } catch (const Exception& E) {
      part.Sources.reset();
      part.Error = E.Message();
    }
    parts.push_back(std::move(part));
  }
  return parts;
}
