#include "http/transport/KivHttpTransport.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "support/KivNetStr.h"
#include "support/KivStr.h"

namespace {

// Bytes kept between the socket and the caller before curl is paused.
constexpr size_t kMaxBuffered = 256 * 1024;
// Header block of one answer; beyond it the answer is refused.
constexpr size_t kMaxHeaderBytes = 1024 * 1024;
// A response slower than this, once the receive time-out is used up, is ended.
constexpr int64_t kMinBytesPerSecond = 1024;

std::once_flag GCurlInit;

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

bool SameText16(StringView a, StringView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// Header bytes: UTF-8 when valid, otherwise one character per byte.
String HeaderText(std::string_view b) {
  if (b.empty()) return String();
  String s = UTF8BytesToString(b.data(), int64_t(b.size()));
  if (!s.empty()) return s;
  s.reserve(b.size());
  for (unsigned char c : b) s += char16_t(c);
  return s;
}

// Header text for the wire: CR, LF and NUL would start a header of their own.
std::string WireText(StringView s) {
  std::string b = ToUtf8(s);
  for (char& c : b)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return b;
}

// Object path for the URL: controls, blanks and non-ASCII bytes escaped.
std::string WirePath(StringView s) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string b = ToUtf8(s), r;
  for (unsigned char c : b) {
    if (c <= 0x20 || c >= 0x7F) {
      r += '%';
      r += Hex[c >> 4];
      r += Hex[c & 15];
    } else {
      r += char(c);
    }
  }
  return r;
}

long CurlAuthOf(uint32_t Scheme) {
  switch (Scheme) {
    case AUTH_SCHEME_BASIC: return CURLAUTH_BASIC;
    case AUTH_SCHEME_DIGEST: return CURLAUTH_DIGEST;
    case AUTH_SCHEME_NTLM: return CURLAUTH_NTLM;
    case AUTH_SCHEME_NEGOTIATE: return CURLAUTH_NEGOTIATE;
    default: return 0;
  }
}

uint32_t SchemeOfName(std::string_view Name) {
  if (SameAscii(Name, "basic")) return AUTH_SCHEME_BASIC;
  if (SameAscii(Name, "digest")) return AUTH_SCHEME_DIGEST;
  if (SameAscii(Name, "ntlm")) return AUTH_SCHEME_NTLM;
  if (SameAscii(Name, "negotiate")) return AUTH_SCHEME_NEGOTIATE;
  if (SameAscii(Name, "passport1.4")) return AUTH_SCHEME_PASSPORT;
  return 0;
}

size_t HeaderCallback(char* Data, size_t Size, size_t N, void* User) {
  return static_cast<THttpTransportRequest*>(User)->OnHeader(Data, Size * N);
}
size_t WriteCallback(char* Data, size_t Size, size_t N, void* User) {
  return static_cast<THttpTransportRequest*>(User)->OnWrite(Data, Size * N);
}
size_t ReadCallback(char* Buffer, size_t Size, size_t N, void* User) {
  return static_cast<THttpTransportRequest*>(User)->OnRead(Buffer, Size * N);
}

curl_socket_t OpenSocketCallback(void* User, curlsocktype Purpose, struct curl_sockaddr* Address) {
  return static_cast<THttpTransportRequest*>(User)->OnOpenSocket(int(Purpose), Address);
}

bool PrivateV4(uint32_t HostOrder) {
  const uint32_t a = HostOrder;
  return (a >> 24) == 0 || (a >> 24) == 10 || (a >> 24) == 127 || (a >> 16) == 0xA9FE ||
         (a >> 20) == 0xAC1 || (a >> 16) == 0xC0A8;
}

bool PrivateV6(const in6_addr& A) {
  const uint8_t* b = A.s6_addr;
  static const uint8_t kZero[16] = {};
  if (std::memcmp(b, kZero, 15) == 0 && (b[15] == 0 || b[15] == 1)) return true;  // :: and ::1
  if ((b[0] & 0xFE) == 0xFC) return true;                                      // fc00::/7
  if (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) return true;                      // fe80::/10
  static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (std::memcmp(b, kMapped, 12) == 0)
    return PrivateV4(uint32_t(b[12]) << 24 | uint32_t(b[13]) << 16 | uint32_t(b[14]) << 8 | b[15]);
  return false;
}

// The host as the socket layer would see it: no brackets, no zone, no final dot.
std::string BareHost(StringView Host) {
  std::string h = ToUtf8(Host);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  if (size_t zone = h.find('%'); zone != std::string::npos) h.resize(zone);
  while (!h.empty() && h.back() == '.') h.pop_back();
  for (char& c : h) c = char(std::tolower(static_cast<unsigned char>(c)));
  return h;
}

// Whether the proxy's bypass list (curl's no_proxy form) sends Host direct;
// CIDR entries are not read.
bool ProxyBypassed(std::string_view Bypass, const std::string& Host) {
  size_t p = 0;
  while (p <= Bypass.size()) {
    size_t e = Bypass.find(',', p);
    std::string_view item = Bypass.substr(p, e == std::string_view::npos ? Bypass.npos : e - p);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item == "*") return true;
    if (!item.empty() && item.front() == '.') item.remove_prefix(1);
    if (!item.empty() && (SameAscii(item, Host) ||
                          (Host.size() > item.size() && Host[Host.size() - item.size() - 1] == '.' &&
                           SameAscii(std::string_view(Host).substr(Host.size() - item.size()), item))))
      return true;
    if (e == std::string_view::npos) break;
    p = e + 1;
  }
  return false;
}

