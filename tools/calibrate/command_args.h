// Small helpers shared by the subcommands' own option parsers (detect, export, undistort).
#ifndef CCAL_TOOLS_CALIBRATE_COMMAND_ARGS_H
#define CCAL_TOOLS_CALIBRATE_COMMAND_ARGS_H

#include <string>
#include <vector>

// The value after args[i] (advancing i). Throws tkToolUsageError naming the option when missing.
const std::string& tfOptionValue(const std::vector<std::string>& args, size_t& i);
// A finite number above lo; throws tkToolUsageError naming the option otherwise.
double tfPositiveNumber(const std::string& text, const std::string& option, double lo = 0.0);
// An integer from lo to hi; throws tkToolUsageError naming the option otherwise.
long tfIntegerIn(const std::string& text, const std::string& option, long lo, long hi);
// The files a command-line argument names: the argument itself, or the sorted matches of a
// pattern with * ? or [ (quoted on the command line, so that the shell left it alone). Throws
// tkToolInputError when a pattern matches nothing.
std::vector<std::string> tfExpandFiles(const std::string& arg);

#endif
