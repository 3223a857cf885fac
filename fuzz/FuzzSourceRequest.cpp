// Source addresses as users type them: the search request, the explore
// entries, and the format-2 address and rule conversions behind them.
#include "FuzzText.h"
#include "app/uSourceConvert.h"
#include "app/uSourceRequest.h"
#include "support/KivStr.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const String text = FuzzText(Data, Size);
  // First part: the address (or explore text); second: the source address and
  // a header line 'name:value' after another U+0001.
  const auto [address, rest] = FuzzSplit(text);
  const auto [base, header] = FuzzSplit(rest);
  THeaderList headers;
  if (size_t colon = header.find(u':'); colon != String::npos)
    headers.emplace_back(header.substr(0, colon), header.substr(colon + 1));

  for (int page : {1, 3}) {
    const TSourceRequest r = BuildSearchRequest(base, address, headers, false, u"我的 C#+", page);
    if (r.Probeable != r.WhyNot.empty()) __builtin_trap();
    if (r.Probeable && !StartsTextAscii(r.Url, u"http")) __builtin_trap();
  }
  for (const TExploreEntry& e : BuildExploreRequests(base, address, headers, false))
    if (e.Heading && e.Request.Probeable) __builtin_trap();

  const TAddressConversion a = ConvertAddress(address);
  (void)BuildSearchRequest(base, a.Text, headers, false, u"k", 2);
  const TAddressConversion x = ConvertExploreAddress(address);
  (void)BuildExploreRequests(base, x.Text, headers, false);
  (void)ConvertRule(address);
  (void)ResolveSourceUrl(base, address);
  (void)EncodeInCharset(address, base);
  return 0;
}
