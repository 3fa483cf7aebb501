#include <tk/jacobian_structure.h>
#include "platform/core/invalid_argument.h"

#include <algorithm>
#include <string>

namespace {

void checkStarts(const std::vector<long>& starts, long size, const char* what) {
  if (starts.empty() || starts.front() != 0) {
    tk_throwInvalidArgument(std::string("tkJacobianStructure: the ") + what +
                            " starts must begin with 0");
  }
  for (std::size_t k = 1; k < starts.size(); ++k)
    if (starts[k] <= starts[k - 1])
      tk_throwInvalidArgument(std::string("tkJacobianStructure: the ") + what +
                              " starts must increase strictly");
  if (starts.back() >= size)
    tk_throwInvalidArgument(std::string("tkJacobianStructure: a ") + what +
                            " start lies beyond the last index");
}

}  // namespace

tkJacobianStructure::tkJacobianStructure(long n, long m, const std::vector<long>& parameterStarts,
                                         const std::vector<long>& rowStarts) {
  if (n < 1 || m < 1)
    tk_throwInvalidArgument("tkJacobianStructure: needs n >= 1 and m >= 1");
  checkStarts(parameterStarts, n, "parameter block");
  checkStarts(rowStarts, m, "row group");
  n_ = n;
  m_ = m;
  parameterStarts_ = parameterStarts;
  rowStarts_ = rowStarts;
  groups_.assign(parameterStarts.size(), {});
  eliminated_.assign(parameterStarts.size(), false);
}

void tkJacobianStructure::couple(long block, long group) {
  if (block < 0 || block >= parameterBlocks() || group < 0 || group >= rowGroups()) {
    tk_throwInvalidArgument("tkJacobianStructure::couple: block " + std::to_string(block) +
                            " or group " + std::to_string(group) + " out of range");
  }
  std::vector<long>& groups = groups_[static_cast<std::size_t>(block)];
  const auto at = std::lower_bound(groups.begin(), groups.end(), group);
  if (at == groups.end() || *at != group)
    groups.insert(at, group);
}

void tkJacobianStructure::eliminate(long block) {
  if (block < 0 || block >= parameterBlocks()) {
    tk_throwInvalidArgument("tkJacobianStructure::eliminate: block " + std::to_string(block) +
                            " out of range");
  }
  eliminated_[static_cast<std::size_t>(block)] = true;
}

long tkJacobianStructure::parameterCount(long b) const {
  const std::size_t k = static_cast<std::size_t>(b);
  return (k + 1 < parameterStarts_.size() ? parameterStarts_[k + 1] : n_) - parameterStarts_[k];
}

long tkJacobianStructure::rowCount(long g) const {
  const std::size_t k = static_cast<std::size_t>(g);
  return (k + 1 < rowStarts_.size() ? rowStarts_[k + 1] : m_) - rowStarts_[k];
}

long tkJacobianStructure::blockOfParameter(long i) const {
  const auto at = std::upper_bound(parameterStarts_.begin(), parameterStarts_.end(), i);
  return static_cast<long>(at - parameterStarts_.begin()) - 1;
}