const char* GetEnvEither(const char* Lower, const char* Upper) {
  const char* v = std::getenv(Lower);
  if (v && *v) return v;
  v = std::getenv(Upper);
  return (v && *v) ? v : nullptr;
}

}  // namespace

void InitHttpTransport() {
  std::call_once(GCurlInit, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

bool IsPrivateAddress(const struct sockaddr* Address) {
  if (!Address) return false;
  if (Address->sa_family == AF_INET)
    return PrivateV4(ntohl(reinterpret_cast<const sockaddr_in*>(Address)->sin_addr.s_addr));
  if (Address->sa_family == AF_INET6)
    return PrivateV6(reinterpret_cast<const sockaddr_in6*>(Address)->sin6_addr);
  return false;
}

bool IsPrivateHost(StringView Host) {
  const std::string h = BareHost(Host);
  if (h.empty()) return false;
  in6_addr a6{};
  if (h.find(':') != std::string::npos) return inet_pton(AF_INET6, h.c_str(), &a6) == 1 && PrivateV6(a6);
  // inet_aton takes the short and numeric forms ("127.1", "2130706433", "0x7f.1").
  in_addr a4{};
  return inet_aton(h.c_str(), &a4) != 0 && PrivateV4(ntohl(a4.s_addr));
}

bool IsLocalHostName(StringView Host) {
  const std::string h = BareHost(Host);
  return h == "localhost" || (h.size() > 10 && h.compare(h.size() - 10, 10, ".localhost") == 0);
}

String TransportErrorText(int32_t Code) {
  switch (Code) {
    case ERROR_TRANSPORT_HEADER_NOT_FOUND: return u"The requested header could not be located";
    case ERROR_TRANSPORT_INVALID_STATE: return u"The operation is not valid in the current state";
    case ERROR_TRANSPORT_INVALID_PARAMETER: return u"The parameter is incorrect";
    default: return FromUtf8(curl_easy_strerror(static_cast<CURLcode>(Code)));
  }
}

// ---------------------------------------------------------------- session

THttpSession::THttpSession() {
  InitHttpTransport();
  FMulti = curl_multi_init();
  if (!FMulti) throw Exception(u"curl_multi_init failed");
}

THttpSession::~THttpSession() {
  for (CURL* e : FIdle) curl_easy_cleanup(e);
  curl_multi_cleanup(FMulti);
}

CURL* THttpSession::TakeEasy() {
  {
    std::lock_guard<std::mutex> lock(FIdleLock);
    if (!FIdle.empty()) {
      CURL* e = FIdle.back();
      FIdle.pop_back();
      return e;
    }
  }
  return curl_easy_init();
}

void THttpSession::ReturnEasy(CURL* Easy) {
  curl_easy_reset(Easy);
  std::lock_guard<std::mutex> lock(FIdleLock);
  if (FIdle.size() < 4) {
    FIdle.push_back(Easy);
    return;
  }
  curl_easy_cleanup(Easy);
}

TProxyInfo THttpSession::SystemProxyForURL(StringView Scheme) {
  TProxyInfo info;
  const char* proxy = nullptr;
  if (SameText16(Scheme, u"https"))
    proxy = GetEnvEither("https_proxy", "HTTPS_PROXY");
  else if (SameText16(Scheme, u"http"))
    proxy = GetEnvEither("http_proxy", "HTTP_PROXY");
  if (!proxy) proxy = GetEnvEither("all_proxy", "ALL_PROXY");
  if (proxy) info.Proxy = FromUtf8(proxy);
  if (const char* bypass = GetEnvEither("no_proxy", "NO_PROXY")) info.Bypass = FromUtf8(bypass);
  return info;
}

// ---------------------------------------------------------------- request

THttpTransportRequest::THttpTransportRequest(THttpConnection& Connection, String Verb,
                                             String ObjectName, String Scheme)
    : FConnection(Connection),
      FVerb(std::move(Verb)),
      FObject(std::move(ObjectName)),
      FScheme(std::move(Scheme)) {
  if (!SameText16(FScheme, u"http") && !SameText16(FScheme, u"https")) {
    FOpenError = FLastError = CURLE_UNSUPPORTED_PROTOCOL;
    FErrorDetail = "only http and https are requested";
    return;
  }
  if (FConnection.Host().empty()) {
    FOpenError = FLastError = CURLE_URL_MALFORMAT;
    return;
  }
  FEasy = FConnection.Session().TakeEasy();
  if (!FEasy) FOpenError = FLastError = CURLE_OUT_OF_MEMORY;
}

THttpTransportRequest::~THttpTransportRequest() {
  EndTransfer();
  if (FHeaderList) curl_slist_free_all(FHeaderList);
  if (FEasy) FConnection.Session().ReturnEasy(FEasy);
}

bool THttpTransportRequest::Fail(int32_t Code, std::string Detail) {
  FLastError = Code;
  if (!Detail.empty() || Code != FDoneCode) FErrorDetail = std::move(Detail);
  return false;
}

String THttpTransportRequest::LastErrorText() const {
  String text = TransportErrorText(FLastError);
  std::string detail = FErrorDetail.empty() ? std::string(FErrorBuffer) : FErrorDetail;
  while (!detail.empty() && (unsigned char)detail.back() < 33) detail.pop_back();
  if (!detail.empty()) text += u": " + FromUtf8(detail);
  return text;
}

TTransportFailure THttpTransportRequest::LastFailure() const {
  switch (FLastError) {
    case 0:
      return TTransportFailure::None;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return TTransportFailure::ServerCertificate;
    case CURLE_SSL_CERTPROBLEM:
      return TTransportFailure::ClientCertificate;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_RECV_ERROR: {
      // OpenSSL names the server's demand for a certificate in its alert.
      std::string detail(FErrorBuffer);
      if (detail.find("certificate required") != std::string::npos ||
          detail.find("alert bad certificate") != std::string::npos)
        return TTransportFailure::ClientCertificate;
      return TTransportFailure::Other;
    }
    default:
      return TTransportFailure::Other;
  }
}

THttpFailureCause THttpTransportRequest::LastCause() const {
  switch (FLastError) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return THttpFailureCause::Dns;
    case CURLE_COULDNT_CONNECT:
      return THttpFailureCause::Refused;
    case CURLE_OPERATION_TIMEDOUT:
      return THttpFailureCause::Timeout;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
      return THttpFailureCause::Reset;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
      return THttpFailureCause::TlsHandshake;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return THttpFailureCause::UnsupportedProtocol;
    default:
      return THttpFailureCause::Other;
  }
}

bool THttpTransportRequest::CertificateUntrusted() const {
  if (!FEasy || !FSent || !SameText16(FScheme, u"https")) return false;
  long result = 0;
  return curl_easy_getinfo(FEasy, CURLINFO_SSL_VERIFYRESULT, &result) == CURLE_OK && result != 0;
}

std::vector<std::pair<String, String>>::iterator THttpTransportRequest::FindHeader(
    StringView Name) {
  return std::find_if(FRequestHeaders.begin(), FRequestHeaders.end(),
                      [&](const auto& h) { return SameText16(h.first, Name); });
}

bool THttpTransportRequest::AddRequestHeaders(StringView Header, uint32_t Flags) {
  size_t colon = Header.find(u':');
  if (colon == StringView::npos || colon == 0) return Fail(ERROR_TRANSPORT_INVALID_PARAMETER);
  String name(Header.substr(0, colon));
  size_t v = colon + 1;
  while (v < Header.size() && (Header[v] == u' ' || Header[v] == u'\t')) ++v;
  String value(Header.substr(v));
  while (!value.empty() && (value.back() == u'\r' || value.back() == u'\n')) value.pop_back();
  auto it = FindHeader(name);
  if (Flags & ADDREQ_FLAG_COALESCE_WITH_COMMA) {
    if (it != FRequestHeaders.end())
      it->second += u", " + value;
    else
      FRequestHeaders.emplace_back(std::move(name), std::move(value));
    return true;
  }
  if (Flags & ADDREQ_FLAG_REPLACE) {
    if (value.empty()) {
      if (it != FRequestHeaders.end()) FRequestHeaders.erase(it);
      return true;
    }
    if (it != FRequestHeaders.end()) {
      it->second = std::move(value);
      return true;
    }
    if (!(Flags & ADDREQ_FLAG_ADD)) return Fail(ERROR_TRANSPORT_HEADER_NOT_FOUND);
  }
  FRequestHeaders.emplace_back(std::move(name), std::move(value));
  return true;
}

void THttpTransportRequest::SetProxy(StringView ProxyList, StringView Bypass) {
  FProxy = ToUtf8(ProxyList);
  FBypass = ToUtf8(Bypass);
  FProxySet = true;
}

void THttpTransportRequest::SetTimeouts(int32_t, int32_t Connect, int32_t, int32_t Receive) {
  FConnectTimeout = std::max(Connect, 0);
  FReceiveTimeout = std::max(Receive, 0);
}

bool THttpTransportRequest::SetCredentials(uint32_t Target, uint32_t Scheme, StringView User,
                                           StringView Password) {
  if (CurlAuthOf(Scheme) == 0) return Fail(ERROR_TRANSPORT_INVALID_PARAMETER);
  if (Target == AUTH_TARGET_PROXY) {
    FProxyUser = ToUtf8(User);
    FProxyPassword = ToUtf8(Password);
    FProxyScheme = Scheme;
  } else {
    FUser = ToUtf8(User);
    FPassword = ToUtf8(Password);
    FServerScheme = Scheme;
  }
  return true;
}

bool THttpTransportRequest::SendRequest(int64_t TotalLength) {
  if (!IsValid()) return Fail(FOpenError);
  EndTransfer();
  // A handle from the session comes reset; only a second send needs it.
  if (FSent) curl_easy_reset(FEasy);
  FSent = true;
  FDone = false;
  FDoneCode = 0;
  FLastError = 0;
  FErrorDetail.clear();
  FErrorBuffer[0] = 0;
  FTotalLength = std::max<int64_t>(TotalLength, 0);
  FUploaded = 0;
  FUpload.clear();
  FUploadPos = 0;
  FWantUpload = FReadPaused = false;
  FHeaderLines.clear();
  FHeaderBytes = 0;
  FAtBlockStart = true;
  FHeadersDone = false;
  FStatus = 0;
  FBody.clear();
  FBodyPos = 0;
  FWritePaused = false;
  FReceived = 0;
  FWaitedMs = 0;
  FMovedAtLastWait = 0;
  FWaitedAtLastMove = 0;
  FRefusedPrivate = false;

  // Through a proxy the peer is the proxy: only the host's text tells.
  bool checkPeer = false;
  if (FRefusePrivate) {
    const std::string bare = BareHost(FConnection.Host());
    const bool proxied = FProxySet && !FProxy.empty() && !ProxyBypassed(FBypass, bare);
    if (IsPrivateHost(FConnection.Host()) || (proxied && IsLocalHostName(FConnection.Host()))) {
      FRefusedPrivate = true;
      return Fail(CURLE_COULDNT_CONNECT, "refused to connect to the private address " + bare);
    }
    checkPeer = !proxied;
  }

  String host = FConnection.Host();
  if (host.find(u':') != String::npos) host = u"[" + host + u"]";
  std::string url = ToUtf8(LowerCaseAscii(FScheme)) + "://" + ToUtf8(host) + ":" +
                    std::to_string(FConnection.Port()) + WirePath(FObject);
  std::string verb = ToUtf8(FVerb);

  CURL* e = FEasy;
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, FErrorBuffer);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, HeaderCallback);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, WriteCallback);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  if (FAcceptAnyCertificate) {
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  // An empty proxy also keeps curl from reading the environment on its own.
  curl_easy_setopt(e, CURLOPT_PROXY, FProxySet ? FProxy.c_str() : "");
  if (FProxySet && !FBypass.empty()) curl_easy_setopt(e, CURLOPT_NOPROXY, FBypass.c_str());
  if (FConnectTimeout > 0) curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(FConnectTimeout));
  if (checkPeer) {
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, OpenSocketCallback);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
  }

  const bool hasBody = FTotalLength > 0 || verb == "POST" || verb == "PUT";
  if (verb == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else if (hasBody) {
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, curl_off_t(FTotalLength));
    curl_easy_setopt(e, CURLOPT_READFUNCTION, ReadCallback);
    curl_easy_setopt(e, CURLOPT_READDATA, this);
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb.c_str());
  } else {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    if (verb != "GET") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb.c_str());
  }

  if (FHeaderList) curl_slist_free_all(FHeaderList);
  FHeaderList = nullptr;
  for (const auto& [name, value] : FRequestHeaders) {
    std::string line = WireText(name);
    line += value.empty() ? ";" : ": " + WireText(value);
    FHeaderList = curl_slist_append(FHeaderList, line.c_str());
  }
  if (hasBody) FHeaderList = curl_slist_append(FHeaderList, "Expect:");
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, FHeaderList);

  if (!FUser.empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, FUser.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, FPassword.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, CurlAuthOf(FServerScheme));
  }
  if (!FProxyUser.empty()) {
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, FProxyUser.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, FProxyPassword.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYAUTH, CurlAuthOf(FProxyScheme));
  }

  if (curl_multi_add_handle(FConnection.Session().Multi(), e) != CURLM_OK)
    return Fail(ERROR_TRANSPORT_INVALID_STATE);
  FInMulti = true;
  // Returns once the body is wanted, or the answer's headers are in.
  if (!Drive(&THttpTransportRequest::HeadersOrUploadWanted)) return false;
  // With the answer's headers in, a later failure belongs to the body.
  if (FDone && FDoneCode != 0 && !FHeadersDone) return Fail(FDoneCode);
  return true;
}

