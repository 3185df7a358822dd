#include "outputs/TrackPicture.h"

#include <algorithm>
#include <sstream>

#include "outputs/TextOut.h"
#include "platform/files.h"

namespace kw_out {

namespace {

constexpr int kMargin = 20;          // around the map, in map pixels
constexpr int kHeading = 40;         // room above the map for the name and legend
constexpr int kMaxShownSide = 1200;  // largest side of the picture as shown
constexpr int kDotRadius = 3;

std::string escaped(const std::string& text) {
  std::string out;
  appendXmlText(&out, text);
  return out;
}

}  // namespace

const char* TrackPicture::healthColor(int health) {
  switch (health) {
    case 0: return "rgb(0,160,0)";
    case 1: return "rgb(255,140,0)";
    case 2: return "rgb(220,0,0)";
    default: return "rgb(128,128,128)";
  }
}

void TrackPicture::setMap(int width, int height, const std::string& name) {
  width_ = std::max(width, 1);
  height_ = std::max(height, 1);
  name_ = name;
}

std::vector<TrackPicture::Dot> TrackPicture::dotsOf(const TrackStore::Track& track) {
  std::vector<Dot> dots;
  for (const TrackStore::Point& p : track.points) {
    if (!p.onMap) continue;
    const Dot dot{p.x, p.y, p.health};
    if (dots.empty() || !(dots.back() == dot)) dots.push_back(dot);
  }
  return dots;
}

std::size_t TrackPicture::pointCount() const {
  std::size_t count = 0;
  for (const auto& [node, track] : tracks_.tracks()) count += dotsOf(track).size();
  return count;
}

std::string TrackPicture::toSvg() const {
  const long long fullWidth = static_cast<long long>(width_) + 2 * kMargin;
  const long long fullHeight = static_cast<long long>(height_) + kHeading + kMargin;
  // A large map is shown scaled down; the drawing keeps map pixels as units.
  const double shrink = std::min(1.0, static_cast<double>(kMaxShownSide) /
                                          static_cast<double>(std::max(fullWidth, fullHeight)));
  const auto shown = [shrink](long long side) {
    return std::max(1LL, static_cast<long long>(static_cast<double>(side) * shrink));
  };
  const int ox = kMargin, oy = kHeading;  // where map pixel (0, 0) lies

  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << shown(fullWidth) << "\" height=\""
      << shown(fullHeight) << "\" viewBox=\"0 0 " << fullWidth << ' ' << fullHeight << "\">\n";
  svg << "  <title>node tracks" << (name_.empty() ? "" : " on " + escaped(name_)) << "</title>\n";
  svg << "  <rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg << "  <rect class=\"map\" x=\"" << ox << "\" y=\"" << oy << "\" width=\"" << width_
      << "\" height=\"" << height_ << "\" fill=\"rgb(244,244,236)\" stroke=\"black\"/>\n";
  svg << "  <text x=\"" << ox << "\" y=\"16\" font-family=\"sans-serif\" font-size=\"13\">"
      << escaped(name_.empty() ? "map" : name_) << " (" << width_ << " x " << height_
      << " pixels)</text>\n";
  writeLegend(svg, ox);
  for (const auto& [unit, track] : tracks_.tracks()) {
    const std::vector<Dot> dots = dotsOf(track);
    const std::string& name = track.last.name;
    if (!dots.empty()) {
      writeTrack(svg, unit,
                 unitLabel(unit.site, unit.fleet,
                           name.empty() ? "node " + std::to_string(unit.node) : name),
                 dots, ox, oy);
    }
  }
  svg << "</svg>\n";
  return svg.str();
}

// The health colours, in a row above the map from x = `ox`.
void TrackPicture::writeLegend(std::ostream& svg, int ox) {
  const char* words[] = {"health 0", "health 1", "health 2"};
  for (int h = 0; h < 3; ++h) {
    const int lx = ox + h * 90;
    svg << "  <circle class=\"legend\" cx=\"" << lx + 4 << "\" cy=\"30\" r=\"" << kDotRadius
        << "\" fill=\"" << healthColor(h) << "\"/>\n";
    svg << "  <text x=\"" << lx + 12 << "\" y=\"34\" font-family=\"sans-serif\" "
        << "font-size=\"11\">" << words[h] << "</text>\n";
  }
}

// One node's track: its path, a dot per point and its label at the last one;
// map pixel (0, 0) lies at (`ox`, `oy`).
void TrackPicture::writeTrack(std::ostream& svg, const UnitId& unit, const std::string& label,
                              const std::vector<Dot>& dots, int ox, int oy) {
  // Site and fleet names hold no character an id may not (NodeUpdate.h).
  svg << "  <g class=\"node\" id=\"track-" << (unit.site.empty() ? "" : unit.site + "-")
      << (unit.fleet.empty() ? "" : unit.fleet + "-") << unit.node << "\">\n";
  svg << "    <polyline class=\"track\" fill=\"none\" stroke=\"rgb(150,150,150)\" points=\"";
  for (std::size_t i = 0; i < dots.size(); ++i) {
    svg << (i == 0 ? "" : " ") << ox + dots[i].x << ',' << oy + dots[i].y;
  }
  svg << "\"/>\n";
  for (const Dot& p : dots) {
    svg << "    <circle cx=\"" << ox + p.x << "\" cy=\"" << oy + p.y << "\" r=\"" << kDotRadius
        << "\" fill=\"" << healthColor(p.health) << "\"/>\n";
  }
  const Dot& last = dots.back();
  svg << "    <text x=\"" << ox + last.x + 5 << "\" y=\"" << oy + last.y - 5
      << "\" font-family=\"sans-serif\" font-size=\"11\">" << escaped(label) << "</text>\n";
  svg << "  </g>\n";
}

bool TrackPicture::write(const std::string& path, std::string* error) const {
  const kw::Failure failed = kw::writeFileAtomically(path, toSvg());
  if (failed && error != nullptr) {
    *error = "cannot write the track picture '" + path + "': " + failed.text();
  }
  return !failed;
}

}  // namespace kw_out
