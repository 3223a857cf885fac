#include "http/KivHttpClient.h"

#include <algorithm>

#include "support/KivStr.h"

namespace {

constexpr int64_t kUploadChunk = 65536;

bool IsRedirectFollowed(int32_t Status) {
  // 308 is followed like 307; 300, 305 and 306 carry no address to follow, and
  // 304 answers a conditional request: it is the answer, not a way elsewhere.
  switch (Status) {
    case 301: case 302: case 303: case 307: case 308:
      return true;
    default:
      return false;
  }
}

String TransportMessage(StringView Fmt, const THttpTransportRequest& H) {
  return Format(Fmt, H.LastError(), H.LastErrorText());
}

// The general text tells no cause: the transport's own is appended, so that a
// time-out, a refused connection and an unknown host read differently.
[[noreturn]] void ThrowPassFailure(const THttpRequest& ARequest) {
  switch (ARequest.LastFailure()) {
    case TTransportFailure::ServerCertificate:
      throw EHTTPException(u"Server Certificate Invalid or not present", THttpFailureCause::TlsHandshake);
    case TTransportFailure::ClientCertificate:
      throw EHTTPException(u"Unspecified certificate from client", THttpFailureCause::TlsHandshake);
    default:
      throw EHTTPException(Format(u"Execution of request terminated with unknown error (%d) %s",
                                  ARequest.LastError(), ARequest.LastErrorText()),
                           ARequest.Handle().LastCause());
  }
}

bool SameHost(const TURI& A, const TURI& B) {
  return SameTextAscii(A.Host(), B.Host()) && A.Port() == B.Port();
}

}  // namespace

void InitHttpClient() {
  InitGMTTime();
  InitHttpTransport();
}

int32_t THttpResult::StatusCode() const { return Response ? Response->StatusCode() : 0; }

bool THttpResult::CertificateUntrusted() const { return Request && Request->CertificateUntrusted(); }

bool THttpResult::RedirectRefused() const {
  return Request && Request->RedirectRefusal() != THttpRedirectRefusal::None;
}

// ---------------------------------------------------------------- TProxySettings

TProxySettings TProxySettings::Create(StringView AURL) {
  TURI u{String(AURL)};
  return Create(u.Host(), u.Port(), u.UserName(), u.Password(), u.Scheme());
}

TProxySettings TProxySettings::Create(StringView AHost, uint16_t APort, StringView AUserName,
                                      StringView APassword, StringView AScheme) {
  TProxySettings p;
  p.FHost = String(AHost);
  p.FPort = APort;
  p.FUserName = String(AUserName);
  p.FPassword = String(APassword);
  p.FScheme = String(AScheme);
  return p;
}

// ---------------------------------------------------------------- THttpRequest

THttpRequest::THttpRequest(THttpClient& AClient, StringView ARequestMethod, StringView AURL)
    : FClient(AClient), FHeaders(std::make_unique<THttpHeaders>()), FMethodString(ARequestMethod) {
  FURL.SetURL(String(AURL));
  FCurrentURL = FURL;
  FLocalCredential =
      TCredential::Create(att_Server, u"", FURL.Host(), FURL.UserName(), FURL.Password());
  OpenRequest(FURL);
}

THttpRequest::THttpRequest(THttpClient& AClient, StringView ARequestMethod, const TURI& AURI)
    : FClient(AClient),
      FHeaders(std::make_unique<THttpHeaders>()),
      FURL(AURI),
      FCurrentURL(AURI),
      FMethodString(ARequestMethod) {
  FLocalCredential =
      TCredential::Create(att_Server, u"", FURL.Host(), FURL.UserName(), FURL.Password());
  OpenRequest(FURL);
}

THttpRequest::~THttpRequest() { CloseHandles(); }

