#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "rib_buffer_sources.h"
#include "rib_scanner.h"
#include "scan_test_support.h"
#include "stream_buf.h"
#include "test_support.h"

using Events = std::vector<std::string>;

namespace {

// One gzip member holding bytes.
std::string Gzip(const std::string& bytes) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, bytes.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// A stream of many tokens, large enough to take several buffers.
std::string LongStream(int requests) {
  std::string s;
  for (int i = 0; i < requests; ++i)
    s += "SetAttribute \"node" + std::to_string(i) + "\" [" + std::to_string(i) + " 0.5]\n";
  return s;
}

// The writing end of a stream that another thread reads as it arrives.
class Feed {
 public:
  virtual ~Feed() {}
  virtual RibSource* Source() = 0;  // for the scanner, which owns it
  virtual void Write(const std::string& bytes) = 0;
  virtual void Close() = 0;
};

class PipeBufFeed : public Feed {
 public:
  RibSource* Source() override { return new RibFromPipeBuf(&pipe_); }
  void Write(const std::string& bytes) override { pipe_.Write(bytes.data(), bytes.size()); }
  void Close() override { pipe_.Close(); }

 private:
  ZpPipeBuf pipe_;
};

class SystemPipeFeed : public Feed {
 public:
  SystemPipeFeed() { EXPECT_EQ(pipe(ends_), 0); }
  ~SystemPipeFeed() override {
    Close();
    close(ends_[0]);
  }
  RibSource* Source() override { return new RibFromFD(ends_[0]); }
  void Write(const std::string& bytes) override {
    EXPECT_EQ(write(ends_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void Close() override {
    if (ends_[1] >= 0) close(ends_[1]);
    ends_[1] = -1;
  }

 private:
  int ends_[2] = {-1, -1};
};

// Compresses piece by piece; each piece is flushed, so the bytes written so
// far decompress to everything given so far.
class GzipWriter {
 public:
  GzipWriter() { EXPECT_EQ(deflateInit2(&z_, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK); }
  ~GzipWriter() { deflateEnd(&z_); }
  std::string Piece(const std::string& bytes, bool last) {
    std::string out(deflateBound(&z_, bytes.size()) + 64, '\0');
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z_.avail_in = static_cast<uInt>(bytes.size());
    z_.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z_.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z_, last ? Z_FINISH : Z_SYNC_FLUSH), last ? Z_STREAM_END : Z_OK);
    out.resize(out.size() - z_.avail_out);
    return out;
  }

 private:
  z_stream z_{};
};

// Scans on this thread what another thread writes in steps. After each step
// the writer waits until the scanner has given the tokens the step
// completes, with the input still open; true for each step whose tokens
// came before the writer gave up waiting (a few seconds) and went on.
std::vector<bool> TokensArriveAsWritten(Feed& feed, const std::vector<std::string>& steps,
                                        const std::vector<size_t>& tokensAfterStep, Events* events) {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<bool> inTime;
  std::thread writer([&] {
    for (size_t i = 0; i < steps.size(); ++i) {
      feed.Write(steps[i]);
      std::unique_lock<std::mutex> lock(mutex);
      inTime.push_back(arrived.wait_for(lock, std::chrono::seconds(5),
                                        [&] { return events->size() >= tokensAfterStep[i]; }));
    }
    feed.Close();
  });
  RibScanner scanner(feed.Source(), "pipe.rib", nullptr, CollectMessage, events);
  for (int token; (token = scanner.NextToken()) != RibToken::End;) {
    std::lock_guard<std::mutex> lock(mutex);
    events->push_back(Describe(scanner, token));
    arrived.notify_one();
  }
  writer.join();
  return inTime;
}

}  // namespace

// Counts the refills of the scanner's buffer.
class RefillCounter : public RibScanner {
 public:
  using RibScanner::RibScanner;
  int refills = 0;

