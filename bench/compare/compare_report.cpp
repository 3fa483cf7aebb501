#include "compare_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <stdexcept>

const char* const kCompareBeginMarker = "<!-- compare:begin (written by ccal_compare) -->";
const char* const kCompareEndMarker = "<!-- compare:end -->";

namespace {

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\n") == std::string::npos)
    return text;
  std::string out = "\"";
  for (char c : text)
    out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string real(double v, const char* format = "%.6g") {
  if (!std::isfinite(v))
    return "";
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, format, v);
  return buffer;
}

std::string cell(double v, const char* format) {
  const std::string s = real(v, format);
  return s.empty() ? "–" : s;
}

std::string timeCell(double seconds) {
  if (!std::isfinite(seconds))
    return "–";
  char buffer[40];
  if (seconds < 1e-3)
    std::snprintf(buffer, sizeof buffer, "%.3g µs", seconds * 1e6);
  else if (seconds < 1.0)
    std::snprintf(buffer, sizeof buffer, "%.3g ms", seconds * 1e3);
  else
    std::snprintf(buffer, sizeof buffer, "%.3g s", seconds);
  return buffer;
}

const tkCompareRow* findRow(const std::vector<tkCompareRow>& rows, const std::string& set,
                            const std::string& task, const std::string& library,
                            const std::string& methodPart) {
  for (const tkCompareRow& row : rows)
    if (row.set == set && row.task == task && row.library == library &&
        row.method.find(methodPart) != std::string::npos)
      return &row;
  return nullptr;
}

// Least-squares slope of log(time) against log(views): 1 for linear growth.
double growthExponent(const tkPlotSeries& s) {
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (std::size_t k = 0; k < s.x.size(); ++k) {
    if (!(s.y[k] > 0.0))
      continue;
    const double x = std::log(s.x[k]), y = std::log(s.y[k]);
    n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y;
  }
  if (n < 2)
    return std::nan("");
  return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

void table(std::ostringstream& md, const std::vector<tkCompareRow>& rows, const std::string& task,
           const std::string& heading) {
  std::vector<const tkCompareRow*> selected;
  for (const tkCompareRow& row : rows)
    if (row.task == task)
      selected.push_back(&row);
  if (selected.empty())
    return;
  const bool rig = task == "rig";
  md << "### " << heading << "\n\n";
  md << "| Set | Library | Method | Views | Points | RMS px | Largest px | f rel. err. | "
        "Axis err. px | Map RMS px |"
     << (rig ? " Rel. rot. mrad | Rel. trans. % |" : "")
     << " Wall time | CPU time | Runs | Note |\n";
  md << "|---|---|---|--:|--:|--:|--:|--:|--:|--:|" << (rig ? "--:|--:|" : "")
     << "--:|--:|--:|---|\n";
  for (const tkCompareRow* r : selected) {
    md << "| " << r->set << " | " << r->library << " | " << r->method << " | " << r->views << " | "
       << r->points << " | ";
    if (!r->ok) {
      md << "failed | | | | |" << (rig ? " | |" : "") << " " << timeCell(r->seconds) << " | "
         << timeCell(r->cpuSeconds) << " | " << r->runs << " | " << r->note << " |\n";
      continue;
    }
    md << cell(r->rms, "%.4g") << " | " << cell(r->largest, "%.4g") << " | "
       << cell(r->focalRel, "%.2e") << " | " << cell(r->axisPx, "%.3g") << " | "
       << cell(r->mapRmsPx, "%.3g") << " | ";
    if (rig)
      md << cell(r->relRotMrad, "%.3g") << " | " << cell(r->relTransPct, "%.3g") << " | ";
    md << timeCell(r->seconds) << " | " << timeCell(r->cpuSeconds) << " | " << r->runs << " | "
       << r->note << " |\n";
  }
  md << "\n";
}

}  // namespace

