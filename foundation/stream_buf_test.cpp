#include "stream_buf.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

std::string Pattern(size_t length, unsigned seed = 0) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) bytes[i] = char((i * 31 + seed) % 251);
  return bytes;
}

void Write(ZpStreamBuf& buffer, const std::string& bytes) {
  buffer.Write(bytes.data(), bytes.size());
}

std::string ReadAll(ZpStreamBuf::Cursor& cursor, size_t step) {
  std::string out;
  std::vector<char> piece(step);
  while (size_t n = cursor.Read(piece.data(), step)) out.append(piece.data(), n);
  return out;
}

std::vector<uint64_t> ChunkSizes(const ZpStreamBuf& buffer) {
  std::vector<uint64_t> sizes;
  for (uint32_t i = 0; i < buffer.chunkCount; ++i) sizes.push_back(buffer.chunks[i].size);
  return sizes;
}

}  // namespace

TEST(StreamBufTest, EmptyWriteAllocatesNothing) {
  ZpStreamBuf buffer;
  buffer.Write("", 0);
  EXPECT_EQ(buffer.chunkCount, 0u);
  EXPECT_EQ(buffer.chunks, buffer.inlineChunks);
  EXPECT_EQ(buffer.unread, 0u);
}

TEST(StreamBufTest, ChunksDoubleFromOneKibUpToOneMib) {
  ZpStreamBuf buffer;
  Write(buffer, std::string(1024, 'a'));
  EXPECT_EQ(ChunkSizes(buffer), std::vector<uint64_t>{1024});
  EXPECT_EQ(buffer.lastUsed, 1024u);
  buffer.Write("b", 1);
  EXPECT_EQ(ChunkSizes(buffer), (std::vector<uint64_t>{1024, 2048}));
  EXPECT_EQ(buffer.lastUsed, 1u);

  // Fill the first eleven chunks (1 KiB ... 1 MiB), then two more bytes
  // beyond another full MiB.
  Write(buffer, std::string((2047u << 10) - 1025 + (1u << 20) + 1, 'c'));
  std::vector<uint64_t> expected;
  for (uint64_t size = 1024; size <= 1048576; size *= 2) expected.push_back(size);
  expected.push_back(1048576);
  expected.push_back(1048576);
  EXPECT_EQ(ChunkSizes(buffer), expected);
  EXPECT_EQ(buffer.lastUsed, 1u);
  EXPECT_EQ(buffer.unread, (2047u << 10) + (1u << 20) + 1);
}

TEST(StreamBufTest, DescriptorArrayMovesToTheHeapAndGrows) {
  ZpStreamBuf buffer;
  std::vector<uint32_t> capacities;
  uint64_t next = 1024;
  for (int chunk = 1; chunk <= 10; ++chunk) {
    Write(buffer, std::string(next, 'x'));
    next = std::min<uint64_t>(next * 2, 1048576);
    capacities.push_back(buffer.chunkCapacity);
    EXPECT_EQ(buffer.chunks == buffer.inlineChunks, chunk <= 4) << chunk;
  }
  EXPECT_EQ(capacities, (std::vector<uint32_t>{4, 4, 4, 4, 9, 9, 9, 9, 9, 19}));
}

TEST(StreamBufTest, CursorReadsWhatWasWrittenInAnyPieces) {
  ZpStreamBuf buffer;
  std::string all;
  for (size_t piece : {1u, 1000u, 23u, 5000u, 1u, 70000u}) {
    std::string bytes = Pattern(piece, unsigned(all.size()));
    Write(buffer, bytes);
    all += bytes;
  }
  for (size_t step : {1u, 7u, 1024u, 100000u}) {
    ZpStreamBuf::Cursor cursor(&buffer);
    EXPECT_EQ(ReadAll(cursor, step), all) << "step " << step;
    uint32_t chunk = cursor.chunk;
    uint64_t offset = cursor.offset;
    char byte;
    EXPECT_EQ(cursor.Read(&byte, 1), 0u);
    EXPECT_EQ(cursor.chunk, chunk);
    EXPECT_EQ(cursor.offset, offset);
  }
  EXPECT_EQ(buffer.unread, all.size());
}

TEST(StreamBufTest, CursorStopsAtTheWrittenEndAndResumesAfterMoreWrites) {
  ZpStreamBuf buffer;
  Write(buffer, "first");
  ZpStreamBuf::Cursor cursor(&buffer);
  char out[2000];
  EXPECT_EQ(cursor.Read(out, sizeof out), 5u);
  EXPECT_EQ(cursor.Read(out, sizeof out), 0u);
  Write(buffer, std::string(1019, '-') + "second");
  ASSERT_EQ(cursor.Read(out, sizeof out), 1025u);
  EXPECT_EQ(std::string(out + 1019, 6), "second");
}

TEST(StreamBufTest, ShrinkToFitTrimsTheLastChunk) {
  ZpStreamBuf buffer;
  Write(buffer, Pattern(100));
  buffer.ShrinkToFit();
  EXPECT_EQ(ChunkSizes(buffer), std::vector<uint64_t>{100});
  Write(buffer, "z");
  EXPECT_EQ(ChunkSizes(buffer), (std::vector<uint64_t>{100, 200}));
  ZpStreamBuf::Cursor cursor(&buffer);
  EXPECT_EQ(ReadAll(cursor, 64), Pattern(100) + "z");
}

