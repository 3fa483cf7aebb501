#include <proc/csys_attention.h>

#include <atomic>
#include <new>

namespace {

using Flag = std::atomic<bool>;
static_assert(sizeof(Flag) <= sizeof(csys_attentionToken::storage_), "token storage too small");
static_assert(alignof(Flag) <= alignof(csys_attentionToken), "token storage misaligned");
static_assert(Flag::is_always_lock_free, "the abort flag must be lock-free");

// The flag lives in the token's storage from construct to destruct.
Flag* flagOf(csys_attentionToken* token) {
  return std::launder(reinterpret_cast<Flag*>(token->storage_.bytes));
}
const Flag* flagOf(const csys_attentionToken* token) {
  return std::launder(reinterpret_cast<const Flag*>(token->storage_.bytes));
}

thread_local const csys_attentionToken* threadToken = nullptr;

}  // namespace

cstd_status csys_attentionToken_construct(csys_attentionToken* token) {
  if (token == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  new (token->storage_.bytes) Flag(false);
  return CSTD_STATUS_OK;
}

cstd_status csys_attentionToken_destruct(csys_attentionToken* token) {
  if (token == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  flagOf(token)->~Flag();
  return CSTD_STATUS_OK;
}

cstd_status csys_attentionToken_requestAbort(csys_attentionToken* token) {
  if (token == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  flagOf(token)->store(true, std::memory_order_release);
  return CSTD_STATUS_OK;
}

cstd_status csys_attentionToken_reset(csys_attentionToken* token) {
  if (token == nullptr)
    return CSTD_STATUS_BAD_ARGUMENT;
  flagOf(token)->store(false, std::memory_order_release);
  return CSTD_STATUS_OK;
}

int32_t csys_attentionToken_isAbortRequested(const csys_attentionToken* token) {
  if (token == nullptr)
    return 0;
  return flagOf(token)->load(std::memory_order_acquire) ? 1 : 0;
}

const csys_attentionToken* csys_attention_setThreadToken(const csys_attentionToken* token) {
  const csys_attentionToken* previous = threadToken;
  threadToken = token;
  return previous;
}

const csys_attentionToken* csys_attention_getThreadToken(void) {
  return threadToken;
}

cstd_status csys_attention_check(void) {
  const csys_attentionToken* token = threadToken;
  // Relaxed is enough: the flag carries no data, and the computing thread only has to see the
  // request eventually, which every atomic load guarantees.
  if (token != nullptr && flagOf(token)->load(std::memory_order_relaxed)) {
    return CSTD_STATUS_ABORTED;
  }
  return CSTD_STATUS_OK;
}
