// The one exception class of the HTTP client; its message is the whole report.
#pragma once

#include "support/KivTypes.h"

class EHTTPException : public Exception {
 public:
  using Exception::Exception;
};
