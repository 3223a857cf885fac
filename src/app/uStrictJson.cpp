#include "app/uStrictJson.h"

#include "json/KivJson.h"

namespace {

class TStrictReader {
 public:
  explicit TStrictReader(StringView AText) : FText(AText) {}

  bool Read(TJsonSyntaxIssue& AIssue) {
    try {
      SkipBlanks();
      Value(0);
      SkipBlanks();
      if (!AtEnd()) Fail(u"值之后还有多余的内容");
      return true;
    } catch (const TFault& F) {
      Locate(F.Pos, AIssue);
      AIssue.Message = F.Message;
      return false;
    }
  }

 private:
  struct TFault {
    size_t Pos;
    const char16_t* Message;
  };

  [[noreturn]] void Fail(const char16_t* AMessage) const { throw TFault{FPos, AMessage}; }
  bool AtEnd() const { return FPos >= FText.size(); }
  char16_t Here() const { return FText[FPos]; }
  static bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
  static bool IsHex(char16_t c) { return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

  void SkipBlanks() {
    while (!AtEnd() && (Here() == u' ' || Here() == u'\t' || Here() == u'\n' || Here() == u'\r')) ++FPos;
  }

  void Value(int ADepth) {
    if (AtEnd()) Fail(u"内容意外结束，此处应有一个值");
    const char16_t c = Here();
    if (c == u'{') return Container(ADepth + 1, u'}');
    if (c == u'[') return Container(ADepth + 1, u']');
    if (c == u'"') return Text();
    if (c == u'-' || IsDigit(c)) return Number();
    for (const char16_t* word : {u"true", u"false", u"null"}) {
      const StringView w(word);
      if (FText.substr(FPos, w.size()) == w) {
        FPos += w.size();
        return;
      }
    }
    Fail(u"此处应有一个值（字符串须用双引号，true、false、null须小写）");
  }

  // An object (AClose '}') or an array (AClose ']').
  void Container(int ADepth, char16_t AClose) {
    if (ADepth > kJsonMaxDepth) Fail(u"嵌套层次太深");
    const bool object = AClose == u'}';
    ++FPos;
    SkipBlanks();
    if (!AtEnd() && Here() == AClose) {
      ++FPos;
      return;
    }
    for (;;) {
      if (object) {
        if (AtEnd()) Fail(u"内容意外结束，此处应有名称");
        if (Here() != u'"') Fail(u"名称应是双引号括起的字符串");
        Text();
        SkipBlanks();
        if (AtEnd() || Here() != u':') Fail(u"名称之后应有冒号");
        ++FPos;
        SkipBlanks();
      }
      Value(ADepth);
      SkipBlanks();
      if (AtEnd()) Fail(object ? u"内容意外结束，此处应有逗号或'}'" : u"内容意外结束，此处应有逗号或']'");
      if (Here() == AClose) {
        ++FPos;
        return;
      }
      if (Here() != u',') Fail(object ? u"此处应有逗号或'}'" : u"此处应有逗号或']'");
      ++FPos;
      SkipBlanks();
      if (!AtEnd() && Here() == AClose) Fail(u"最后一项之后多了逗号");
    }
  }

  void Text() {
    ++FPos;  // the opening quote
    for (;;) {
      if (AtEnd()) Fail(u"字符串没有结束");
      const char16_t c = Here();
      if (c == u'"') {
        ++FPos;
        return;
      }
      if (c < 0x20) Fail(u"字符串中有未转义的换行或控制字符");
      if (c != u'\\') {
        ++FPos;
        continue;
      }
      ++FPos;
      if (AtEnd()) Fail(u"字符串没有结束");
      const char16_t e = Here();
      if (e == u'u') {
        ++FPos;
        for (int i = 0; i < 4; ++i, ++FPos)
          if (AtEnd() || !IsHex(Here())) Fail(u"\\u之后应有4个十六进制数字");
      } else if (StringView(u"\"\\/bfnrt").find(e) != StringView::npos) {
        ++FPos;
      } else {
        Fail(u"无效的转义序列");
      }
    }
  }

  void Number() {
    if (Here() == u'-') ++FPos;
    if (AtEnd() || !IsDigit(Here())) Fail(u"无效的数字");
    if (Here() == u'0') {
      ++FPos;
    } else {
      while (!AtEnd() && IsDigit(Here())) ++FPos;
    }
    if (!AtEnd() && Here() == u'.') {
      ++FPos;
      if (AtEnd() || !IsDigit(Here())) Fail(u"无效的数字");
      while (!AtEnd() && IsDigit(Here())) ++FPos;
    }
    if (!AtEnd() && (Here() == u'e' || Here() == u'E')) {
      ++FPos;
      if (!AtEnd() && (Here() == u'+' || Here() == u'-')) ++FPos;
      if (AtEnd() || !IsDigit(Here())) Fail(u"无效的数字");
      while (!AtEnd() && IsDigit(Here())) ++FPos;
    }
    // "01": no leading zeros.
    if (!AtEnd() && IsDigit(Here())) Fail(u"无效的数字");
  }

  // Line and column as an editor counts them: a surrogate pair is one character.
  void Locate(size_t APos, TJsonSyntaxIssue& AIssue) const {
    int line = 1;
    size_t lineStart = 0;
    for (size_t i = 0; i < APos && i < FText.size(); ++i)
      if (FText[i] == u'\n') {
        ++line;
        lineStart = i + 1;
      }
    int column = 1;
    for (size_t i = lineStart; i < APos && i < FText.size(); ++i)
      if (!(FText[i] >= 0xDC00 && FText[i] <= 0xDFFF && i > lineStart && FText[i - 1] >= 0xD800 &&
            FText[i - 1] <= 0xDBFF))
        ++column;
    AIssue.Line = line;
    AIssue.Column = column;
  }

  StringView FText;
  size_t FPos = 0;
};

}  // namespace

bool IsStrictJson(StringView AText, TJsonSyntaxIssue& AIssue) { return TStrictReader(AText).Read(AIssue); }
