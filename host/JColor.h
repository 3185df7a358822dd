// JColor: an RGB colour with components 0 to 255, as blocks use for their
// face (`moduleColor`) and graphics for what they draw next.
//
// A plain value; the named colours are constants initialised before any
// dynamic initialisation, so plug-in static initialisers may use them.
// Thread safety: any thread may read it.
#pragma once

#include "JExport.h"

class J_EXPORT JColor {
 public:
  constexpr JColor() = default;
  // Components outside 0 to 255 are clamped.
  constexpr JColor(int r, int g, int b) : red_(clamp(r)), green_(clamp(g)), blue_(clamp(b)) {}

  static const JColor black;
  static const JColor white;
  static const JColor gray;
  static const JColor lightGray;
  static const JColor green;

  int getRed() const { return red_; }
  int getGreen() const { return green_; }
  int getBlue() const { return blue_; }

  // Each component divided by 0.7 (at most 255); a component of 1 or 2 is
  // first raised to 3 so that it grows, and black becomes (3, 3, 3).
  JColor brighter() const;
  // Each component multiplied by 0.7.
  JColor darker() const;

  bool operator==(const JColor&) const = default;

 private:
  static constexpr int clamp(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

  int red_ = 0;
  int green_ = 0;
  int blue_ = 0;
};
