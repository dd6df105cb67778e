#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host_harness.h"

namespace {

using harness::callSummaries;
using harness::Description;
using Strings = std::vector<std::string>;

// One live update: the export without a time, then the synchronize.
Strings oneUpdate() {
  Strings lines = harness::exportCalls();
  lines.push_back("VRXRenderControl  action");
  return lines;
}

Strings repeated(const Strings& lines, int times) {
  Strings all;
  for (int i = 0; i < times; ++i) all.insert(all.end(), lines.begin(), lines.end());
  return all;
}

class LiveUpdateTest : public harness::PluginTest {
 protected:
  void SetUp() override {
    harness::PluginTest::SetUp();
    description = std::make_unique<Description>(harness::twoCurvesAndAnEmptyBatch());
    delegate.reset(makeDelegate(description->node));
    ASSERT_TRUE(delegate->RegisterCallbacks());
    zephrinstandin::clearCalls();
  }
  void TearDown() override {
    delegate.reset();
    harness::PluginTest::TearDown();
  }
  const MObject& node() const { return description->node; }

  std::unique_ptr<Description> description;
  std::unique_ptr<VRXCustomDelegate> delegate;
};

TEST_F(LiveUpdateTest, BeforeTheFirstExportOnlyTheEvaluationOfOsdActs) {
  mayastandin::fireAttributeChanged(node(), 0x8, "width");
  mayastandin::fireAttributeChanged(node(), 0x1, "width");
  mayastandin::fireAttributeChanged(node(), 0x4, "width");
  mayastandin::fireDirtyPlug(node(), "width");
  EXPECT_TRUE(zephrinstandin::calls().empty());

  // Evaluation with other bits besides: still an evaluation. The host may
  // name the plug by its long name: its short partial name is still "osd".
  mayastandin::fireAttributeChanged(node(), 0x4 | 0x8 | 0x800, "outputSplineData");
  EXPECT_EQ(callSummaries(), oneUpdate());
  const auto& control = zephrinstandin::calls().back();
  EXPECT_EQ(control.context, 7);
  ASSERT_EQ(control.params.size(), 1u);
  EXPECT_EQ(control.params[0].type, 3);
  EXPECT_EQ(control.params[0].arraylength, 0);
  EXPECT_EQ(control.params[0].count, 1u);
  EXPECT_EQ(control.params[0].flags, 0);
  EXPECT_EQ(control.params[0].strings, Strings{"synchronize"});
}

TEST_F(LiveUpdateTest, AfterTheFirstExportEveryChangeExportsAndSynchronisesOnce) {
  delegate->SetAttributes(true, 0.0);
  zephrinstandin::clearCalls();
  mayastandin::fireAttributeChanged(node(), 0x4, "osd");
  // An evaluation is only looked at for "osd", whatever other bits it has.
  mayastandin::fireAttributeChanged(node(), 0x4 | 0x8 | 0x1, "width");
  EXPECT_TRUE(zephrinstandin::calls().empty());

  struct Change {
    const char* what;
    int message;  // 0: a dirty plug
  };
  for (Change change : {Change{"dirty plug", 0}, Change{"attribute set", 0x8},
                        Change{"connection made", 0x1}, Change{"connection broken", 0x2}}) {
    zephrinstandin::clearCalls();
    if (change.message)
      mayastandin::fireAttributeChanged(node(), change.message, "width");
    else
      mayastandin::fireDirtyPlug(node(), "width");
    EXPECT_EQ(callSummaries(), oneUpdate()) << change.what;
  }
  // Other messages do nothing.
  zephrinstandin::clearCalls();
  mayastandin::fireAttributeChanged(node(), 0x10 | 0x40, "width");
  EXPECT_TRUE(zephrinstandin::calls().empty());
}

TEST_F(LiveUpdateTest, ALiveExportIsWrittenWithoutATimeAfterTimedExports) {
  delegate->SetAttributes(false, 12.0);
  zephrinstandin::clearCalls();
  mayastandin::fireDirtyPlug(node(), "width");
  EXPECT_EQ(callSummaries(), oneUpdate());
  EXPECT_EQ(xgenstandin::lastLoad().frame, 0.0f);
}

TEST_F(LiveUpdateTest, TheSynchronizeIsSentAlsoWhenTheExportStopsEarly) {
  delegate->SetAttributes(true, 0.0);
  mayastandin::setObject(node(), "outRenderData", MObject());
  zephrinstandin::clearCalls();
  mayastandin::fireAttributeChanged(node(), 0x8, "width");
  EXPECT_EQ(callSummaries(), Strings{"VRXRenderControl  action"});
}

TEST_F(LiveUpdateTest, RegisteringTwiceRunsEachUpdateTwice) {
  ASSERT_TRUE(delegate->RegisterCallbacks());
  EXPECT_EQ(mayastandin::liveCallbackCount(node()), 4u);
  delegate->SetAttributes(true, 0.0);
  zephrinstandin::clearCalls();
  mayastandin::fireDirtyPlug(node(), "width");
  EXPECT_EQ(callSummaries(), repeated(oneUpdate(), 2));
}

TEST_F(LiveUpdateTest, DestroyingTheDelegateRemovesItsCallbacksInOrder) {
  ASSERT_TRUE(delegate->RegisterCallbacks());
  const auto registered = mayastandin::registeredCallbackIds();
  ASSERT_EQ(registered.size(), 4u);
  delegate.reset();
  EXPECT_EQ(mayastandin::removedCallbackIds(), registered);
  EXPECT_EQ(mayastandin::liveCallbackCount(node()), 0u);
  mayastandin::fireAttributeChanged(node(), 0x4, "osd");
  EXPECT_TRUE(zephrinstandin::calls().empty());
}

TEST_F(LiveUpdateTest, AfterRemoveCallbacksTheDestructorRemovesNothingMore) {
  harness::removeCallbacks(delegate.get());
  const auto removed = mayastandin::removedCallbackIds();
  EXPECT_EQ(removed, mayastandin::registeredCallbackIds());
  EXPECT_EQ(mayastandin::liveCallbackCount(node()), 0u);
  delegate.reset();
  EXPECT_EQ(mayastandin::removedCallbackIds(), removed);
}

}  // namespace