void THttpRequest::OpenRequest(const TURI& URI) {
  if (URI.Host().empty()) throw EHTTPException(Format(u"Invalid URL: \"%s\"", URI.Text()));
  try {
    FWConnect = std::make_unique<THttpConnection>(FClient.FWSession, URI.Host(), URI.Port());
  } catch (const std::exception&) {
    throw EHTTPException(Format(u"Error connecting to server: %s", URI.Host()));
  }
  FWRequest = std::make_unique<THttpTransportRequest>(*FWConnect, FMethodString,
                                                      URI.GetDocumentWithParams(), URI.Scheme());
  if (!FWRequest->IsValid()) {
    String msg = TransportMessage(u"Error opening request: (%d) %s", *FWRequest);
    FLastError = FWRequest->LastError();
    const THttpFailureCause cause = FWRequest->LastCause();
    CloseHandles();
    throw EHTTPException(msg, cause);
  }
}

void THttpRequest::CloseHandles() {
  FWRequest.reset();
  FWConnect.reset();
}

void THttpRequest::ReopenForURL(const TURI& URI) {
  CloseHandles();
  FCurrentURL = URI;
  OpenRequest(URI);
}

String THttpRequest::GetHeaderValue(StringView AName) {
  String value;
  if (!FWRequest) return value;
  if (!FWRequest->QueryHeaders(TQueryInfo::RequestCustom, AName, value)) {
    if (FWRequest->LastError() == ERROR_TRANSPORT_HEADER_NOT_FOUND) return String();
    throw EHTTPException(TransportMessage(u"Error querying headers: (%d) %s", *FWRequest));
  }
  return value;
}

void THttpRequest::SetHeaderValue(StringView AName, StringView AValue) {
  if (!FWRequest->AddRequestHeaders(String(AName) + u": " + String(AValue),
                                    ADDREQ_FLAG_ADD | ADDREQ_FLAG_REPLACE))
    throw EHTTPException(TransportMessage(u"Error adding header: (%d) %s", *FWRequest));
}

void THttpRequest::AddHeader(StringView AName, StringView AValue) {
  if (!FWRequest->AddRequestHeaders(String(AName) + u": " + String(AValue),
                                    ADDREQ_FLAG_COALESCE_WITH_COMMA))
    throw EHTTPException(TransportMessage(u"Error adding header: (%d) %s", *FWRequest));
}

bool THttpRequest::RemoveHeader(StringView AName) {
  if (GetHeaderValue(AName).empty()) return false;
  if (!FWRequest->AddRequestHeaders(String(AName) + u":", ADDREQ_FLAG_REPLACE))
    throw EHTTPException(TransportMessage(u"Error removing header: (%d) %s", *FWRequest));
  return true;
}

String THttpRequest::Headers() {
  String value;
  if (FWRequest && !FWRequest->QueryHeaders(TQueryInfo::RequestRawHeaders, u"", value))
    throw EHTTPException(TransportMessage(u"Error querying headers: (%d) %s", *FWRequest));
  return value;
}

String THttpRequest::SourceString() {
  if (!FSourceStream) return String();
  int64_t pos = FSourceStream->Position();
  Bytes rest = FSourceStream->ReadRest();
  FSourceStream->SetPosition(pos);
  return AnsiDecode(rest);
}

void THttpRequest::SetURL(const TURI& AURL) {
  if (!FURL.Host().empty()) throw EHTTPException(u"URL already assigned");
  FURL = AURL;
  FCurrentURL = AURL;
}

void THttpRequest::PreparePass() {
  for (int32_t i = 0; i < FHeaders->Count(); ++i) {
    PHeaderItem item = FHeaders->GetItem(i);
    SetHeaderValue(item->Name, item->Value);
  }
  FClient.ApplyProxy(*this);
}

// ---------------------------------------------------------------- THttpClient

THttpClient::THttpClient() : FCookieMgr(std::make_shared<TCookieManager>()) {
  FCustomHeaders.Add(u"Accept", u"text/html");
  FCustomHeaders.Add(u"Accept-Encoding", u"gzip, deflate");
  FCustomHeaders.Add(u"Accept-Language", u"zh-cn,zh;q=0.8,en-us;q=0.5,en;q=0.3");
  FCustomHeaders.Add(u"User-Agent",
                     u"Mozilla/5.0 (Windows NT 5.1; rv:12.0) Gecko/20100101 Firefox/12.0");
  try {
    FWSession = std::make_shared<THttpSession>();
  } catch (const std::exception&) {
    throw EHTTPException(u"Error obtaining session handle");
  }
}

