// The JGeoGridObj block as the host sees it: a new block, ports, links,
// evaluation of the inputs and what it announces, properties, and copies.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include "host/JInteger.h"
#include "host/JStringData.h"
#include "tests/geogrid/geogrid_block_rig.h"

namespace {

using geogrid_test::Announced;
using geogrid_test::outputs;
using geogrid_test::outputValue;
using geogrid_test::propertyTexts;
using geogrid_test::setExampleMap;
using geogrid_test::setInteger;
using geogrid_test::setText;

class GeoGridBlock : public geogrid_test::Rig {};

TEST_F(GeoGridBlock, NewBlockHasEmptyMapAndZeroOutputs) {
  EXPECT_STREQ(geo->className(), "JGeoGridObj");
  EXPECT_EQ(geo->igm, 2);
  EXPECT_EQ(geo->ogm, 3);
  EXPECT_EQ(outputs(geo), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(
      propertyTexts(geo),
      (std::vector<std::string>{"ul_latitude=", "ul_longitude=", "lr_latitude=", "lr_longitude=",
                                "map_name=", "pixel_width=0", "pixel_height=0"}));
  // The pixel sizes are offered from 1 up; the base list ("label") is not part of it.
  const JArray properties = geo->getProperties();
  ASSERT_EQ(properties.size(), 7);
  for (int i : {5, 6}) {
    auto* size = dynamic_cast<JIntegerProperty*>(properties.at(i));
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->getMinimum(), 1);
    EXPECT_EQ(size->getMaximum(), JInteger::MAX_VALUE);
  }
  // A non-output leaves the reader's data alone.
  EXPECT_EQ(outputValue(geo, 3), -1);
  EXPECT_EQ(outputValue(geo, -1), -1);
}

TEST_F(GeoGridBlock, PortsTagsTypesFacesAndGeometry) {
  EXPECT_STREQ(geo->inputTag(0), "latitude");
  EXPECT_STREQ(geo->inputTag(1), "longitude");
  EXPECT_STREQ(geo->inputTag(2), "ERROR");
  EXPECT_STREQ(geo->outputTag(0), "in_map");
  EXPECT_STREQ(geo->outputTag(1), "pixel_x");
  EXPECT_STREQ(geo->outputTag(2), "pixel_y");
  EXPECT_STREQ(geo->outputTag(3), "ERROR");
  EXPECT_STREQ(geo->outputTag(-1), "ERROR");

  EXPECT_EQ(geo->inputType(0), JStringData::id);
  EXPECT_EQ(geo->inputType(1), JStringData::id);
  EXPECT_EQ(geo->inputType(2), JIntegerData::id);
  EXPECT_EQ(geo->inputType(-1), JIntegerData::id);
  for (int n = 0; n < 3; ++n) EXPECT_EQ(geo->outputType(n), JIntegerData::id);

  EXPECT_EQ(geo->inputFace(0), JModuleObj::LEFT_FACE);
  EXPECT_EQ(geo->inputFace(1), JModuleObj::LEFT_FACE);
  EXPECT_EQ(geo->inputFace(2), JModuleObj::TOP_FACE);
  EXPECT_EQ(geo->inputFace(7), JModuleObj::TOP_FACE);
  for (int n = 0; n < 4; ++n) EXPECT_EQ(geo->outputFace(n), JModuleObj::RIGHT_FACE);

  // Block at (100, 200), 90 x 60. Inputs over 10%..90% of the left face,
  // outputs over 25%..75% of the right face; port squares of side 6.
  geo->setBounds(100, 200, 90, 60);
  JLinkObj none;
  const double inputY[] = {218, 242};
  for (int n = 0; n < 2; ++n) {
    SCOPED_TRACE(n);
    const JFPoint point = geo->inputPoint(n, none);
    EXPECT_DOUBLE_EQ(point.getX(), 100);
    EXPECT_DOUBLE_EQ(point.getY(), inputY[n]);
    const JFRect area = geo->inputArea(n);
    EXPECT_DOUBLE_EQ(area.getX(), 94);
    EXPECT_DOUBLE_EQ(area.getY(), inputY[n] - 3);
    EXPECT_DOUBLE_EQ(area.getWidth(), 6);
    EXPECT_DOUBLE_EQ(area.getHeight(), 6);
  }
  const double outputY[] = {220, 230, 240};
  for (int n = 0; n < 3; ++n) {
    SCOPED_TRACE(n);
    const JFPoint point = geo->outputPoint(n, none);
    EXPECT_DOUBLE_EQ(point.getX(), 190);
    EXPECT_DOUBLE_EQ(point.getY(), outputY[n]);
    const JFRect area = geo->outputArea(n);
    EXPECT_DOUBLE_EQ(area.getX(), 190);
    EXPECT_DOUBLE_EQ(area.getY(), outputY[n] - 3);
    EXPECT_DOUBLE_EQ(area.getWidth(), 6);
  }
}

TEST_F(GeoGridBlock, EachInputTakesOneLink) {
  EXPECT_FALSE(geo->inputAllowed(0));
  EXPECT_FALSE(geo->inputAllowed(1));
  auto* other = static_cast<JSourceObj*>(graph.add(new JSourceObj(1)));
  std::string error;
  EXPECT_EQ(graph.link(other, 0, geo, 0, &error), nullptr);
  EXPECT_EQ(error, "JGeoGridObj refuses a link on input 0");
  // Once the first link is gone, the input takes a new one.
  ASSERT_TRUE(graph.unlink(geo->inputSet(1).at(0)));
  EXPECT_TRUE(geo->inputAllowed(1));
  EXPECT_NE(graph.link(other, 0, geo, 1, &error), nullptr) << error;
  EXPECT_FALSE(geo->inputAllowed(1));
}

TEST_F(GeoGridBlock, OnMapPositionAnnouncesInMapOnceAndPixelsEveryTime) {
  setExampleMap(geo);
  // Empty texts are the position 0, 0: off this map. (While the corners were
  // being set one by one, the partly set map still held it.)
  EXPECT_EQ(outputValue(geo, 0), 0);
  announced();

  latitude("4525.00000 N");  // longitude still empty: off the map, nothing changes
  EXPECT_EQ(announced(), Announced{});
  longitude("07345.00000 W");
  EXPECT_EQ(announced(), (Announced{{0, 65535}, {1, 50}, {2, 50}}));
  EXPECT_EQ(outputs(geo), (std::vector<int>{65535, 50, 50}));

  // Evaluating either input again re-announces the pixel, not in_map.
  longitude("07345.00000 W");
  EXPECT_EQ(announced(), (Announced{{1, 50}, {2, 50}}));
  latitude("4522.50000 N");
  EXPECT_EQ(announced(), (Announced{{1, 50}, {2, 75}}));
  latitude("4525.00000 N");
  announced();

  // Off the map: in_map falls to 0 once; the pixel keeps the last on-map value.
  longitude("07351.00000 W");
  EXPECT_EQ(announced(), (Announced{{0, 0}}));
  EXPECT_EQ(outputs(geo), (std::vector<int>{0, 50, 50}));
  longitude("07352.00000 W");
  EXPECT_EQ(announced(), Announced{});
  latitude("4531.00000 N");
  EXPECT_EQ(announced(), Announced{});

  // Both corners are on the map; the lower-right one gives the pixel size.
  latitude("4530.00000 N");
  longitude("07350.00000 W");
  EXPECT_EQ(announced(), (Announced{{0, 65535}, {1, 0}, {2, 0}}));
  latitude("4520.00000 N");
  longitude("07340.00000 W");
  EXPECT_EQ(outputs(geo), (std::vector<int>{65535, 100, 100}));
}

TEST_F(GeoGridBlock, LongAndOddInputTextsAreSafe) {
  setExampleMap(geo);
  latitude("4525.00000 N");
  // 42 characters: the hemisphere letter lies beyond what the mapper keeps
  // of the text, yet the whole text counts.
  const std::string longText = "07342.5000000000000000000000000000000000 W";
  ASSERT_GT(longText.size(), 29u);
  longitude(longText.c_str());
  EXPECT_EQ(outputs(geo), (std::vector<int>{65535, 75, 50}));
  longitude(std::string(5000, '9').c_str());
  EXPECT_EQ(outputValue(geo, 0), 0);
  longitude("");
  latitude("");
  longitude("not a number");
  EXPECT_EQ(outputs(geo), (std::vector<int>{0, 75, 50}));
}

TEST_F(GeoGridBlock, EveryPropertyChangeReevaluatesAndAnnouncesInMap) {
  setExampleMap(geo);
  latitude("4525.00000 N");
  longitude("07345.00000 W");
  announced();

  // Off-map position: each of the seven properties announces output 0 alone.
  longitude("07351.00000 W");
  announced();
  const std::pair<const char*, const char*> texts[] = {{"ul_latitude", "4530.00000 N"},
                                                       {"ul_longitude", "07350.00000 W"},
                                                       {"lr_latitude", "4520.00000 N"},
                                                       {"lr_longitude", "07340.00000 W"},
                                                       {"map_name", "harbour"}};
  for (const auto& [name, value] : texts) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(setText(geo, name, value));
    EXPECT_EQ(announced(), (Announced{{0, 0}}));
  }
  for (const char* name : {"pixel_width", "pixel_height"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(setInteger(geo, name, 100));
    EXPECT_EQ(announced(), (Announced{{0, 0}}));
  }

  // On the map: 0, 1 and 2 are announced even though in_map did not change.
  longitude("07345.00000 W");
  announced();
  EXPECT_TRUE(setInteger(geo, "pixel_width", 200));
  EXPECT_EQ(announced(), (Announced{{0, 65535}, {1, 100}, {2, 50}}));
  EXPECT_TRUE(setInteger(geo, "pixel_height", 10));
  EXPECT_EQ(announced(), (Announced{{0, 65535}, {1, 100}, {2, 5}}));

  // A map that no longer holds the position takes it off.
  EXPECT_TRUE(setText(geo, "lr_longitude", "07346.00000 W"));
  EXPECT_EQ(announced(), (Announced{{0, 0}}));
  EXPECT_EQ(outputs(geo), (std::vector<int>{0, 100, 5}));

  // Pixel sizes below 1 are raised to 1.
  EXPECT_TRUE(setInteger(geo, "pixel_width", 0));
  EXPECT_TRUE(setInteger(geo, "pixel_height", INT_MIN));
  EXPECT_EQ(propertyTexts(geo)[5], "pixel_width=1");
  EXPECT_EQ(propertyTexts(geo)[6], "pixel_height=1");
}

TEST_F(GeoGridBlock, OtherPropertiesAreRefusedWithoutEffect) {
  setExampleMap(geo);
  latitude("4525.00000 N");
  longitude("07345.00000 W");
  announced();
  const auto before = propertyTexts(geo);

  EXPECT_FALSE(setText(geo, "label", "renamed"));  // the base list is not consulted
  EXPECT_STREQ(geo->getLabel(), "");
  EXPECT_FALSE(setText(geo, "Map_name", "x"));
  EXPECT_FALSE(setText(geo, "", "x"));
  EXPECT_FALSE(setInteger(geo, "pixel_depth", 3));
  // A known name carrying the other kind of value is not one of ours either.
  EXPECT_FALSE(setInteger(geo, "map_name", 3));
  EXPECT_FALSE(setText(geo, "pixel_width", "300"));

  EXPECT_EQ(propertyTexts(geo), before);
  EXPECT_EQ(announced(), Announced{});
  EXPECT_EQ(outputs(geo), (std::vector<int>{65535, 50, 50}));
}

TEST_F(GeoGridBlock, CloneCopiesMapInputsAndOutputs) {
  setExampleMap(geo);
  ASSERT_TRUE(setText(geo, "map_name", "harbour"));
  latitude("4525.00000 N");
  longitude("07345.00000 W");
  geo->setLabel("original");

  JGraph copies;
  auto* copy = dynamic_cast<JModuleObj*>(geo->clone());
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copies.add(copy), copy);
  EXPECT_STREQ(copy->className(), "JGeoGridObj");
  EXPECT_EQ(copy->igm, 2);
  EXPECT_EQ(copy->ogm, 3);
  EXPECT_STREQ(copy->getLabel(), "original");
  EXPECT_EQ(propertyTexts(copy), propertyTexts(geo));
  EXPECT_EQ(outputs(copy), (std::vector<int>{65535, 50, 50}));
  EXPECT_TRUE(copy->inputAllowed(0));  // the copy starts without links

  // Only the longitude reaches the copy: the latitude text, the map and
  // in_map come from the original, so output 0 stays quiet.
  auto* copySource = static_cast<JSourceObj*>(copies.add(new JSourceObj(1)));
  auto* copyProbe = static_cast<JProbeObj*>(copies.add(new JProbeObj(3)));
  ASSERT_NE(copies.link(copySource, 0, copy, 1), nullptr);
  for (int n = 0; n < 3; ++n) ASSERT_NE(copies.link(copy, n, copyProbe, n), nullptr);
  copySource->setString(0, "07342.50000 W");
  copySource->broadcast(0);
  ASSERT_EQ(copyProbe->values().size(), 2u);
  EXPECT_EQ(copyProbe->values()[0].input, 1);
  EXPECT_EQ(copyProbe->values()[0].integer, 75);
  EXPECT_EQ(copyProbe->values()[1].input, 2);
  EXPECT_EQ(copyProbe->values()[1].integer, 50);

  // The two blocks go their own ways.
  ASSERT_TRUE(setText(copy, "map_name", "bay"));
  EXPECT_EQ(propertyTexts(geo)[4], "map_name=harbour");
  EXPECT_EQ(outputs(geo), (std::vector<int>{65535, 50, 50}));
}

}  // namespace
