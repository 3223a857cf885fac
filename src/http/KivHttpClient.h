// Synchronous HTTP/HTTPS client: requests, the pass loop with redirects,
// cookies and authentication, and the responses with content decoding.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "http/KivCookies.h"
#include "http/KivCredentials.h"
#include "http/KivHttpException.h"
#include "http/KivHttpHeaders.h"
#include "http/KivURI.h"
#include "http/transport/KivHttpTransport.h"
#include "support/KivStream.h"

enum THttpCharsetType { hct_GB2312, hct_UTF8, hct_GBK, hct_ISO8859_1, hct_UTF16, hct_BIG5 };
enum THttpProtocolVersion { hpv_UNKNOWN_HTTP, hpv_HTTP_1_0, hpv_HTTP_1_1, hpv_HTTP_2_0 };
enum InternalState { is_Other, is_ProxyAuthRequired, is_ServerAuthRequired };
// What one pass of the request loop came to. Why a failed pass failed is the
// request's LastFailure (and LastError, LastErrorText).
enum class THttpPassResult { Answered, TransportFailed };
// Why a call ended on a redirect instead of following it.
enum class THttpRedirectRefusal {
  None,
  PrivateAddress,  // the target is a loopback, private or link-local address
};

class THttpClient;
class THttpRequest;
class THttpResponse;
struct THttpResult;

// Sender is the request (progress) or the client (errors, completion).
using TReceiveDataCallback =
    std::function<void(void* Sender, int64_t AContentLength, int64_t AReadCount, bool& Abort)>;
using TReceiveDataEvent = TReceiveDataCallback;
using TRequestErrorEvent = std::function<void(void* Sender, const String& AError)>;
using TRequestCompletedEvent = std::function<void(void* Sender, const THttpResult& AResult)>;
using TRequestRedirectEvent =
    std::function<void(void* Sender, int32_t StatusCode, const String& NewURL)>;

// Module start-up of the client: GMT time bias and the transport library.
void InitHttpClient();

struct THttpResult {
  std::shared_ptr<THttpRequest> FRequestInf;
  std::shared_ptr<THttpResponse> FResponseInf;
  THttpRequest* Request = nullptr;
  THttpResponse* Response = nullptr;  // none when the call failed before any answer

  int32_t StatusCode() const;
  // The call ended on a 3xx answer whose redirect was refused (the request's
  // RedirectRefusal says why); that answer is the response.
  bool RedirectRefused() const;
  // A server certificate on the way would have failed verification (the
  // client was told to take any).
  bool CertificateUntrusted() const;
  void Clear() { *this = THttpResult(); }
};

struct TProxySettings {
  String FHost;
  uint16_t FPort = 0;
  String FUserName;
  String FPassword;
  String FScheme;

  static TProxySettings Create(StringView AURL);
  static TProxySettings Create(StringView AHost, uint16_t APort, StringView AUserName,
                               StringView APassword, StringView AScheme);
};

// Certificate record of the client's list; no request step fills it.
struct TCertificate {
  TDateTime Expiry = 0;
  TDateTime Start = 0;
  String Subject;
  String Issuer;
  String ProtocolName;
  String AlgSignature;
  String AlgEncryption;
  int32_t KeySize = 0;
};
using TCertificateList = std::vector<TCertificate>;

struct THTTPState {
  bool NeedProxyCredential = false;
  TCredential ProxyCredential;
  TCredentialArray ProxyCredentials;
  int32_t ProxyIterator = 0;
  bool NeedServerCredential = false;
  TCredential ServerCredential;
  TCredentialArray ServerCredentials;
  int32_t ServerIterator = 0;
  InternalState Status = is_Other;
  int32_t Redirections = 0;
};

class THttpRequest : public std::enable_shared_from_this<THttpRequest> {
 public:
  THttpRequest(THttpClient& AClient, StringView ARequestMethod, StringView AURL);
  THttpRequest(THttpClient& AClient, StringView ARequestMethod, const TURI& AURI);
  virtual ~THttpRequest();
  THttpRequest(const THttpRequest&) = delete;
  THttpRequest& operator=(const THttpRequest&) = delete;

  virtual void PreparePass();
  virtual String GetHeaderValue(StringView AName);
  virtual void SetHeaderValue(StringView AName, StringView AValue);
  virtual void AddHeader(StringView AName, StringView AValue);
  virtual bool RemoveHeader(StringView AName);

