// A one-line progress bar on stderr ("  LABEL [####....]  40%"), redrawn when the fraction moves
// by 1% or more; clear() removes it. The caller decides whether stderr is a terminal.
#ifndef CCAL_TOOLS_CALIBRATE_PROGRESS_BAR_H
#define CCAL_TOOLS_CALIBRATE_PROGRESS_BAR_H

#include <cstdio>
#include <string>
#include <utility>

class tkProgressBar {
 public:
  explicit tkProgressBar(std::string label) : label_(std::move(label)) {}
  void draw(double fraction) {
    const int percent = static_cast<int>(fraction * 100.0 + 1e-9);
    if (percent == shown_)
      return;
    shown_ = percent;
    const int width = 40;
    const int filled = percent * width / 100;
    std::fprintf(stderr, "\r  %s [%s%s] %3d%%", label_.c_str(), std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), percent);
    std::fflush(stderr);
  }
  void clear() {
    if (shown_ >= 0) {
      std::fprintf(stderr, "\r%*s\r", static_cast<int>(label_.size()) + 52, "");
      std::fflush(stderr);
      shown_ = -1;
    }
  }

 private:
  std::string label_;
  int shown_ = -1;
};

#endif
