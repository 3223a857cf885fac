// URL record and the URL percent-encoding of the HTTP client.
#pragma once

#include <cstdint>

#include "http/KivHttpException.h"
#include "support/KivTypes.h"

// A URL split into its parts on first use. Copying copies all text.
class TURI {
 public:
  TURI() = default;
  // Rebuilt (normalised) by ToString.
  explicit TURI(String AURIStr) : FChangeURL(true), FUrl(std::move(AURIStr)) {}

  // The request's way of assigning: ToString then gives the text unchanged.
  void SetURL(String AURIStr) {
    FUrl = std::move(AURIStr);
    FPort = 0;
    FChangeURL = false;
  }

  // Lazy: the first read parses the text.
  const String& Host() const { return Parsed().FHost; }
  uint16_t Port() const { return Parsed().FPort; }
  const String& Path() const { return Parsed().FPath; }
  const String& Scheme() const { return Parsed().FScheme; }
  const String& UserName() const { return Parsed().FUserName; }
  const String& Password() const { return Parsed().FPassword; }
  const String& Document() const { return Parsed().FDocument; }
  const String& Params() const { return Parsed().FParams; }
  const String& Bookmark() const { return Parsed().FBookmark; }
  bool IsParsed() const { return FPort != 0; }
  bool ChangeURL() const { return FChangeURL; }
  const String& Text() const { return FUrl; }

  // The object path of the request line.
  String GetDocumentWithParams() const;
  // Raises EHTTPException "Host field is empty." without a host.
  String GetNewURL(bool haveAuthInfo) const;
  String ToString();
  String GetURLBase() const;

  static String PathRelativeToAbs(StringView RelPath, const TURI& Base);

 private:
  const TURI& Parsed() const {
    if (FPort == 0) ParseURI();
    return *this;
  }
  void ParseURI() const;
  String HostForURL() const;

  bool FChangeURL = false;
  mutable uint16_t FPort = 0;
  String FUrl;
  mutable String FHost;
  mutable String FDocument;
  mutable String FParams;
  mutable String FBookmark;
  mutable String FPath;
  mutable String FScheme;
  mutable String FUserName;
  mutable String FPassword;
};

// Percent-encoding of a whole URL; delimiters (#%&/:=?) stay as they are.
String EncodeURL(StringView Text, bool SpaceAsPlus);
// True when the table copies the code unchanged, false when it is escaped.
bool URLEncodeKeeps(unsigned Code);

