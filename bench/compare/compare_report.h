// Output of the OpenCV comparison: the rows as CSV, as Markdown tables with a verdict on the
// targets, and the section of docs/benchmarks.md that holds them.
#ifndef CCAL_BENCH_COMPARE_COMPARE_REPORT_H
#define CCAL_BENCH_COMPARE_COMPARE_REPORT_H

#include "compare_run.h"
#include "time_plot.h"

#include <string>
#include <vector>

// One line per row after a header line; fields with commas or quotes are quoted; NaN is empty.
std::string tfCompareCsv(const std::vector<tkCompareRow>& rows);

// The rows of a file written by tfCompareCsv (NaN for empty numbers). Throws
// std::runtime_error for a line with the wrong number of fields.
std::vector<tkCompareRow> tfParseCompareCsv(const std::string& text);

// Markdown: a table per task ("planar", "rig", "points3d", "scaling", in that order; a task
// without rows has no table), then the targets and how far each is met. `context` (a paragraph
// on the machine and the run) goes first.
std::string tfCompareMarkdown(const std::vector<tkCompareRow>& rows, const std::string& context);

// The series of the plot: median CPU time against views of the "scaling" rows, one per library and
// method; rows that failed are left out.
std::vector<tkPlotSeries> tfScalingSeries(const std::vector<tkCompareRow>& rows);

// Markers of the generated section of docs/benchmarks.md.
extern const char* const kCompareBeginMarker;
extern const char* const kCompareEndMarker;

// `document` with the text between the markers (markers kept) replaced by `section`; when the
// document has no complete marker pair, the markers and the section are appended.
std::string tfReplaceMarkedSection(const std::string& document, const std::string& section);

#endif