 protected:
  int LexerInput(char* buf, int maxSize) override {
    ++refills;
    return RibScanner::LexerInput(buf, maxSize);
  }
};

// Each refill moves an unfinished token to the front of the buffer, so a
// token longer than the buffer gathers as many new bytes as it holds before
// it is scanned again: its refills grow geometrically, not one per read.
TEST(RibInputTest, LongTokenIsGatheredInGrowingRefills) {
  std::string body(1 << 20, 'x');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + (i * 7919 + i / 13) % 26);
  std::string stream = "Sphere \"" + body + "\" 1\n";
  for (bool gzip : {false, true}) {
    Events events;
    // 4 KiB per read: 256 reads for the token.
    RefillCounter scanner(new TrickleSource(gzip ? Gzip(stream) : stream, 4096), "t.rib", nullptr,
                          CollectMessage, &events);
    for (int token; (token = scanner.NextToken()) != RibToken::End;) events.push_back(Describe(scanner, token));
    EXPECT_EQ(events, (Events{"340", "s:" + body, "i:1"})) << gzip;
    EXPECT_LT(scanner.refills, 40) << gzip;
  }
}

// A writer that waits for the reader's progress must not wait for a full
// buffer or for its own close: each step's tokens come as soon as its bytes.
TEST(RibInputTest, TokensArriveAsTheirBytesDo) {
  const std::vector<std::string> text = {"Sphere 1\n", "Cone \"a\" 2\n", "Disk 3.5 "};
  const std::vector<size_t> counts = {2, 5, 7};
  const Events all = {"340", "i:1", "272", "s:a", "i:2", "281", "f:3.5"};
  GzipWriter flushed;
  std::vector<std::string> gzipSteps, memberSteps;
  for (size_t i = 0; i < text.size(); ++i) {
    gzipSteps.push_back(flushed.Piece(text[i], i + 1 == text.size()));
    memberSteps.push_back(Gzip(text[i]));  // one whole member per step
  }
  struct Case {
    const char* name;
    const std::vector<std::string>& steps;
  } cases[] = {{"plain", text}, {"gzip", gzipSteps}, {"gzip members", memberSteps}};
  for (const Case& c : cases) {
    for (bool systemPipe : {false, true}) {
      std::unique_ptr<Feed> feed;
      if (systemPipe)
        feed.reset(new SystemPipeFeed);
      else
        feed.reset(new PipeBufFeed);
      Events events;
      EXPECT_EQ(TokensArriveAsWritten(*feed, c.steps, counts, &events), std::vector<bool>(3, true))
          << c.name << (systemPipe ? " through a pipe" : " through a pipe buffer");
      EXPECT_EQ(events, all) << c.name;
    }
  }
}

TEST(RibInputTest, GzipStreamReadsLikeItsPlainForm) {
  std::string plain = LongStream(3000);
  Events expected = Scan(plain);
  ASSERT_EQ(expected.size(), 3000u * 6);
  EXPECT_EQ(Scan(Gzip(plain)), expected);
  EXPECT_EQ(ScanSource(new TrickleSource(Gzip(plain), 5)), expected);
}

TEST(RibInputTest, EveryGzipMemberIsRead) {
  std::string a = "Sphere \"a\"\n", b = "Cone \"b\"\n", c = LongStream(2000);
  EXPECT_EQ(Scan(Gzip(a) + Gzip(b)), (Events{"340", "s:a", "272", "s:b"}));
  Events three = Scan(Gzip(a) + Gzip(b) + Gzip(c));
  EXPECT_EQ(three, Scan(a + b + c));
  EXPECT_EQ(ScanSource(new TrickleSource(Gzip(a) + Gzip(b) + Gzip(c), 1)), three);
  // A member of nothing in between ends nothing.
  EXPECT_EQ(Scan(Gzip(a) + Gzip("") + Gzip(b)), (Events{"340", "s:a", "272", "s:b"}));
}

TEST(RibInputTest, BytesAfterTheLastMemberThatStartNoMemberAreIgnored) {
  std::string a = Gzip("Sphere 1 ");
  EXPECT_EQ(Scan(a + "Cone 2"), (Events{"340", "i:1"}));
  EXPECT_EQ(Scan(a + std::string(10, '\0')), (Events{"340", "i:1"}));
  EXPECT_EQ(Scan(a + "\x1F"), (Events{"340", "i:1"}));
  // The magic promises a member: garbage after it is corrupt input.
  EXPECT_EQ(Scan(a + "\x1F\x8Bxxxxxxxxxxxxxxxx"),
            (Events{"340", "i:1", "E:[t.rib:1]: Invalid gzip data in VRX stream"}));
}

TEST(RibInputTest, TruncatedGzipGivesWhatCameBeforeThenOneError) {
  std::string plain = LongStream(3000);
  Events full = Scan(plain);
  std::string gz = Gzip(plain);
  for (size_t cut : {gz.size() / 2, gz.size() - 4, size_t{10}}) {
    Events events = Scan(gz.substr(0, cut));
    // The error comes when the scanner needs more input; what follows it is
    // the token the cut went through, read as far as it came.
    auto error = std::find_if(events.begin(), events.end(), [](const std::string& e) { return e[0] == 'E'; });
    ASSERT_NE(error, events.end()) << cut;
    EXPECT_THAT(*error, testing::EndsWith("]: Invalid gzip data in VRX stream"));
    EXPECT_LE(events.end() - error, 4);
    EXPECT_TRUE(std::equal(events.begin(), error, full.begin())) << cut;
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& e) { return e.find("Invalid gzip") != e.npos; }),
              1);
  }
}

// The gzip trailer's check value is tested too: a file whose CRC does not
// match gives its decoded tokens, then one error, then the end.
TEST(RibInputTest, GzipFileWithABadCrcEndsWithOneError) {
  std::string gz = Gzip("Sphere 1\nCone 2\n");
  gz[gz.size() - 8] ^= 0x01;  // the trailer: CRC-32, then the length
  ZpTestDir dir;
  std::string path = dir.WriteFile("bad.rib.gz", gz);
  auto* file = new RibFromFile(path.c_str());
  ASSERT_TRUE(file->IsOpen());
  EXPECT_EQ(ScanSource(file, path.c_str()),
            (Events{"340", "i:1", "272", "i:2", "E:[" + path + ":3]: Invalid gzip data in VRX stream"}));
}