  // All request headers as the transport holds them.
  String Headers();
  String SourceString();
  const TURI& URL() const { return FURL; }
  void SetURL(const TURI& AURL);
  // Where the last pass went (after redirects); cookies and credentials follow it.
  const TURI& CurrentURL() const { return FCurrentURL; }
  TStream* SourceStream() const { return FSourceStream; }
  void SetSourceStream(TStream* S) { FSourceStream = S; }
  THttpHeaders& HeaderList() { return *FHeaders; }
  int32_t LastError() const { return FLastError; }
  String LastErrorText() const { return FLastErrorText; }
  TTransportFailure LastFailure() const { return FLastFailure; }
  THttpRedirectRefusal RedirectRefusal() const { return FRedirectRefusal; }
  bool CertificateUntrusted() const { return FCertificateUntrusted; }
  // Where the refused redirect would have gone, and why it did not.
  const String& RefusedRedirectURL() const { return FRefusedRedirectURL; }
  const String& RedirectRefusalText() const { return FRedirectRefusalText; }
  const String& Method() const { return FMethodString; }
  THttpClient& Client() const { return FClient; }
  THttpTransportRequest& Handle() const { return *FWRequest; }

 private:
  friend class THttpClient;
  friend class THttpResponse;
  void OpenRequest(const TURI& URI);
  void CloseHandles();
  void ReopenForURL(const TURI& URI);

  THttpClient& FClient;
  TStream* FSourceStream = nullptr;
  std::unique_ptr<THttpHeaders> FHeaders;
  TCredential FLocalCredential;
  int32_t FLastError = 0;
  String FLastErrorText;
  TTransportFailure FLastFailure = TTransportFailure::None;
  THttpRedirectRefusal FRedirectRefusal = THttpRedirectRefusal::None;
  bool FCertificateUntrusted = false;
  String FRefusedRedirectURL;
  String FRedirectRefusalText;
  std::unique_ptr<THttpConnection> FWConnect;
  std::unique_ptr<THttpTransportRequest> FWRequest;
  uint32_t FLastProxyAuthScheme = 0;
  uint32_t FLastServerAuthScheme = 0;
  TURI FURL;
  TURI FCurrentURL;
  String FMethodString;
};

class THttpResponse {
 public:
  THttpResponse(std::shared_ptr<THttpRequest> ARequest, TStream* AResponseStream);
  virtual ~THttpResponse() = default;
  THttpResponse(const THttpResponse&) = delete;
  THttpResponse& operator=(const THttpResponse&) = delete;

  virtual void FinishContent();
  virtual void ReadContent(TStream& Stream);

  int32_t StatusCode();
  String Header();
  void SetHeader(String Value) { FHeader = std::move(Value); }
  int64_t HeaderSize() { return int64_t(Header().size()); }
  String GetHeaderValue(StringView Name);
  String HeaderValue(StringView Name) { return GetHeaderValue(Name); }
  THttpProtocolVersion Version();
  int64_t RawDataSize() const { return FRawDataSize; }
  int64_t ContentLength();
  String ContentType() { return GetHeaderValue(u"Content-Type"); }
  String MimeType() { return GetHeaderValue(u"Content-Type"); }
  String ContentEncoding() { return GetHeaderValue(u"Content-Encoding"); }
  String ContentLanguage() { return GetHeaderValue(u"Content-Language"); }
  String Date() { return GetHeaderValue(u"Date"); }
  String LastModified() { return GetHeaderValue(u"Last-Modified"); }
  const String& ContentCharSet() const { return FCharSetText; }
  THttpCharsetType CharSet() const { return FCharSet; }
  bool IsGZip() const { return FIsGZip; }
  TMemoryStream& ContentStream() { return FContentStream; }
  String ContentString();
  TCookies& Cookies();
  String GetRealm();
  THttpRequest& Request() const { return *FRequest; }
  // Why the last gzip body was kept as received (empty when it was not).
  const String& DecodeError() const { return FDecodeError; }

  void DetectCharSet(const void* Bytes, int64_t Len);
  static THttpCharsetType CharSetOfName(StringView Name, THttpCharsetType Default);
  // Value of the next line Name: at or after Cursor; Cursor moves past it.
  static String FindHeaderValue(StringView Header, StringView Name, size_t& Cursor);

 private:
  friend class THttpClient;
  void DoReceiveData(int32_t Status, bool& Abort, int64_t ReadCount, int64_t ContentLength);
  void ResetForPass();
  void ClearContent();
  String Query(TQueryInfo Info);

  String FHeader;
  std::shared_ptr<THttpRequest> FRequest;
  TMemoryStream FContentStream;
  TStream* FStream = nullptr;
  int64_t FLastStreamPos = 0;
  int64_t FRawDataSize = 0;
  std::unique_ptr<TCookies> FCookies;
  int32_t FStatusCode = 0;
  bool FIsGZip = false;
  THttpCharsetType FCharSet = hct_UTF8;
  String FCharSetText;
  String FDecodeError;
  // Copied from the client, so that a result may outlive it.
  THttpCharsetType FDefaultCharset = hct_UTF8;
  bool FAutoDecodeStr = true;
  int64_t FMaxContentSize = 0;
  int64_t FMaxInflateSize = 0;
  std::shared_ptr<TCookieManager> FCookieMgr;
};

