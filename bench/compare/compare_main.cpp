// ccal_compare: the library and OpenCV on the same correspondences, side by side.
//
// For each data set both libraries calibrate the same points; a row reports the image residual
// (RMS and largest), the errors against the ground truth where the set has one, and the median
// wall time of one call on one thread. Every calibration runs in a child process with a time
// limit, so that a failure is a row. Output: a CSV file, a Markdown section of
// docs/benchmarks.md (between marker comments, replaced on every run) and an SVG plot of time
// against the number of views. Run through scripts/compare.sh; options:
//   --quick             the two real sets and 10, 20 and 50 generated views only
//   --tasks=a,b         any of planar, rig, points3d, scaling (default: all)
//   --views=10,20,...   sizes of the generated sets (default 10,20,50,100,150,200)
//   --timeout=S         time limit of one row in seconds (default 300)
//   --libraries=a,b     ccal and/or OpenCV (default: both)
//   --data=DIR --docs=FILE --csv=FILE --svg=FILE   inputs and outputs (defaults: the source tree)
//   --no-docs           leave docs/benchmarks.md alone
//   --from-csv=FILE     run nothing: write the tables and the plot again from the CSV of an
//                       earlier run (its context paragraph is read from FILE.run.md)
#include "ccal_runner.h"
#include "compare_report.h"
#include "compare_run.h"
#include "compare_sets.h"
#include "opencv_runner.h"
#include "time_plot.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Options {
  bool quick = false;
  bool docs = true;
  std::string fromCsv;
  std::set<std::string> tasks = {"planar", "rig", "points3d", "scaling"};
  std::set<std::string> libraries = {"ccal", "OpenCV"};
  std::vector<int> views = {10, 20, 50, 100, 150, 200};
  double timeout = 300.0;
  std::string data = CCAL_SOURCE_DIR "/data";
  std::string docsFile = CCAL_SOURCE_DIR "/docs/benchmarks.md";
  std::string csv = CCAL_SOURCE_DIR "/docs/compare/opencv-compare.csv";
  std::string svg = CCAL_SOURCE_DIR "/docs/compare/time-vs-views.svg";
};

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ',');)
    if (!part.empty())
      parts.push_back(part);
  return parts;
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&](const std::string& key) { return a.substr(key.size()); };
    if (a == "--quick") {
      o.quick = true;
      o.views = {10, 20, 50};
    } else if (a == "--no-docs") {
      o.docs = false;
    } else if (a.rfind("--tasks=", 0) == 0) {
      const std::vector<std::string> t = split(value("--tasks="));
      o.tasks = std::set<std::string>(t.begin(), t.end());
    } else if (a.rfind("--libraries=", 0) == 0) {
      const std::vector<std::string> l = split(value("--libraries="));
      o.libraries = std::set<std::string>(l.begin(), l.end());
    } else if (a.rfind("--views=", 0) == 0) {
      o.views.clear();
      for (const std::string& v : split(value("--views=")))
        o.views.push_back(std::stoi(v));
    } else if (a.rfind("--timeout=", 0) == 0) {
      o.timeout = std::stod(value("--timeout="));
    } else if (a.rfind("--from-csv=", 0) == 0) {
      o.fromCsv = value("--from-csv=");
    } else if (a.rfind("--data=", 0) == 0) {
      o.data = value("--data=");
    } else if (a.rfind("--docs=", 0) == 0) {
      o.docsFile = value("--docs=");
    } else if (a.rfind("--csv=", 0) == 0) {
      o.csv = value("--csv=");
    } else if (a.rfind("--svg=", 0) == 0) {
      o.svg = value("--svg=");
    } else {
      throw std::runtime_error("unknown option " + a + " (see the head of compare_main.cpp)");
    }
  }
  return o;
}

tkCompareRow identity(const std::string& set, const std::string& task, const std::string& library,
                      const std::string& method, int views = 0, long points = 0) {
  tkCompareRow row;
  row.views = views;  // what the call is given; the job reports what it used
  row.points = points;
  row.set = set;
  row.task = task;
  row.library = library;
  row.method = method;
  return row;
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  double one = 0.0;
  in >> one;
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.1f", one);
  return buffer;
}

class Runner {
 public:
  explicit Runner(const Options& options) : options_(options) {}