TEST(StreamBufTest, DrainsPassTheRestFromTheCursor) {
  ZpStreamBuf buffer;
  std::string all = Pattern(3000);
  Write(buffer, all);

  ZpTestDir dir;
  std::string path = dir / "drained";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ZpStreamBuf::Cursor fresh(&buffer);
  fresh.WriteToFile(fd);
  close(fd);
  EXPECT_EQ(ZpReadWholeFile(path), all);

  // From a cursor part-way in, only the bytes after it, never the unwritten
  // tail of the last chunk.
  ZpStreamBuf::Cursor partWay(&buffer);
  char skipped[1500];
  ASSERT_EQ(partWay.Read(skipped, sizeof skipped), sizeof skipped);
  ZpStreamBuf copy;
  partWay.WriteTo(&copy);
  ZpStreamBuf::Cursor copyCursor(&copy);
  EXPECT_EQ(ReadAll(copyCursor, 4096), all.substr(1500));
}

TEST(PipeBufTest, ReadReturnsWhatIsBufferedAndTheEndAfterClose) {
  ZpPipeBuf pipe;
  pipe.Write("hello", 5);
  char out[100];
  EXPECT_EQ(pipe.Read(out, 0), 0u);
  ASSERT_EQ(pipe.Read(out, sizeof out), 5u);
  EXPECT_EQ(std::string(out, 5), "hello");

  pipe.Write("left", 4);
  pipe.Close();
  ASSERT_EQ(pipe.Read(out, 2), 2u);
  ASSERT_EQ(pipe.Read(out + 2, sizeof out), 2u);
  EXPECT_EQ(std::string(out, 4), "left");
  EXPECT_EQ(pipe.Read(out, sizeof out), 0u);
  EXPECT_EQ(pipe.Read(out, sizeof out), 0u);

  // A write after the close is still delivered.
  pipe.Write("late", 4);
  ASSERT_EQ(pipe.Read(out, sizeof out), 4u);
  EXPECT_EQ(pipe.Read(out, sizeof out), 0u);
}

TEST(PipeBufTest, ConsumedChunksAreReleasedAndCompacted) {
  ZpPipeBuf pipe;
  std::string all = Pattern(1024 + 2048 + 4096 + 10);
  Write(pipe, all);
  ASSERT_EQ(ChunkSizes(pipe), (std::vector<uint64_t>{1024, 2048, 4096, 8192}));
  std::vector<char> out(all.size());

  ASSERT_EQ(pipe.Read(out.data(), 1024), 1024u);
  // One of four consumed: released but kept in place.
  EXPECT_EQ(ChunkSizes(pipe), (std::vector<uint64_t>{0, 2048, 4096, 8192}));
  EXPECT_EQ(pipe.chunks[0].data, nullptr);
  EXPECT_EQ(pipe.readChunk, 1u);

  ASSERT_EQ(pipe.Read(out.data() + 1024, 2048), 2048u);
  // Two of four is not more than half.
  EXPECT_EQ(pipe.readChunk, 2u);
  ASSERT_EQ(pipe.Read(out.data() + 3072, 4096), 4096u);
  // Three of four: the rest moves to the front.
  EXPECT_EQ(ChunkSizes(pipe), std::vector<uint64_t>{8192});
  EXPECT_EQ(pipe.readChunk, 0u);

  ASSERT_EQ(pipe.Read(out.data() + 7168, 100), 10u);
  EXPECT_EQ(std::string(out.data(), all.size()), all);
  EXPECT_EQ(pipe.unread, 0u);
}

TEST(PipeBufTest, DrainedPipeStartsAgainWithOneKib) {
  ZpPipeBuf pipe;
  Write(pipe, Pattern(1024 + 2048));
  std::vector<char> out(4000);
  ASSERT_EQ(pipe.Read(out.data(), out.size()), 3072u);
  EXPECT_EQ(pipe.chunkCount, 0u);
  Write(pipe, "again");
  EXPECT_EQ(ChunkSizes(pipe), std::vector<uint64_t>{1024});
  ASSERT_EQ(pipe.Read(out.data(), out.size()), 5u);
  EXPECT_EQ(std::string(out.data(), 5), "again");
}

// A write to an empty pipe wakes the reader that waits for it: the writer
// need not close the pipe for the bytes to arrive.
TEST(PipeBufTest, WriteWakesABlockedReader) {
  ZpPipeBuf pipe;
  std::promise<std::string> got;
  std::future<std::string> arrived = got.get_future();
  std::thread reader([&] {
    char piece[16];
    size_t n = pipe.Read(piece, sizeof piece);
    got.set_value(std::string(piece, n));
  });
  // Give the reader the time to block on the empty pipe first.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  pipe.Write("abc", 3);
  bool woken = arrived.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  EXPECT_TRUE(woken) << "the reader slept on after the write";
  pipe.Close();  // releases a reader that was not woken
  reader.join();
  EXPECT_EQ(arrived.get(), "abc");
}

// The reader blocks on an empty, open pipe (a read returning 0 early would
// end it before all the data arrived) and sees every byte in order.
TEST(PipeBufTest, WriterThreadFeedsABlockingReader) {
  ZpPipeBuf pipe;
  std::string all = Pattern(300000, 7);
  std::string received;
  std::thread reader([&] {
    char piece[777];
    while (size_t n = pipe.Read(piece, sizeof piece)) received.append(piece, n);
  });
  std::thread writer([&] {
    for (size_t at = 0, step = 1; at < all.size(); at += step, step = step % 4000 + 13) {
      pipe.Write(all.data() + at, std::min(step, all.size() - at));
      if (step % 7 == 0) std::this_thread::yield();
    }
    pipe.Close();
  });
  writer.join();
  reader.join();
  EXPECT_EQ(received, all);
}
