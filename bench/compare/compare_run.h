// One row of the OpenCV comparison and the way a row is produced: a job runs the calibration
// call repeatedly, times it, and measures the result; it runs in a child process with a time
// limit, so that a call that throws, crashes or runs too long becomes a row saying so instead of
// ending the comparison.
#ifndef CCAL_BENCH_COMPARE_COMPARE_RUN_H
#define CCAL_BENCH_COMPARE_COMPARE_RUN_H

#include <functional>
#include <limits>
#include <string>

struct tkCompareRow {
  // Identity of the row.
  std::string set;      // data set, with "/<camera>" for one camera of a rig file
  std::string task;     // "planar", "rig" or "points3d"
  std::string library;  // "ccal" or "OpenCV"
  std::string method;   // what was called, with its model or flags
  int cameras = 1;
  int views = 0;
  long points = 0;
  // Outcome.
  bool ok = false;
  std::string note;  // failure message, or what the figures cover when that is not obvious
  double rms = std::numeric_limits<double>::quiet_NaN();      // px, over all points
  double largest = std::numeric_limits<double>::quiet_NaN();  // px
  double focalRel = std::numeric_limits<double>::quiet_NaN();
  double axisPx = std::numeric_limits<double>::quiet_NaN();
  double mapRmsPx = std::numeric_limits<double>::quiet_NaN();
  double relRotMrad = std::numeric_limits<double>::quiet_NaN();
  double relTransPct = std::numeric_limits<double>::quiet_NaN();
  double seconds = std::numeric_limits<double>::quiet_NaN();     // median wall time of one call
  double cpuSeconds = std::numeric_limits<double>::quiet_NaN();  // median CPU time of one call
  int runs = 0;
};

// How often a call is repeated: at least minRuns and at most maxRuns times, stopping after
// minRuns once the runs took budgetSeconds together; a single run when the first one took longer
// than singleRunAbove seconds.
struct tkRepeatPolicy {
  int minRuns = 3;
  int maxRuns = 7;
  double budgetSeconds = 2.0;
  double singleRunAbove = 5.0;
};

// Runs `call` as the policy says and stores into row the median wall time and the median CPU
// time of the process (the calls run on one thread, so this is the call's own) of one call in
// seconds, and the number of calls. Exceptions of the call pass through.
void tfTimeCalls(const std::function<void()>& call, const tkRepeatPolicy& policy,
                 tkCompareRow& row);

// Runs job() in a child process and returns its row. The row `identity` supplies the identity
// fields; the outcome comes from the job. When the job throws, the row has ok = false and the
// exception's message; when the child dies by a signal or does not finish within timeoutSeconds
// (it is then killed), the note says so. Never throws for a failure of the job.
tkCompareRow tfRunIsolated(const std::function<tkCompareRow()>& job, const tkCompareRow& identity,
                           double timeoutSeconds);

#endif
