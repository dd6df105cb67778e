#include "rib_buffer_sources.h"

#include <gtest/gtest.h>

#include <thread>

#include "scan_test_support.h"

using Events = std::vector<std::string>;

namespace {

// Many requests with strings and arrays, some tokens longer than a chunk.
std::string SceneText() {
  std::string s;
  for (int i = 0; i < 400; ++i)
    s += "SetAttribute \"n" + std::to_string(i) + "\" \"string filename\" [\"" + std::string(i * 7 % 3000, 'p') +
         "\"] [" + std::to_string(i) + " 0.5]\n";
  return s;
}

}  // namespace

TEST(RibBufferSourcesTest, StreamBufferReadsWholeAndEmpty) {
  std::string text = SceneText();
  ZpStreamBuf buffer;
  for (size_t at = 0; at < text.size(); at += 1000) buffer.Write(text.data() + at, std::min<size_t>(1000, text.size() - at));
  EXPECT_EQ(ScanSource(new RibFromStreamBuf(&buffer)), Scan(text));
  ZpStreamBuf empty;
  EXPECT_EQ(ScanSource(new RibFromStreamBuf(&empty)), Events{});
}

TEST(RibBufferSourcesTest, PipeFedBySmallWritesFromAnotherThread) {
  std::string text = SceneText();
  ZpPipeBuf pipe;
  std::thread writer([&] {
    for (size_t at = 0, step = 1; at < text.size(); at += step, step = step % 97 + 1) {
      pipe.Write(text.data() + at, std::min(step, text.size() - at));
      if (step % 13 == 0) std::this_thread::yield();
    }
    pipe.Close();
  });
  Events events = ScanSource(new RibFromPipeBuf(&pipe));
  writer.join();
  EXPECT_EQ(events, Scan(text));
}
