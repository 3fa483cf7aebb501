#include "compare_run.h"

#include "compare_metrics.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <sstream>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == '\t')
      c = ' ';
  return text;
}

// The outcome of a row as text: the numbers on the first line, the note on the second.
std::string encode(const tkCompareRow& row) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer,
                "%d %d %d %ld %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %d\n",
                row.ok ? 1 : 0, row.cameras, row.views, row.points, row.rms, row.largest,
                row.focalRel, row.axisPx, row.mapRmsPx, row.relRotMrad, row.relTransPct,
                row.seconds, row.cpuSeconds, row.runs);
  return buffer + oneLine(row.note) + "\n";
}

bool decode(const std::string& text, tkCompareRow& row) {
  const std::size_t eol = text.find('\n');
  if (eol == std::string::npos)
    return false;
  std::istringstream numbers(text.substr(0, eol));
  std::vector<std::string> tokens;
  for (std::string token; numbers >> token;)
    tokens.push_back(token);
  if (tokens.size() != 14)
    return false;
  const auto real = [&](int i) { return std::strtod(tokens[i].c_str(), nullptr); };
  row.ok = tokens[0] == "1";
  row.cameras = std::atoi(tokens[1].c_str());
  row.views = std::atoi(tokens[2].c_str());
  row.points = std::atol(tokens[3].c_str());
  row.rms = real(4);
  row.largest = real(5);
  row.focalRel = real(6);
  row.axisPx = real(7);
  row.mapRmsPx = real(8);
  row.relRotMrad = real(9);
  row.relTransPct = real(10);
  row.seconds = real(11);
  row.cpuSeconds = real(12);
  row.runs = std::atoi(tokens[13].c_str());
  const std::size_t end = text.find('\n', eol + 1);
  row.note = text.substr(eol + 1, end == std::string::npos ? std::string::npos : end - eol - 1);
  return true;
}

double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

}  // namespace

void tfTimeCalls(const std::function<void()>& call, const tkRepeatPolicy& policy,
                 tkCompareRow& row) {
  std::vector<double> times, cpuTimes;
  double total = 0.0;
  for (;;) {
    const Clock::time_point start = Clock::now();
    const double cpuStart = processCpuSeconds();
    call();
    cpuTimes.push_back(processCpuSeconds() - cpuStart);
    times.push_back(secondsSince(start));
    total += times.back();
    const int n = static_cast<int>(times.size());
    if (n == 1 && times[0] > policy.singleRunAbove)
      break;
    if (n >= policy.maxRuns || (n >= policy.minRuns && total >= policy.budgetSeconds))
      break;
  }
  row.runs = static_cast<int>(times.size());
  row.seconds = tfMedian(times);
  row.cpuSeconds = tfMedian(cpuTimes);
}

tkCompareRow tfRunIsolated(const std::function<tkCompareRow()>& job, const tkCompareRow& identity,
                           double timeoutSeconds) {
  tkCompareRow row = identity;
  std::fflush(nullptr);
  int fds[2];
  if (pipe(fds) != 0) {
    row.note = "no pipe for the child process";
    return row;
  }
  const pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    row.note = "fork failed";
    return row;
  }
  if (child == 0) {
    close(fds[0]);
    tkCompareRow result = identity;
    try {
      result = job();
    } catch (const std::exception& e) {
      result.ok = false;
      result.note = std::string("threw: ") + e.what();
    } catch (...) {
      result.ok = false;
      result.note = "threw an exception of unknown type";
    }
    const std::string text = encode(result);
    std::size_t written = 0;
    while (written < text.size()) {
      const ssize_t n = write(fds[1], text.data() + written, text.size() - written);
      if (n <= 0)
        break;
      written += static_cast<std::size_t>(n);
    }
    close(fds[1]);
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  const Clock::time_point start = Clock::now();
  bool timedOut = false;
  for (;;) {
    const double left = timeoutSeconds - secondsSince(start);
    if (left <= 0.0) {
      timedOut = true;
      break;
    }
    pollfd pfd{fds[0], POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(std::min(left, 1.0) * 1000.0) + 1);
    if (ready <= 0)
      continue;
    char buffer[4096];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0)
      break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  if (timedOut)
    kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (timedOut) {
    row.note = "no result within the time limit of " +
               std::to_string(static_cast<int>(timeoutSeconds)) + " s";
    return row;
  }
  if (WIFSIGNALED(status)) {
    row.note = "crashed (signal " + std::to_string(WTERMSIG(status)) + ")";
    return row;
  }
  tkCompareRow decoded = identity;
  if (!decode(text, decoded)) {
    row.note = "the child process returned no result";
    return row;
  }
  return decoded;
}
