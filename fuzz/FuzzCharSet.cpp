// Response decoding: a header block and a body (gzip or not) through the
// charset detection and the text decoders.
#include <memory>

#include "FuzzText.h"
#include "http/KivHttpClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static THttpClient* client = [] {
    InitHttpClient();
    auto* c = new THttpClient();
    c->SetMaxInflateSize(1 << 20);  // keeps gzip bombs inside the fuzzer's memory limit
    return c;
  }();
  // The header block is the bytes up to the first NUL, the body the rest.
  size_t cut = 0;
  while (cut < Size && Data[cut] != 0) ++cut;
  const String header = FromUtf8(std::string_view(reinterpret_cast<const char*>(Data), cut));
  const uint8_t* body = Data + (cut < Size ? cut + 1 : cut);
  const size_t bodySize = Size - size_t(body - Data);

  (void)THttpResponse::CharSetOfName(header, hct_GB2312);
  auto request = std::make_shared<THttpRequest>(*client, u"GET", u"http://h/");
  THttpResponse r(request, nullptr);
  r.SetHeader(header);
  try {
    // An empty header block is asked of the transport, which this response has not.
    r.DetectCharSet(body, int64_t(bodySize));
    r.ContentStream().WriteBuffer(body, int64_t(bodySize));
    r.FinishContent();
    (void)r.ContentString();
    (void)r.StatusCode();
    (void)r.ContentLength();
    (void)r.Cookies().Count();
  } catch (const Exception&) {
  }
  return 0;
}