std::string tfCompareCsv(const std::vector<tkCompareRow>& rows) {
  std::ostringstream csv;
  csv << "set,task,library,method,cameras,views,points,ok,rms_px,largest_px,focal_rel_err,"
         "axis_err_px,map_rms_px,rel_rot_mrad,rel_trans_pct,median_wall_s,median_cpu_s,runs,note\n";
  for (const tkCompareRow& r : rows)
    csv << csvField(r.set) << "," << r.task << "," << r.library << "," << csvField(r.method) << ","
        << r.cameras << "," << r.views << "," << r.points << "," << (r.ok ? 1 : 0) << ","
        << real(r.rms, "%.10g") << "," << real(r.largest, "%.10g") << ","
        << real(r.focalRel, "%.6g") << "," << real(r.axisPx, "%.6g") << ","
        << real(r.mapRmsPx, "%.6g") << "," << real(r.relRotMrad, "%.6g") << ","
        << real(r.relTransPct, "%.6g") << "," << real(r.seconds, "%.6g") << ","
        << real(r.cpuSeconds, "%.6g") << "," << r.runs << "," << csvField(r.note) << "\n";
  return csv.str();
}

std::vector<tkCompareRow> tfParseCompareCsv(const std::string& text) {
  std::vector<tkCompareRow> rows;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    if (line.empty())
      continue;
    std::vector<std::string> f;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = !quoted;
      } else if (c == ',' && !quoted) {
        f.push_back(field);
        field.clear();
      } else {
        field += c;
      }
    }
    f.push_back(field);
    if (f.size() != 19)
      throw std::runtime_error("a comparison CSV line without 19 fields: " + line);
    const auto number = [](const std::string& v) {
      return v.empty() ? std::nan("") : std::strtod(v.c_str(), nullptr);
    };
    tkCompareRow r;
    r.set = f[0];
    r.task = f[1];
    r.library = f[2];
    r.method = f[3];
    r.cameras = std::atoi(f[4].c_str());
    r.views = std::atoi(f[5].c_str());
    r.points = std::atol(f[6].c_str());
    r.ok = f[7] == "1";
    r.rms = number(f[8]);
    r.largest = number(f[9]);
    r.focalRel = number(f[10]);
    r.axisPx = number(f[11]);
    r.mapRmsPx = number(f[12]);
    r.relRotMrad = number(f[13]);
    r.relTransPct = number(f[14]);
    r.seconds = number(f[15]);
    r.cpuSeconds = number(f[16]);
    r.runs = std::atoi(f[17].c_str());
    r.note = f[18];
    rows.push_back(r);
  }
  return rows;
}

std::vector<tkPlotSeries> tfScalingSeries(const std::vector<tkCompareRow>& rows) {
  std::vector<tkPlotSeries> series;
  std::map<std::string, std::size_t> index;
  for (const tkCompareRow& r : rows) {
    if (r.task != "scaling" || !r.ok)
      continue;
    // "ccal (radial)", "OpenCV (k1)": the library and its lens freedom.
    const std::size_t open = r.method.rfind('(');
    const std::string label =
        r.library + (open == std::string::npos ? " " + r.method : " " + r.method.substr(open));
    if (index.count(label) == 0) {
      index[label] = series.size();
      series.push_back({label, {}, {}});
    }
    series[index[label]].x.push_back(r.views);
    series[index[label]].y.push_back(r.cpuSeconds);
  }
  return series;
}

