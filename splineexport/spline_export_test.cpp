#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <maya/MTime.h>

#include "host_harness.h"

namespace {

using harness::callSummaries;
using harness::Description;
using harness::findParam;
using harness::lastCall;
using Strings = std::vector<std::string>;
using Floats = std::vector<float>;
using Ints = std::vector<std::int32_t>;

class SplineExportTest : public harness::PluginTest {
 protected:
  void SetUp() override {
    harness::PluginTest::SetUp();
    MTime::setUIUnit(MTime::kFilm);
  }
  std::unique_ptr<VRXCustomDelegate> delegateFor(const Description& d) {
    std::unique_ptr<VRXCustomDelegate> delegate(makeDelegate(d.node));
    zephrinstandin::clearCalls();
    return delegate;
  }
};

void expectParam(const zephrinstandin::Param* p, int type, int arraylength, std::uint64_t count,
                 int flags) {
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->type, type) << p->name;
  EXPECT_EQ(p->arraylength, arraylength) << p->name;
  EXPECT_EQ(p->count, count) << p->name;
  EXPECT_EQ(p->flags, flags) << p->name;
}

TEST_F(SplineExportTest, CreateMakesTheTransformNode) {
  Description d(harness::twoCurvesAndAnEmptyBatch());
  auto delegate = delegateFor(d);
  delegate->Create();
  EXPECT_EQ(callSummaries(), Strings{"VRXCreate desc transform"});
  EXPECT_EQ(zephrinstandin::calls()[0].nparams, 0);
  EXPECT_EQ(zephrinstandin::calls()[0].context, 7);
}

TEST_F(SplineExportTest, ExportWritesEveryBatchAsACurvesNodeUnderTheTransform) {
  Description d(harness::twoCurvesAndAnEmptyBatch());
  auto delegate = delegateFor(d);
  delegate->SetAttributes(true, 9.0);
  EXPECT_EQ(callSummaries(), (Strings{
                                 "VRXCreate desc|0 curves",
                                 "VRXSetAttribute desc|0 basis,extrapolate",
                                 "VRXConnect desc|0. -> desc.objects",
                                 "VRXSetAttribute desc|0 nvertices,P,width,N,st",
                                 "VRXCreate desc|1 curves",
                                 "VRXSetAttribute desc|1 basis,extrapolate",
                                 "VRXConnect desc|1. -> desc.objects",
                                 "VRXSetAttribute desc|1 nvertices,P,width,N,st",
                             }));
  for (const auto& call : zephrinstandin::calls()) {
    EXPECT_EQ(call.context, 7);
    EXPECT_EQ(call.nparams, static_cast<int>(call.params.size()));
  }

  const auto& shape = zephrinstandin::calls()[1];
  expectParam(findParam(shape, "basis"), 3, 0, 1, 0);
  EXPECT_EQ(findParam(shape, "basis")->strings, Strings{"linear"});
  expectParam(findParam(shape, "extrapolate"), 2, 0, 1, 0);
  EXPECT_EQ(findParam(shape, "extrapolate")->ints, Ints{1});

  const auto& curves = zephrinstandin::calls()[3];
  expectParam(findParam(curves, "nvertices"), 2, 0, 2, 0);
  EXPECT_EQ(findParam(curves, "nvertices")->ints, (Ints{3, 1}));
  expectParam(findParam(curves, "P"), 5, 0, 4, 0);
  EXPECT_EQ(findParam(curves, "P")->floats, (Floats{0, 0, 0, 1, 0, 0, 1, 2, 0, 5, 5, 5}));
  expectParam(findParam(curves, "width"), 1, 0, 4, 0);
  EXPECT_EQ(findParam(curves, "width")->floats, (Floats{0.1f, 0.2f, 0.3f, 0.4f}));
  // Width direction x segment; the last vertex uses the segment before it,
  // and a single-vertex curve has the zero normal.
  expectParam(findParam(curves, "N"), 7, 0, 4, 0);
  EXPECT_EQ(findParam(curves, "N")->floats, (Floats{0, 1, 0, -2, 0, 0, 0, 0, 2, 0, 0, 0}));
  // First-vertex coordinates; area = (1.5-0.5) * (0.75-0.25) / 2 curves * 0.5.
  expectParam(findParam(curves, "st"), 1, 3, 2, 3);
  EXPECT_EQ(findParam(curves, "st")->floats, (Floats{0.25f, 0.5f, 0.125f, 0.75f, 1.5f, 0.125f}));

  const auto& empty = zephrinstandin::calls()[7];
  for (const char* name : {"nvertices", "P", "width", "N", "st"})
    EXPECT_EQ(findParam(empty, name)->count, 0u) << name;
}