class THttpClient {
 public:
  THttpClient();
  virtual ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  THttpResult Get(StringView AURL, TStream* AResponseContent = nullptr,
                  const THttpHeaders* AHeaders = nullptr);
  THttpResult Head(StringView AURL, const THttpHeaders* AHeaders = nullptr);
  THttpResult Options(StringView AURL, TStream* AResponseContent = nullptr,
                      const THttpHeaders* AHeaders = nullptr);
  THttpResult Trace(StringView AURL, TStream* AResponseContent = nullptr,
                    const THttpHeaders* AHeaders = nullptr);
  THttpResult Delete(StringView AURL, TStream* AResponseContent = nullptr,
                     const THttpHeaders* AHeaders = nullptr);
  THttpResult Post(StringView AURL, StringView ASource, THttpCharsetType ACharset,
                   TStream* AResponseContent = nullptr, const THttpHeaders* AHeaders = nullptr);
  THttpResult Post(StringView AURL, TStream* ASource, TStream* AResponseContent = nullptr,
                   const THttpHeaders* AHeaders = nullptr);
  THttpResult Put(StringView AURL, StringView ASource, THttpCharsetType ACharset,
                  TStream* AResponseContent = nullptr, const THttpHeaders* AHeaders = nullptr);
  THttpResult Put(StringView AURL, TStream* ASource, TStream* AResponseContent = nullptr,
                  const THttpHeaders* AHeaders = nullptr);
  THttpResult PostFile(StringView AURL, const String& ASourceFile,
                       TStream* AResponseContent = nullptr, const THttpHeaders* AHeaders = nullptr);
  // AHeaders, when given, keeps its Range item after the call.
  THttpResult GetRange(StringView AURL, int64_t AStart, int64_t AnEnd,
                       TStream* AResponseContent = nullptr, THttpHeaders* AHeaders = nullptr);
  bool CheckDownloadResume(StringView AURL);

  std::shared_ptr<THttpResponse> ExecuteHTTP(const std::shared_ptr<THttpRequest>& ARequest,
                                             TStream* AResponseContent);
  // Sends the request once and reads the answer's status and headers.
  virtual THttpPassResult ExecutePass(THttpRequest& ARequest,
                                      std::shared_ptr<THttpResponse>& AResponse,
                                      TStream* AResponseContent);
  virtual TCredentialArray GetCredentials(TAuthTargetType AnAuthTargetType, StringView ARealm,
                                          StringView AURL);

  // Events.
  TReceiveDataEvent OnReceiveData;
  TRequestErrorEvent OnRequestError;
  TRequestCompletedEvent OnRequestCompleted;
  TRequestRedirectEvent OnRequestRedirect;
  TReceiveDataCallback ReceiveDataCallBack;

  bool AutoDecodeStr() const { return FAutoDecodeStr; }
  void SetAutoDecodeStr(bool V) { FAutoDecodeStr = V; }
  bool AllowCookies() const { return FAllowCookies; }
  void SetAllowCookies(bool V) { FAllowCookies = V; }
  bool HandleRedirects() const { return FHandleRedirects; }
  void SetHandleRedirects(bool V) { FHandleRedirects = V; }
  const TProxySettings& ProxySettings() const { return FProxySettings; }
  void SetProxySettings(const TProxySettings& V);
  int32_t MaxRedirects() const { return FMaxRedirects; }
  void SetMaxRedirects(int32_t V) { FMaxRedirects = V; }
  THttpCharsetType DefautlCharset() const { return FDefautlCharset; }
  void SetDefautlCharset(THttpCharsetType V) { FDefautlCharset = V; }
  int32_t ConnectionTimeOut() const { return FConnectionTimeOut; }
  void SetConnectionTimeOut(int32_t V) { FConnectionTimeOut = V; }
  int32_t RecvTimeOut() const { return FRecvTimeOut; }
  void SetRecvTimeOut(int32_t V) { FRecvTimeOut = V; }
  // Only the status and headers are wanted: no body is read, whatever the
  // status, so a huge or endless answer costs nothing.
  bool StatusOnly() const { return FStatusOnly; }
  void SetStatusOnly(bool V) { FStatusOnly = V; }
  // Redirects that leave the call's own host and port are not followed to a
  // loopback, private or link-local address (by the address the host resolves
  // to): the call ends with the 3xx answer and THttpResult::RedirectRefused.
  // The first request goes where it is sent. Off by default.
  bool RefusePrivateRedirects() const { return FRefusePrivateRedirects; }
  void SetRefusePrivateRedirects(bool V) { FRefusePrivateRedirects = V; }
  // Takes any server certificate, as reader apps do; the result tells
  // whether one was untrusted (THttpResult::CertificateUntrusted). Off by default.
  bool AcceptAnyCertificate() const { return FAcceptAnyCertificate; }
  void SetAcceptAnyCertificate(bool V) { FAcceptAnyCertificate = V; }
  // A flag another thread may set to end the call at once, also while no
  // answer has come yet (the call then fails). The flag outlives the client.
  void SetCancelFlag(const std::atomic<bool>* V) { FCancelFlag = V; }
  // Ceiling of a body kept in memory (no caller stream); beyond it the call fails.
  int64_t MaxContentSize() const { return FMaxContentSize; }
  void SetMaxContentSize(int64_t V) { FMaxContentSize = V; }
  // Ceiling of an inflated gzip body; beyond it the body stays as received.
  int64_t MaxInflateSize() const { return FMaxInflateSize; }
  void SetMaxInflateSize(int64_t V) { FMaxInflateSize = V; }

