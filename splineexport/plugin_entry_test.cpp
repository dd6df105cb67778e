#include <dlfcn.h>
#include <link.h>

#include <cstdio>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "host_harness.h"

namespace {

using harness::PluginTest;

TEST_F(PluginTest, InitialisationRegistersTheCommandUnderTheVendorAndVersion) {
  EXPECT_TRUE(mayastandin::commandRegistered("xgmSplineDescriptionExporter"));
  ASSERT_EQ(mayastandin::pluginConstructions().size(), 1u);
  const auto& identity = mayastandin::pluginConstructions()[0];
  EXPECT_EQ(identity.vendor, "Orvath Works");
  EXPECT_EQ(identity.version, "1");  // 1.0 in the host's text form
  EXPECT_EQ(identity.requiredApiVersion, "Any");

  // A second registration of the same name fails, and the status says so.
  EXPECT_FALSE(harness::callEntry("initializePlugin", pluginObject));
}

TEST_F(PluginTest, UninitialisationRemovesTheCommandAndReportsWhenItCannot) {
  EXPECT_TRUE(harness::callEntry("uninitializePlugin", pluginObject));
  EXPECT_FALSE(mayastandin::commandRegistered("xgmSplineDescriptionExporter"));
  const auto& identity = mayastandin::pluginConstructions().back();
  EXPECT_EQ(identity.vendor, "Unknown");
  EXPECT_EQ(identity.version, "Unknown");
  EXPECT_EQ(identity.requiredApiVersion, "Any");
  EXPECT_FALSE(harness::callEntry("uninitializePlugin", pluginObject));
}

TEST_F(PluginTest, ApiVersionIsANineByteExportedString) {
  void* address = harness::symbol("MApiVersion");
  ASSERT_NE(address, nullptr);
  EXPECT_STREQ(static_cast<const char*>(address), "20190000");
  Dl_info info;
  void* entry = nullptr;
  ASSERT_NE(dladdr1(address, &info, &entry, RTLD_DL_SYMENT), 0);
  const auto* sym = static_cast<const ElfW(Sym)*>(entry);
  ASSERT_NE(sym, nullptr);
  EXPECT_EQ(sym->st_size, 9u);
}

TEST_F(PluginTest, EachRunOfTheCommandGivesANewRecordWithTheSameFactory) {
  const unsigned char* first = harness::runExporterCommand();
  const unsigned char* second = harness::runExporterCommand();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  for (const unsigned char* record : {first, second}) {
    std::int32_t tag = 0;
    std::memcpy(&tag, record, sizeof tag);
    EXPECT_EQ(tag, 2);
    for (int i = 4; i < 24; ++i) EXPECT_EQ(record[i], 0) << "byte " << i;
  }
  harness::Factory factory = harness::factoryOf(first);
  EXPECT_EQ(factory, harness::factoryOf(second));
  // The factory lies inside the plug-in.
  Dl_info info;
  ASSERT_NE(dladdr(reinterpret_cast<void*>(factory), &info), 0);
  EXPECT_STREQ(info.dli_fname, SPLINEEXPORT_PLUGIN);
}

TEST_F(PluginTest, TheCommandIsNotUndoableAndTakesNoSyntax) {
  ASSERT_NE(harness::runExporterCommand(), nullptr);
  EXPECT_FALSE(mayastandin::lastCommandRun().undoable);
  EXPECT_EQ(mayastandin::lastCommandRun().syntaxFlags, 0u);
  EXPECT_EQ(mayastandin::lastCommandRun().syntaxArguments, 0u);
}

// The host reaches isUndoable through the command's slot 5: the command
// replaces it, and inherits hasSyntax (slot 6).
TEST_F(PluginTest, TheCommandReplacesIsUndoable) {
  MPxCommand* command = mayastandin::createCommand("xgmSplineDescriptionExporter");
  ASSERT_NE(command, nullptr);
  MPxCommand base;
  EXPECT_NE(harness::slot(command, 5), harness::slot(&base, 5));
  EXPECT_EQ(harness::slot(command, 6), harness::slot(&base, 6));
  EXPECT_FALSE(command->isUndoable());
  delete command;
}

TEST(PluginExports, OnlyTheEntryPointsAreExported) {
  std::string command = std::string("nm -D --defined-only ") + SPLINEEXPORT_PLUGIN;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string text(line);
    text.erase(text.find_last_not_of("\n") + 1);
    names.insert(text.substr(text.rfind(' ') + 1));
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(names, (std::set<std::string>{"MApiVersion", "initializePlugin", "uninitializePlugin"}));
}

}  // namespace