bool THttpTransportRequest::WriteData(const void* Buffer, int64_t Count, int64_t& Written) {
  Written = 0;
  if (!FInMulti && !FDone) return Fail(ERROR_TRANSPORT_INVALID_STATE);
  if (FDone || FHeadersDone) {
    // The server has answered already; the rest of the body has nowhere to go.
    if (FDone && FDoneCode != 0) return Fail(FDoneCode);
    Written = Count;
    return true;
  }
  FUpload.assign(static_cast<const char*>(Buffer), size_t(Count));
  FUploadPos = 0;
  FWantUpload = false;
  if (FReadPaused) {
    FReadPaused = false;
    curl_easy_pause(FEasy, CURLPAUSE_CONT);
  }
  bool ok = Drive(&THttpTransportRequest::UploadTaken);
  Written = FDone ? Count : int64_t(FUploadPos);
  FUploaded += Written;
  if (!ok) return false;
  if (FDone && FDoneCode != 0) return Fail(FDoneCode);
  return true;
}

bool THttpTransportRequest::ReceiveResponse() {
  if (!FInMulti && !FDone) return Fail(ERROR_TRANSPORT_INVALID_STATE);
  if (!Drive(&THttpTransportRequest::HeadersDone)) return false;
  if (FDone && FDoneCode != 0 && !FHeadersDone) return Fail(FDoneCode);
  if (FHeaderLines.empty()) return Fail(CURLE_GOT_NOTHING);
  FHeadersDone = true;
  return true;
}