THttpClient::~THttpClient() = default;

void THttpClient::SetProxySettings(const TProxySettings& V) {
  FProxySettings = V;
  if (!V.FUserName.empty()) {
    String url;
    if (!V.FHost.empty()) {
      String port = V.FPort ? u":" + IntToStr(V.FPort) : String();
      TURI withPort{(V.FScheme.empty() ? String(u"http") : V.FScheme) + u"://" + V.FHost + port};
      url = withPort.GetNewURL(false);
    }
    FCredentialsStorage.Add(TCredential::Create(att_Proxy, u"", url, V.FUserName, V.FPassword));
  }
}

void THttpClient::DoRequestError(const String& AError, THttpFailureCause ACause) {
  if (OnRequestError)
    OnRequestError(this, AError);
  else
    throw EHTTPException(AError, ACause);
}

void THttpClient::DoRequestCompleted(const THttpResult& AResult) {
  if (!OnRequestCompleted) return;
  try {
    OnRequestCompleted(this, AResult);
  } catch (const Exception& e) {
    DoRequestError(e.Message());
  } catch (const std::exception& e) {
    DoRequestError(FromUtf8(e.what()));
  }
}

THttpResult THttpClient::RunVerb(StringView AVerb, StringView AURL, TStream* ASource,
                                 TStream* AResponseContent, const THttpHeaders* AHeaders) {
  THttpResult result;
  try {
    auto request = std::make_shared<THttpRequest>(*this, AVerb, AURL);
    result.FRequestInf = request;
    result.Request = request.get();
    request->FSourceStream = ASource;
    auto response = ExecuteWithHeaders(request, AHeaders, AResponseContent);
    result.FResponseInf = response;
    result.Response = response.get();
  } catch (const EHTTPException& e) {
    DoRequestError(e.Message(), e.Cause());
  } catch (const Exception& e) {
    DoRequestError(e.Message());
  } catch (const std::bad_alloc&) {
    DoRequestError(u"Out of memory");
  } catch (const std::exception& e) {
    DoRequestError(FromUtf8(e.what()));
  }
  DoRequestCompleted(result);
  return result;
}

std::shared_ptr<THttpResponse> THttpClient::ExecuteWithHeaders(
    const std::shared_ptr<THttpRequest>& ARequest, const THttpHeaders* AHeaders,
    TStream* AResponseContent) {
  THttpHeaders& h = *ARequest->FHeaders;
  if (AHeaders)
    for (int32_t i = 0; i < AHeaders->Count(); ++i)
      h.SetHaderItem(AHeaders->GetItem(i)->Name, AHeaders->GetItem(i)->Value);
  for (int32_t i = 0; i < FCustomHeaders.Count(); ++i) {
    PHeaderItem item = FCustomHeaders.GetItem(i);
    if (!h.Exist(item->Name)) h.SetHaderItem(item->Name, item->Value);
  }
  if (TStream* src = ARequest->FSourceStream)
    h.SetHaderItem(u"Content-Length", IntToStr(std::max<int64_t>(src->Size() - src->Position(), 0)));
  return ExecuteHTTP(ARequest, AResponseContent);
}

