// Internal: the one place that reports a caller's argument outside a function's contract
// (an index out of range, an empty interval, a negative weight). Kept in one function so that
// the type thrown can change in one place.
#ifndef TK_CORE_INVALID_ARGUMENT_H
#define TK_CORE_INVALID_ARGUMENT_H

// Throws std::invalid_argument carrying `message` (which names the function and the fault).
[[noreturn]] void tk_throwInvalidArgument(const char* message);

#endif