  void run(const tkCompareRow& id, const std::function<tkCompareRow()>& job) {
    if (options_.libraries.count(id.library) == 0)
      return;
    std::cerr << id.task << " " << id.set << " " << id.library << " " << id.method << " ... "
              << std::flush;
    tkCompareRow row = tfRunIsolated(job, id, options_.timeout);
    std::cerr << (row.ok ? "ok" : "FAILED") << " rms " << row.rms << " wall " << row.seconds
              << " s cpu " << row.cpuSeconds << " s"
              << (row.note.empty() ? "" : " (" + row.note + ")") << "\n";
    rows_.push_back(row);
  }
  const std::vector<tkCompareRow>& rows() const { return rows_; }
  std::vector<tkCompareRow>& rows() { return rows_; }

 private:
  const Options& options_;
  std::vector<tkCompareRow> rows_;
};

const tkRepeatPolicy kPolicy;

void planarCases(Runner& runner, const tkCompareSet& set, int camera) {
  const std::string name = set.name + "/" + set.file.cameras[camera];
  const auto model = tfCompareModelNamed(set.file.distortionModel);
  const std::string m = tfCompareModelName(model);
  const std::vector<int> views = tfUsableViews(set.file, camera);
  long points = 0;
  for (int j : views)
    points += static_cast<long>(set.file.placements[j].points[camera].size());
  const int nViews = static_cast<int>(views.size());
  const tkCompareRow ours =
      identity(name, "planar", "ccal", "rig calibration (" + m + ")", nViews, points);
  runner.run(ours, [&] { return tfCcalPlanar(set, camera, ours, kPolicy); });
  std::vector<tkOpenCvLens> lenses = {tfOpenCvLensFor(model)};
  if (lenses[0] != tkOpenCvLens::eDefault)
    lenses.push_back(tkOpenCvLens::eDefault);
  for (tkOpenCvLens lens : lenses) {
    const tkCompareRow id =
        identity(name, "planar", "OpenCV", "calibrateCamera (" + tfOpenCvLensName(lens) + ")",
                 nViews, points);
    runner.run(id, [&] { return tfOpenCvPlanar(set, camera, lens, id, kPolicy); });
  }
}

void rigCases(Runner& runner, const tkCompareSet& set) {
  const auto model = tfCompareModelNamed(set.file.distortionModel);
  const int views = static_cast<int>(set.file.placements.size());
  long points = 0;
  for (std::size_t c = 0; c < set.file.cameras.size(); ++c)
    points += tfPointCount(set.file, static_cast<int>(c));
  const tkCompareRow ours =
      identity(set.name, "rig", "ccal", "rig calibration (" + tfCompareModelName(model) + ")",
               views, points);
  runner.run(ours, [&] { return tfCcalRig(set, ours, kPolicy); });
  const tkOpenCvLens lens = tfOpenCvLensFor(model);
  const tkCompareRow theirs =
      identity(set.name, "rig", "OpenCV",
               "calibrateCamera + stereoCalibrate (" + tfOpenCvLensName(lens) + ")");
  runner.run(theirs, [&] { return tfOpenCvRig(set, lens, theirs, kPolicy); });
}

void points3dCases(Runner& runner, const tkCompareSet& set) {
  const auto model = tfCompareModelNamed(set.file.distortionModel);
  const long points = tfPointCount(set.file, 0);
  const tkCompareRow ours =
      identity(set.name, "points3d", "ccal",
               "single-camera driver (" + tfCompareModelName(model) + ")", 1, points);
  runner.run(ours, [&] { return tfCcalPoints3d(set, ours, kPolicy); });
  const tkOpenCvLens lens = tfOpenCvLensFor(model);
  const tkCompareRow theirs =
      identity(set.name, "points3d", "OpenCV",
               "calibrateCamera, intrinsic guess (" + tfOpenCvLensName(lens) + ")", 1, points);
  runner.run(theirs, [&] { return tfOpenCvPoints3d(set, lens, theirs, kPolicy); });
}

