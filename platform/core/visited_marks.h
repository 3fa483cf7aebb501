// Visited marks of one archive operation (internal to the core library). The outermost
// tkArchive::Operation on a thread makes its archive's marks the active ones; they are cleared
// when that operation ends.
#ifndef TK_CORE_VISITED_MARKS_H
#define TK_CORE_VISITED_MARKS_H

#include <cstddef>
#include <set>
#include <utility>

class tk_VisitedMarks {
 public:
  bool has(const void* address, std::size_t size) const {
    return marks_.count(std::make_pair(address, size)) != 0;
  }
  // True when any object at this address (of any size) was marked.
  bool anyAt(const void* address) const {
    auto next = marks_.lower_bound(std::make_pair(address, std::size_t{0}));
    return next != marks_.end() && next->first == address;
  }
  void add(const void* address, std::size_t size) { marks_.emplace(address, size); }
  void clear() { marks_.clear(); }

 private:
  std::set<std::pair<const void*, std::size_t>> marks_;
};

// The marks of the operation active on the calling thread, or null outside any operation.
tk_VisitedMarks* tk_activeVisitedMarks();

#endif
