#include "vrx_custom_delegate.h"

#include <memory>

#include <gtest/gtest.h>

#include "host_harness.h"

namespace {

TEST(VRXCustomDelegate, ABaseDelegateDoesNothingThroughEveryOperation) {
  zephrinstandin::clearCalls();
  mayastandin::reset();
  MObject node = mayastandin::createNode("transform", "t1");
  auto delegate = std::make_unique<VRXCustomDelegate>(node, 3, MString("h"), 9);
  delegate->Create();
  delegate->PrepareUpdate();
  delegate->SetAttributes(true, 0.0);
  delegate->SetAttributes(false, 1.0);
  delegate->FinishUpdate();
  delegate->Reserved();
  EXPECT_FALSE(delegate->IsTimeDependent());
  EXPECT_FALSE(delegate->RegisterCallbacks());
  delegate->SetSettingsNode(node);
  delegate.reset();
  EXPECT_TRUE(zephrinstandin::calls().empty());
  EXPECT_TRUE(mayastandin::registeredCallbackIds().empty());
}

// The renderer's host plug-in calls delegates by slot number, not through
// this project's header: check the slots it relies on in the plug-in's own
// object.
using DelegateSlots = harness::PluginTest;

TEST_F(DelegateSlots, TheSplinesDelegateAnswersThroughItsFixedSlots) {
  harness::Description d(harness::twoCurvesAndAnEmptyBatch());
  VRXCustomDelegate* delegate = makeDelegate(d.node);
  ASSERT_NE(delegate, nullptr);
  zephrinstandin::clearCalls();
  using Action = void (*)(void*);
  using Query = bool (*)(void*);
  using Export = void (*)(void*, bool, double);
  reinterpret_cast<Action>(harness::slot(delegate, 2))(delegate);  // Create
  ASSERT_EQ(harness::callSummaries(), std::vector<std::string>{"VRXCreate desc transform"});
  reinterpret_cast<Action>(harness::slot(delegate, 3))(delegate);  // PrepareUpdate
  reinterpret_cast<Action>(harness::slot(delegate, 5))(delegate);  // FinishUpdate
  reinterpret_cast<Action>(harness::slot(delegate, 6))(delegate);  // Reserved
  EXPECT_EQ(zephrinstandin::calls().size(), 1u);
  EXPECT_TRUE(reinterpret_cast<Query>(harness::slot(delegate, 7))(delegate));  // IsTimeDependent
  EXPECT_EQ(mayastandin::liveCallbackCount(d.node), 0u);  // it only answers
  EXPECT_TRUE(reinterpret_cast<Query>(harness::slot(delegate, 8))(delegate));  // RegisterCallbacks
  EXPECT_EQ(mayastandin::liveCallbackCount(d.node), 2u);
  MObject settings = mayastandin::createNode("zephrinGlobals", "settings1");
  mayastandin::setBool(settings, "enableSmoothCurves", true);
  mayastandin::setBool(settings, "smoothCurves", true);
  using Settings = void (*)(void*, const MObject&);
  reinterpret_cast<Settings>(harness::slot(delegate, 9))(delegate, settings);  // SetSettingsNode
  reinterpret_cast<Export>(harness::slot(delegate, 4))(delegate, false, 4.0);  // SetAttributes
  EXPECT_NE(harness::lastCall("VRXSetAttributeAtTime", "desc|0"), nullptr);
  const auto* shape = harness::lastCall("VRXSetAttribute", "desc|0", "basis");
  ASSERT_NE(shape, nullptr);
  EXPECT_EQ(harness::findParam(*shape, "basis")->strings, std::vector<std::string>{"catmull-rom"});
  harness::removeCallbacks(delegate);
  EXPECT_EQ(mayastandin::liveCallbackCount(d.node), 0u);
  reinterpret_cast<Action>(harness::slot(delegate, 1))(delegate);  // deleting destructor
}

}  // namespace
