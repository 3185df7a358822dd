// Plug-in loading: real plug-in libraries opened with dlopen, their classes
// registered at load and made by class name, two side by side.
#include <gtest/gtest.h>

#include "host/JClassRegistry.h"
#include "host/JGraph.h"
#include "host/JPluginLoader.h"
#include "host/JProbeObj.h"
#include "host/JSourceObj.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(PluginLoaderTest, LoadRegistersTheClassAndBlocksAreMadeByName) {
  std::vector<std::string> classes;
  std::string error;
  ASSERT_TRUE(JPluginLoader::load(KW_PLUGIN_ALPHA, &classes, &error)) << error;
  EXPECT_EQ(classes, (std::vector<std::string>{"JTestAlphaObj"}));
  EXPECT_TRUE(JClassRegistry::contains("JTestAlphaObj"));

  JGraph graph;
  JModuleObj* block = graph.create("JTestAlphaObj", &error);
  ASSERT_NE(block, nullptr) << error;
  EXPECT_STREQ(block->className(), "JTestAlphaObj");
  EXPECT_EQ(block->igm, 1);
  auto* source = new JSourceObj();
  auto* probe = new JProbeObj();
  graph.add(source);
  graph.add(probe);
  ASSERT_NE(graph.link(source, 0, block, 0, &error), nullptr) << error;
  ASSERT_NE(graph.link(block, 0, probe, 0, &error), nullptr) << error;
  source->setInteger(0, 5);
  source->broadcast(0);
  ASSERT_NE(probe->last(0), nullptr);
  EXPECT_EQ(probe->last(0)->integer, 105);
}

TEST(PluginLoaderTest, TwoPluginsSideBySideKeepTheirOwnCode) {
  std::string error;
  ASSERT_TRUE(JPluginLoader::load(KW_PLUGIN_ALPHA, nullptr, &error)) << error;
  ASSERT_TRUE(JPluginLoader::load(KW_PLUGIN_BETA, nullptr, &error)) << error;
  JGraph graph;
  JModuleObj* alpha = graph.create("JTestAlphaObj");
  JModuleObj* beta = graph.create("JTestBetaObj");
  ASSERT_NE(alpha, nullptr);
  ASSERT_NE(beta, nullptr);
  auto* probe = new JProbeObj(2);
  graph.add(probe);
  graph.link(alpha, 0, probe, 0);
  graph.link(beta, 0, probe, 1);
  alpha->broadcast(0);
  beta->broadcast(0);
  // Both plug-ins define the same internal function; each uses its own.
  EXPECT_EQ(probe->last(0)->integer, 100);
  EXPECT_EQ(probe->last(1)->integer, 200);
}

TEST(PluginLoaderTest, LoadingAgainReportsTheFirstOutcome) {
  std::vector<std::string> classes;
  ASSERT_TRUE(JPluginLoader::load(KW_PLUGIN_BETA, &classes));
  ASSERT_TRUE(JPluginLoader::load(KW_PLUGIN_BETA, &classes));
  EXPECT_EQ(classes, (std::vector<std::string>{"JTestBetaObj"}));
  const auto names = JClassRegistry::classNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "JTestBetaObj"), 1);
}

TEST(PluginLoaderTest, ASecondClassOfTheSameNameIsRefused) {
  ASSERT_TRUE(JPluginLoader::load(KW_PLUGIN_ALPHA));
  std::string error;
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_FALSE(JPluginLoader::load(KW_PLUGIN_ALPHA_AGAIN, nullptr, &error));
    EXPECT_NE(error.find("registers module class 'JTestAlphaObj', which is already registered"),
              std::string::npos)
        << error;
  }
  // The first registration still makes the blocks.
  JGraph graph;
  JModuleObj* block = graph.create("JTestAlphaObj");
  auto* probe = new JProbeObj();
  graph.add(probe);
  graph.link(block, 0, probe, 0);
  block->broadcast(0);
  EXPECT_EQ(probe->last(0)->integer, 100);
}

TEST(PluginLoaderTest, MissingAndBrokenLibrariesAreReported) {
  std::string error;
  EXPECT_FALSE(JPluginLoader::load("/nonexistent/JNothing.so", nullptr, &error));
  EXPECT_EQ(error, "cannot load plug-in '/nonexistent/JNothing.so': No such file or directory");
  kw_test::TempDir dir;
  const std::string fake = dir.write("JFake.so", "not a shared library\n");
  EXPECT_FALSE(JPluginLoader::load(fake, nullptr, &error));
  EXPECT_EQ(error.rfind("cannot load plug-in '" + fake + "': ", 0), 0u) << error;
  EXPECT_FALSE(JPluginLoader::load(dir.path().string(), nullptr, &error));
  EXPECT_EQ(error,
            "cannot load plug-in '" + dir.path().string() + "': a folder, not a regular file");
}

TEST(PluginLoaderTest, HostBlocksAreRegisteredFromTheStart) {
  EXPECT_TRUE(JClassRegistry::contains("JProbeObj"));
  EXPECT_TRUE(JClassRegistry::contains("JSourceObj"));
  JProbeObj extra;
  EXPECT_STREQ(extra.Register(), "");  // the name is taken
  std::unique_ptr<JModuleObj> made(JClassRegistry::make("JProbeObj"));
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(JClassRegistry::make("JUnknownObj"), nullptr);
}

}  // namespace
