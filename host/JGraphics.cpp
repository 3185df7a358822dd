#include "JGraphics.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "JSvgText.h"

struct JGraphics::Canvas {
  int width = 0;
  int height = 0;
  std::vector<Op> ops;
};

JGraphics::JGraphics(int width, int height) : canvas_(std::make_shared<Canvas>()) {
  canvas_->width = std::max(width, 0);
  canvas_->height = std::max(height, 0);
}

void JGraphics::record(Op op) {
  op.color = color_;
  canvas_->ops.push_back(std::move(op));
}

void JGraphics::setJColor(const JColor& color) {
  color_ = color;
  record(Op{Kind::Color, color, JRect(), 0, std::string()});
}

void JGraphics::drawRect(int x, int y, int w, int h) {
  record(Op{Kind::Rect, color_, JRect(x, y, w, h), 0, std::string()});
}

void JGraphics::fillRect(int x, int y, int w, int h) {
  record(Op{Kind::FillRect, color_, JRect(x, y, w, h), 0, std::string()});
}

void JGraphics::fill3DRect(int x, int y, int w, int h, int bevel) {
  record(Op{Kind::Fill3DRect, color_, JRect(x, y, w, h), std::max(bevel, 0), std::string()});
}

void JGraphics::drawText(const char* text, const JRect& rect) {
  record(Op{Kind::Text, color_, rect, 0, text != nullptr ? text : ""});
}

const std::vector<JGraphics::Op>& JGraphics::ops() const { return canvas_->ops; }

std::vector<std::string> JGraphics::texts() const {
  std::vector<std::string> result;
  for (const Op& op : canvas_->ops) {
    if (op.kind == Kind::Text) result.push_back(op.text);
  }
  return result;
}

int JGraphics::width() const { return canvas_->width; }

int JGraphics::height() const { return canvas_->height; }

namespace {

std::string rgb(const JColor& c) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "rgb(%d,%d,%d)", c.getRed(), c.getGreen(), c.getBlue());
  return buffer;
}

void rectElement(std::ostringstream& svg, const JRect& r, const std::string& fill,
                 const std::string& stroke) {
  svg << "  <rect x=\"" << r.x << "\" y=\"" << r.y << "\" width=\"" << std::max(r.width, 0)
      << "\" height=\"" << std::max(r.height, 0) << "\" fill=\"" << fill << "\" stroke=\"" << stroke
      << "\"/>\n";
}

// The lit (top, left) or shaded (bottom, right) border of a raised
// rectangle, as one filled polygon `bevel` pixels wide.
void bevelElement(std::ostringstream& svg, const JRect& r, int bevel, bool lit,
                  const JColor& color) {
  const long long x0 = r.x, y0 = r.y;
  const long long x1 = x0 + r.width, y1 = y0 + r.height;
  const long long b = bevel;
  svg << "  <polygon fill=\"" << rgb(color) << "\" points=\"";
  if (lit) {
    svg << x0 << ',' << y1 << ' ' << x0 << ',' << y0 << ' ' << x1 << ',' << y0 << ' ' << (x1 - b)
        << ',' << (y0 + b) << ' ' << (x0 + b) << ',' << (y0 + b) << ' ' << (x0 + b) << ','
        << (y1 - b);
  } else {
    svg << x1 << ',' << y0 << ' ' << x1 << ',' << y1 << ' ' << x0 << ',' << y1 << ' ' << (x0 + b)
        << ',' << (y1 - b) << ' ' << (x1 - b) << ',' << (y1 - b) << ' ' << (x1 - b) << ','
        << (y0 + b);
  }
  svg << "\"/>\n";
}

}  // namespace

std::string JGraphics::toSvg() const {
  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << canvas_->width << "\" height=\""
      << canvas_->height << "\" viewBox=\"0 0 " << canvas_->width << ' ' << canvas_->height
      << "\">\n";
  svg << "  <rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  for (const Op& op : canvas_->ops) {
    const JRect& r = op.rect;
    switch (op.kind) {
      case Kind::Color: break;  // the colour is carried by each later operation
      case Kind::Rect: rectElement(svg, r, "none", rgb(op.color)); break;
      case Kind::FillRect: rectElement(svg, r, rgb(op.color), "none"); break;
      case Kind::Fill3DRect: {
        rectElement(svg, r, rgb(op.color), "none");
        // The border never takes more than half of the rectangle.
        const int bevel = std::min({op.bevel, r.width / 2, r.height / 2});
        if (bevel > 0) {
          bevelElement(svg, r, bevel, true, op.color.brighter());
          bevelElement(svg, r, bevel, false, op.color.darker());
        }
        break;
      }
      case Kind::Text: {
        const int size = std::clamp(r.height * 7 / 10, 6, 14);
        svg << "  <text x=\"" << (static_cast<long long>(r.x) + r.width / 2) << "\" y=\""
            << (static_cast<long long>(r.y) + r.height / 2) << "\" font-family=\"sans-serif\" "
            << "font-size=\"" << size << "\" text-anchor=\"middle\" "
            << "dominant-baseline=\"central\" fill=\"" << rgb(op.color) << "\">"
            << JSvgText::escaped(op.text) << "</text>\n";
        break;
      }
    }
  }
  svg << "</svg>\n";
  return svg.str();
}

bool JGraphics::writeSvg(const std::string& path, std::string* error) const {
  return JSvgText::write(path, toSvg(), "SVG file", error);
}
