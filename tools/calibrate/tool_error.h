// Failures of the command-line tool itself (as opposed to failures of the library).
#ifndef CCAL_TOOLS_CALIBRATE_TOOL_ERROR_H
#define CCAL_TOOLS_CALIBRATE_TOOL_ERROR_H

#include <stdexcept>
#include <string>

// An input file (point list, intrinsics, archive, point pairs) is unreadable or does not fit
// what the tool needs. The message names the file and the fault; the tool exits with status 2.
class tkToolInputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The command line is wrong; the tool prints the message and the usage and exits with status 2.
class tkToolUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The computation ended without a usable result although the library threw nothing (for example
// a rig pose estimation that found no finite poses); the tool exits with status 1.
class tkToolFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

#endif