std::shared_ptr<THttpResponse> THttpClient::ExecuteHTTP(
    const std::shared_ptr<THttpRequest>& ARequest, TStream* AResponseContent) {
  THttpRequest& req = *ARequest;
  TStream* src = req.FSourceStream;
  const int64_t srcPos = src ? src->Position() : 0;
  THTTPState state;
  std::shared_ptr<THttpResponse> response;
  const bool isHead = req.FMethodString == u"HEAD";

  // Whatever ends the loop: the source goes back, and the transfer stops.
  struct TLoopEnd {
    THttpRequest& R;
    TStream* S;
    int64_t P;
    ~TLoopEnd() {
      if (S) {
        try {
          S->SetPosition(P);
        } catch (...) {
        }
      }
      if (R.FWRequest) R.FWRequest->EndTransfer();
    }
  } loopEnd{req, src, srcPos};

  // A redirect whose target is checked keeps the 3xx answer's handles until
  // the next hop connects: a refused hop ends the call with that answer.
  struct TParkedHop {
    std::unique_ptr<THttpConnection> Connection;
    std::unique_ptr<THttpTransportRequest> Request;
    TURI URL;
    String Target;
    Bytes Content;
  };
  std::unique_ptr<TParkedHop> parked;

  while (true) {
    req.PreparePass();
    if (FAllowCookies) {
      String cookies = FCookieMgr->GetCookies(req.FCurrentURL);
      if (!cookies.empty()) req.AddHeader(u"Cookie", cookies);
    }
    if (!PrepareServerCredential(req, response.get(), state) ||
        !PrepareProxyCredential(req, response.get(), state))
      break;
    if (src) src->SetPosition(srcPos);
    if (response) response->ClearContent();

    if (ExecutePass(req, response, AResponseContent) != THttpPassResult::Answered) {
      if (!parked || !req.FWRequest->RefusedPrivateAddress()) ThrowPassFailure(req);
      req.FRedirectRefusal = THttpRedirectRefusal::PrivateAddress;
      req.FRefusedRedirectURL = parked->Target;
      req.FRedirectRefusalText = req.FWRequest->LastErrorText();
      req.FLastError = 0;
      req.FLastErrorText.clear();
      req.FLastFailure = TTransportFailure::None;
      req.CloseHandles();
      req.FWConnect = std::move(parked->Connection);
      req.FWRequest = std::move(parked->Request);
      req.FCurrentURL = parked->URL;
      response->ResetForPass();
      response->FContentStream.Data() = std::move(parked->Content);
      response->FContentStream.SetPosition(0);
      break;
    }
    parked.reset();
    // A caller that needs only the status never pulls the body.
    if (!isHead && !FStatusOnly) response->ReadContent(response->FContentStream);
    response->FinishContent();
    // Every answer's cookies, redirects included: cookie checks set one and redirect.
    if (FAllowCookies) StoreResponseCookies(req, *response);

    const int32_t status = response->StatusCode();
    if (status == HTTP_STATUS_OK) break;
    if (status == HTTP_STATUS_DENIED) {
      state.Status = is_ServerAuthRequired;
      continue;
    }
    if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
      state.Status = is_ProxyAuthRequired;
      continue;
    }
    state.Status = is_Other;
    if (!IsRedirectFollowed(status) || !FHandleRedirects || isHead) break;
    // Without an address to go to the 3xx is the answer (going "here" again would only repeat it).
    const String location = response->GetHeaderValue(u"Location");
    if (location.empty()) break;
    if (++state.Redirections > FMaxRedirects)
      throw EHTTPException(Format(u"Maximum number of redirections (%d) exceeded", FMaxRedirects),
                           THttpFailureCause::TooManyRedirects);
    // Each hop resolves against the address it came from.
    TURI target{TURI::PathRelativeToAbs(location, req.FCurrentURL)};
    if (OnRequestRedirect) OnRequestRedirect(&req, status, target.ToString());
    // The call's own host and port were asked for; any other is checked.
    const bool checked = FRefusePrivateRedirects && !SameHost(req.FURL, target);
    if (checked) {
      req.FWRequest->EndTransfer();
      parked = std::make_unique<TParkedHop>();
      parked->Connection = std::move(req.FWConnect);
      parked->Request = std::move(req.FWRequest);
      parked->URL = req.FCurrentURL;
      parked->Target = target.Text();
      parked->Content = response->FContentStream.Data();
    }
    req.ReopenForURL(target);
    if (checked) req.FWRequest->SetRefusePrivateAddresses(true);
    response->FStatusCode = 0;
  }
  if (src) src->SetPosition(srcPos);
  return response;
}

