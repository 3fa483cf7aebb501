// Abort requests through tkAbortToken, tkAttentionScope and tkAttention::check, including a
// request made by another thread while a computation runs.
#include <gtest/gtest.h>
#include <proc/csys_attention.h>
#include <tk/attention.h>

#include <atomic>
#include <chrono>
#include <thread>

TEST(Attention, RequestFromAnotherThreadStopsACheckLoop) {
  // The worker gives up after 10 s so that a broken check fails the test instead of hanging it.
  tkAbortToken token;
  std::atomic<bool> running{false};
  bool threw = false, timedOut = false;
  std::thread worker([&] {
    tkAttentionScope attention(token);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    try {
      for (unsigned long i = 0;; ++i) {
        running.store(true);
        tkAttention::check();
        if (i % 4096 == 0 && std::chrono::steady_clock::now() > deadline) {
          timedOut = true;
          return;
        }
      }
    } catch (const tkAttention::Aborted&) {
      threw = true;
    }
  });
  while (!running.load())
    std::this_thread::yield();
  token.requestAbort();
  worker.join();
  EXPECT_TRUE(threw);
  EXPECT_FALSE(timedOut);
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
