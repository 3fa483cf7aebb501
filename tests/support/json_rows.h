// Values of the data sets' ground-truth JSON shared by its readers.
#ifndef CCAL_TESTS_SUPPORT_JSON_ROWS_H
#define CCAL_TESTS_SUPPORT_JSON_ROWS_H

#include <nlohmann/json_fwd.hpp>
#include <tk/xform.h>

// The transform of a 3 x 4 array of rows [R | t].
tkXform<3> tfXformFromRows(const nlohmann::json& rows);

#endif