THttpPassResult THttpClient::ExecutePass(THttpRequest& ARequest,
                                         std::shared_ptr<THttpResponse>& AResponse,
                                         TStream* AResponseContent) {
  THttpTransportRequest& h = *ARequest.FWRequest;
  TStream* src = ARequest.FSourceStream;
  const int64_t bodySize = src ? std::max<int64_t>(src->Size() - src->Position(), 0) : 0;
  h.DisableRedirectsAndCookies();
  if (FConnectionTimeOut > 0 || FRecvTimeOut > 0) h.SetTimeouts(0, FConnectionTimeOut, 0, FRecvTimeOut);

  auto failure = [&ARequest, &h]() {
    ARequest.FLastError = h.LastError();
    ARequest.FLastErrorText = h.LastErrorText();
    ARequest.FLastFailure = h.LastFailure();
    return THttpPassResult::TransportFailed;
  };
  h.SetAcceptAnyCertificate(FAcceptAnyCertificate);
  h.SetCancelFlag(FCancelFlag);
  if (!h.SendRequest(bodySize)) return failure();

  if (bodySize > 0) {
    const int64_t start = src->Position();
    std::vector<char> buffer(kUploadChunk);
    while (true) {
      int64_t n = src->Read(buffer.data(), kUploadChunk);
      if (n <= 0) break;
      int64_t written = 0;
      if (!h.WriteData(buffer.data(), n, written))
        throw EHTTPException(TransportMessage(u"Error sending data: (%d) %s", h));
      if (written < n) src->Seek(written - n, TSeekOrigin::soCurrent);
    }
    src->SetPosition(start);
  }
  if (!h.ReceiveResponse()) return failure();
  // Any hop's untrusted certificate counts, the redirects' included.
  if (FAcceptAnyCertificate && h.CertificateUntrusted()) ARequest.FCertificateUntrusted = true;
  if (!AResponse)
    AResponse = std::make_shared<THttpResponse>(ARequest.shared_from_this(), AResponseContent);
  AResponse->ResetForPass();
  return THttpPassResult::Answered;
}

void THttpClient::ApplyProxy(THttpRequest& ARequest) {
  THttpTransportRequest& h = *ARequest.FWRequest;
  if (!FProxySettings.FHost.empty()) {
    String text = (FProxySettings.FScheme.empty() ? String() : FProxySettings.FScheme + u"://") +
                  FProxySettings.FHost + u":" + IntToStr(FProxySettings.FPort);
    if (SameTextAscii(text, u"http://direct:80")) return;
    h.SetProxy(text, u"");
    if (!FProxySettings.FUserName.empty())
      h.SetCredentials(AUTH_TARGET_PROXY, AUTH_SCHEME_BASIC, FProxySettings.FUserName,
                       FProxySettings.FPassword);
    return;
  }
  TProxyInfo info = THttpSession::SystemProxyForURL(ARequest.FCurrentURL.Scheme());
  if (!info.Proxy.empty()) h.SetProxy(info.Proxy, info.Bypass);
}

TCredentialArray THttpClient::GetCredentials(TAuthTargetType AnAuthTargetType, StringView ARealm,
                                             StringView AURL) {
  return TCredentialsStorage::SortCredentials(
      FCredentialsStorage.FindCredentials(AnAuthTargetType, ARealm, AURL, u""));
}

bool THttpClient::ApplyCredential(TAuthTargetType ATarget, THttpRequest& ARequest,
                                  const TCredential& C) {
  THttpTransportRequest& h = *ARequest.FWRequest;
  uint32_t& scheme =
      ATarget == att_Server ? ARequest.FLastServerAuthScheme : ARequest.FLastProxyAuthScheme;
  if (scheme == 0) {
    uint32_t supported = 0, first = 0, target = 0;
    if (h.QueryAuthSchemes(supported, first, target)) scheme = ChooseAuthScheme(supported);
  }
  return h.SetCredentials(ATarget == att_Server ? AUTH_TARGET_SERVER : AUTH_TARGET_PROXY, scheme,
                          C.UserName, C.Password);
}

