// `ccal-calibrate map`: maps points with a saved calibration (an archive written by --archive).
//
// Image -> plate (default): each input point (u, v) in pixels gives one output line
//   u v x y u' v'
// where (x, y) is the point of the world plane Z = 0 (the plate plane for line scan) seen at
// (u, v), and (u', v') maps it back to the image (equal to (u, v) up to rounding). With
// --to-image the input points are plane points and the line is "x y u v x' y'".
// Points come from the command line or, when it has none, from `in`: one pair per line,
// separated by blanks or a comma; blank lines and lines starting with '#' are skipped.
#ifndef CCAL_TOOLS_CALIBRATE_MAP_COMMAND_H
#define CCAL_TOOLS_CALIBRATE_MAP_COMMAND_H

#include "cli_options.h"

#include <istream>
#include <ostream>

// Throws tkToolInputError for an unreadable archive, a camera index out of range or a malformed
// input line (naming the line); library failures of the mappings pass through.
void tfRunMapCommand(const tkMapOptions& options, std::istream& in, std::ostream& out);

#endif
