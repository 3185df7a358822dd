// Test rig for the JGeoGridObj plug-in block, driven through the host
// stand-in: the plug-in is loaded from its shared library, blocks are made by
// class name in a JGraph, a JSourceObj feeds the two text inputs and a
// JProbeObj records every announcement of the three outputs.
//
// Owns its graph (and through it the blocks). Test thread only.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "host/JGraph.h"
#include "host/JIntegerData.h"
#include "host/JIntegerProperty.h"
#include "host/JLinkObj.h"
#include "host/JModuleObj.h"
#include "host/JPluginLoader.h"
#include "host/JProbeObj.h"
#include "host/JSourceObj.h"
#include "host/JStringProperty.h"

namespace geogrid_test {

// Loads the plug-in (once per process; later calls report the first load).
inline void loadPlugin() {
  std::vector<std::string> classes;
  std::string error;
  ASSERT_TRUE(JPluginLoader::load(KW_GEOGRID_PLUGIN, &classes, &error)) << error;
  ASSERT_EQ(classes, std::vector<std::string>{"JGeoGridObj"});
}

inline bool setText(JModuleObj* block, const char* name, const char* value) {
  JStringProperty property(name, value);
  return block->updateProperty(property);
}

inline bool setInteger(JModuleObj* block, const char* name, int value) {
  JIntegerProperty property(name, value, 1, 100);
  return block->updateProperty(property);
}

// Corners 4530.00000 N / 07350.00000 W (upper left) and 4520.00000 N /
// 07340.00000 W (lower right), 100 x 100 pixels: one pixel per 0.1 of the
// coordinate number on each axis.
inline void setExampleMap(JModuleObj* block) {
  ASSERT_TRUE(setText(block, "ul_latitude", "4530.00000 N"));
  ASSERT_TRUE(setText(block, "ul_longitude", "07350.00000 W"));
  ASSERT_TRUE(setText(block, "lr_latitude", "4520.00000 N"));
  ASSERT_TRUE(setText(block, "lr_longitude", "07340.00000 W"));
  ASSERT_TRUE(setInteger(block, "pixel_width", 100));
  ASSERT_TRUE(setInteger(block, "pixel_height", 100));
}

// The current value of output n, read the way a linked block reads it;
// -1 when the block left the data untouched.
inline int outputValue(JModuleObj* block, int n) {
  JLinkObj link(block, n, nullptr, 0);
  int value = -1;
  link.access(JIntegerData(value));
  return value;
}

inline std::vector<int> outputs(JModuleObj* block) {
  return {outputValue(block, 0), outputValue(block, 1), outputValue(block, 2)};
}

// The property list as "name=value" texts, in order.
inline std::vector<std::string> propertyTexts(JModuleObj* block) {
  std::vector<std::string> result;
  const JArray properties = block->getProperties();
  for (int i = 0; i < properties.size(); ++i) {
    if (auto* text = dynamic_cast<JStringProperty*>(properties.at(i))) {
      result.push_back(std::string(text->getName()) + "=" + std::string(text->getValue()));
    } else if (auto* integer = dynamic_cast<JIntegerProperty*>(properties.at(i))) {
      result.push_back(std::string(integer->getName()) + "=" + std::to_string(integer->getValue()));
    } else {
      result.push_back("?");
    }
  }
  return result;
}

// Fixture: a block of the plug-in with a source on its inputs (output 0 to
// latitude, output 1 to longitude) and a probe on its three outputs.
class Rig : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(loadPlugin());
    std::string error;
    geo = graph.create("JGeoGridObj", &error);
    ASSERT_NE(geo, nullptr) << error;
    source = static_cast<JSourceObj*>(graph.add(new JSourceObj(2)));
    probe = static_cast<JProbeObj*>(graph.add(new JProbeObj(3)));
    ASSERT_NE(graph.link(source, 0, geo, 0, &error), nullptr) << error;
    ASSERT_NE(graph.link(source, 1, geo, 1, &error), nullptr) << error;
    for (int n = 0; n < 3; ++n) ASSERT_NE(graph.link(geo, n, probe, n, &error), nullptr) << error;
  }

  void latitude(const char* text) {
    source->setString(0, text);
    source->broadcast(0);
  }
  void longitude(const char* text) {
    source->setString(1, text);
    source->broadcast(1);
  }

  // The announcements recorded since the last call, as (output, value).
  std::vector<std::pair<int, int>> announced() {
    std::vector<std::pair<int, int>> result;
    for (const JProbeObj::Value& value : probe->values())
      result.emplace_back(value.input, value.integer);
    probe->clear();
    return result;
  }

  JGraph graph;
  JModuleObj* geo = nullptr;
  JSourceObj* source = nullptr;
  JProbeObj* probe = nullptr;
};

using Announced = std::vector<std::pair<int, int>>;

}  // namespace geogrid_test
