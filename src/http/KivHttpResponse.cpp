#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "http/KivHttpClient.h"
#include "support/KivNetStr.h"
#include "support/KivStr.h"

namespace {

constexpr int64_t kReadChunk = 65536;

// Inflates one or more gzip members; false (out untouched) when the data is
// broken or would inflate beyond Limit bytes.
bool GunzipBounded(const Bytes& In, Bytes& Out, int64_t Limit, String& Error) {
  z_stream zs{};
  if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) {
    Error = u"zlib: inflateInit2 failed";
    return false;
  }
  Bytes result;
  char buffer[65536];
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(In.data()));
  zs.avail_in = uInt(In.size());
  int rc = Z_OK;
  while (true) {
    zs.next_out = reinterpret_cast<Bytef*>(buffer);
    zs.avail_out = sizeof(buffer);
    rc = inflate(&zs, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    size_t produced = sizeof(buffer) - zs.avail_out;
    if (int64_t(result.size() + produced) > Limit) {
      inflateEnd(&zs);
      Error = Format(u"gzip: the body inflates beyond %d bytes", Limit);
      return false;
    }
    result.append(buffer, produced);
    if (rc == Z_STREAM_END) {
      // Another member may follow; anything else after the first is ignored.
      if (zs.avail_in >= 2 && zs.next_in[0] == 0x1F && zs.next_in[1] == 0x8B) {
        inflateReset(&zs);
        continue;
      }
      break;
    }
    if (zs.avail_in == 0 && produced == 0) {
      rc = Z_BUF_ERROR;
      break;
    }
  }
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) {
    Error = Format(u"gzip: %s", zs.msg ? zs.msg : (rc == Z_BUF_ERROR ? "unexpected end of data" : "invalid data"));
    return false;
  }
  Out = std::move(result);
  return true;
}

inline char LowerByte(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

}  // namespace

THttpResponse::THttpResponse(std::shared_ptr<THttpRequest> ARequest, TStream* AResponseStream)
    : FRequest(std::move(ARequest)), FStream(AResponseStream) {
  FLastStreamPos = FStream ? FStream->Position() : 0;
  THttpClient& client = FRequest->Client();
  FDefaultCharset = client.FDefautlCharset;
  FCharSet = FDefaultCharset;
  FAutoDecodeStr = client.FAutoDecodeStr;
  FMaxContentSize = client.FMaxContentSize;
  FMaxInflateSize = client.FMaxInflateSize;
  FCookieMgr = client.FCookieMgr;
}

void THttpResponse::ResetForPass() {
  FHeader.clear();
  FStatusCode = 0;
}

void THttpResponse::ClearContent() {
  FContentStream.SetSize(0);
  FContentStream.SetPosition(0);
}

String THttpResponse::Query(TQueryInfo Info) {
  String value;
  THttpTransportRequest& h = FRequest->Handle();
  if (!h.QueryHeaders(Info, u"", value)) {
    if (h.LastError() == ERROR_TRANSPORT_HEADER_NOT_FOUND) return String();
    throw EHTTPException(Format(u"Error querying headers: (%d) %s", h.LastError(), h.LastErrorText()));
  }
  return value;
}

int32_t THttpResponse::StatusCode() {
  if (FStatusCode == 0 && FRequest->FWRequest) {
    String text = Query(TQueryInfo::StatusCode);
    int32_t v = 0;
    bool ok = !text.empty() && text.size() <= 9;
    for (char16_t c : text) {
      if (c < u'0' || c > u'9') ok = false;
      else v = v * 10 + (c - u'0');
    }
    FStatusCode = ok ? v : 0;
  }
  return FStatusCode;
}

String THttpResponse::Header() {
  if (FHeader.empty() && FRequest->FWRequest) FHeader = Query(TQueryInfo::RawHeadersCRLF);
  return FHeader;
}

THttpProtocolVersion THttpResponse::Version() {
  String v = Query(TQueryInfo::Version);
  if (SameTextAscii(v, u"HTTP/1.0")) return hpv_HTTP_1_0;
  if (SameTextAscii(v, u"HTTP/1.1")) return hpv_HTTP_1_1;
  if (SameTextAscii(v, u"HTTP/2.0")) return hpv_HTTP_2_0;
  return hpv_UNKNOWN_HTTP;
}

