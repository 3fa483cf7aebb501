#include "invalid_argument.h"

#include <stdexcept>

void tk_throwInvalidArgument(const char* message) {
  throw std::invalid_argument(message);
}
