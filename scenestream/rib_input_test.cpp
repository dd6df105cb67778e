#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include "rib_scanner.h"
#include "scan_test_support.h"

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

}  // namespace

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