size_t THttpTransportRequest::OnRead(char* Buffer, size_t Size) {
  if (FUploadPos < FUpload.size()) {
    size_t n = std::min(Size, FUpload.size() - FUploadPos);
    std::memcpy(Buffer, FUpload.data() + FUploadPos, n);
    FUploadPos += n;
    return n;
  }
  if (FUploaded + int64_t(FUpload.size()) >= FTotalLength) return 0;
  FWantUpload = true;
  FReadPaused = true;
  return CURL_READFUNC_PAUSE;
}

int THttpTransportRequest::OnOpenSocket(int Purpose, struct curl_sockaddr* Address) {
  if (Purpose == CURLSOCKTYPE_IPCXN && IsPrivateAddress(&Address->addr)) {
    char text[INET6_ADDRSTRLEN] = "?";
    const void* a = Address->family == AF_INET6
                        ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&Address->addr)->sin6_addr)
                        : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&Address->addr)->sin_addr);
    inet_ntop(Address->family, a, text, sizeof text);
    FRefusedPrivate = true;
    FErrorDetail = "refused to connect to the private address " + std::string(text);
    return CURL_SOCKET_BAD;  // curl tries the host's next address, if any
  }
  return ::socket(Address->family, Address->socktype | SOCK_CLOEXEC, Address->protocol);
}

