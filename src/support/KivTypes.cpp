#include "support/KivTypes.h"

#include <cstdio>
#include <cstring>

namespace kiv_detail {

int DecodeUtf8Char(const unsigned char* p, const unsigned char* end, uint32_t& cp) {
  const unsigned c = *p;
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  int extra;
  uint32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    extra = 1, cp = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    extra = 2, cp = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    extra = 3, cp = c & 0x07, min = 0x10000;
  } else {
    return -1;
  }
  if (end - p <= extra) return -1;  // cut off by the end
  for (int k = 1; k <= extra; ++k) {
    if ((p[k] & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (p[k] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  return extra + 1;
}

char16_t* AppendCodePoint(char16_t* d, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    *d++ = char16_t(0xD800 + (cp >> 10));
    *d++ = char16_t(0xDC00 + (cp & 0x3FF));
  } else {
    *d++ = char16_t(cp);
  }
  return d;
}

}  // namespace kiv_detail

String FromUtf8(std::string_view s) {
  String out(s.size(), u'\0');  // never more units than bytes
  char16_t* d = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    // ASCII runs, eight at a time.
    while (end - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      if (w & 0x8080808080808080ULL) break;
      for (int k = 0; k < 8; ++k) d[k] = p[k];
      d += 8;
      p += 8;
    }
    if (p >= end) break;
    uint32_t cp;
    const int n = kiv_detail::DecodeUtf8Char(p, end, cp);
    if (n < 0) {
      *d++ = u'\uFFFD';  // one replacement per bad byte
      ++p;
    } else {
      d = kiv_detail::AppendCodePoint(d, cp);
      p += n;
    }
  }
  out.resize(size_t(d - out.data()));
  return out;
}

std::string ToUtf8(StringView s) {
  std::string out;
  out.reserve(s.size() * 3 / 2 + 4);
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // lone surrogate
    }
    if (c < 0x80) {
      out.push_back(char(c));
    } else if (c < 0x800) {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(char(0xE0 | (c >> 12)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    } else {
      out.push_back(char(0xF0 | (c >> 18)));
      out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

Exception::Exception(String message) : FMessage(std::move(message)), FUtf8(ToUtf8(FMessage)) {}

String IntToStr(int64_t v) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
  return String(buf, buf + n);
}

namespace kiv_detail {

static void AppendAscii(String& out, const char* s, int n) {
  for (int i = 0; i < n; ++i) out.push_back(char16_t(static_cast<unsigned char>(s[i])));
}

String FormatArgs(StringView fmt, const FormatArg* args, size_t count) {
  String out;
  out.reserve(fmt.size() + 16 * count);
  size_t next = 0;
  for (size_t i = 0; i < fmt.size(); ++i) {
    char16_t c = fmt[i];
    if (c != u'%' || i + 1 >= fmt.size()) {
      out.push_back(c);
      continue;
    }
    char16_t spec = fmt[++i];
    if (spec == u'%') {
      out.push_back(u'%');
      continue;
    }
    if (next >= count) continue;
    const FormatArg& a = args[next++];
    char buf[64];
    int n = 0;
    switch (spec) {
      case u'd':
      case u'i':
      case u'u':
        if (a.kind == FormatArg::kUInt)
          n = std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(a.u));
        else if (a.kind == FormatArg::kDouble)
          n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(a.d));
        else if (a.kind == FormatArg::kChar)
          n = std::snprintf(buf, sizeof buf, "%u", unsigned(a.c));
        else
          n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(a.i));
        AppendAscii(out, buf, n);
        break;
      case u'x':
      case u'X': {
        unsigned long long v = a.kind == FormatArg::kUInt ? a.u : static_cast<unsigned long long>(a.i);
        n = std::snprintf(buf, sizeof buf, spec == u'x' ? "%llx" : "%llX", v);
        AppendAscii(out, buf, n);
        break;
      }
      case u'g':
      case u'f': {
        double v = a.kind == FormatArg::kDouble ? a.d
                   : a.kind == FormatArg::kUInt ? double(a.u)
                                                : double(a.i);
        n = std::snprintf(buf, sizeof buf, spec == u'g' ? "%g" : "%f", v);
        AppendAscii(out, buf, n);
        break;
      }
      case u'c':
        if (a.kind == FormatArg::kChar)
          out.push_back(a.c);
        else
          out.push_back(char16_t(a.kind == FormatArg::kUInt ? a.u : uint64_t(a.i)));
        break;
      case u's':
      default:
        if (a.kind == FormatArg::kText16)
          out.append(a.t16);
        else if (a.kind == FormatArg::kText8)
          out.append(FromUtf8(a.t8));
        else if (a.kind == FormatArg::kChar)
          out.push_back(a.c);
        else if (a.kind == FormatArg::kUInt)
          AppendAscii(out, buf, std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(a.u)));
        else if (a.kind == FormatArg::kDouble)
          AppendAscii(out, buf, std::snprintf(buf, sizeof buf, "%g", a.d));
        else
          AppendAscii(out, buf, std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(a.i)));
        break;
    }
  }
  return out;
}

}  // namespace kiv_detail
