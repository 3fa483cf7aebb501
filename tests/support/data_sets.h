// Access to the bundled point-list files under data/.
#ifndef CCAL_TESTS_SUPPORT_DATA_SETS_H
#define CCAL_TESTS_SUPPORT_DATA_SETS_H

#include <point_file.h>

#include <string>

// Full path of a bundled data file, e.g. dataPath("opencv-left.json").
std::string dataPath(const std::string& fileName);

// Loads a bundled data file (throws tkPointFileError when it is missing or malformed).
tkPointFile loadDataSet(const std::string& fileName);

#endif