// Batch numbers are appended to the handle as plain whole numbers, also
// from ten on.
TEST_F(SplineExportTest, CurvesNodesAreNumberedInIterationOrder) {
  Description d(std::vector<splinedata::Batch>(101));
  auto delegate = delegateFor(d);
  delegate->SetAttributes(true, 0.0);
  Strings created, expected;
  for (const auto& call : zephrinstandin::calls())
    if (call.function == "VRXCreate") created.push_back(call.handle);
  for (int i = 0; i <= 100; ++i) expected.push_back("desc|" + std::to_string(i));
  EXPECT_EQ(created, expected);
}

TEST_F(SplineExportTest, XGenIsGivenTheFrameRateTheTimeAndTheWholeSerialisedData) {
  Description d(harness::twoCurvesAndAnEmptyBatch());
  auto delegate = delegateFor(d);
  MTime::setUIUnit(MTime::kNTSCFrame);
  delegate->SetAttributes(false, 2.5);
  const auto& load = xgenstandin::lastLoad();
  EXPECT_EQ(load.loads, 1);
  EXPECT_TRUE(load.loaded);
  EXPECT_TRUE(load.scriptRun);
  EXPECT_EQ(load.fps, 30.0f);
  EXPECT_EQ(load.frame, 2.5f);
}

TEST_F(SplineExportTest, ATimedExportSetsTheCurveDataAtTheTimeAndTheBasisWithout) {
  Description d(harness::twoCurvesAndAnEmptyBatch());
  auto delegate = delegateFor(d);
  delegate->SetAttributes(false, 2.5);
  EXPECT_EQ(callSummaries(), harness::exportCalls(" @2.5"));
  // The time goes through as the double it was.
  delegate->SetAttributes(false, 1.0 / 3.0);
  EXPECT_EQ(lastCall("VRXSetAttributeAtTime", "desc|0")->time, 1.0 / 3.0);
}

TEST_F(SplineExportTest, FacingTheCameraDropsNormalsAndDeletesThoseOfThePreviousExport) {
  Description d(harness::twoCurvesAndAnEmptyBatch());
  auto delegate = delegateFor(d);
  mayastandin::setBool(d.node, "faceCamera", true);
  delegate->SetAttributes(true, 0.0);
  EXPECT_EQ(callSummaries()[3], "VRXSetAttribute desc|0 nvertices,P,width,st");

  mayastandin::setBool(d.node, "faceCamera", false);
  delegate->SetAttributes(true, 0.0);
  mayastandin::setBool(d.node, "faceCamera", true);
  zephrinstandin::clearCalls();
  delegate->SetAttributes(true, 0.0);
  EXPECT_EQ(callSummaries(), harness::exportCalls("", false, true));

  // Normals were not written this time, so the next export deletes nothing.
  zephrinstandin::clearCalls();
  delegate->SetAttributes(true, 0.0);
  EXPECT_EQ(lastCall("VRXDeleteAttribute", "desc|0"), nullptr);
}

TEST_F(SplineExportTest, AnUnreadableFaceCameraMeansTheCurvesFaceTheCamera) {
  Description d(harness::twoCurvesAndAnEmptyBatch());
  mayastandin::removeAttribute(d.node, "faceCamera");
  auto delegate = delegateFor(d);
  delegate->SetAttributes(true, 0.0);
  EXPECT_EQ(findParam(*lastCall("VRXSetAttribute", "desc|0"), "N"), nullptr);
}

struct SmoothCase {
  const char* name;
  const char* description;  // "_zephrin_smooth_curves": "true", "false" or "" for none
  bool settings;            // a settings node is given
  const char* enable;       // its "enableSmoothCurves"
  const char* smooth;       // its "smoothCurves"
  const char* basis;
};

void PrintTo(const SmoothCase& c, std::ostream* out) { *out << c.name; }

class SmoothCurvesTest : public SplineExportTest,
                         public ::testing::WithParamInterface<SmoothCase> {};

void setOptionalBool(const MObject& node, const char* name, const char* value) {
  if (*value) mayastandin::setBool(node, name, std::string(value) == "true");
}