String THttpResponse::FindHeaderValue(StringView Header, StringView Name, size_t& Cursor) {
  const size_t n = Header.size();
  if (Name.empty() || Cursor >= n) return String();
  size_t p = Cursor;
  while (true) {
    p = Header.find(Name, p);
    if (p == StringView::npos) {
      Cursor = n;
      return String();
    }
    bool lineStart = p == 0 || Header[p - 1] == u'\r' || Header[p - 1] == u'\n';
    size_t after = p + Name.size();
    if (lineStart && after < n && Header[after] == u':') {
      size_t v = after + 1;
      while (v < n && Header[v] == u' ') ++v;
      size_t e = v;
      while (e < n && Header[e] != u'\r' && Header[e] != u'\n') ++e;
      size_t end = e;
      while (end > v && Header[end - 1] == u' ') --end;
      Cursor = e;
      return String(Header.substr(v, end - v));
    }
    p += 1;
  }
}

String THttpResponse::GetHeaderValue(StringView Name) {
  String header = Header();
  size_t cursor = 0;
  return FindHeaderValue(header, Name, cursor);
}

int64_t THttpResponse::ContentLength() {
  String text = GetHeaderValue(u"Content-Length");
  if (text.empty() || text.size() > 18) return 0;
  int64_t v = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return 0;
    v = v * 10 + (c - u'0');
  }
  return v;
}

void THttpResponse::DoReceiveData(int32_t Status, bool& Abort, int64_t ReadCount,
                                  int64_t AContentLength) {
  if (Status >= 300) return;
  THttpClient& client = FRequest->Client();
  if (client.ReceiveDataCallBack)
    client.ReceiveDataCallBack(FRequest.get(), AContentLength, ReadCount, Abort);
  else if (client.OnReceiveData)
    client.OnReceiveData(FRequest.get(), AContentLength, ReadCount, Abort);
}

void THttpResponse::ReadContent(TStream& Stream) {
  int64_t expected = ContentLength();
  if (expected == 0) expected = -1;
  const int32_t status = StatusCode();
  bool abort = false;
  THttpTransportRequest& h = FRequest->Handle();
  DoReceiveData(status, abort, 0, expected);
  if (abort) {
    h.EndTransfer();
    return;
  }
  std::vector<char> buffer;
  int64_t count = 0;
  while (true) {
    int64_t available = 0;
    // A transfer that breaks off (reset, time-out, cut short) is no complete body.
    if (!h.QueryDataAvailable(available))
      throw EHTTPException(Format(u"Error reading data: (%d) %s", h.LastError(), h.LastErrorText()));
    if (available == 0) break;
    available = std::min(available, kReadChunk);
    buffer.resize(size_t(available));
    int64_t read = 0;
    if (!h.ReadData(buffer.data(), available, read))
      throw EHTTPException(Format(u"Error reading data: (%d) %s", h.LastError(), h.LastErrorText()));
    if (read == 0) break;
    // A body kept in memory has a ceiling, whatever its status.
    if (!FStream && FMaxContentSize > 0 && count + read > FMaxContentSize) {
      h.EndTransfer();
      throw EHTTPException(
          Format(u"Response body exceeds the limit of %d bytes", FMaxContentSize));
    }
    Stream.WriteBuffer(buffer.data(), read);
    count += read;
    DoReceiveData(status, abort, count, expected);
    if (abort) {
      h.EndTransfer();
      break;
    }
  }
}

void THttpResponse::FinishContent() {
  FContentStream.SetPosition(0);
  FRawDataSize = FContentStream.GetSize();
  FIsGZip = LowerCaseAscii(ContentEncoding()).find(u"gzip") != String::npos;
  FDecodeError.clear();
  if (FIsGZip) {
    Bytes inflated;
    if (GunzipBounded(FContentStream.Data(), inflated, FMaxInflateSize, FDecodeError)) {
      FContentStream.Data() = std::move(inflated);
      FContentStream.SetPosition(0);
    }
  }
  const Bytes& data = FContentStream.Data();
  DetectCharSet(data.data(), int64_t(data.size()));
  FContentStream.SetPosition(0);
  if (FStream) {
    FStream->WriteBuffer(data.data(), int64_t(data.size()));
    ClearContent();
  }
}

