#include "support/data_sets.h"

std::string dataPath(const std::string& fileName) {
  return std::string(CCAL_DATA_DIR) + "/" + fileName;
}

tkPointFile loadDataSet(const std::string& fileName) {
  return tfLoadPointFile(dataPath(fileName));
}
