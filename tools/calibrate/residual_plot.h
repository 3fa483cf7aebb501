// The residual plot of a calibration as an SVG picture: per camera, the image frame with each
// point's residual drawn as an arrow from the measured point (one <path class="arrow"> per
// point), scaled by a common factor and coloured by its length, and below it a histogram of the
// residual lengths.
#ifndef CCAL_TOOLS_CALIBRATE_RESIDUAL_PLOT_H
#define CCAL_TOOLS_CALIBRATE_RESIDUAL_PLOT_H

#include "calibration_result.h"

#include <string>

// The SVG text of the plot.
std::string tfResidualPlotSvg(const tkToolResult& result);

// Writes the plot to path. Throws tkToolInputError naming the file when it cannot be written.
void tfWriteResidualPlot(const tkToolResult& result, const std::string& path);

#endif
