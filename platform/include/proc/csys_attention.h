// Abort requests of the procedural layer.
//
// A csys_attentionToken is a thread-safe abort flag in storage the caller owns. Installing a token
// on a thread (csys_attention_setThreadToken) lets any other thread stop the computations running
// there: they call csys_attention_check and give up as soon as it returns a negative status.
// C++ callers use tkAbortToken and tkAttentionScope (<tk/attention.h>), which wrap these functions.
#ifndef PROC_CSYS_ATTENTION_H
#define PROC_CSYS_ATTENTION_H

#include <proc/cstd_status.h>
#include <tk/export.h>

#include <stdint.h>

// Opaque to callers: holds one lock-free atomic flag.
typedef struct csys_attentionToken {
  union {
    unsigned char bytes[8];
    int64_t alignment;
  } storage_;
} csys_attentionToken;

// Constructs a token with no abort requested. Not thread-safe with respect to the token.
TK_API cstd_status csys_attentionToken_construct(csys_attentionToken* token);
// Ends the token's life; it must not be installed on any thread any more.
TK_API cstd_status csys_attentionToken_destruct(csys_attentionToken* token);
// Sets the flag. Thread-safe; may be called from any thread at any time.
TK_API cstd_status csys_attentionToken_requestAbort(csys_attentionToken* token);
// Clears the flag. Thread-safe.
TK_API cstd_status csys_attentionToken_reset(csys_attentionToken* token);
// 1 when an abort was requested, 0 otherwise (also for a null token). Thread-safe.
TK_API int32_t csys_attentionToken_isAbortRequested(const csys_attentionToken* token);

// Makes token (may be null: none) the calling thread's token and returns the previous one.
// The token must outlive its installation; restore the previous token before it dies.
TK_API const csys_attentionToken* csys_attention_setThreadToken(const csys_attentionToken* token);
// The calling thread's token, or null.
TK_API const csys_attentionToken* csys_attention_getThreadToken(void);

// CSTD_STATUS_ABORTED when the calling thread's token is set, else CSTD_STATUS_OK. Costs one
// thread-local load and one relaxed atomic load; cheap enough for every residual evaluation.
TK_API cstd_status csys_attention_check(void);

#endif