THttpCharsetType THttpResponse::CharSetOfName(StringView Name, THttpCharsetType Default) {
  static const std::pair<const char16_t*, THttpCharsetType> Prefixes[] = {
      {u"UTF-8", hct_UTF8},     {u"utf-16", hct_UTF16},       {u"gb2312", hct_GB2312},
      {u"gbk", hct_GBK},        {u"big", hct_BIG5},           {u"ISO-8859", hct_ISO8859_1},
      {u"octet-stream", hct_ISO8859_1}};
  for (const auto& [prefix, type] : Prefixes)
    if (StartsTextAscii(Name, prefix)) return type;
  return Default;
}

void THttpResponse::DetectCharSet(const void* Bytes, int64_t Len) {
  FCharSet = FDefaultCharset;
  String mime = MimeType();
  FCharSetText = GetHeaderParam(mime, u"charset");
  if (FCharSetText.empty() && LowerCaseAscii(mime) == u"application/octet-stream")
    FCharSetText = u"octet-stream";
  if (!FCharSetText.empty()) {
    FCharSet = CharSetOfName(FCharSetText, FCharSet);
    return;
  }
  const char* p = static_cast<const char*>(Bytes);
  static const char Key[] = "charset=";
  for (int64_t i = 0; i < Len; ++i) {
    if (LowerByte(p[i]) != 'c') continue;
    if (i + 8 > Len) return;  // too near the end to hold the key
    bool match = true;
    for (int k = 1; k < 8 && match; ++k) match = LowerByte(p[i + k]) == Key[k];
    if (!match) continue;
    int64_t v = i + 8;
    while (v < Len && (p[v] == ' ' || p[v] == '"' || p[v] == '\'')) ++v;
    int64_t e = std::min(Len, v + 16);
    String name;
    for (int64_t k = v; k < e; ++k) name += char16_t(static_cast<unsigned char>(p[k]));
    FCharSet = CharSetOfName(name, FCharSet);
    return;
  }
}

String THttpResponse::ContentString() {
  Bytes copy;
  const char* data = nullptr;
  int64_t len = 0;
  if (!FStream) {
    data = FContentStream.Memory();
    len = FContentStream.GetSize();
  } else if (auto* mem = dynamic_cast<TMemoryStream*>(FStream)) {
    len = std::max<int64_t>(mem->GetSize() - FLastStreamPos, 0);
    data = mem->Memory() + (len ? FLastStreamPos : 0);
  } else {
    int64_t pos = FStream->Position();
    FStream->SetPosition(FLastStreamPos);
    std::vector<char> piece(kReadChunk);
    while (int64_t n = FStream->Read(piece.data(), kReadChunk)) copy.append(piece.data(), size_t(n));
    FStream->SetPosition(pos);
    data = copy.data();
    len = int64_t(copy.size());
  }
  if (!FAutoDecodeStr) {
    String r(size_t(len / 2), u'\0');
    if (len >= 2) std::memcpy(r.data(), data, size_t(len / 2) * 2);
    return r;
  }
  switch (FCharSet) {
    case hct_UTF8:
      return UTF8BytesToString(data, len);
    case hct_UTF16: {
      String r;
      for (int64_t i = 0; i + 1 < len; i += 2) {
        char16_t c = char16_t(uint8_t(data[i]) | (uint8_t(data[i + 1]) << 8));
        if (c == 0) break;
        r += c;
      }
      return r;
    }
    default:
      return AnsiDecode(data, len);
  }
}

TCookies& THttpResponse::Cookies() {
  if (!FCookies) {
    FCookies = std::make_unique<TCookies>();
    FCookieMgr->GetCookies(FRequest->CurrentURL(), *FCookies);
  }
  return *FCookies;
}

String THttpResponse::GetRealm() {
  String challenge = GetHeaderValue(u"WWW-Authenticate");
  if (challenge.empty()) challenge = GetHeaderValue(u"Proxy-Authenticate");
  if (challenge.empty()) return String();
  String lower = LowerCaseAscii(challenge);
  size_t p = lower.find(u"realm=\"");
  if (p == String::npos) return String();
  p += 7;
  size_t e = challenge.find(u'"', p);
  if (e == String::npos) return String();
  return challenge.substr(p, e - p);
}
