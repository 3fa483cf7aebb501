// The panel of the residual plot that maps a camera's projection uncertainty (result_quality.h)
// over its image: cells coloured by the RMS radius (log scale from the smallest value to 1 px and
// above), contour lines at 0.1, 0.25, 0.5 and 1 px, and the outline (convex hull) of where the
// camera's points were.
#ifndef CCAL_TOOLS_CALIBRATE_UNCERTAINTY_MAP_H
#define CCAL_TOOLS_CALIBRATE_UNCERTAINTY_MAP_H

#include "calibration_result.h"

#include <svg_document.h>

// Height of the panel in document units (0 when the result has no map).
double tfUncertaintyMapHeight(const tkToolResult& result);

// Draws camera c's map with its top-left corner at (left, top), width `width`.
void tfDrawUncertaintyMap(tkSvgDocument& doc, const tkToolResult& result, size_t c, double left,
                          double top, double width);

#endif
