#include "vrx_binding.h"

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "zephrin_standin.h"

namespace {

float* floatBlock(std::initializer_list<float> values) {
  auto* block = static_cast<float*>(std::malloc(values.size() * sizeof(float)));
  std::copy(values.begin(), values.end(), block);
  return block;
}

TEST(VRXBinding, AListBecomesContiguousRecordsInListOrder) {
  zephrinstandin::clearCalls();
  VRX::ArgList list;
  list.Add(new VRX::CStringPArg("shader", "plastic"));
  list.Add(new VRX::IntegerArg("samples", 16));
  list.Add(new VRX::Argument("Cs", kVRXFloat, 3, 2, 3, floatBlock({1, 2, 3, 4, 5, 6})));
  std::vector<VRXParam> params = list.Fill();
  ASSERT_EQ(params.size(), 3u);
  // A string record points at a pointer to the string, not at its bytes.
  EXPECT_STREQ(*static_cast<const char* const*>(params[0].data), "plastic");
  VRX::LinkedAPI::Instance().VRXSetAttributeAtTime(5, "node", 0.1, list.Count(), params.data());

  ASSERT_EQ(zephrinstandin::calls().size(), 1u);
  const auto& call = zephrinstandin::calls()[0];
  EXPECT_EQ(call.function, "VRXSetAttributeAtTime");
  EXPECT_EQ(call.context, 5);
  EXPECT_EQ(call.handle, "node");
  EXPECT_EQ(call.time, 0.1);
  ASSERT_EQ(call.nparams, 3);
  const auto& p = call.params;
  EXPECT_EQ(p[0].name, "shader");
  EXPECT_EQ(p[0].strings, std::vector<std::string>{"plastic"});
  EXPECT_EQ(p[1].name, "samples");
  EXPECT_EQ(p[1].ints, std::vector<std::int32_t>{16});
  EXPECT_EQ(p[2].name, "Cs");
  EXPECT_EQ(p[2].floats, (std::vector<float>{1, 2, 3, 4, 5, 6}));
  struct Expected {
    int type, arraylength;
    std::uint64_t count;
    int flags;
  };
  const Expected expected[] = {{3, 0, 1, 0}, {2, 0, 1, 0}, {1, 3, 2, 3}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(p[i].type, expected[i].type) << i;
    EXPECT_EQ(p[i].arraylength, expected[i].arraylength) << i;
    EXPECT_EQ(p[i].count, expected[i].count) << i;
    EXPECT_EQ(p[i].flags, expected[i].flags) << i;
  }
}

TEST(VRXBinding, EveryOperationReachesTheLibraryFunctionOfItsName) {
  zephrinstandin::clearCalls();
  VRX::CAPI& api = VRX::LinkedAPI::Instance();
  int context = api.VRXBegin(0, nullptr);
  api.VRXCreate(context, "a", "curves", 0, nullptr);
  api.VRXSetAttribute(context, "a", 0, nullptr);
  api.VRXDeleteAttribute(context, "a", "N");
  api.VRXConnect(context, "a", "", "b", "objects", 0, nullptr);
  api.VRXDisconnect(context, "a", "", "b", "objects");
  api.VRXEvaluate(context, 0, nullptr);
  api.VRXRenderControl(context, 0, nullptr);
  api.VRXDelete(context, "a", 0, nullptr);
  api.VRXEnd(context);
  std::vector<std::string> functions;
  for (const auto& c : zephrinstandin::calls()) {
    functions.push_back(c.function);
    EXPECT_EQ(c.context, context) << c.function;
  }
  EXPECT_EQ(functions, (std::vector<std::string>{
                           "VRXBegin", "VRXCreate", "VRXSetAttribute", "VRXDeleteAttribute",
                           "VRXConnect", "VRXDisconnect", "VRXEvaluate", "VRXRenderControl",
                           "VRXDelete", "VRXEnd"}));
  EXPECT_EQ(zephrinstandin::calls()[3].name, "N");
  EXPECT_EQ(zephrinstandin::calls()[4].to, "b");
  EXPECT_EQ(zephrinstandin::calls()[5].toAttr, "objects");
}

}  // namespace
