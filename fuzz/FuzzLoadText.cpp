// Text loading with encoding detection over every encoding the loader takes.
#include "support/KivStr.h"
#include "support/KivStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  bool bom = false;
  (void)DetectTextEncoding(Data, int64_t(Size), bom);
  for (TTextEncoding e : {teUnknown, teAuto, teAnsi, teUnicode16LE, teUnicode16BE, teUTF8}) {
    TPointerStream s(Data, int64_t(Size));
    try {
      String text = LoadTextW(s, e);
      (void)text;
    } catch (const Exception&) {
      // Invalid text is reported, not a fault.
    }
    TPointerStream s2(Data, int64_t(Size));
    try {
      Bytes b = LoadTextA(s2, e);
      (void)b;
    } catch (const Exception&) {
    }
  }
  try {
    (void)DecodeUTF8Own(Data, int64_t(Size));
  } catch (const Exception&) {
  }
  (void)DecodeUTF8(Data, int64_t(Size));
  (void)AnsiDecode(Data, int64_t(Size));
  return 0;
}
