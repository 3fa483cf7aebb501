// A small SVG writer: shapes, text and arrows collected into one standalone SVG 1.1 document.
//
// Coordinates are SVG user units (pixels of the rendered picture), x to the right, y downwards,
// origin at the top-left corner of the document. Every text given to the writer (labels, class
// names, titles) is escaped, so any string is safe to pass. Numbers are written with enough
// digits for drawing (about 0.01 unit); non-finite coordinates are written as 0 so that the
// document stays well-formed (callers should not draw them).
//
// Colours are tkPlotColor values; tfPlotColorRamp gives a colour for a value in [0, 1] on a
// dark-blue -> green -> yellow ramp that stays readable in print.
//
// No dependencies beyond the standard library; the plotting code of the tools, the tests and the
// benchmarks shares it (see plot_axes.h for charts with axes, series and histograms).
#ifndef CCAL_TOOLS_PLOT_SVG_DOCUMENT_H
#define CCAL_TOOLS_PLOT_SVG_DOCUMENT_H

#include <string>
#include <utility>
#include <vector>

struct tkPlotColor {
  unsigned char r = 0, g = 0, b = 0;
  // "#rrggbb".
  std::string hex() const;
};

// A colour of the ramp dark blue (t = 0) -> teal -> green -> yellow (t = 1); t is clamped to
// [0, 1] and NaN gives the colour of 0.
tkPlotColor tfPlotColorRamp(double t);

// The i-th colour of a palette of eight distinct colours for series (cycles for i >= 8).
tkPlotColor tfPlotSeriesColor(std::size_t i);

// Text with &, <, >, " and ' replaced by their entities and control characters other than tab
// and newline dropped (XML 1.0 cannot carry them).
std::string tfSvgEscape(const std::string& text);

// Style of a stroked shape: colour, width (user units), optional dash pattern ("4 2").
struct tkSvgStroke {
  tkPlotColor color;
  double width = 1.0;
  std::string dash;
};

enum class tkSvgAnchor { eStart, eMiddle, eEnd };

class tkSvgDocument {
 public:
  // An empty picture of width x height user units with a white background. Throws
  // std::invalid_argument when a size is not positive and finite.
  tkSvgDocument(double width, double height);

  double width() const { return width_; }
  double height() const { return height_; }

  // A document title (the <title> element, shown by viewers as the picture's name).
  void title(const std::string& text);

  // Shapes. cssClass, when not empty, becomes the element's class attribute (useful to find
  // elements of one kind again, e.g. in tests).
  void rect(double x, double y, double w, double h, const tkPlotColor* fill,
            const tkSvgStroke* stroke, const std::string& cssClass = std::string());
  void line(double x1, double y1, double x2, double y2, const tkSvgStroke& stroke,
            const std::string& cssClass = std::string());
  void polyline(const std::vector<std::pair<double, double>>& points, const tkSvgStroke& stroke,
                const std::string& cssClass = std::string());
  void circle(double cx, double cy, double r, const tkPlotColor& fill,
              const std::string& cssClass = std::string());
  // Text at (x, y) (the baseline point of the anchor), size in user units, rotated by
  // rotateDegrees (clockwise) about (x, y).
  void text(double x, double y, const std::string& content, double size,
            tkSvgAnchor anchor = tkSvgAnchor::eStart, const tkPlotColor& fill = tkPlotColor(),
            double rotateDegrees = 0.0, bool bold = false);
  // An arrow from (x1, y1) to (x2, y2): one <path> element holding the shaft and an open head of
  // headLength user units at (x2, y2) (no head when the arrow is shorter than a tenth of a unit).
  void arrow(double x1, double y1, double x2, double y2, const tkSvgStroke& stroke,
             double headLength, const std::string& cssClass = std::string());

  // Groups: elements written between beginGroup and endGroup are children of one <g>; groups
  // nest. clipX..clipH, when clip is true, clip the group's children to that rectangle.
  void beginGroup(const std::string& cssClass = std::string());
  void beginClippedGroup(double clipX, double clipY, double clipW, double clipH);
  // Throws std::logic_error when no group is open.
  void endGroup();

  // The whole document (open groups are closed in the text, not in the object).
  std::string str() const;
  // Writes str() to path. Throws std::runtime_error naming the file when it cannot be written.
  void save(const std::string& path) const;

 private:
  void openElement(const char* name, const std::string& cssClass);

  double width_;
  double height_;
  std::string title_;
  std::string defs_;
  std::string body_;
  int openGroups_ = 0;
  int clipCount_ = 0;
};

// A number in SVG attribute form: fixed with up to two decimals, trailing zeros dropped; 0 for
// non-finite values.
std::string tfSvgNumber(double value);

#endif