TEST_P(SmoothCurvesTest, BasisFollowsTheDescriptionUnlessTheSettingsOverride) {
  const SmoothCase& c = GetParam();
  Description d(harness::twoCurvesAndAnEmptyBatch());
  setOptionalBool(d.node, "_zephrin_smooth_curves", c.description);
  auto delegate = delegateFor(d);
  MObject settings = mayastandin::createNode("zephrinGlobals", "settings1");
  setOptionalBool(settings, "enableSmoothCurves", c.enable);
  setOptionalBool(settings, "smoothCurves", c.smooth);
  if (c.settings) delegate->SetSettingsNode(settings);
  delegate->SetAttributes(true, 0.0);
  const auto* shape = lastCall("VRXSetAttribute", "desc|0", "basis");
  ASSERT_NE(shape, nullptr);
  EXPECT_EQ(findParam(*shape, "basis")->strings, Strings{c.basis});
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, SmoothCurvesTest,
    ::testing::Values(
        SmoothCase{"NeitherSet", "", false, "", "", "linear"},
        SmoothCase{"DescriptionOnly", "true", false, "", "", "catmull-rom"},
        SmoothCase{"SettingsEnableSmooth", "false", true, "true", "true", "catmull-rom"},
        SmoothCase{"SettingsEnableLinear", "true", true, "true", "false", "linear"},
        SmoothCase{"SettingsDisabledDescriptionSmooth", "true", true, "false", "false",
                   "catmull-rom"},
        SmoothCase{"SettingsDisabledDescriptionLinear", "false", true, "false", "true", "linear"},
        SmoothCase{"SettingsEnableWithoutValue", "true", true, "true", "", "catmull-rom"},
        SmoothCase{"SettingsWithoutEnable", "true", true, "", "false", "catmull-rom"}),
    [](const ::testing::TestParamInfo<SmoothCase>& info) { return std::string(info.param.name); });

TEST_F(SplineExportTest, ADescriptionFeedingAModifierGuideIsNotExportedAndKeepsItsFlags) {
  Description d(harness::twoCurvesAndAnEmptyBatch());
  MObject other = mayastandin::createNode("xgmSplineCache", "cache1");
  MObject guide = mayastandin::createNode("xgmModifierGuide", "guide1");
  mayastandin::addAttribute(other, "inSplineData");
  mayastandin::addAttribute(guide, "inSplineData");
  mayastandin::connect(d.node, "outSplineData", other, "inSplineData");
  mayastandin::connect(d.node, "outSplineData", guide, "inSplineData");
  // Without an instance either: the guide is looked at first, so the missing
  // instance does not turn later exports off.
  mayastandin::disconnect(d.node, "instObjGroups[0]", d.shadingGroup, "dagSetMembers[0]");
  auto delegate = delegateFor(d);
  delegate->RegisterCallbacks();
  delegate->SetAttributes(true, 0.0);
  EXPECT_TRUE(zephrinstandin::calls().empty());
  EXPECT_EQ(xgenstandin::lastLoad().loads, 0);

  // Not marked as exported: a set attribute still does nothing.
  mayastandin::fireAttributeChanged(d.node, 0x8, "width");
  EXPECT_TRUE(zephrinstandin::calls().empty());
  // Still wanting an export: it runs once the guide is gone.
  mayastandin::disconnect(d.node, "outSplineData", guide, "inSplineData");
  mayastandin::connect(d.node, "instObjGroups[0]", d.shadingGroup, "dagSetMembers[0]");
  delegate->SetAttributes(true, 0.0);
  EXPECT_NE(lastCall("VRXSetAttribute", "desc|1"), nullptr);
}

TEST_F(SplineExportTest, WithoutAConnectedInstanceNothingIsExportedUntilReenabled) {
  Description d(harness::twoCurvesAndAnEmptyBatch());
  mayastandin::disconnect(d.node, "instObjGroups[0]", d.shadingGroup, "dagSetMembers[0]");
  auto delegate = delegateFor(d);
  delegate->RegisterCallbacks();
  delegate->SetAttributes(true, 0.0);
  EXPECT_TRUE(zephrinstandin::calls().empty());

  // Even with an instance now, exports stay off...
  mayastandin::connect(d.node, "instObjGroups[0]", d.shadingGroup, "dagSetMembers[0]");
  delegate->SetAttributes(true, 0.0);
  EXPECT_TRUE(zephrinstandin::calls().empty());
  // ...until the description's "osd" is evaluated.
  mayastandin::fireAttributeChanged(d.node, 0x4, "osd");
  Strings update = harness::exportCalls();
  update.push_back("VRXRenderControl  action");
  EXPECT_EQ(callSummaries(), update);
}

