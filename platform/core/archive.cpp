#include <tk/archive.h>

#include "platform/core/utf8.h"
#include "platform/core/visited_marks.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// Deepest nesting of archive operations (objects within objects, vectors within vectors). Real
// data stays far below; a hostile archive nesting objects deeper would exhaust the stack.
constexpr int kMaxOperationDepth = 256;

thread_local tk_VisitedMarks* tActiveMarks = nullptr;

std::wstring pathText(const std::string& path) {
  std::wstring text;
  if (tk_decodeUtf8(reinterpret_cast<const unsigned char*>(path.data()), path.size(), text)) {
    return text;
  }
  return std::wstring(path.begin(), path.end());
}

}  // namespace

struct tkArchive::Impl {
  std::vector<unsigned char>* bytes = nullptr;  // the user's buffer, or ownBytes for a file
  std::vector<unsigned char> ownBytes;
  std::string path;        // empty for a buffer archive
  bool unwritten = false;  // storing to a file: bytes not yet written to it
  std::size_t readPosition = 0;
  int depth = 0;  // nesting of active Operations
  tk_VisitedMarks marks;
};

tk_VisitedMarks* tk_activeVisitedMarks() {
  return tActiveMarks;
}

tkArchive::tkArchive(std::vector<unsigned char>& buffer, Mode mode) : impl_(new Impl), mode_(mode) {
  impl_->bytes = &buffer;
  if (mode_ == eStore)
    buffer.clear();
}

tkArchive::tkArchive(const std::string& path, Mode mode) : impl_(new Impl), mode_(mode) {
  impl_->bytes = &impl_->ownBytes;
  impl_->path = path;
  if (mode_ == eStore) {
    impl_->unwritten = true;
    return;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    throw IOFailure(L"cannot open the archive file '" + pathText(path) + L"' for reading");
  }
  unsigned char chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    impl_->ownBytes.insert(impl_->ownBytes.end(), chunk, chunk + got);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed)
    throw IOFailure(L"cannot read the archive file '" + pathText(path) + L"'");
}

tkArchive::~tkArchive() {
  if (impl_->unwritten) {
    try {
      flush();
    } catch (...) {
      // A destructor must not throw; flush() reports the failure to callers who ask.
    }
  }
}

void tkArchive::flush() {
  if (mode_ != eStore || impl_->path.empty())
    return;
  std::FILE* file = std::fopen(impl_->path.c_str(), "wb");
  if (file == nullptr) {
    throw IOFailure(L"cannot open the archive file '" + pathText(impl_->path) + L"' for writing");
  }
  const std::vector<unsigned char>& bytes = impl_->ownBytes;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    throw IOFailure(L"cannot write the archive file '" + pathText(impl_->path) + L"'");
  }
  impl_->unwritten = false;
}

std::size_t tkArchive::position() const {
  return mode_ == eStore ? impl_->bytes->size() : impl_->readPosition;
}

std::size_t tkArchive::remaining() const {
  return mode_ == eStore ? 0 : impl_->bytes->size() - impl_->readPosition;
}

void tkArchive::writeBytes(const void* bytes, std::size_t size) {
  if (mode_ != eStore)
    throw tkInvariantFailure(L"tkArchive::writeBytes on a loading archive");
  if (size == 0)
    return;
  const unsigned char* first = static_cast<const unsigned char*>(bytes);
  impl_->bytes->insert(impl_->bytes->end(), first, first + size);
  impl_->unwritten = !impl_->path.empty();
}

void tkArchive::readBytes(void* bytes, std::size_t size) {
  if (mode_ != eLoad)
    throw tkInvariantFailure(L"tkArchive::readBytes on a storing archive");
  if (size > remaining()) {
    throw Corrupt(L"the archive ends early: " + std::to_wstring(size) +
                  L" bytes needed at offset " + std::to_wstring(impl_->readPosition) + L", " +
                  std::to_wstring(remaining()) + L" remain");
  }
  if (size == 0)
    return;
  const unsigned char* first = impl_->bytes->data() + impl_->readPosition;
  std::copy(first, first + size, static_cast<unsigned char*>(bytes));
  impl_->readPosition += size;
}

void tkArchive::requireItems(unsigned long count, std::size_t minBytesPerItem) const {
  const std::size_t itemBytes = minBytesPerItem == 0 ? 1 : minBytesPerItem;
  if (count > remaining() / itemBytes) {
    throw Corrupt(L"the archive is corrupt: a count of " + std::to_wstring(count) +
                  L" items of at least " + std::to_wstring(itemBytes) +
                  L" bytes each, read before offset " + std::to_wstring(position()) +
                  L", exceeds the " + std::to_wstring(remaining()) + L" bytes that remain");
  }
}

tkArchive::Operation::Operation(tkArchive& ar) : archive_(ar), previous_(tActiveMarks) {
  Impl& impl = *ar.impl_;
  if (impl.depth >= kMaxOperationDepth) {
    const std::wstring text = L"objects and vectors are nested more than " +
                              std::to_wstring(kMaxOperationDepth) + L" levels deep";
    if (ar.isStoring())
      throw CannotStore(text);
    throw Corrupt(L"the archive is corrupt: " + text + L" at offset " +
                  std::to_wstring(ar.position()));
  }
  ++impl.depth;
  tActiveMarks = &impl.marks;
}

tkArchive::Operation::~Operation() {
  Impl& impl = *archive_.impl_;
  if (--impl.depth == 0)
    impl.marks.clear();
  tActiveMarks = static_cast<tk_VisitedMarks*>(previous_);
}
