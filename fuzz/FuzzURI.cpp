// URL records, relative paths, URL encoding, header text and header parameters.
#include "FuzzText.h"
#include "http/KivHttpHeaders.h"
#include "http/KivURI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const String text = FuzzText(Data, Size);
  const auto [first, second] = FuzzSplit(text);

  TURI uri(first);
  (void)uri.Host();
  (void)uri.Port();
  (void)uri.GetDocumentWithParams();
  (void)uri.GetURLBase();
  try {
    (void)uri.GetNewURL(true);
    (void)uri.GetNewURL(false);
  } catch (const EHTTPException&) {
  }
  try {
    String rebuilt = uri.ToString();
    TURI again(rebuilt);
    (void)again.Host();
    (void)again.ToString();
  } catch (const EHTTPException&) {
  }
  TURI assigned;
  assigned.SetURL(first);
  try {
    (void)TURI::PathRelativeToAbs(second, assigned);
  } catch (const EHTTPException&) {
  }
  (void)EncodeURL(text, false);
  (void)EncodeURL(text, true);

  THttpHeaders headers;
  headers.SetText(text);
  const String out = headers.GetText();
  THttpHeaders copy;
  copy.SetText(out);
  (void)copy.GetText();
  (void)headers.GetParam(u"Content-Type", u"charset");
  headers.SetParam(u"Content-Type", u"charset", second);
  (void)headers.GetText();

  THeaderParamPos pos = FindHeaderParam(first, second);
  if (pos.Found && (pos.Start > pos.End || pos.End > first.size())) __builtin_trap();
  (void)GetHeaderParam(first, second);
  (void)ReplaceHeaderParam(first, second, u"x");
  (void)GetHeaderParam(text, u"charset");
  (void)ReplaceHeaderParam(text, u"charset", second);
  return 0;
}
