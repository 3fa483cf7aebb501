#include <gtest/gtest.h>

#include "support/data_sets.h"

#include <string>

TEST(PointFile, ReadsRowsPlacementsAndOptionalFields) {
  const tkPointFile stereo = loadDataSet("opencv-stereo.json");
  EXPECT_EQ(stereo.kind, "area-scan");
  ASSERT_EQ(stereo.cameras.size(), 2u);
  const tkPointFile single = loadDataSet("single-radial-exact.json");
  EXPECT_EQ(single.distortionModel, "radial");
  EXPECT_EQ(single.placements[0].kind, "z-rotation");
  EXPECT_EQ(single.placements[0].points[0].size(), 300u);
  EXPECT_EQ(single.placements[0].points[0][1].physical, tkVector<3>(10, 0, 0));
  EXPECT_FALSE(single.groundTruthJson.empty());
  const tkPointFile lineScan = loadDataSet("linescan-exact.json");
  EXPECT_TRUE(lineScan.placements[0].hasDistanceToTarget);
  const tkPointFile telecentric = loadDataSet("telecentric-exact.json");
  EXPECT_TRUE(telecentric.placements[0].hasPose);
}

TEST(PointFile, RejectsMalformedFilesWithTheirPlace) {
  const std::string head =
      R"({"format":"ccal-points/1","kind":"area-scan","distortion_model":"radial",)"
      R"("cameras":["c"],"placements":[{"kind":"z-rotation","height":0,"points":{"c":)";
  const std::string tail = "}}]}";
  EXPECT_NO_THROW(tfParsePointFile(head + "[[1,2,3,4,0]]" + tail));
  const struct {
    std::string text;
    std::string place;
  } cases[] = {
      {"{", "not valid JSON"},
      {head + "[[1,2,3,4]]" + tail, "placements[0].points.c[0]"},
      {head + "[],\"d\":[]" + tail, "\"d\" is not one of the cameras"},
      {head + "[[1,2,3,4,0,-1]]" + tail, "weight is negative"},
      {head + "[[1,\"x\",3,4,0]]" + tail, "placements[0].points.c[0][1]"},
      {head + "[[1,1e999,3,4,0]]" + tail, "not valid JSON"},
      {R"({"format":"other"})", "format"},
      {"[]", "expected a JSON object"},
      {R"({"format":"ccal-points/1","kind":"line-scan","cameras":["c"],)"
       R"("placements":[{"points":{"c":[[1,2,3]]}}]})",
       "expected [u, v, X, Y]"},
      {R"({"format":"ccal-points/1","kind":"telecentric","cameras":["c"],)"
       R"("placements":[{"points":{"c":[]}}]})",
       "need a \"pose\""},
      {R"({"format":"ccal-points/1","kind":"area-scan","distortion_model":"fisheye"})",
       "distortion_model"},
  };
  for (const auto& c : cases) {
    try {
      tfParsePointFile(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const tkPointFileError& error) {
      EXPECT_NE(std::string(error.what()).find(c.place), std::string::npos)
          << error.what() << " should name " << c.place;
    }
  }
  EXPECT_THROW(tfLoadPointFile("/nonexistent/file.json"), tkPointFileError);
}
