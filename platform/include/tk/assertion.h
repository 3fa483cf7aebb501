// The process-wide handler of failed internal assertions (cstd_assert_, <proc/cstd_assert.h>).
#ifndef TK_ASSERTION_H
#define TK_ASSERTION_H

#include <proc/cstd_assert.h>
#include <tk/export.h>

// Receives the source file and line of each failed internal assertion; may be called from any
// thread, concurrently, and must not throw.
using tkAssertionHandler = cstd_assertHandler;

// Installs handler and returns the previous one (never null); null re-installs the default, which
// writes "internal assertion failed: <file>:<line>" to stderr. Thread-safe.
TK_API tkAssertionHandler tfSetAssertionHandler(tkAssertionHandler handler);

#endif