std::string tfCompareMarkdown(const std::vector<tkCompareRow>& rows, const std::string& context) {
  std::ostringstream md;
  md << context << "\n\n";
  table(md, rows, "planar", "One camera, planar views: rig calibration vs cv::calibrateCamera");
  table(md, rows, "rig", "Rigs: rig calibration vs cv::calibrateCamera + cv::stereoCalibrate");
  table(md, rows, "points3d",
        "One camera, 3-D points: single-camera driver vs cv::calibrateCamera with a guess");
  table(md, rows, "scaling", "Scaling: generated views of a 20 × 15 plate, σ = 0.1 px");

  md << "### Targets\n\n";
  const tkCompareRow* ours = findRow(rows, "opencv-left/left", "planar", "ccal", "");
  const tkCompareRow* theirs = findRow(rows, "opencv-left/left", "planar", "OpenCV", "k1)");
  if (ours != nullptr && theirs != nullptr && ours->ok && theirs->ok) {
    md << "- opencv-left, accuracy with the same lens freedom: ccal RMS " << real(ours->rms, "%.4f")
       << " px vs OpenCV (k1) " << real(theirs->rms, "%.4f") << " px — "
       << (ours->rms <= theirs->rms ? "**met**" : "**not met**") << " (ratio "
       << real(ours->rms / theirs->rms, "%.3f") << ").\n";
    md << "- opencv-left, speed (CPU time): ccal " << timeCell(ours->cpuSeconds)
       << " vs OpenCV (k1) " << timeCell(theirs->cpuSeconds) << " — "
       << (ours->cpuSeconds <= theirs->cpuSeconds ? "**met**" : "**not met**") << " (ccal takes "
       << real(ours->cpuSeconds / theirs->cpuSeconds, "%.3g") << " × OpenCV's time).\n";
  } else {
    md << "- opencv-left: no comparable pair of rows (a run failed).\n";
  }
  const std::vector<tkPlotSeries> series = tfScalingSeries(rows);
  const tkPlotSeries* ccal = nullptr;
  const tkPlotSeries* opencv = nullptr;
  for (const tkPlotSeries& s : series) {
    const double exponent = growthExponent(s);
    const bool isCcal = s.label.rfind("ccal", 0) == 0;
    md << "- Growth of " << s.label << ": time ∝ views^" << real(exponent, "%.2f") << " (fit over "
       << s.x.size() << " sizes from " << real(s.x.front(), "%g") << " to "
       << real(s.x.back(), "%g") << " views)";
    if (isCcal)
      md << " — linear growth " << (exponent <= 1.15 ? "**met**" : "**not met**");
    md << ".\n";
    if (isCcal && ccal == nullptr)
      ccal = &s;
    if (s.label.find("(k1)") != std::string::npos)
      opencv = &s;
  }
  if (ccal != nullptr && opencv != nullptr) {
    // The largest number of views both libraries finished.
    double views = -1.0, ours = 0.0, theirs = 0.0;
    for (std::size_t i = 0; i < ccal->x.size(); ++i)
      for (std::size_t k = 0; k < opencv->x.size(); ++k)
        if (ccal->x[i] == opencv->x[k] && ccal->x[i] > views) {
          views = ccal->x[i];
          ours = ccal->y[i];
          theirs = opencv->y[k];
        }
    if (views > 0.0) {
      const bool at200 = views >= 200.0;
      md << "- At " << real(views, "%g") << " views: ccal " << timeCell(ours) << " vs OpenCV (k1) "
         << timeCell(theirs) << " — below OpenCV at 200 views "
         << (at200 ? (ours < theirs ? "**met**" : "**not met**")
                   : "**not measured** (ccal did not finish 200 views)")
         << " (ccal takes " << real(ours / theirs, "%.3g") << " × OpenCV's time).\n";
    }
  } else {
    md << "- Scaling: no comparable series (a run failed or was skipped).\n";
  }
  md << "\n";
  return md.str();
}

std::string tfReplaceMarkedSection(const std::string& document, const std::string& section) {
  const std::string begin = kCompareBeginMarker, end = kCompareEndMarker;
  const std::size_t b = document.find(begin);
  const std::size_t e = b == std::string::npos ? std::string::npos : document.find(end, b);
  if (b == std::string::npos || e == std::string::npos) {
    std::string out = document;
    if (!out.empty() && out.back() != '\n')
      out += "\n";
    return out + "\n" + begin + "\n" + section + end + "\n";
  }
  return document.substr(0, b + begin.size()) + "\n" + section + document.substr(e);
}
