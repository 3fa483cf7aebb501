// Abort requests: letting one thread stop a computation that runs on another.
//
//   tkAbortToken token;                       // shared with the thread that may cancel
//   {
//     tkAttentionScope attention(token);      // on the computing thread
//     tfComputeSomething(...);                // throws tkAttention::Aborted once
//   }                                         //   token.requestAbort() was called
//
// Computations poll with tkAttention::check() (C++ code) or csys_attention_check() (procedural
// code, <proc/csys_attention.h>); both read the token installed on the calling thread. A thread
// without a token is never aborted.
#ifndef TK_ATTENTION_H
#define TK_ATTENTION_H

#include <proc/csys_attention.h>
#include <tk/exception.h>
#include <tk/export.h>

#include <string>

// A thread-safe abort flag. Any thread may request an abort or reset the flag at any time.
// Not copyable: threads share one token by reference.
class TK_API tkAbortToken {
 public:
  tkAbortToken();
  ~tkAbortToken();
  tkAbortToken(const tkAbortToken&) = delete;
  tkAbortToken& operator=(const tkAbortToken&) = delete;

  // Asks every computation running under this token to stop. Thread-safe.
  void requestAbort();
  // True once requestAbort() was called and reset() has not been called since. Thread-safe.
  bool isAbortRequested() const;
  // Clears the request, e.g. before reusing the token for the next computation. Thread-safe.
  void reset();

  // The procedural token; for code that installs it with csys_attention_setThreadToken.
  const csys_attentionToken* record() const { return &token_; }

 private:
  csys_attentionToken token_;
};

// Installs a token on the calling thread for the scope's lifetime and reinstalls the previous
// one (possibly none) at its end, so scopes nest. The token must outlive the scope, and the scope
// must end on the thread that created it (keep it on the stack).
class TK_API tkAttentionScope {
 public:
  explicit tkAttentionScope(const tkAbortToken& token);
  ~tkAttentionScope();
  tkAttentionScope(const tkAttentionScope&) = delete;
  tkAttentionScope& operator=(const tkAttentionScope&) = delete;

 private:
  const csys_attentionToken* previous_;
};

// Scope of the abort check.
class TK_API tkAttention {
 public:
  // Thrown by check() when the calling thread's token is set.
  // Its message says that the caller stopped the computation.
  class TK_API Aborted : public tkExceptionWithString {
   public:
    Aborted();
    Aborted(const Aborted&) = default;
    Aborted& operator=(const Aborted&) = default;
    ~Aborted() override;
    // 0x10000200.
    long errorNumber() const override;
    void suicideAndRethrow() override;
  };

  // Throws Aborted when an abort was requested on the calling thread's token; otherwise returns.
  // Costs one thread-local load and one relaxed atomic load.
  static void check();
  // The same test without throwing.
  static bool isAbortRequested();
};

#endif
