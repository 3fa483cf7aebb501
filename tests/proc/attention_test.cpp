// The procedural side of abort requests: the per-thread token and the check.
#include <gtest/gtest.h>
#include <proc/csys_attention.h>

#include <thread>

TEST(ProcAttention, CheckFollowsTheTokenInstalledForThisThreadOnly) {
  csys_attentionToken token;
  ASSERT_EQ(csys_attentionToken_construct(&token), CSTD_STATUS_OK);
  const csys_attentionToken* previous = csys_attention_setThreadToken(&token);
  EXPECT_EQ(csys_attention_check(), CSTD_STATUS_OK);
  csys_attentionToken_requestAbort(&token);
  EXPECT_EQ(csys_attentionToken_isAbortRequested(&token), 1);
  EXPECT_EQ(csys_attention_check(), CSTD_STATUS_ABORTED);
  cstd_status otherThread = CSTD_STATUS_ABORTED;
  std::thread([&] { otherThread = csys_attention_check(); }).join();
  EXPECT_EQ(otherThread, CSTD_STATUS_OK) << "a thread without a token is never aborted";
  csys_attentionToken_reset(&token);
  EXPECT_EQ(csys_attention_check(), CSTD_STATUS_OK);
  EXPECT_EQ(csys_attention_setThreadToken(previous), &token);
  csys_attentionToken_destruct(&token);
}