  String Accept() const { return FCustomHeaders.GetHaderItem(u"Accept"); }
  void SetAccept(StringView V) { FCustomHeaders.SetHaderItem(u"Accept", V); }
  String AcceptCharSet() const { return FCustomHeaders.GetHaderItem(u"Accept-Charset"); }
  void SetAcceptCharSet(StringView V) { FCustomHeaders.SetHaderItem(u"Accept-Charset", V); }
  String AcceptEncoding() const { return FCustomHeaders.GetHaderItem(u"Accept-Encoding"); }
  void SetAcceptEncoding(StringView V) { FCustomHeaders.SetHaderItem(u"Accept-Encoding", V); }
  String AcceptLanguage() const { return FCustomHeaders.GetHaderItem(u"Accept-Language"); }
  void SetAcceptLanguage(StringView V) { FCustomHeaders.SetHaderItem(u"Accept-Language", V); }
  String ContentType() const { return FCustomHeaders.GetHaderItem(u"Content-Type"); }
  void SetContentType(StringView V) { FCustomHeaders.SetHaderItem(u"Content-Type", V); }
  String UserAgent() const { return FCustomHeaders.GetHaderItem(u"User-Agent"); }
  void SetUserAgent(StringView V) { FCustomHeaders.SetHaderItem(u"User-Agent", V); }

  THttpHeaders& CustomHeaders() { return FCustomHeaders; }
  TCredentialsStorage& CredentialsStorage() { return FCredentialsStorage; }
  TCookieManager& CookieMgr() { return *FCookieMgr; }
  TCertificateList& CertificateList() { return FCertificateList; }

 private:
  friend class THttpRequest;
  friend class THttpResponse;
  THttpResult RunVerb(StringView AVerb, StringView AURL, TStream* ASource,
                      TStream* AResponseContent, const THttpHeaders* AHeaders);
  THttpResult DoSendString(StringView AVerb, StringView AURL, StringView ASource,
                           THttpCharsetType ACharset, TStream* AResponseContent,
                           const THttpHeaders* AHeaders);
  std::shared_ptr<THttpResponse> ExecuteWithHeaders(const std::shared_ptr<THttpRequest>& ARequest,
                                                    const THttpHeaders* AHeaders,
                                                    TStream* AResponseContent);
  void DoRequestError(const String& AError, THttpFailureCause ACause = THttpFailureCause::Other);
  void DoRequestCompleted(const THttpResult& AResult);
  void ApplyProxy(THttpRequest& ARequest);
  bool PrepareServerCredential(THttpRequest& ARequest, THttpResponse* AResponse, THTTPState& S);
  bool PrepareProxyCredential(THttpRequest& ARequest, THttpResponse* AResponse, THTTPState& S);
  bool ApplyCredential(TAuthTargetType ATarget, THttpRequest& ARequest, const TCredential& C);
  void StoreResponseCookies(THttpRequest& ARequest, THttpResponse& AResponse);

  bool FAllowCookies = true;
  bool FHandleRedirects = true;
  bool FAutoDecodeStr = true;
  int32_t FConnectionTimeOut = 30000;
  int32_t FRecvTimeOut = 0;
  int32_t FMaxRedirects = 5;
  bool FStatusOnly = false;
  bool FRefusePrivateRedirects = false;
  bool FAcceptAnyCertificate = false;
  const std::atomic<bool>* FCancelFlag = nullptr;
  int64_t FMaxContentSize = 64 * 1024 * 1024;
  int64_t FMaxInflateSize = 64 * 1024 * 1024;
  THttpHeaders FCustomHeaders;
  TCredentialsStorage FCredentialsStorage;
  TProxySettings FProxySettings;
  std::shared_ptr<TCookieManager> FCookieMgr;
  THttpCharsetType FDefautlCharset = hct_UTF8;
  std::shared_ptr<THttpSession> FWSession;
  TCertificateList FCertificateList;
};
