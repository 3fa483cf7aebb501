// Resampling images into a new pinhole view (rectification.h): every pixel of the output takes
// the input's value at tfFromView of its centre (bilinear; black outside the input).
#ifndef CCAL_TOOLS_IMAGES_UNDISTORT_IMAGES_H
#define CCAL_TOOLS_IMAGES_UNDISTORT_IMAGES_H

#include "rectification.h"

#include <string>

// Reads inputPath, writes the resampled image of the same size to outputPath (its format from
// its extension). Returns an empty string on success, else why nothing was written (unreadable
// input, unwritable output). Throws tkImagesUnavailable without OpenCV.
std::string tfResampleImage(const tkPinholeView& view,
                            const tkPhysicalAtZEquals1FromImageParams& model,
                            const std::string& inputPath, const std::string& outputPath);

#endif
