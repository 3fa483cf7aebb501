#include "ccal/lnsc/line_scan_records.h"

void tk_fillLineScanPointList(cstd_vector_cmath_vect& list,
                              const std::vector<tkVector<2>>& points) {
  tfThrowExceptionOnFailure(cstd_vector_cmath_vect_resize(&list, points.size()));
  cmath_vect* begin = nullptr;
  tfThrowExceptionOnFailure(cstd_vector_cmath_vect_getBegin(&list, &begin));
  for (std::size_t i = 0; i < points.size(); ++i)
    begin[i] = {points[i].x(), points[i].y()};
}