void scalingCases(Runner& runner, const Options& options, const tkCompareSet& cameraSource) {
  const tkAreaScanCameraTruth& camera = cameraSource.truth.cameras[0];
  int ccalGaveUpAt = 0;
  for (int views : options.views) {
    const tkCompareSet set =
        tfGenerateViewSet(camera, cameraSource.file.imageSize[0], cameraSource.file.imageSize[1],
                          views, 0.1, 1000u + static_cast<unsigned>(views));
    const tkCompareRow ours =
        identity(set.name, "scaling", "ccal", "rig calibration (radial)", views, 300L * views);
    if (options.libraries.count("ccal") == 0) {
      // OpenCV alone.
    } else if (ccalGaveUpAt > 0) {
      tkCompareRow skipped = ours;
      skipped.views = views;
      skipped.note = "skipped: no result at " + std::to_string(ccalGaveUpAt) + " views";
      runner.rows().push_back(skipped);
      std::cerr << "scaling " << set.name << " ccal skipped\n";
    } else {
      runner.run(ours, [&] { return tfCcalPlanar(set, 0, ours, kPolicy); });
      const tkCompareRow& last = runner.rows().back();  // the row just run
      if (!last.ok && last.note.find("time limit") != std::string::npos)
        ccalGaveUpAt = views;
    }
    for (tkOpenCvLens lens : {tkOpenCvLens::eK1, tkOpenCvLens::eDefault}) {
      const tkCompareRow id =
          identity(set.name, "scaling", "OpenCV",
                   "calibrateCamera (" + tfOpenCvLensName(lens) + ")", views, 300L * views);
      runner.run(id, [&] { return tfOpenCvPlanar(set, 0, lens, id, kPolicy); });
    }
  }
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  if (!out)
    throw std::runtime_error("cannot write " + path);
  out << text;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parse(argc, argv);
    cv::setNumThreads(1);
    const std::string loadBefore = loadAverage();
    const std::time_t started = std::time(nullptr);
    Runner runner(options);

    std::vector<tkCompareRow> rows;
    std::string contextText;
    if (!options.fromCsv.empty()) {
      rows = tfParseCompareCsv(readFile(options.fromCsv));
      contextText = readFile(options.fromCsv + ".run.md");
    } else {
      const auto load = [&](const std::string& file) {
        return tfLoadCompareSet(options.data, file);
      };
      std::vector<std::string> singleSets = {
          "single-none-exact.json",   "single-none-noisy.json",    "single-radial-exact.json",
          "single-radial-noisy.json", "single-sinetan-exact.json", "single-sinetan-noisy.json"};
      std::vector<std::string> rigSets = {"opencv-stereo.json", "rig3-radial-exact.json",
                                          "rig3-radial-noisy.json", "rig3-sinetan-exact.json",
                                          "rig3-sinetan-noisy.json"};
      if (options.quick) {
        singleSets = {"single-radial-noisy.json"};
        rigSets = {"opencv-stereo.json"};
      }
      if (options.tasks.count("planar")) {
        planarCases(runner, load("opencv-left.json"), 0);
        const tkCompareSet stereo = load("opencv-stereo.json");
        planarCases(runner, stereo, 1);
        for (const std::string& file : singleSets)
          planarCases(runner, load(file), 0);
      }
      if (options.tasks.count("rig"))
        for (const std::string& file : rigSets)
          rigCases(runner, load(file));
      if (options.tasks.count("points3d"))
        for (const std::string& file : singleSets)
          points3dCases(runner, load(file));
      if (options.tasks.count("scaling"))
        scalingCases(runner, options, load("single-radial-noisy.json"));

      const double minutes = std::difftime(std::time(nullptr), started) / 60.0;
      char when[64];
      std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", std::gmtime(&started));
      std::ostringstream context;
      context
          << "Run of " << when << " (" << static_cast<int>(minutes + 0.5) << " min), OpenCV "
          << CV_VERSION << ", one thread (`cv::setNumThreads(1)`; the "
          << "library is single-threaded). Load average " << loadBefore << " at the start and "
          << loadAverage() << " at the end on 2 cores shared with other builds: wall times "
          << "are inflated and noisy, so the CPU time of the calling process (the calls run on one "
          << "thread) is the figure compared, in the targets and the plot. Time: median of "
          << kPolicy.minRuns << "–" << kPolicy.maxRuns
          << " calls (one call when the first took over " << kPolicy.singleRunAbove
          << " s). Time limit per row: " << options.timeout << " s. CSV: "
          << "[compare/opencv-compare.csv](compare/opencv-compare.csv).";
      rows = runner.rows();
      contextText = context.str();
      writeFile(options.csv + ".run.md", contextText);
    }
    writeFile(options.csv, tfCompareCsv(rows));
    const std::vector<tkPlotSeries> series = tfScalingSeries(rows);
    if (!series.empty())
      writeFile(options.svg, tfTimePlotSvg("Planar calibration of one camera: time against views",
                                           "views of a 20 x 15 plate (300 points each)",
                                           "median CPU time of one call, s", series));
    std::string section = tfCompareMarkdown(rows, contextText);
    if (!series.empty())
      section += "![Time against the number of views](compare/time-vs-views.svg)\n\n";
    std::cout << section;
    if (options.docs) {
      std::ifstream in(options.docsFile, std::ios::binary);
      std::stringstream document;
      document << in.rdbuf();
      writeFile(options.docsFile, tfReplaceMarkedSection(document.str(), section));
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "ccal_compare: " << e.what() << "\n";
    return 1;
  }
}
