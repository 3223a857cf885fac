// Set-Cookie values into a jar, with their dates; then the cookies are read back.
#include <string>

#include "FuzzText.h"
#include "http/KivCookies.h"
#include "http/KivHttpException.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static bool init = (InitGMTTime(), true);
  (void)init;
  try {
    (void)ParseGMTTime(std::string_view(reinterpret_cast<const char*>(Data), Size));
  } catch (const EHTTPException&) {
  }
  const String text = FuzzText(Data, Size);
  const auto [value, url] = FuzzSplit(text);
  const TURI target(url.empty() ? String(u"http://www.example.com/a/b") : url);
  TCookieManager jar;
  try {
    jar.AddCookies(value, target);
  } catch (const Exception&) {
  }
  try {
    jar.AddCookies(value, TURI(u"https://sub.example.com/"));
  } catch (const Exception&) {
  }
  try {
    (void)jar.GetCookies(target);
    TCookies list;
    (void)jar.GetCookies(TURI(u"http://www.example.com/a/b/c"), list);
    (void)list.Text();
  } catch (const Exception&) {
  }
  (void)jar.Cookies();
  return 0;
}
