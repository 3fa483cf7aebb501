// The procedural side of abort requests: the per-thread token and the check.
#include <gtest/gtest.h>
#include <proc/csys_attention.h>

#include <thread>

namespace {

class ProcAttention : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(csys_attentionToken_construct(&token_), CSTD_STATUS_OK); }
  void TearDown() override { csys_attentionToken_destruct(&token_); }
  csys_attentionToken token_;
};

TEST_F(ProcAttention, CheckFollowsTheInstalledToken) {
  EXPECT_EQ(csys_attention_check(), CSTD_STATUS_OK) << "no token installed";
  const csys_attentionToken* previous = csys_attention_setThreadToken(&token_);
  EXPECT_EQ(csys_attention_check(), CSTD_STATUS_OK);
  csys_attentionToken_requestAbort(&token_);
  EXPECT_EQ(csys_attentionToken_isAbortRequested(&token_), 1);
  EXPECT_EQ(csys_attention_check(), CSTD_STATUS_ABORTED);
  csys_attentionToken_reset(&token_);
  EXPECT_EQ(csys_attention_check(), CSTD_STATUS_OK);
  csys_attention_setThreadToken(previous);
}

TEST_F(ProcAttention, TokensAreInstalledPerThread) {
  csys_attentionToken_requestAbort(&token_);
  const csys_attentionToken* previous = csys_attention_setThreadToken(&token_);
  cstd_status otherThread = CSTD_STATUS_ABORTED;
  std::thread([&] { otherThread = csys_attention_check(); }).join();
  EXPECT_EQ(otherThread, CSTD_STATUS_OK) << "a thread without a token is never aborted";
  EXPECT_EQ(csys_attention_check(), CSTD_STATUS_ABORTED);
  EXPECT_EQ(csys_attention_setThreadToken(previous), &token_);
}

}  // namespace
