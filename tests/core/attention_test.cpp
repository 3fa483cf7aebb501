// Abort requests through tkAbortToken, tkAttentionScope and tkAttention::check. A request from
// another thread while a computation runs: tests/reliability/abort_test, on every long entry point.
#include <gtest/gtest.h>
#include <proc/csys_attention.h>
#include <tk/attention.h>

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
