// The HTTP transport under the client: sessions, connections and requests on
// libcurl, driven synchronously. The body is pulled chunk by chunk; curl
// follows no redirect, keeps no cookie and decodes no content of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "http/KivHttpException.h"
#include "support/KivTypes.h"

typedef void CURLM;
typedef void CURL;
struct sockaddr;
struct curl_sockaddr;

// Error codes: curl's own codes (below 1000) and these of the transport.
enum : int32_t {
  ERROR_TRANSPORT_HEADER_NOT_FOUND = 12150,
  ERROR_TRANSPORT_INVALID_STATE = 12019,
  ERROR_TRANSPORT_INVALID_PARAMETER = 12004,
};

// The HTTP status codes the client and the transport act on.
enum : int32_t {
  HTTP_STATUS_OK = 200,
  HTTP_STATUS_PARTIAL_CONTENT = 206,
  HTTP_STATUS_DENIED = 401,
  HTTP_STATUS_PROXY_AUTH_REQ = 407,
};

// How a failed send or receive is told apart by the client.
enum class TTransportFailure { None, ServerCertificate, ClientCertificate, Other };

// Header-adding flags.
enum : uint32_t {
  ADDREQ_FLAG_ADD = 0x20000000,
  ADDREQ_FLAG_COALESCE_WITH_COMMA = 0x40000000,
  ADDREQ_FLAG_REPLACE = 0x80000000,
};

// Authentication schemes and targets.
enum : uint32_t {
  AUTH_SCHEME_BASIC = 0x1,
  AUTH_SCHEME_NTLM = 0x2,
  AUTH_SCHEME_PASSPORT = 0x4,
  AUTH_SCHEME_DIGEST = 0x8,
  AUTH_SCHEME_NEGOTIATE = 0x10,
};
enum : uint32_t { AUTH_TARGET_SERVER = 0, AUTH_TARGET_PROXY = 1 };

enum class TQueryInfo {
  StatusCode,
  Version,
  RawHeadersCRLF,
  Custom,               // the response header Name
  RequestRawHeaders,    // the request's own headers
  RequestCustom,        // one request header Name
};

struct TProxyInfo {
  String Proxy;   // proxy URL, empty = direct
  String Bypass;  // comma-separated host list
};

// Must run once before any session exists (module start-up).
void InitHttpTransport();

// Loopback, private and link-local addresses: 0/8, 10/8, 127/8, 169.254/16,
// 172.16/12, 192.168/16, ::, ::1, fc00::/7, fe80::/10 (and IPv4 mapped into IPv6).
bool IsPrivateAddress(const struct sockaddr* Address);
// A host written as such an address (the numeric forms curl reads too, e.g.
// "127.1"); false for names.
bool IsPrivateHost(StringView Host);
// "localhost" and the names below it.
bool IsLocalHostName(StringView Host);
// "(%d) %s" pieces: curl's message for a code.
String TransportErrorText(int32_t Code);

class THttpSession {
 public:
  THttpSession();  // throws Exception when curl cannot make a handle
  ~THttpSession();
  THttpSession(const THttpSession&) = delete;
  THttpSession& operator=(const THttpSession&) = delete;
  CURLM* Multi() const { return FMulti; }
  // Easy handles are reused across the requests of a session (they keep their
  // buffers and caches); a handle comes back reset.
  CURL* TakeEasy();
  void ReturnEasy(CURL* Easy);

  // The environment's proxy for a URL (http_proxy, https_proxy, all_proxy, no_proxy).
  static TProxyInfo SystemProxyForURL(StringView Scheme);

 private:
  CURLM* FMulti = nullptr;
  std::mutex FIdleLock;
  std::vector<CURL*> FIdle;
};

class THttpConnection {
 public:
  // Shares the session, so that a request kept by a caller outlives its client safely.
  THttpConnection(std::shared_ptr<THttpSession> Session, String Host, uint16_t Port)
      : FSession(std::move(Session)), FHost(std::move(Host)), FPort(Port) {}
  THttpSession& Session() const { return *FSession; }
  const String& Host() const { return FHost; }
  uint16_t Port() const { return FPort; }

 private:
  std::shared_ptr<THttpSession> FSession;
  String FHost;
  uint16_t FPort;
};

class THttpTransportRequest {
 public:
  // Scheme must be http or https; anything else fails with CURLE_UNSUPPORTED_PROTOCOL.
  THttpTransportRequest(THttpConnection& Connection, String Verb, String ObjectName,
                        String Scheme);
  ~THttpTransportRequest();
  THttpTransportRequest(const THttpTransportRequest&) = delete;
  THttpTransportRequest& operator=(const THttpTransportRequest&) = delete;

  // Open failed (e.g. unsupported scheme): LastError tells why.
  bool IsValid() const { return FEasy != nullptr && FOpenError == 0; }

