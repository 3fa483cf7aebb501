#include <tk/attention.h>
#include "platform/core/persistent_class.h"

#include <proc/cstd_assert.h>

tkAbortToken::tkAbortToken() {
  csys_attentionToken_construct(&token_);
}

tkAbortToken::~tkAbortToken() {
  // A token that dies while installed would leave a dangling thread-local pointer behind.
  CSTD_ASSERT(csys_attention_getThreadToken() != &token_);
  csys_attentionToken_destruct(&token_);
}

void tkAbortToken::requestAbort() {
  csys_attentionToken_requestAbort(&token_);
}

bool tkAbortToken::isAbortRequested() const {
  return csys_attentionToken_isAbortRequested(&token_) != 0;
}

void tkAbortToken::reset() {
  csys_attentionToken_reset(&token_);
}

tkAttentionScope::tkAttentionScope(const tkAbortToken& token)
    : previous_(csys_attention_setThreadToken(token.record())) {}

tkAttentionScope::~tkAttentionScope() {
  csys_attention_setThreadToken(previous_);
}

tkAttention::Aborted::Aborted()
    : tkExceptionWithString(L"the computation was stopped at the caller's request") {}

tkAttention::Aborted::~Aborted() = default;

long tkAttention::Aborted::errorNumber() const {
  return 0x10000200;
}

TK_DEFINE_SUICIDE_AND_RETHROW(tkAttention::Aborted)

void tkAttention::check() {
  if (csys_attention_check() < 0)
    throw Aborted();
}

bool tkAttention::isAbortRequested() {
  return csys_attention_check() < 0;
}
