#include "invalid_argument.h"

#include <tk/exception.h>

#include "platform/core/utf8.h"

void tk_throwInvalidArgument(const std::string& message) {
  std::wstring wide;
  if (!tk_decodeUtf8(reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                     wide)) {
    wide = tk_printableText(message, message.size());
  }
  throw tkInvariantFailure(wide);
}
