#include "command_args.h"

#include "tool_error.h"

#include <glob.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

const std::string& tfOptionValue(const std::vector<std::string>& args, size_t& i) {
  if (i + 1 >= args.size())
    throw tkToolUsageError(args[i] + " needs a value");
  return args[++i];
}

double tfPositiveNumber(const std::string& text, const std::string& option, double lo) {
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE ||
      !std::isfinite(value) || !(value > lo)) {
    throw tkToolUsageError(option + ": expected a finite number above " + std::to_string(lo) +
                           ", got \"" + text + "\"");
  }
  return value;
}

long tfIntegerIn(const std::string& text, const std::string& option, long lo, long hi) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || value < lo ||
      value > hi) {
    throw tkToolUsageError(option + ": expected an integer from " + std::to_string(lo) + " to " +
                           std::to_string(hi) + ", got \"" + text + "\"");
  }
  return value;
}

std::vector<std::string> tfExpandFiles(const std::string& arg) {
  if (arg.find_first_of("*?[") == std::string::npos)
    return {arg};
  glob_t matches{};
  const int status = glob(arg.c_str(), 0, nullptr, &matches);
  std::vector<std::string> files;
  if (status == 0) {
    for (size_t i = 0; i < matches.gl_pathc; ++i)
      files.emplace_back(matches.gl_pathv[i]);
  }
  globfree(&matches);
  if (files.empty())
    throw tkToolInputError("no file matches " + arg);
  return files;
}
