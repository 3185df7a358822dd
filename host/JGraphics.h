// JGraphics: the drawing surface handed to a block's paint and draw. This
// host records what is drawn instead of putting pixels on a screen, so a
// face can be inspected by tests and written out as an SVG picture.
//
// A JGraphics is a handle: copies share one recording (the canvas) but each
// copy has its own current colour, so a colour set on a copy does not change
// the colour of the original. The canvas lives while any handle does.
// Invariant: every recorded operation carries the colour that was current
// when it was drawn.
// Thread safety: host's thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "JColor.h"
#include "JExport.h"
#include "JRect.h"

class J_EXPORT JGraphics {
 public:
  enum class Kind {
    Color,       // a colour change (setJColor)
    Rect,        // a rectangle outline
    FillRect,    // a filled rectangle
    Fill3DRect,  // a filled rectangle with a lit and a shaded border
    Text,        // a text centred in a rectangle
  };

  struct Op {
    Kind kind;
    JColor color;
    JRect rect;        // unused for Color
    int bevel = 0;     // Fill3DRect: border width in pixels
    std::string text;  // Text
  };

  // A new, empty canvas of the given size in pixels (negative taken as 0).
  explicit JGraphics(int width = 640, int height = 480);

  void setJColor(const JColor& color);
  const JColor& getJColor() const { return color_; }

  void drawRect(int x, int y, int w, int h);
  void fillRect(int x, int y, int w, int h);
  // A raised rectangle: filled with the current colour, with a border of
  // `bevel` pixels, brighter on the top and left, darker on the bottom and
  // right. A bevel of 0 or less draws it flat.
  void fill3DRect(int x, int y, int w, int h, int bevel);
  void drawText(const char* text, const JRect& rect);

  // Everything drawn on this canvas so far, in drawing order.
  const std::vector<Op>& ops() const;
  // The texts drawn so far, in drawing order.
  std::vector<std::string> texts() const;
  int width() const;
  int height() const;

  // The canvas as an SVG document; texts are XML-escaped.
  std::string toSvg() const;
  // Writes toSvg() to `path`; false with a reason in `error` on failure.
  bool writeSvg(const std::string& path, std::string* error = nullptr) const;

 private:
  struct Canvas;
  void record(Op op);

  std::shared_ptr<Canvas> canvas_;
  JColor color_ = JColor::black;
};
