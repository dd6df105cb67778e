#include "stream_order.h"

#include <gtest/gtest.h>

#include <map>

#include "packaging_test_support.h"

namespace {

// A set of streams, each with the textures it reads and the images it writes.
class StreamOrder : public ::testing::Test {
 protected:
  void Add(const std::string& name, std::vector<std::string> reads,
           std::vector<std::string> writes, bool readsAreMissing = false) {
    auto tracker = EmptyTracker(name);
    for (const std::string& path : reads)
      Record(readsAreMissing ? tracker->missingTextures : tracker->textures, path);
    for (const std::string& path : writes) Record(tracker->outputs, path);
    trackers_.push_back(std::move(tracker));
  }

  // Builds and links the nodes in input order and returns the printed order.
  std::string Order() {
    for (auto& tracker : trackers_)
      nodes_.push_back(std::make_unique<StreamNode>(tracker.get(), *options_));
    std::vector<StreamNode*> nodes;
    for (auto& node : nodes_) nodes.push_back(node.get());
    LinkAllStreamNodes(nodes, produced_);
    testing::internal::CaptureStdout();
    PrintStreamOrder(nodes);
    return testing::internal::GetCapturedStdout();
  }

  TestOptions options_{{}};
  std::vector<std::unique_ptr<DependencyTracker>> trackers_;
  std::vector<std::unique_ptr<StreamNode>> nodes_;
  ZpHashTable produced_{32, 0.75f};
};

TEST_F(StreamOrder, ChainInInputOrderPrintsInTheFirstPass) {
  Add("one", {}, {"/r/a.tx"});
  Add("two", {"/m/a.tx"}, {"/r/b.tx"});
  Add("three", {"/m/b.tx"}, {"/r/c.exr"});
  EXPECT_EQ(Order(), "one\ntwo\nthree\n");
  EXPECT_TRUE(Holds(produced_, "a.tx"));
  EXPECT_TRUE(Holds(produced_, "b.tx"));
  EXPECT_FALSE(Holds(produced_, "c.exr"));
  EXPECT_EQ(nodes_[0]->successors, std::vector<StreamNode*>{nodes_[1].get()});
  EXPECT_EQ(nodes_[2]->predecessors, std::vector<StreamNode*>{nodes_[1].get()});
}

TEST_F(StreamOrder, ReversedChainPrintsOneLevelPerPass) {
  Add("three", {"/m/b.tx"}, {"/r/c.exr"});
  Add("two", {"/m/a.tx"}, {"/r/b.tx"});
  Add("one", {}, {"/r/a.tx"});
  EXPECT_EQ(Order(), "one\ntwo\nthree\n");
}

TEST_F(StreamOrder, ANodeReadyInAPassWaitsForTheNextWhenItsProducerPrintedInThatPass) {
  // w feeds x and z, x feeds y; given x, y, z, w: pass one prints w, pass two
  // x and z, pass three y.
  Add("x", {"/m/w.tx"}, {"/r/x.tx"});
  Add("y", {"/m/x.tx"}, {"/r/y.exr"});
  Add("z", {"/m/w.tx"}, {"/r/z.exr"});
  Add("w", {}, {"/r/w.tx"});
  EXPECT_EQ(Order(), "w\nx\nz\ny\n");
}

TEST_F(StreamOrder, ACycleIsBrokenAtTheLastWaitingNode) {
  Add("A", {"/m/b.tx"}, {"/r/a.tx"});
  Add("B", {"/m/a.tx"}, {"/r/b.tx"});
  EXPECT_EQ(Order(), "B\nA\n");
}

TEST_F(StreamOrder, StreamsWithoutOutputsAreNeverPrinted) {
  Add("consumer", {"/m/a.tx"}, {});
  Add("idle", {}, {"/r/unused.exr"});
  Add("producer", {}, {"/r/a.tx"});
  EXPECT_EQ(Order(), "idle\nproducer\n");
  EXPECT_TRUE(Holds(produced_, "a.tx"));
}

TEST_F(StreamOrder, MissingTexturesLinkByRelativeName) {
  Add("reader", {"/maps/shadow.tx"}, {"/r/beauty.exr"}, /*readsAreMissing=*/true);
  Add("shadow", {}, {"/render/shadow.tx"});
  EXPECT_EQ(Order(), "shadow\nreader\n");
}

TEST_F(StreamOrder, NoNodesPrintNothing) { EXPECT_EQ(Order(), ""); }

}  // namespace
