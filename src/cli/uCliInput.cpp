#include "cli/uCliInput.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

Bytes ReadStandardInput() {
  Bytes data;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Exception(FromUtf8(std::string("cannot read 'standard input': ") + std::strerror(errno)));
    if (n == 0) break;
    data.append(buf, size_t(n));
  }
  return data;
}