TEST(RibInputTest, FailedGzipReportsAgainOnEveryLaterCall) {
  Events messages;
  std::string bad = "\x1F\x8B" "garbage";
  RibScanner scanner(new RibFromBuffer(bad.data(), bad.size()), "z.rib", nullptr, CollectMessage, &messages);
  EXPECT_EQ(scanner.NextToken(), RibToken::End);
  EXPECT_EQ(scanner.NextToken(), RibToken::End);
  EXPECT_EQ(messages, (Events{"E:[z.rib:1]: Invalid gzip data in VRX stream",
                              "E:[z.rib:1]: Invalid gzip data in VRX stream"}));
}

TEST(RibInputTest, ReadErrorEndsTheStreamAfterWhatCameFirst) {
  EXPECT_EQ(ScanSource(new FailingSource("Sphere 1 ")),
            (Events{"340", "i:1", "E:[t.rib:1]: Error reading VRX stream"}));
  EXPECT_EQ(ScanSource(new FailingSource("")), (Events{"E:[t.rib:1]: Error reading VRX stream"}));
  // Also where the read after a gzip member fails: after that member's tokens.
  EXPECT_EQ(ScanSource(new FailingSource(Gzip("Sphere\n\n1 "))),
            (Events{"340", "i:1", "E:[t.rib:3]: Error reading VRX stream"}));
  std::string gz = Gzip(LongStream(10));
  Events events = ScanSource(new FailingSource(gz.substr(0, gz.size() - 8)));
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const std::string& e) { return e.find("Error reading VRX stream") != e.npos; }),
            1);
}

// A gzip file is inflated ahead, on a thread of its own; what the scanner
// makes of it, messages and their lines included, is what it makes of the
// same bytes read as it goes.
TEST(RibInputTest, GzipFileInflatedAheadReadsLikeTheSameBytesReadAsTheyCome) {
  std::string big = LongStream(60000);  // several of the helper's blocks
  std::string gz = Gzip(big);
  std::string crc = Gzip("Sphere 1\nCone 2\n");
  crc[crc.size() - 8] ^= 0x01;
  struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"whole", gz},
      {"cut in the middle", gz.substr(0, gz.size() / 2)},
      {"cut in the trailer", gz.substr(0, gz.size() - 4)},
      {"cut in the header", gz.substr(0, 10)},
      {"bad check value", crc},
      {"members and bytes after them", Gzip("Sphere 1 ") + gz + "\x1F\x8B" "junk"},
      {"no gzip data at all", "\x1F\x8B" "garbage"},
  };
  ZpTestDir dir;
  for (const auto& c : cases) {
    std::string path = dir.WriteFile("s.rib.gz", c.bytes);
    Events expected = Scan(c.bytes, "s.rib.gz");
    auto* file = new RibFromFile(path.c_str());
    ASSERT_TRUE(file->IsOpen());
    EXPECT_EQ(ScanSource(file, "s.rib.gz"), expected) << c.what;
  }
  // Once failed, every later call says so again, as without the helper.
  std::string path = dir.WriteFile("z.rib", "\x1F\x8B" "garbage");
  Events messages;
  RibScanner scanner(new RibFromFile(path.c_str()), "z.rib", nullptr, CollectMessage, &messages);
  EXPECT_EQ(scanner.NextToken(), RibToken::End);
  EXPECT_EQ(scanner.NextToken(), RibToken::End);
  EXPECT_EQ(messages, (Events{"E:[z.rib:1]: Invalid gzip data in VRX stream",
                              "E:[z.rib:1]: Invalid gzip data in VRX stream"}));
}

// A scanner let go before its end stops the helper that inflates ahead.
TEST(RibInputTest, AScannerLetGoEarlyStopsItsInflater) {
  ZpTestDir dir;
  std::string path = dir.WriteFile("big.rib.gz", Gzip(LongStream(200000)));
  for (int i = 0; i < 20; ++i) {
    Events messages;
    RibScanner scanner(new RibFromFile(path.c_str()), "big.rib.gz", nullptr, CollectMessage,
                       &messages);
    EXPECT_EQ(scanner.NextToken(), RibToken::SetAttribute);
  }
}

// A large regular file is read in large refills (what the run knows of the
// disk is checked once per refill), and scans like the same bytes from
// memory; a small file and a pipe keep the small buffer.
TEST(RibInputTest, LargeRegularFileIsReadInLargeRefills) {
  std::string stream = LongStream(60000);  // about 2 MB
  ZpTestDir dir;
  std::string path = dir.WriteFile("big.rib", stream);
  Events expected = Scan(stream, "big.rib");
  Events events;
  RefillCounter scanner(new RibFromFile(path.c_str()), "big.rib", nullptr, CollectMessage,
                        &events);
  for (int token; (token = scanner.NextToken()) != RibToken::End;) events.push_back(Describe(scanner, token));
  EXPECT_EQ(events, expected);
  // 16 KiB refills would take more than 100.
  EXPECT_LT(scanner.refills, 20);
}
