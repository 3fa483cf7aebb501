// Failed internal assertions of the procedural layer and of the code above it.
//
// cstd_assert_ reports a broken internal invariant to one process-wide handler and returns; the
// caller goes on with whatever fallback it documents. The handler can be replaced at any time from
// any thread (tfSetAssertionHandler in <tk/assertion.h> or cstd_assert_setHandler here).
#ifndef PROC_CSTD_ASSERT_H
#define PROC_CSTD_ASSERT_H

#include <tk/export.h>

// Receives the source file and line of a failed internal assertion. It may be called from any
// thread, concurrently, and must not throw.
typedef void (*cstd_assertHandler)(const char* file, int line);

// Reports a failed internal assertion at file:line to the current handler, then returns.
// file may be null (reported as "?"). The default handler writes one line
// "internal assertion failed: <file>:<line>" to stderr.
TK_API void cstd_assert_(const char* file, int line);

// Installs handler as the process-wide handler and returns the previous one (never null).
// A null handler re-installs the default one. Thread-safe.
TK_API cstd_assertHandler cstd_assert_setHandler(cstd_assertHandler handler);

// Checks an internal invariant: reports the current file and line when condition is false.
#define CSTD_ASSERT(condition) ((condition) ? (void)0 : cstd_assert_(__FILE__, __LINE__))

#endif
