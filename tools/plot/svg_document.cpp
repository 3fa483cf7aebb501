#include "svg_document.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <stdexcept>

std::string tkPlotColor::hex() const {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", r, g, b);
  return text;
}

tkPlotColor tfPlotColorRamp(double t) {
  // A few stops of a perceptually ordered ramp, linearly interpolated.
  static const unsigned char stops[][3] = {
      {68, 1, 84}, {59, 82, 139}, {33, 145, 140}, {94, 201, 98}, {253, 231, 37}};
  const int last = static_cast<int>(sizeof stops / sizeof stops[0]) - 1;
  if (!(t > 0.0))
    t = 0.0;
  if (t > 1.0)
    t = 1.0;
  const double position = t * last;
  const int i = std::min(static_cast<int>(position), last - 1);
  const double f = position - i;
  tkPlotColor color;
  auto mix = [&](int channel) {
    return static_cast<unsigned char>(
        std::lround(stops[i][channel] + f * (stops[i + 1][channel] - stops[i][channel])));
  };
  color.r = mix(0);
  color.g = mix(1);
  color.b = mix(2);
  return color;
}

tkPlotColor tfPlotSeriesColor(std::size_t i) {
  static const unsigned char palette[][3] = {{31, 119, 180},  {214, 39, 40},   {44, 160, 44},
                                             {255, 127, 14},  {148, 103, 189}, {140, 86, 75},
                                             {227, 119, 194}, {127, 127, 127}};
  const unsigned char* c = palette[i % 8];
  tkPlotColor color;
  color.r = c[0];
  color.g = c[1];
  color.b = c[2];
  return color;
}

std::string tfSvgEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        if (static_cast<unsigned char>(ch) < 0x20 && ch != '\t' && ch != '\n')
          break;
        out += ch;
    }
  }
  return out;
}

std::string tfSvgNumber(double value) {
  if (!std::isfinite(value))
    return "0";
  char text[40];
  std::snprintf(text, sizeof text, "%.2f", value);
  std::string s = text;
  while (!s.empty() && s.back() == '0')
    s.pop_back();
  if (!s.empty() && s.back() == '.')
    s.pop_back();
  if (s == "-0")
    s = "0";
  return s;
}

namespace {

// stroke, width and dash attributes; fill="none" first unless the caller sets the fill.
std::string strokeAttributes(const tkSvgStroke& stroke, bool unfilled = true) {
  std::string out = unfilled ? " fill=\"none\"" : "";
  out +=
      " stroke=\"" + stroke.color.hex() + "\" stroke-width=\"" + tfSvgNumber(stroke.width) + "\"";
  if (!stroke.dash.empty())
    out += " stroke-dasharray=\"" + tfSvgEscape(stroke.dash) + "\"";
  return out;
}

}  // namespace

tkSvgDocument::tkSvgDocument(double width, double height) : width_(width), height_(height) {
  if (!(width > 0.0) || !(height > 0.0) || !std::isfinite(width) || !std::isfinite(height)) {
    throw std::invalid_argument("SVG document size must be positive and finite");
  }
}

void tkSvgDocument::title(const std::string& text) {
  title_ = text;
}

void tkSvgDocument::openElement(const char* name, const std::string& cssClass) {
  body_ += "<";
  body_ += name;
  if (!cssClass.empty())
    body_ += " class=\"" + tfSvgEscape(cssClass) + "\"";
}

void tkSvgDocument::rect(double x, double y, double w, double h, const tkPlotColor* fill,
                         const tkSvgStroke* stroke, const std::string& cssClass) {
  openElement("rect", cssClass);
  body_ += " x=\"" + tfSvgNumber(x) + "\" y=\"" + tfSvgNumber(y) + "\" width=\"" +
           tfSvgNumber(std::max(w, 0.0)) + "\" height=\"" + tfSvgNumber(std::max(h, 0.0)) + "\"";
  body_ += " fill=\"" + (fill != nullptr ? fill->hex() : std::string("none")) + "\"";
  if (stroke != nullptr)
    body_ += strokeAttributes(*stroke, false);
  body_ += "/>\n";
}

void tkSvgDocument::line(double x1, double y1, double x2, double y2, const tkSvgStroke& stroke,
                         const std::string& cssClass) {
  openElement("line", cssClass);
  body_ += " x1=\"" + tfSvgNumber(x1) + "\" y1=\"" + tfSvgNumber(y1) + "\" x2=\"" +
           tfSvgNumber(x2) + "\" y2=\"" + tfSvgNumber(y2) + "\"" + strokeAttributes(stroke) +
           "/>\n";
}

void tkSvgDocument::polyline(const std::vector<std::pair<double, double>>& points,
                             const tkSvgStroke& stroke, const std::string& cssClass) {
  openElement("polyline", cssClass);
  body_ += " points=\"";
  for (size_t i = 0; i < points.size(); ++i) {
    if (i > 0)
      body_ += ' ';
    body_ += tfSvgNumber(points[i].first) + "," + tfSvgNumber(points[i].second);
  }
  body_ += "\"" + strokeAttributes(stroke) + " stroke-linejoin=\"round\"/>\n";
}