namespace {
// Takes the next stored credential for another pass; when none is left the
// user and password are cleared, which ends the passes.
bool NextCredential(const TCredentialArray& AList, int32_t& AIterator, TAuthTargetType ATarget,
                    TCredential& AOut) {
  if (AIterator < int32_t(AList.size())) {
    const TCredential& c = AList[size_t(AIterator++)];
    AOut.AuthTarget = ATarget;
    AOut.UserName = c.UserName;
    AOut.Password = c.Password;
    AOut.Realm = c.Realm;
    return true;
  }
  AOut.UserName.clear();
  AOut.Password.clear();
  return false;
}
}  // namespace

bool THttpClient::PrepareServerCredential(THttpRequest& ARequest, THttpResponse* AResponse,
                                          THTTPState& S) {
  if (S.Status == is_ServerAuthRequired && S.ServerCredential.UserName.empty()) {
    TURI current = ARequest.FCurrentURL;
    S.ServerCredentials = GetCredentials(att_Server, AResponse->GetRealm(), current.ToString());
    // The user information of the address is only for its own host.
    if (!ARequest.FLocalCredential.UserName.empty() && SameHost(ARequest.FURL, current))
      S.ServerCredentials.push_back(ARequest.FLocalCredential);
    S.NeedServerCredential = true;
  }
  if (!S.NeedServerCredential) return true;
  if (S.Status == is_ServerAuthRequired &&
      !NextCredential(S.ServerCredentials, S.ServerIterator, att_Server, S.ServerCredential))
    S.ServerCredential.Realm = AResponse->GetRealm();
  return !S.ServerCredential.UserName.empty() &&
         ApplyCredential(att_Server, ARequest, S.ServerCredential);
}

bool THttpClient::PrepareProxyCredential(THttpRequest& ARequest, THttpResponse* AResponse,
                                         THTTPState& S) {
  if (S.Status == is_ProxyAuthRequired && S.ProxyCredential.UserName.empty()) {
    S.ProxyCredentials.clear();
    if (!FProxySettings.FHost.empty())
      S.ProxyCredentials.push_back(TCredential::Create(
          att_Proxy, u"", u"", FProxySettings.FUserName, FProxySettings.FPassword));
    TCredentialArray found = GetCredentials(att_Proxy, AResponse->GetRealm(), u"");
    S.ProxyCredentials.insert(S.ProxyCredentials.end(), found.begin(), found.end());
    S.NeedProxyCredential = true;
  }
  if (!S.NeedProxyCredential) return true;
  if (S.Status == is_ProxyAuthRequired)
    NextCredential(S.ProxyCredentials, S.ProxyIterator, att_Proxy, S.ProxyCredential);
  return !S.ProxyCredential.UserName.empty() &&
         ApplyCredential(att_Proxy, ARequest, S.ProxyCredential);
}

void THttpClient::StoreResponseCookies(THttpRequest& ARequest, THttpResponse& AResponse) {
  String header = AResponse.Header();
  size_t cursor = 0;
  // One answer's cookies are bounded: thousands of them only bloat later requests.
  for (int stored = 0; stored < TCookieManager::kMaxPerAnswer;) {
    String value = THttpResponse::FindHeaderValue(header, u"Set-Cookie", cursor);
    if (value.empty()) break;
    if (FCookieMgr->AddCookies(value, ARequest.FCurrentURL)) ++stored;
  }
}

// ---------------------------------------------------------------- verbs

THttpResult THttpClient::Get(StringView AURL, TStream* AResponseContent, const THttpHeaders* AHeaders) {
  return RunVerb(u"GET", AURL, nullptr, AResponseContent, AHeaders);
}

THttpResult THttpClient::Head(StringView AURL, const THttpHeaders* AHeaders) {
  return RunVerb(u"HEAD", AURL, nullptr, nullptr, AHeaders);
}

THttpResult THttpClient::Options(StringView AURL, TStream* AResponseContent,
                                 const THttpHeaders* AHeaders) {
  return RunVerb(u"OPTIONS", AURL, nullptr, AResponseContent, AHeaders);
}