  // 'Name: value' with ADD|REPLACE or COALESCE_WITH_COMMA; 'Name:' with REPLACE removes.
  bool AddRequestHeaders(StringView Header, uint32_t Flags);
  // The transport never follows redirects nor keeps cookies: nothing to switch off.
  void DisableRedirectsAndCookies() {}
  void SetProxy(StringView ProxyList, StringView Bypass);
  // Milliseconds, 0 = none; resolve and send are covered by connect and receive.
  void SetTimeouts(int32_t Resolve, int32_t Connect, int32_t Send, int32_t Receive);
  bool SetCredentials(uint32_t Target, uint32_t Scheme, StringView User, StringView Password);
  // Sends refuse a loopback, private or link-local peer: the address the host
  // resolves to is checked before the socket connects (a fresh connection, so
  // that none reused from an earlier request slips by). Through a proxy only
  // the host's text can be checked. A refused send fails with
  // CURLE_COULDNT_CONNECT and RefusedPrivateAddress() is set.
  void SetRefusePrivateAddresses(bool V) { FRefusePrivate = V; }
  // Any server certificate is taken; CertificateUntrusted() then tells
  // whether it would have failed verification.
  void SetAcceptAnyCertificate(bool V) { FAcceptAnyCertificate = V; }
  bool CertificateUntrusted() const;
  bool RefusedPrivateAddress() const { return FRefusedPrivate; }
  // Once the flag is set, a send or receive in progress ends within a poll
  // step (100 ms) with CURLE_ABORTED_BY_CALLBACK, whether or not bytes flow.
  void SetCancelFlag(const std::atomic<bool>* V) { FCancel = V; }

  bool SendRequest(int64_t TotalLength);
  bool WriteData(const void* Buffer, int64_t Count, int64_t& Written);
  bool ReceiveResponse();
  // False with ERROR_TRANSPORT_HEADER_NOT_FOUND when absent.
  bool QueryHeaders(TQueryInfo Info, StringView Name, String& Value);
  bool QueryDataAvailable(int64_t& Available);
  bool ReadData(void* Buffer, int64_t Count, int64_t& Read);
  bool QueryAuthSchemes(uint32_t& Supported, uint32_t& First, uint32_t& Target);
  // Stops the transfer (the rest of the body is not downloaded).
  void EndTransfer();

  int32_t LastError() const { return FLastError; }
  String LastErrorText() const;
  TTransportFailure LastFailure() const;
  // The last failure's cause as the client reports it.
  THttpFailureCause LastCause() const;

  // Curl callbacks.
  size_t OnHeader(const char* Data, size_t Size);
  size_t OnWrite(const char* Data, size_t Size);
  size_t OnRead(char* Buffer, size_t Size);
  int OnOpenSocket(int Purpose, struct curl_sockaddr* Address);

 private:
  using Clock = std::chrono::steady_clock;
  bool Fail(int32_t Code, std::string Detail = {});
  bool Drive(bool (THttpTransportRequest::*Until)() const);
  bool HeadersDone() const { return FHeadersDone || FDone; }
  bool DataReady() const { return FBodyPos < FBody.size() || FDone; }
  bool UploadTaken() const { return FUploadPos >= FUpload.size() || FDone; }
  bool HeadersOrUploadWanted() const { return HeadersDone() || FWantUpload; }
  std::vector<std::pair<String, String>>::iterator FindHeader(StringView Name);

  THttpConnection& FConnection;
  CURL* FEasy = nullptr;
  struct curl_slist* FHeaderList = nullptr;
  bool FInMulti = false;
  bool FSent = false;
  bool FDone = false;
  int32_t FDoneCode = 0;
  int32_t FOpenError = 0;
  int32_t FLastError = 0;
  std::string FErrorDetail;
  char FErrorBuffer[256] = {};

  String FVerb, FObject, FScheme;
  std::vector<std::pair<String, String>> FRequestHeaders;
  std::string FProxy, FBypass;
  bool FProxySet = false;
  int32_t FConnectTimeout = 0;
  int32_t FReceiveTimeout = 0;
  std::string FUser, FPassword, FProxyUser, FProxyPassword;
  uint32_t FServerScheme = 0, FProxyScheme = 0;
  bool FRefusePrivate = false;
  bool FAcceptAnyCertificate = false;
  bool FRefusedPrivate = false;
  const std::atomic<bool>* FCancel = nullptr;

  // Upload.
  int64_t FTotalLength = 0;
  int64_t FUploaded = 0;
  std::string FUpload;
  size_t FUploadPos = 0;
  bool FWantUpload = false;
  bool FReadPaused = false;

  // Response.
  std::vector<std::string> FHeaderLines;  // of the current answer, status line first
  size_t FHeaderBytes = 0;                // of every answer of this send
  bool FAtBlockStart = true;              // the next header line opens a block
  bool FHeadersDone = false;
  int32_t FStatus = 0;
  std::string FBody;
  size_t FBodyPos = 0;
  bool FWritePaused = false;
  int64_t FReceived = 0;

  // Time spent waiting inside the transport since the request went out, and
  // the bytes moved and time waited when bytes last moved.
  int64_t FWaitedMs = 0;
  int64_t FMovedAtLastWait = 0;
  int64_t FWaitedAtLastMove = 0;
};