void tkSvgDocument::circle(double cx, double cy, double r, const tkPlotColor& fill,
                           const std::string& cssClass) {
  openElement("circle", cssClass);
  body_ += " cx=\"" + tfSvgNumber(cx) + "\" cy=\"" + tfSvgNumber(cy) + "\" r=\"" +
           tfSvgNumber(std::max(r, 0.0)) + "\" fill=\"" + fill.hex() + "\"/>\n";
}

void tkSvgDocument::text(double x, double y, const std::string& content, double size,
                         tkSvgAnchor anchor, const tkPlotColor& fill, double rotateDegrees,
                         bool bold) {
  static const char* anchors[] = {"start", "middle", "end"};
  body_ += "<text x=\"" + tfSvgNumber(x) + "\" y=\"" + tfSvgNumber(y) + "\" font-size=\"" +
           tfSvgNumber(size) + "\" text-anchor=\"" + anchors[static_cast<int>(anchor)] +
           "\" fill=\"" + fill.hex() + "\"";
  if (bold)
    body_ += " font-weight=\"bold\"";
  if (rotateDegrees != 0.0) {
    body_ += " transform=\"rotate(" + tfSvgNumber(rotateDegrees) + " " + tfSvgNumber(x) + " " +
             tfSvgNumber(y) + ")\"";
  }
  body_ += ">" + tfSvgEscape(content) + "</text>\n";
}

void tkSvgDocument::arrow(double x1, double y1, double x2, double y2, const tkSvgStroke& stroke,
                          double headLength, const std::string& cssClass) {
  openElement("path", cssClass);
  std::string d =
      "M" + tfSvgNumber(x1) + " " + tfSvgNumber(y1) + "L" + tfSvgNumber(x2) + " " + tfSvgNumber(y2);
  const double dx = x2 - x1;
  const double dy = y2 - y1;
  const double length = std::hypot(dx, dy);
  if (std::isfinite(length) && length >= 0.1 && headLength > 0.0) {
    // Two barbs at +-25 degrees from the reversed shaft, never longer than half the shaft.
    const double head = std::min(headLength, 0.5 * length);
    const double ux = -dx / length;
    const double uy = -dy / length;
    const double c = std::cos(0.436);
    const double s = std::sin(0.436);
    const double ax = x2 + head * (c * ux - s * uy);
    const double ay = y2 + head * (s * ux + c * uy);
    const double bx = x2 + head * (c * ux + s * uy);
    const double by = y2 + head * (-s * ux + c * uy);
    d += "M" + tfSvgNumber(ax) + " " + tfSvgNumber(ay) + "L" + tfSvgNumber(x2) + " " +
         tfSvgNumber(y2) + "L" + tfSvgNumber(bx) + " " + tfSvgNumber(by);
  }
  body_ += " d=\"" + d + "\"" + strokeAttributes(stroke) + " stroke-linecap=\"round\"/>\n";
}

void tkSvgDocument::beginGroup(const std::string& cssClass) {
  openElement("g", cssClass);
  body_ += ">\n";
  ++openGroups_;
}

void tkSvgDocument::beginClippedGroup(double clipX, double clipY, double clipW, double clipH) {
  const std::string id = "clip" + std::to_string(clipCount_++);
  defs_ += "<clipPath id=\"" + id + "\"><rect x=\"" + tfSvgNumber(clipX) + "\" y=\"" +
           tfSvgNumber(clipY) + "\" width=\"" + tfSvgNumber(std::max(clipW, 0.0)) + "\" height=\"" +
           tfSvgNumber(std::max(clipH, 0.0)) + "\"/></clipPath>\n";
  body_ += "<g clip-path=\"url(#" + id + ")\">\n";
  ++openGroups_;
}

void tkSvgDocument::endGroup() {
  if (openGroups_ == 0)
    throw std::logic_error("tkSvgDocument::endGroup without an open group");
  body_ += "</g>\n";
  --openGroups_;
}

std::string tkSvgDocument::str() const {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
         tfSvgNumber(width_) + "\" height=\"" + tfSvgNumber(height_) + "\" viewBox=\"0 0 " +
         tfSvgNumber(width_) + " " + tfSvgNumber(height_) +
         "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n";
  if (!title_.empty())
    out += "<title>" + tfSvgEscape(title_) + "</title>\n";
  if (!defs_.empty())
    out += "<defs>\n" + defs_ + "</defs>\n";
  out += "<rect x=\"0\" y=\"0\" width=\"" + tfSvgNumber(width_) + "\" height=\"" +
         tfSvgNumber(height_) + "\" fill=\"#ffffff\"/>\n";
  out += body_;
  for (int i = 0; i < openGroups_; ++i)
    out += "</g>\n";
  out += "</svg>\n";
  return out;
}

void tkSvgDocument::save(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out)
    throw std::runtime_error("cannot write " + path);
  out << str();
  out.flush();
  if (!out)
    throw std::runtime_error("cannot write " + path);
}
