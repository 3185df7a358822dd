// The JGeoGridObj block's stored form (writeContent, readContent, whole
// documents) and its face.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "host/JDictionary.h"
#include "host/JDocument.h"
#include "host/JGraphics.h"
#include "host/JOutputStream.h"
#include "host/JRegion.h"
#include "tests/geogrid/geogrid_block_rig.h"
#include "tests/support/temp_dir.h"

namespace {

using geogrid_test::Announced;
using geogrid_test::outputs;
using geogrid_test::propertyTexts;
using geogrid_test::setExampleMap;
using geogrid_test::setText;

class GeoGridStorage : public geogrid_test::Rig {};

const std::vector<std::string> kEmptyMapRead = {"ul_latitude=",  "ul_longitude=", "lr_latitude=",
                                                "lr_longitude=", "map_name=",     "pixel_width=1",
                                                "pixel_height=1"};

TEST_F(GeoGridStorage, NewBlockStoresZeroPixelSizesThatReadBackAsOne) {
  JOutputStream stream;
  geo->writeContent(stream);
  const std::vector<std::string> keys = {"x",
                                         "y",
                                         "width",
                                         "height",
                                         "label",
                                         "ul_latitude",
                                         "ul_longitude",
                                         "lr_latitude",
                                         "lr_longitude",
                                         "map_name",
                                         "pixel_width",
                                         "pixel_height"};
  ASSERT_EQ(stream.size(), static_cast<int>(keys.size()));
  for (int i = 5; i < stream.size(); ++i) {
    const JEntry& entry = stream.entries()[static_cast<size_t>(i)];
    SCOPED_TRACE(entry.key);
    EXPECT_EQ(entry.key, keys[static_cast<size_t>(i)]);
    if (i < 10) {
      EXPECT_EQ(entry.kind, JEntry::Kind::Text);
      EXPECT_STREQ(entry.text, "");
    } else {
      EXPECT_EQ(entry.kind, JEntry::Kind::Integer);
      EXPECT_EQ(entry.integer, 0);
    }
  }

  JDictionary dictionary(stream);
  JModuleObj* restored = graph.create("JGeoGridObj");
  ASSERT_NE(restored, nullptr);
  restored->readContent(dictionary);
  EXPECT_EQ(propertyTexts(restored), kEmptyMapRead);
}

TEST_F(GeoGridStorage, ReadContentKeepsMissingTextsAndEvaluatesTheCurrentPosition) {
  setExampleMap(geo);
  ASSERT_TRUE(setText(geo, "map_name", "harbour"));
  latitude("4525.00000 N");
  longitude("07345.00000 W");
  announced();

  // Only a width: the texts stay, the missing height reads as 0 and becomes 1.
  JOutputStream widthOnly;
  JObject::putInteger(widthOnly, "pixel_width", 200);
  JDictionary first(widthOnly);
  geo->readContent(first);
  auto texts = propertyTexts(geo);
  EXPECT_EQ(texts[0], "ul_latitude=4530.00000 N");
  EXPECT_EQ(texts[4], "map_name=harbour");
  EXPECT_EQ(texts[5], "pixel_width=200");
  EXPECT_EQ(texts[6], "pixel_height=1");
  EXPECT_EQ(announced(), (Announced{{1, 100}, {2, 0}}));  // in_map unchanged: not announced

  // Entries of the wrong kind count as missing; a negative size becomes 1.
  JOutputStream odd;
  JObject::putInteger(odd, "map_name", 5);
  JObject::putInteger(odd, "pixel_width", -7);
  odd.putText("pixel_height", "100");
  JObject::putObject(odd, "lr_latitude", JString("4510.00000 N"));
  JDictionary second(odd);
  geo->readContent(second);
  texts = propertyTexts(geo);
  EXPECT_EQ(texts[2], "lr_latitude=4510.00000 N");
  EXPECT_EQ(texts[4], "map_name=harbour");
  EXPECT_EQ(texts[5], "pixel_width=1");
  EXPECT_EQ(texts[6], "pixel_height=1");
  EXPECT_EQ(announced(), (Announced{{1, 0}, {2, 0}}));

  // A map that no longer holds the position: in_map falls, once.
  JOutputStream moved;
  JObject::putObject(moved, "ul_longitude", JString("07344.00000 W"));
  JObject::putInteger(moved, "pixel_width", 100);
  JObject::putInteger(moved, "pixel_height", 100);
  JDictionary third(moved);
  geo->readContent(third);
  EXPECT_EQ(announced(), (Announced{{0, 0}}));
  EXPECT_EQ(outputs(geo), (std::vector<int>{0, 0, 0}));
}

TEST_F(GeoGridStorage, DocumentRoundTripRestoresMapAndLinks) {
  setExampleMap(geo);
  ASSERT_TRUE(setText(geo, "map_name", "harbour"));
  geo->setBounds(10, 20, 90, 60);
  ASSERT_NE(graph.create("JGeoGridObj"), nullptr);  // a new block, sizes 0
  kw_test::TempDir dir;
  const std::string path = dir.file("map.jgraph");
  std::string error;
  ASSERT_TRUE(JDocument::save(graph, path, &error)) << error;
  const std::string text = kw_test::readFile(path);
  EXPECT_TRUE(std::regex_search(text, std::regex("\"pixel_width\":\\s*0\\b"))) << text;

  auto loaded = JDocument::load(path, &error);
  ASSERT_NE(loaded, nullptr) << error;
  ASSERT_EQ(loaded->blockCount(), 4);
  JModuleObj* map = loaded->block(0);
  ASSERT_STREQ(map->className(), "JGeoGridObj");
  EXPECT_EQ(propertyTexts(map), propertyTexts(geo));
  EXPECT_DOUBLE_EQ(map->getX(), 10);
  EXPECT_DOUBLE_EQ(map->getWidth(), 90);
  EXPECT_EQ(outputs(map), (std::vector<int>{0, 0, 0}));  // position 0, 0 is off this map
  JModuleObj* fresh = loaded->block(3);
  ASSERT_STREQ(fresh->className(), "JGeoGridObj");
  EXPECT_EQ(propertyTexts(fresh), kEmptyMapRead);

  // The restored block maps with the restored map, through the restored links.
  ASSERT_EQ(loaded->linkCount(), 5);
  auto* loadedSource = dynamic_cast<JSourceObj*>(loaded->block(1));
  auto* loadedProbe = dynamic_cast<JProbeObj*>(loaded->block(2));
  ASSERT_NE(loadedSource, nullptr);
  ASSERT_NE(loadedProbe, nullptr);
  loadedSource->setString(0, "4525.00000 N");
  loadedSource->setString(1, "07345.00000 W");
  loadedSource->broadcast(0);
  loadedSource->broadcast(1);
  EXPECT_EQ(outputs(map), (std::vector<int>{65535, 50, 50}));
  ASSERT_NE(loadedProbe->last(0), nullptr);
  EXPECT_EQ(loadedProbe->last(0)->integer, 65535);
}

TEST_F(GeoGridStorage, FaceShowsTheCaptionUntilAMapNameIsSet) {
  {
    JGraphics graphics;
    geo->draw(graphics, 1, 2, 30, 40);  // one text in the given rectangle, nothing else
    ASSERT_EQ(graphics.ops().size(), 1u);
    EXPECT_EQ(graphics.ops()[0].kind, JGraphics::Kind::Text);
    EXPECT_EQ(graphics.ops()[0].text, "GeoGrid");
    EXPECT_EQ(graphics.ops()[0].rect, JRect(1, 2, 30, 40));
  }

  geo->setBounds(10, 20, 120, 60);
  JRegion everything;
  JGraphics caption(200, 100);
  geo->paint(caption, 0, 0, everything, 1.0);
  EXPECT_EQ(caption.texts(), std::vector<std::string>{"GeoGrid"});
  EXPECT_EQ(caption.ops().back().rect, geo->getIExtent(0, 0, 1.0));

  ASSERT_TRUE(setText(geo, "map_name", "harbour & bay"));
  JGraphics named(200, 100);
  geo->paint(named, 0, 0, everything, 1.0);
  EXPECT_EQ(named.texts(), std::vector<std::string>{"harbour & bay"});

  kw_test::TempDir dir;
  const std::string svg = dir.file("face.svg");
  std::string error;
  ASSERT_TRUE(named.writeSvg(svg, &error)) << error;
  EXPECT_NE(kw_test::readFile(svg).find(">harbour &amp; bay<"), std::string::npos)
      << kw_test::readFile(svg);

  ASSERT_TRUE(setText(geo, "map_name", ""));
  JGraphics cleared;
  geo->paint(cleared, 0, 0, everything, 1.0);
  EXPECT_EQ(cleared.texts(), std::vector<std::string>{"GeoGrid"});
}

}  // namespace
