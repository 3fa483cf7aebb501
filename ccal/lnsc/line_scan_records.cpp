#include "ccal/lnsc/line_scan_records.h"

void tk_fillLineScanPointList(cstd_vector_cmath_vect& list,
                              const std::vector<tkVector<2>>& points) {
  tfThrowExceptionOnFailure(cstd_vector_cmath_vect_resize(&list, points.size()));
  cmath_vect* begin = nullptr;
  tfThrowExceptionOnFailure(cstd_vector_cmath_vect_getBegin(&list, &begin));
  for (std::size_t i = 0; i < points.size(); ++i)
    begin[i] = {points[i].x(), points[i].y()};
}

void tk_makeLineScanPointList(cstd_vector_cmath_vect& list, const std::vector<tkVector<2>>& points,
                              csys_cleanupEntry* table, uint32_t capacity, uint32_t& count) {
  tfThrowExceptionOnFailure(cstd_vector_cmath_vect_construct(&list, 0));
  tk_registerLineScanRecord(&list, cstd_vector_cmath_vect_destruct,
                            csys_typeCheck_cstd_vector_cmath_vect,
                            csys_typeCheckFunc_cstd_vector_cmath_vect, table, capacity, count);
  tk_fillLineScanPointList(list, points);
}