size_t THttpTransportRequest::OnHeader(const char* Data, size_t Size) {
  FHeaderBytes += Size;
  if (FHeaderBytes > kMaxHeaderBytes) {
    FErrorDetail = "the answer's header block exceeds " + std::to_string(kMaxHeaderBytes) + " bytes";
    return 0;  // curl ends the transfer with a write error
  }
  std::string_view line(Data, Size);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  // Only the first line of a block is a status line: a header named "HTTP/x"
  // must not pass for one. A block follows another only after a finished 1xx
  // block or a challenge that curl answers itself.
  const bool blockStart = FAtBlockStart;
  FAtBlockStart = false;
  if (blockStart && line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
    // The new answer replaces the last.
    FHeaderLines.assign(1, std::string(line));
    FHeadersDone = false;
    FStatus = 0;
    size_t sp = line.find(' ');
    if (sp != std::string_view::npos) {
      int v = 0;
      for (size_t i = sp + 1; i < line.size() && line[i] >= '0' && line[i] <= '9' && v < 1000; ++i)
        v = v * 10 + (line[i] - '0');
      FStatus = v;
    }
    return Size;
  }
  if (line.empty()) {
    // curl repeats a challenged request itself for schemes that need a round trip.
    bool curlRetries =
        (FStatus == HTTP_STATUS_DENIED && !FUser.empty() && FServerScheme != AUTH_SCHEME_BASIC) ||
        (FStatus == HTTP_STATUS_PROXY_AUTH_REQ && !FProxyUser.empty() && FProxyScheme != AUTH_SCHEME_BASIC);
    if (FStatus >= 200 && !curlRetries)
      FHeadersDone = true;
    else
      FAtBlockStart = true;
    return Size;
  }
  if ((line[0] == ' ' || line[0] == '\t') && FHeaderLines.size() > 1)
    FHeaderLines.back() += std::string(line);
  else
    FHeaderLines.emplace_back(line);
  return Size;
}

