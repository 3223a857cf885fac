// Basic text type, the general exception and a small printf-style formatter
// shared by every core layer.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>

using WideChar = char16_t;
using PWideChar = const char16_t*;
using String = std::u16string;
using StringView = std::u16string_view;
using Bytes = std::string;  // a run of bytes (file contents, wire data, code-page text)

// UTF-8 <-> UTF-16. Invalid input is replaced (U+FFFD for each bad byte, a
// lone surrogate becomes U+FFFD), never rejected.
String FromUtf8(std::string_view s);
std::string ToUtf8(StringView s);

// The system's general exception: carries the message as UTF-16, what() as UTF-8.
class Exception : public std::exception {
 public:
  explicit Exception(String message);
  const String& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FUtf8.c_str(); }

 private:
  String FMessage;
  std::string FUtf8;
};

// Format(u"第%d行第%d列: %s", line, col, msg): %d/%i/%u (integers), %x/%X (hex),
// %s (String, string views, char16_t texts, UTF-8 std::string/const char*),
// %c (one code unit), %g (double), %%. Width/flags are not supported: the
// messages of this system need none. A missing argument prints nothing.
namespace kiv_detail {
// One UTF-8 sequence at p (strict: no overlong forms, no surrogates, nothing
// above U+10FFFF, never past end): its length, or -1 when it is invalid.
int DecodeUtf8Char(const unsigned char* p, const unsigned char* end, uint32_t& cp);
// Writes cp as one unit or a surrogate pair; returns the next position.
char16_t* AppendCodePoint(char16_t* d, uint32_t cp);

struct FormatArg {
  enum Kind { kInt, kUInt, kDouble, kText16, kText8, kChar } kind = kInt;
  int64_t i = 0;
  uint64_t u = 0;
  double d = 0;
  StringView t16;
  std::string_view t8;
  char16_t c = 0;
};
template <typename T>
FormatArg MakeArg(const T& v) {
  FormatArg a;
  a.kind = FormatArg::kInt;
  using D = std::decay_t<T>;
  if constexpr (std::is_same_v<D, char16_t>) {
    a.kind = FormatArg::kChar;
    a.c = v;
  } else if constexpr (std::is_same_v<D, bool>) {
    a.i = v ? 1 : 0;
  } else if constexpr (std::is_integral_v<D> && std::is_signed_v<D>) {
    a.i = v;
  } else if constexpr (std::is_integral_v<D>) {
    a.kind = FormatArg::kUInt;
    a.u = v;
  } else if constexpr (std::is_enum_v<D>) {
    a.i = static_cast<int64_t>(v);
  } else if constexpr (std::is_floating_point_v<D>) {
    a.kind = FormatArg::kDouble;
    a.d = static_cast<double>(v);
  } else if constexpr (std::is_convertible_v<const T&, StringView>) {
    a.kind = FormatArg::kText16;
    a.t16 = StringView(v);
  } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
    a.kind = FormatArg::kText8;
    a.t8 = std::string_view(v);
  } else {
    static_assert(sizeof(T) == 0, "unsupported Format argument");
  }
  return a;
}
String FormatArgs(StringView fmt, const FormatArg* args, size_t count);
}  // namespace kiv_detail

template <typename... Args>
String Format(StringView fmt, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return kiv_detail::FormatArgs(fmt, nullptr, 0);
  } else {
    const kiv_detail::FormatArg list[] = {kiv_detail::MakeArg(args)...};
    return kiv_detail::FormatArgs(fmt, list, sizeof...(Args));
  }
}

String IntToStr(int64_t v);