THttpResult THttpClient::Trace(StringView AURL, TStream* AResponseContent,
                               const THttpHeaders* AHeaders) {
  return RunVerb(u"TRACE", AURL, nullptr, AResponseContent, AHeaders);
}

THttpResult THttpClient::Delete(StringView AURL, TStream* AResponseContent,
                                const THttpHeaders* AHeaders) {
  return RunVerb(u"DELETE", AURL, nullptr, AResponseContent, AHeaders);
}

THttpResult THttpClient::DoSendString(StringView AVerb, StringView AURL, StringView ASource,
                                      THttpCharsetType ACharset, TStream* AResponseContent,
                                      const THttpHeaders* AHeaders) {
  if (ASource.empty()) return RunVerb(AVerb, AURL, nullptr, AResponseContent, AHeaders);
  Bytes body;
  switch (ACharset) {
    case hct_UTF8:
      body = EncodeUTF8(ASource);
      break;
    case hct_UTF16:
    case hct_BIG5:
      body.reserve(ASource.size() * 2);
      for (char16_t c : ASource) {
        body += char(c & 0xFF);
        body += char(c >> 8);
      }
      break;
    default:
      body = AnsiEncode(ASource);
      break;
  }
  TMemoryStream stream(std::move(body));
  return RunVerb(AVerb, AURL, &stream, AResponseContent, AHeaders);
}

THttpResult THttpClient::Post(StringView AURL, StringView ASource, THttpCharsetType ACharset,
                              TStream* AResponseContent, const THttpHeaders* AHeaders) {
  return DoSendString(u"POST", AURL, ASource, ACharset, AResponseContent, AHeaders);
}

THttpResult THttpClient::Post(StringView AURL, TStream* ASource, TStream* AResponseContent,
                              const THttpHeaders* AHeaders) {
  return RunVerb(u"POST", AURL, ASource, AResponseContent, AHeaders);
}

THttpResult THttpClient::Put(StringView AURL, StringView ASource, THttpCharsetType ACharset,
                             TStream* AResponseContent, const THttpHeaders* AHeaders) {
  return DoSendString(u"PUT", AURL, ASource, ACharset, AResponseContent, AHeaders);
}

THttpResult THttpClient::Put(StringView AURL, TStream* ASource, TStream* AResponseContent,
                             const THttpHeaders* AHeaders) {
  return RunVerb(u"PUT", AURL, ASource, AResponseContent, AHeaders);
}

THttpResult THttpClient::PostFile(StringView AURL, const String& ASourceFile,
                                  TStream* AResponseContent, const THttpHeaders* AHeaders) {
  std::unique_ptr<TFileStream> file;
  try {
    file = std::make_unique<TFileStream>(ASourceFile, TFileStream::fmOpenRead);
  } catch (const Exception& e) {
    DoRequestError(e.Message());
    return THttpResult();
  }
  return RunVerb(u"POST", AURL, file.get(), AResponseContent, AHeaders);
}

THttpResult THttpClient::GetRange(StringView AURL, int64_t AStart, int64_t AnEnd,
                                  TStream* AResponseContent, THttpHeaders* AHeaders) {
  String range = u"bytes=";
  if (AStart >= 0) range += IntToStr(AStart);
  range += u'-';
  if (AnEnd >= 0) range += IntToStr(AnEnd);
  if (AHeaders) {
    AHeaders->SetHaderItem(u"Range", range);
    return Get(AURL, AResponseContent, AHeaders);
  }
  THttpHeaders temp(u"Range", range);
  return Get(AURL, AResponseContent, &temp);
}

bool THttpClient::CheckDownloadResume(StringView AURL) {
  THttpHeaders range(u"Range", u"bytes=0-1");
  THttpResult r = Head(AURL, &range);
  if (r.StatusCode() == HTTP_STATUS_PARTIAL_CONTENT) return true;
  if (!r.Response) return false;
  String accept = r.Response->GetHeaderValue(u"Accept-Ranges");
  return !accept.empty() && !SameTextAscii(accept, u"none");
}
