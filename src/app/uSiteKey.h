// The site an address belongs to: copies of one site whose addresses differ
// only in spelling ('http://a.com', 'https://www.a.com/', 'http://A.com#作者')
// get the same key. The "site" duplicate mode groups sources by it.
#pragma once

#include "support/KivTypes.h"

// The address trimmed, with the scheme and host lower-cased, 'https' taken as
// 'http', a leading 'www.' of the host, the '#' fragment, trailing '/' of the
// path and the scheme's default port dropped. Hosts: full-width letters and
// dots read as ASCII, 'xn--' labels decoded, so an IDN host in either form
// gets one key; IPv6 literals stay in brackets; userinfo, path and query keep
// their case. An address without 'scheme://host' is no site: its key is the
// trimmed text as it stands.
String SiteKey(StringView AUrl);

// One punycode label without its 'xn--' prefix (RFC 3492). False when the
// text is not valid punycode; AOut is then unspecified.
bool DecodePunycode(StringView ALabel, String& AOut);