size_t THttpTransportRequest::OnWrite(const char* Data, size_t Size) {
  FHeadersDone = true;
  if (FBody.size() - FBodyPos >= kMaxBuffered) {
    FWritePaused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (FBodyPos == FBody.size()) {
    FBody.clear();
    FBodyPos = 0;
  }
  FBody.append(Data, Size);
  FReceived += int64_t(Size);
  return Size;
}

bool THttpTransportRequest::Drive(bool (THttpTransportRequest::*Until)() const) {
  CURLM* multi = FConnection.Session().Multi();
  while (!(this->*Until)() && !FDone) {
    if (FCancel && FCancel->load(std::memory_order_relaxed)) {
      EndTransfer();
      FDone = true;
      FDoneCode = CURLE_ABORTED_BY_CALLBACK;
      return Fail(CURLE_ABORTED_BY_CALLBACK, "cancelled");
    }
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      EndTransfer();
      FDone = true;
      FDoneCode = CURLE_FAILED_INIT;
      return Fail(ERROR_TRANSPORT_INVALID_STATE);
    }
    int queued = 0;
    while (CURLMsg* m = curl_multi_info_read(multi, &queued)) {
      if (m->msg == CURLMSG_DONE && m->easy_handle == FEasy) {
        FDone = true;
        FDoneCode = m->data.result;
      }
    }
    if ((this->*Until)() || FDone) break;

    long wait = 100;
    long curlWait = -1;
    curl_multi_timeout(multi, &curlWait);
    if (curlWait >= 0) wait = std::min(wait, curlWait);
    curl_off_t pretransfer = 0;
    curl_easy_getinfo(FEasy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    const bool receiving = pretransfer > 0;
    if (receiving && FReceiveTimeout > 0) {
      // Two rules: no wait for the next bytes beyond the receive time-out, and
      // the whole wait within that time-out stretched by what has arrived at a
      // minimal speed. A stall or a trickle ends; a slow but real transfer does not.
      const int64_t moved = FReceived + FUploaded;
      if (moved != FMovedAtLastWait) {
        FMovedAtLastWait = moved;
        FWaitedAtLastMove = FWaitedMs;
      }
      int64_t budget = FReceiveTimeout + moved * 1000 / kMinBytesPerSecond;
      budget = std::min(budget, FWaitedAtLastMove + FReceiveTimeout);
      if (FWaitedMs >= budget) {
        EndTransfer();
        FDone = true;
        FDoneCode = CURLE_OPERATION_TIMEDOUT;
        return Fail(CURLE_OPERATION_TIMEDOUT,
                    "no answer within the receive time-out of " + std::to_string(FReceiveTimeout) +
                        " ms");
      }
      wait = std::min<long>(wait, long(budget - FWaitedMs));
    }
    auto t0 = Clock::now();
    curl_multi_poll(multi, nullptr, 0, int(std::max<long>(wait, 1)), nullptr);
    if (receiving)
      FWaitedMs += std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
  }
  return true;
}

bool THttpTransportRequest::QueryDataAvailable(int64_t& Available) {
  Available = 0;
  if (FBodyPos < FBody.size()) {
    Available = int64_t(FBody.size() - FBodyPos);
    return true;
  }
  if (!FInMulti && !FDone) return Fail(ERROR_TRANSPORT_INVALID_STATE);
  if (!FDone) {
    if (FWritePaused) {
      FWritePaused = false;
      curl_easy_pause(FEasy, CURLPAUSE_CONT);
    }
    if (!Drive(&THttpTransportRequest::DataReady)) return false;
  }
  if (FBodyPos < FBody.size()) {
    Available = int64_t(FBody.size() - FBodyPos);
    return true;
  }
  if (FDoneCode != 0) return Fail(FDoneCode);
  return true;
}

bool THttpTransportRequest::ReadData(void* Buffer, int64_t Count, int64_t& Read) {
  Read = 0;
  if (FBodyPos >= FBody.size()) {
    int64_t available = 0;
    if (!QueryDataAvailable(available)) return false;
  }
  size_t n = std::min<size_t>(size_t(std::max<int64_t>(Count, 0)), FBody.size() - FBodyPos);
  std::memcpy(Buffer, FBody.data() + FBodyPos, n);
  FBodyPos += n;
  Read = int64_t(n);
  return true;
}

void THttpTransportRequest::EndTransfer() {
  if (FInMulti) {
    curl_multi_remove_handle(FConnection.Session().Multi(), FEasy);
    FInMulti = false;
  }
}

bool THttpTransportRequest::QueryHeaders(TQueryInfo Info, StringView Name, String& Value) {
  Value.clear();
  auto responseNeeded = [this] { return !FHeaderLines.empty(); };
  switch (Info) {
    case TQueryInfo::StatusCode:
      if (!responseNeeded()) return Fail(ERROR_TRANSPORT_INVALID_STATE);
      Value = IntToStr(FStatus);
      return true;
    case TQueryInfo::Version: {
      if (!responseNeeded()) return Fail(ERROR_TRANSPORT_INVALID_STATE);
      const std::string& status = FHeaderLines[0];
      Value = HeaderText(std::string_view(status).substr(0, status.find(' ')));
      return true;
    }
    case TQueryInfo::RawHeadersCRLF: {
      if (!responseNeeded()) return Fail(ERROR_TRANSPORT_INVALID_STATE);
      std::string raw;
      for (const std::string& l : FHeaderLines) raw += l + "\r\n";
      Value = HeaderText(raw);
      return true;
    }
    case TQueryInfo::Custom: {
      if (!responseNeeded()) return Fail(ERROR_TRANSPORT_INVALID_STATE);
      std::string name = ToUtf8(Name);
      for (size_t i = 1; i < FHeaderLines.size(); ++i) {
        std::string_view l = FHeaderLines[i];
        size_t colon = l.find(':');
        if (colon == std::string_view::npos || !SameAscii(l.substr(0, colon), name)) continue;
        l.remove_prefix(colon + 1);
        while (!l.empty() && (l.front() == ' ' || l.front() == '\t')) l.remove_prefix(1);
        while (!l.empty() && (l.back() == ' ' || l.back() == '\t')) l.remove_suffix(1);
        Value = HeaderText(l);
        return true;
      }
      return Fail(ERROR_TRANSPORT_HEADER_NOT_FOUND);
    }
    case TQueryInfo::RequestRawHeaders: {
      Value = FVerb + u" " + FObject + u" HTTP/1.1\r\n";
      for (const auto& [n, v] : FRequestHeaders) Value += n + u": " + v + u"\r\n";
      return true;
    }
    case TQueryInfo::RequestCustom: {
      auto it = FindHeader(Name);
      if (it == FRequestHeaders.end()) return Fail(ERROR_TRANSPORT_HEADER_NOT_FOUND);
      Value = it->second;
      return true;
    }
  }
  return Fail(ERROR_TRANSPORT_INVALID_PARAMETER);
}

bool THttpTransportRequest::QueryAuthSchemes(uint32_t& Supported, uint32_t& First,
                                             uint32_t& Target) {
  Supported = First = 0;
  const char* header = nullptr;
  if (FStatus == HTTP_STATUS_DENIED) {
    header = "www-authenticate";
    Target = AUTH_TARGET_SERVER;
  } else if (FStatus == HTTP_STATUS_PROXY_AUTH_REQ) {
    header = "proxy-authenticate";
    Target = AUTH_TARGET_PROXY;
  } else {
    return Fail(ERROR_TRANSPORT_INVALID_STATE);
  }
  for (size_t i = 1; i < FHeaderLines.size(); ++i) {
    std::string_view l = FHeaderLines[i];
    size_t colon = l.find(':');
    if (colon == std::string_view::npos || !SameAscii(l.substr(0, colon), header)) continue;
    // Challenges may share a line: 'Negotiate, Basic realm="x"'.
    std::string_view rest = l.substr(colon + 1);
    size_t p = 0;
    while (p <= rest.size()) {
      size_t comma = rest.find(',', p);
      std::string_view part = rest.substr(p, comma == std::string_view::npos ? rest.npos : comma - p);
      while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
      std::string_view word = part.substr(0, part.find(' '));
      if (uint32_t s = SchemeOfName(word)) {
        if (!First) First = s;
        Supported |= s;
      }
      if (comma == std::string_view::npos) break;
      p = comma + 1;
    }
  }
  if (!Supported) return Fail(ERROR_TRANSPORT_HEADER_NOT_FOUND);
  return true;
}
