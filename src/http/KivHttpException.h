// The one exception class of the HTTP client; its message is the whole report.
#pragma once

#include "support/KivTypes.h"

// What made a call fail, kept beside the message for callers that tell
// failures apart (the source check's reasons).
enum class THttpFailureCause {
  Other,
  Dns,                  // the host name did not resolve
  Refused,              // nothing accepted the connection
  Reset,                // the connection broke, or closed without an answer
  Timeout,              // connect or receive time-out
  TlsHandshake,         // the TLS handshake failed
  UnsupportedProtocol,  // not an http or https address
  TooManyRedirects,
};

class EHTTPException : public Exception {
 public:
  using Exception::Exception;
  EHTTPException(const String& AMessage, THttpFailureCause ACause) : Exception(AMessage), FCause(ACause) {}
  THttpFailureCause Cause() const { return FCause; }

 private:
  THttpFailureCause FCause = THttpFailureCause::Other;
};
