// Drawing: what paint records, pixel extents, port geometry, colours, and
// the SVG picture of a face.
#include <gtest/gtest.h>

#include "host/JAddObj.h"
#include "host/JComponent.h"
#include "host/JGraph.h"
#include "host/JGraphics.h"
#include "host/JLinkObj.h"
#include "host/JProbeObj.h"
#include "tests/support/temp_dir.h"

namespace {

using Kind = JGraphics::Kind;

// Draws one text and remembers the rectangle it was given.
class FaceObj : public JAddObj {
 public:
  const char* className() const override { return "FaceObj"; }
  JObject* clone() const override { return new FaceObj(*this); }
  void draw(JGraphics graphics, int x, int y, int w, int h) override {
    given = JRect(x, y, w, h);
    drawText(graphics, "a<b&c\x01", JRect(x, y, w, h / 2));
  }
  JRect given{-1, -1, -1, -1};
};

TEST(PaintTest, DrawsTheFrameThenTheFaceInThePixelRectangle) {
  FaceObj block;
  block.setBounds(10, 20, 80, 60);
  block.moduleColor = JColor::green;
  JGraphics graphics(400, 300);
  graphics.setJColor(JColor::white);
  JRegion everything;
  block.paint(graphics, 5, 0, everything, 2.0);

  const JRect pixels(30, 40, 160, 120);
  EXPECT_EQ(block.given, pixels);
  const auto& ops = graphics.ops();
  ASSERT_EQ(ops.size(), 6u);
  EXPECT_EQ(ops[1].kind, Kind::Color);
  EXPECT_EQ(ops[1].color, JColor::green);
  EXPECT_EQ(ops[2].kind, Kind::Fill3DRect);
  EXPECT_EQ(ops[2].rect, pixels);
  EXPECT_EQ(ops[2].bevel, block.depth2() / 2);
  EXPECT_EQ(ops[4].kind, Kind::Rect);
  EXPECT_EQ(ops[4].color, JColor::black);
  EXPECT_EQ(ops[5].kind, Kind::Text);
  EXPECT_EQ(ops[5].color, JColor::black);
  EXPECT_EQ(ops[5].rect, JRect(30, 40, 160, 60));
  // paint drew on a copy: the caller's colour is its own.
  EXPECT_EQ(graphics.getJColor(), JColor::white);
}

TEST(PaintTest, NothingIsDrawnOutsideTheRegion) {
  FaceObj block;
  block.setBounds(100, 100, 10, 10);
  JGraphics graphics;
  JRegion corner(JRect(0, 0, 100, 100));
  block.paint(graphics, 0, 0, corner, 1.0);
  EXPECT_TRUE(graphics.ops().empty());
  JRegion touching(JRect(0, 0, 101, 101));
  block.paint(graphics, 0, 0, touching, 1.0);
  EXPECT_FALSE(graphics.ops().empty());
}

TEST(PaintTest, ExtentRoundsEdgesAndStaysInRange) {
  JModuleObj block;
  block.setBounds(0.4, 0.6, 10.2, 10.2);
  EXPECT_EQ(block.getIExtent(0, 0, 1.0), JRect(0, 1, 11, 10));
  block.setBounds(1e12, -1e12, 5, 5);
  const JRect far = block.getIExtent(0, 0, 1.0);
  EXPECT_EQ(far.x, 1000000000);
  EXPECT_EQ(far.y, -1000000000);
}

TEST(PortGeometryTest, PortsSpreadOverTheirStretchOfTheFace) {
  JModuleObj block;
  block.setBounds(0, 0, 100, 50);
  JLinkObj link;
  const JFRect top = block.topArea(1, 0, 2, 0.25, 0.5, 6);
  EXPECT_DOUBLE_EQ(top.getX(), 59.5);
  EXPECT_DOUBLE_EQ(top.getY(), -6.0);
  EXPECT_DOUBLE_EQ(top.getWidth(), 6.0);
  const JFPoint topPoint = block.topPoint(0, link, 0, 2, 0.25, 0.5);
  EXPECT_DOUBLE_EQ(topPoint.getX(), 37.5);
  EXPECT_DOUBLE_EQ(topPoint.getY(), 0.0);
  const JFPoint left = block.leftPoint(0, link, 0, 2, 0.1, 0.8);
  EXPECT_DOUBLE_EQ(left.getX(), 0.0);
  EXPECT_DOUBLE_EQ(left.getY(), 15.0);
  const JFRect right = block.rightArea(2, 0, 3, 0.25, 0.5, 6);
  EXPECT_DOUBLE_EQ(right.getX(), 100.0);
  EXPECT_DOUBLE_EQ(right.getY(), 50.0 * (0.25 + 0.5 * 2.5 / 3) - 3.0);
  const JFPoint none = block.rightPoint(0, link, 0, 0, 0.0, 1.0);  // no ports: no division by 0
  EXPECT_DOUBLE_EQ(none.getY(), 25.0);
}

TEST(ColorTest, BrighterAndDarker) {
  EXPECT_EQ(JColor::green.brighter(), JColor(0, 182, 0));
  EXPECT_EQ(JColor::black.brighter(), JColor(3, 3, 3));
  EXPECT_EQ(JColor(1, 100, 255).brighter(), JColor(4, 142, 255));
  EXPECT_EQ(JColor(100, 200, 10).darker(), JColor(70, 140, 7));
  EXPECT_EQ(JColor(-5, 300, 7), JColor(0, 255, 7));
}

TEST(SvgTest, FaceIsWrittenAsAnSvgPicture) {
  FaceObj block;
  block.setBounds(10, 10, 100, 40);
  block.moduleColor = JColor(200, 100, 0);
  JGraphics graphics(120, 60);
  JRegion everything;
  block.paint(graphics, 0, 0, everything, 1.0);
  const std::string svg = graphics.toSvg();
  EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"120\" height=\"60\"", 0),
            0u);
  EXPECT_NE(svg.find("<rect x=\"10\" y=\"10\" width=\"100\" height=\"40\" fill=\"rgb(200,100,0)\""),
            std::string::npos);
  // The raised border: lit and shaded polygons.
  EXPECT_NE(
      svg.find("<polygon fill=\"rgb(255,142,0)\" points=\"10,50 10,10 110,10 106,14 14,14 14,46\""),
      std::string::npos);
  EXPECT_NE(svg.find("<polygon fill=\"rgb(140,70,0)\""), std::string::npos);
  EXPECT_NE(svg.find(">a&lt;b&amp;c </text>"), std::string::npos) << svg;
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");

  kw_test::TempDir dir;
  std::string error;
  ASSERT_TRUE(graphics.writeSvg(dir.file("face.svg"), &error)) << error;
  EXPECT_EQ(kw_test::readFile(dir.file("face.svg")), svg);
  EXPECT_FALSE(graphics.writeSvg(dir.file("missing/face.svg"), &error));
  EXPECT_NE(error.find("cannot write SVG file"), std::string::npos);
}

TEST(SvgTest, GraphPaintShowsEveryBlock) {
  JGraph graph;
  auto* probe = new JProbeObj(2);
  probe->setBounds(100, 0, 80, 60);
  graph.add(new FaceObj());
  graph.add(probe);
  JGraphics graphics;
  graph.paint(graphics);
  int frames = 0;
  for (const auto& op : graphics.ops()) frames += op.kind == Kind::Fill3DRect;
  EXPECT_EQ(frames, 2);
  // The probe shows "-" for each input that has received nothing.
  EXPECT_EQ(graphics.texts(), (std::vector<std::string>{"a<b&c\x01", "-", "-"}));
}

TEST(ButtonTest, AddButtonAddsAMakerForTheClass) {
  JComponent toolbar;
  FaceObj block;
  block.addButton(&toolbar);
  block.addButton(nullptr);
  JModuleObj::addModuleButton(&toolbar, nullptr);
  EXPECT_EQ(toolbar.buttons(), (std::vector<std::string>{"FaceObj"}));
}

}  // namespace
