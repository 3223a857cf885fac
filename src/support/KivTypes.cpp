#include "support/KivTypes.h"

#include <cstdio>

String FromUtf8(std::string_view s) {
  String out;
  out.reserve(s.size());
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const auto* end = p + s.size();
  while (p < end) {
    unsigned c = *p;
    uint32_t cp;
    int extra;
    if (c < 0x80) {
      out.push_back(char16_t(c));
      ++p;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      cp = c & 0x1F;
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      cp = c & 0x0F;
      extra = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      cp = c & 0x07;
      extra = 3;
    } else {
      out.push_back(u'\uFFFD');
      ++p;
      continue;
    }
    if (end - p <= extra) {
      out.push_back(u'\uFFFD');
      break;
    }
    bool ok = true;
    for (int i = 1; i <= extra; ++i) {
      if ((p[i] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (!ok || (extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(u'\uFFFD');
      ++p;
      continue;
    }
    p += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
  }
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
