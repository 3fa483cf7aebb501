// Abort requests through tkAbortToken, tkAttentionScope and tkAttention::check, including a
// request made by another thread while a computation runs.
#include <gtest/gtest.h>
#include <proc/csys_attention.h>
#include <tk/attention.h>
#include <tk/failure.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

// What a polling loop on a worker thread saw.
struct LoopOutcome {
  bool threw = false;
  bool timedOut = false;
  cstd_status status = CSTD_STATUS_OK;
};

// Runs poll() in a loop on a new thread under token until it throws tkAttention::Aborted or
// returns a negative status; requests the abort once the loop is running. Gives up after
// 10 s so that a broken check fails the test instead of hanging it.
template <class Poll>
LoopOutcome abortRunningLoop(tkAbortToken& token, Poll poll) {
  std::atomic<bool> running{false};
  LoopOutcome outcome;
  std::thread worker([&] {
    tkAttentionScope attention(token);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    try {
      for (unsigned long i = 0;; ++i) {
        running.store(true);
        outcome.status = poll();
        if (outcome.status < 0)
          return;
        if (i % 4096 == 0 && std::chrono::steady_clock::now() > deadline) {
          outcome.timedOut = true;
          return;
        }
      }
    } catch (const tkAttention::Aborted&) {
      outcome.threw = true;
    }
  });
  while (!running.load())
    std::this_thread::yield();
  token.requestAbort();
  worker.join();
  return outcome;
}

TEST(Attention, RequestFromAnotherThreadStopsCheckLoop) {
  tkAbortToken token;
  LoopOutcome outcome = abortRunningLoop(token, [] {
    tkAttention::check();
    return CSTD_STATUS_OK;
  });
  EXPECT_TRUE(outcome.threw);
  EXPECT_FALSE(outcome.timedOut);
}

TEST(Attention, RequestFromAnotherThreadStopsProceduralLoop) {
  tkAbortToken token;
  LoopOutcome outcome = abortRunningLoop(token, [] { return csys_attention_check(); });
  EXPECT_EQ(outcome.status, CSTD_STATUS_ABORTED);
  EXPECT_FALSE(outcome.threw);
  EXPECT_FALSE(outcome.timedOut);
}

TEST(Attention, ScopesNestAndRestoreThePreviousToken) {
  tkAbortToken outer;
  tkAbortToken inner;
  outer.requestAbort();
  EXPECT_NO_THROW(tkAttention::check()) << "no scope, no abort";
  {
    tkAttentionScope outerScope(outer);
    EXPECT_THROW(tkAttention::check(), tkAttention::Aborted);
    {
      tkAttentionScope innerScope(inner);
      EXPECT_NO_THROW(tkAttention::check()) << "the inner token hides the outer one";
      EXPECT_FALSE(tkAttention::isAbortRequested());
    }
    EXPECT_TRUE(tkAttention::isAbortRequested());
    outer.reset();
    EXPECT_NO_THROW(tkAttention::check());
  }
  EXPECT_EQ(csys_attention_getThreadToken(), nullptr);
}

TEST(Attention, AbortedIsAToolkitExceptionWithItsNumber) {
  try {
    tkAbortToken token;
    token.requestAbort();
    tkAttentionScope attention(token);
    tkAttention::check();
    FAIL() << "check() did not throw";
  } catch (const tkException& failure) {
    EXPECT_EQ(failure.errorNumber(), 0x10000200);
    EXPECT_NE(std::strstr(failure.what(), "stopped at the caller's request"), nullptr)
        << failure.what();
  }
}

}  // namespace

TEST(Attention, AbortStatusOfTheProceduralLayerBecomesAborted) {
  EXPECT_THROW(tfThrowExceptionOnFailure(CSTD_STATUS_ABORTED), tkAttention::Aborted);
  EXPECT_THROW(tfThrowExceptionOnFailure(CSTD_STATUS_BAD_ARGUMENT), tkProcedureFailure);
}
