// Internal: the one place that reports a caller's argument outside a function's contract
// (an index out of range, an empty interval, a negative weight, a wrong matrix shape).
#ifndef TK_CORE_INVALID_ARGUMENT_H
#define TK_CORE_INVALID_ARGUMENT_H

#include <string>

// Throws tkInvariantFailure whose message is `message` (UTF-8; it names the function and the
// fault).
[[noreturn]] void tk_throwInvalidArgument(const std::string& message);

#endif
