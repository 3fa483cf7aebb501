#include "undistort_images.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <fstream>

std::string tfResampleImage(const tkPinholeView& view,
                            const tkPhysicalAtZEquals1FromImageParams& model,
                            const std::string& inputPath, const std::string& outputPath) {
  cv::Mat input;
  if (!std::ifstream(inputPath, std::ios::binary).good())
    return "cannot read the image";
  try {
    input = cv::imread(inputPath, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception&) {
    input.release();
  }
  if (input.empty())
    return "cannot read the image";
  cv::Mat map(input.rows, input.cols, CV_32FC2);
  for (int v = 0; v < input.rows; ++v) {
    for (int u = 0; u < input.cols; ++u) {
      const tkVector<2> source = tfFromView(view, model, tkVector<2>(u, v));
      const bool finite = std::isfinite(source.x()) && std::isfinite(source.y());
      map.at<cv::Vec2f>(v, u) =
          finite ? cv::Vec2f(static_cast<float>(source.x()), static_cast<float>(source.y()))
                 : cv::Vec2f(-1e6f, -1e6f);
    }
  }
  cv::Mat output;
  cv::remap(input, output, map, cv::noArray(), cv::INTER_LINEAR, cv::BORDER_CONSTANT);
  try {
    if (cv::imwrite(outputPath, output))
      return "";
  } catch (const cv::Exception&) {
  }
  return "cannot write " + outputPath;
}
