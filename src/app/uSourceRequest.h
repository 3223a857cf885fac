// From a format-3 source's search address and explore entries to concrete
// requests (method, absolute address, headers, body) for a keyword and a
// page, as the reader app builds them; or why a request cannot be made
// without a script engine or a browser. Pure text work: no network.
#pragma once

#include <vector>

#include "app/uBookSource3.h"
#include "support/KivTypes.h"

class JSONObject;

// What a request cannot be made without (TSourceRequest::WhyNot).
inline constexpr const char16_t* kWhyScript = u"script";    // a script engine
inline constexpr const char16_t* kWhyBrowser = u"browser";  // a browser (webView, webJs)
inline constexpr const char16_t* kWhyAddress = u"address";  // no http(s) address: blank, or not absolute

struct TSourceRequest {
  bool Probeable = false;
  String WhyNot;  // kWhy… when not probeable; empty otherwise (and for explore headings)
  String Method;  // "GET" or "POST"
  String Url;     // absolute, encoded as it goes on the wire
  // In order; the source's header, the option headers over it, the default
  // User-Agent when none is given ('null' as User-Agent: none is sent).
  THeaderList Headers;
  Bytes Body;  // as sent: a form encoded in the charset, JSON in UTF-8, other text in UTF-8
  // "application/x-www-form-urlencoded", "application/json; charset=UTF-8", or
  // empty: a GET, or a POST whose headers carry their own Content-Type, or an XML body.
  String ContentType;
  int Retry = 0;  // the "retry" option: extra attempts while the status is not 2xx
};

// The reader app's User-Agent when a source gives none.
extern const char16_t* const kDefaultUserAgent;

// ABaseUrl: bookSourceUrl. ASourceHeaders: the source's parsed `header`
// (AHeaderIsScript when it is a script: nothing can be built then).
TSourceRequest BuildSearchRequest(StringView ABaseUrl, StringView ASearchUrl,
                                  const THeaderList& ASourceHeaders, bool AHeaderIsScript,
                                  StringView AKeyword, int APage = 1);

struct TExploreEntry {
  String Title;
  bool Heading = false;  // no address: a caption between entries (Request left empty)
  TSourceRequest Request;
};
// AExploreUrl: the text of `exploreUrl` (a stored JSON array passed as its
// text). Entries with key "" and page 1. An explore made by a script gives
// one entry whose request says "script"; an array that cannot be read, one
// that says "address".
std::vector<TExploreEntry> BuildExploreRequests(StringView ABaseUrl, StringView AExploreUrl,
                                                const THeaderList& ASourceHeaders,
                                                bool AHeaderIsScript);

// A format-2 source: ruleSearchUrl through the address conversion to format
// 3, httpUserAgent as the User-Agent header, then built as above.
TSourceRequest BuildSearchRequest2(StringView ABaseUrl, StringView ARuleSearchUrl,
                                   StringView AHttpUserAgent, StringView AKeyword, int APage = 1);

// A source as it is: format 3 (or mixed) by searchUrl/exploreUrl and header,
// format 2 by ruleSearchUrl/ruleFindUrl and httpUserAgent. A source without
// a search address gives WhyNot "address"; one without explore entries, none.
TSourceRequest SearchRequestOf(const JSONObject* ASource, StringView AKeyword, int APage = 1);
std::vector<TExploreEntry> ExploreRequestsOf(const JSONObject* ASource);

// Parts, for the checker's messages and for tests.
// A relative address against a source address (its fragment dropped, cut at
// the first ','), by the older RFC 2396 rules; "" when it cannot be made absolute.
String ResolveSourceUrl(StringView ABaseUrl, StringView ARef);
// The bytes of a text in a charset named as sources name them ('gbk',
// 'gb2312', 'big5', 'utf-8', ...); unknown names give UTF-8.
Bytes CharsetBytes(StringView AText, StringView ACharset);
// Percent-encodes every character of AText in the charset (or as
// JavaScript's escape() for 'escape'), ASCII letters and digits kept.
String EncodeInCharset(StringView AText, StringView ACharset);