// Plug-in data whose serialised form is empty.
struct WritesNothing : MPxData {
  MStatus writeBinary(std::ostream&) override { return MStatus::kSuccess; }
};

TEST_F(SplineExportTest, MissingSplineDataEndsTheExportQuietly) {
  Description d(harness::twoCurvesAndAnEmptyBatch());
  auto delegate = delegateFor(d);
  mayastandin::setObject(d.node, "outRenderData", MObject());
  delegate->SetAttributes(true, 0.0);
  // Empty serialised data is not handed to XGen.
  mayastandin::setObject(d.node, "outRenderData", mayastandin::createPluginData(new WritesNothing));
  delegate->SetAttributes(true, 0.0);
  EXPECT_EQ(xgenstandin::lastLoad().loads, 0);
  mayastandin::setObject(d.node, "outRenderData",
                         mayastandin::createPluginData(new mayastandin::SplineData({})));
  delegate->SetAttributes(true, 0.0);  // serialises to a header only, no batches
  EXPECT_TRUE(zephrinstandin::calls().empty());
  EXPECT_EQ(xgenstandin::lastLoad().loads, 1);
}

TEST_F(SplineExportTest, EqualTextureCoordinatesGiveZeroArea) {
  splinedata::Batch b;
  b.primitiveCount = 2;
  b.vertexCount = 2;
  b.infos = {0, 1, 1, 1};
  b.samples = {{{0, 0, 0, 1, 1, 1}, {1, 1}, {0.5f, 0.5f, 0.5f, 0.5f}, {0, 0, 1, 0, 0, 1}}};
  Description d({b});
  auto delegate = delegateFor(d);
  delegate->SetAttributes(true, 0.0);
  EXPECT_EQ(findParam(*lastCall("VRXSetAttribute", "desc|0"), "st")->floats,
            (Floats{0.5f, 0.5f, 0, 0.5f, 0.5f, 0}));
}

// A batch whose curve table reaches outside its own vertex arrays, or whose
// arrays are shorter than its counts, cannot be read safely; it is left out
// and the batches after it keep their numbers.
TEST_F(SplineExportTest, ABatchWhoseCurvesReachPastItsVerticesIsSkipped) {
  splinedata::Batch bad;
  bad.primitiveCount = 1;
  bad.vertexCount = 2;
  bad.infos = {1, 2};
  bad.samples = {{{0, 0, 0, 1, 1, 1}, {1, 1}, {0, 0, 1, 1}, {0, 0, 1, 0, 0, 1}}};
  splinedata::Batch tooMany = bad;
  tooMany.primitiveCount = 2;
  tooMany.infos = {0, 2, 0, 2};
  splinedata::Batch good = bad;
  good.infos = {0, 2};
  splinedata::Batch shortPositions = good;
  shortPositions.samples[0].positions.resize(3);
  splinedata::Batch shortDirections = good;
  shortDirections.samples[0].widthDirections.resize(3);
  splinedata::Batch shortInfos = good;
  shortInfos.primitiveCount = 2;
  Description d({bad, tooMany, shortPositions, shortDirections, shortInfos, good});
  auto delegate = delegateFor(d);
  delegate->SetAttributes(true, 0.0);
  EXPECT_EQ(callSummaries(), (Strings{
                                 "VRXCreate desc|5 curves",
                                 "VRXSetAttribute desc|5 basis,extrapolate",
                                 "VRXConnect desc|5. -> desc.objects",
                                 "VRXSetAttribute desc|5 nvertices,P,width,N,st",
                             }));
}

// An empty curve placed after the last vertex has no coordinates of its own:
// (0, 0), and the area comes from the other curves alone.
TEST_F(SplineExportTest, AnEmptyCurveAfterTheLastVertexReadsNoCoordinates) {
  splinedata::Batch b;
  b.primitiveCount = 2;
  b.vertexCount = 2;
  b.infos = {0, 2, 2, 0};
  b.samples = {{{0, 0, 0, 1, 0, 0}, {1, 1}, {0.25f, 0.5f, 1, 1}, {0, 0, 1, 0, 0, 1}}};
  Description d({b});
  auto delegate = delegateFor(d);
  delegate->SetAttributes(true, 0.0);
  const auto* curves = lastCall("VRXSetAttribute", "desc|0");
  EXPECT_EQ(findParam(*curves, "nvertices")->ints, (Ints{2, 0}));
  EXPECT_EQ(findParam(*curves, "st")->floats, (Floats{0.25f, 0.5f, 0, 0, 0, 0}));
}

}  // namespace
