#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>

#include "rib_scanner.h"
#include "scan_test_support.h"

using Events = std::vector<std::string>;

namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

struct Case {
  std::string input;
  Events expected;
};

void ExpectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::string hex;
    for (unsigned char ch : c.input) hex += " " + std::to_string(ch);
    EXPECT_EQ(Scan(c.input, "/d/t.rib"), c.expected) << "bytes:" << hex;
  }
}

}  // namespace

TEST(RibBinaryTest, Forms) {
  ExpectCases({
      {B({0x80, 0xFF}), {"i:-1"}},
      {B({0x81, 0xFF, 0xFE}), {"i:-2"}},
      {B({0x82, 0x80, 0x00, 0x00}), {"i:-8388608"}},
      {B({0x83, 0x00, 0x00, 0x01, 0x00}), {"i:256"}},
      {B({0x83, 0x80, 0x00, 0x00, 0x00}), {"i:-2147483648"}},
      {B({0x90}), {"s:"}},
      {B({0x93}) + "abc", {"s:abc"}},
      {B({0xA0, 0x03}) + "abc", {"s:abc"}},
      {B({0xA1, 0x00, 0x02}) + "hi" + B({0xA3, 0, 0, 0, 1}) + "z", {"s:hi", "s:z"}},
      {B({0x9B}) + "${RIBDIR}/x", {"s:/d/x"}},
      {B({0xA4, 0x3F, 0x80, 0x00, 0x00}), {"f:1"}},
      {B({0xA4, 0xC0, 0x20, 0x00, 0x00}), {"f:-2.5"}},
      {B({0xA5, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), {"f:1"}},
      {B({0x85, 0x01, 0x80}), {"f:1.5"}},
      {B({0x85, 0xFF, 0x80}), {"f:-0.5"}},
      {B({0x84, 0xC0}), {"f:-0.25"}},
      {B({0x89, 0x40, 0x00}), {"f:0.25"}},
      {B({0x8A, 0x02, 0x80, 0x00}), {"f:2.5"}},
      {B({0x8F, 0xFF, 0x80, 0x00, 0x00}), {"f:-0.5"}},
      // Two integer bytes and one fraction byte; three and one; two and two.
      {B({0x86, 0xFF, 0xFE, 0x40}), {"f:-1.75"}},
      {B({0x86, 0x01, 0x00, 0x80}), {"f:256.5"}},
      {B({0x87, 0x80, 0x00, 0x00, 0x00}), {"f:-8388608"}},
      {B({0x87, 0xFF, 0xFF, 0xFF, 0xC0}), {"f:-0.25"}},
      {B({0x8B, 0x00, 0x03, 0x40, 0x00}), {"f:3.25"}},
      {B({0x8B, 0xFF, 0xFF, 0x80, 0x00}), {"f:-0.5"}},
      // Three bytes, all of them fraction: a signed fraction.
      {B({0x8E, 0x40, 0x00, 0x00}), {"f:0.25"}},
      {B({0x8E, 0xC0, 0x00, 0x00}), {"f:-0.25"}},
      // The lead bytes whose fraction is longer than the number: the bytes
      // they announce, as a signed fraction of 2^(8 * fraction bytes).
      {B({0x88, 0x80}) + "1", {"f:-0.001953125", "i:1"}},
      {B({0x8C, 0x40}) + "1", {"f:3.814697265625e-06", "i:1"}},
      {B({0x8D, 0x01, 0x00}) + "1", {"f:1.52587890625e-05", "i:1"}},
      // A lead byte is a token of its own between ASCII tokens.
      {"Sphere" + B({0x80, 0x05}) + "1" + B({0x92}) + "ab\"c\"", {"340", "i:5", "i:1", "s:ab", "s:c"}},
      {B({0xD5, 0xD7, 0xA7, 0xC7, 0xDC, 0xFF}) + " 1",
       {"E:[/d/t.rib:1]: Invalid char: \\325", "W:[/d/t.rib:1]: Skipping to next valid token...", "i:1"}},
  });
}

TEST(RibBinaryTest, Arrays) {
  ExpectCases({
      {B({0xC8, 0x02, 0x3F, 0x80, 0, 0, 0x40, 0, 0, 0}), {"[", "f:1", "f:2", "]"}},
      {B({0xC8, 0x00}) + "1", {"[", "]", "i:1"}},
      {B({0xC9, 0x00, 0x01, 0x3F, 0x80, 0, 0}), {"[", "f:1", "]"}},
      {B({0xD8, 0x01, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), {"[", "f:1", "]"}},
      {B({0xDB, 0, 0, 0, 0}), {"[", "]"}},
      {B({0xD2, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF}), {"[", "i:1", "i:65535", "]"}},
      {B({0xD2, 0x01, 0, 0, 0, 0x34, 0x12}), {"[", "i:4660", "]"}},
      {B({0xD1, 0x02, 0, 0, 0, 0x05, 0xFF}), {"[", "i:5", "i:255", "]"}},
      {B({0xD3, 0x01, 0, 0, 0, 0x01, 0x02, 0x03}), {"[", "i:197121", "]"}},
      {B({0xD4, 0x01, 0, 0, 0, 0x78, 0x56, 0x34, 0x12}), {"[", "i:305419896", "]"}},
      // Element bytes are never taken for tokens.
      {B({0xD1, 0x02, 0, 0, 0, '[', 0xA6}) + "1", {"[", "i:91", "i:166", "]", "i:1"}},
      // Input ending inside an array: the element being read is the end.
      {B({0xC8, 0x03, 0x3F, 0x80, 0, 0, 0x40}), {"[", "f:1"}},
      {B({0xD4, 0x02, 0, 0, 0, 1, 0, 0}), {"["}},
  });
}

TEST(RibBinaryTest, RequestAndStringDefinitions) {
  const std::string sphere = "\"Sphere\"";
  ExpectCases({
      {B({0xCC, 0x05}) + sphere + B({0xA6, 0x05}), {"340"}},
      {B({0xCC, 0x05, 0x96}) + "Sphere" + B({0xA6, 0x05}), {"340"}},
      // A later definition replaces the earlier one.
      {B({0xCC, 0x05}) + sphere + B({0xCC, 0x05}) + "\"Cone\"" + B({0xA6, 0x05}), {"272"}},
      // The string's bytes are scanned again: what follows the keyword stays input.
      {B({0xCC, 0x05}) + "\"Sphere 7\"" + B({0xA6, 0x05}), {"i:7", "340"}},
      // A name that scans to a binary array binds nothing and takes the
      // array's elements with it.
      {B({0xCC, 0x05, 0x92, 0xC8, 0x01, 0x3F, 0x80, 0, 0}) + "Sphere", {"340"}},
      // An empty name takes the next token of the input itself.
      {B({0xCC, 0x05}) + "\"\" Cone" + B({0xA6, 0x05}), {"272"}},
      {B({0xCC, 0x05}) + "3 Cone",
       {"E:[/d/t.rib:1]: Syntax error, ASCII string expected to encode RI request", "272"}},
      {B({0xA6, 0x07}) + "1 \"x\" [2] Sphere 3",
       {"E:[/d/t.rib:1]: Invalid RI request (binary) \\7", "W:[/d/t.rib:1]: Skipping to next call...", "340", "i:3"}},
      {B({0xA6, 0x07}) + "1", {"E:[/d/t.rib:1]: Invalid RI request (binary) \\7", "W:[/d/t.rib:1]: Skipping to next call..."}},
      {B({0xCD, 0x03, 0x95}) + "a.tex" + B({0xCF, 0x03}), {"s:a.tex"}},
      {B({0xCE, 0x01, 0x00}) + "\"b\"" + B({0xD0, 0x01, 0x00, 0xCF, 0x00}) + "x Sphere",
       {"s:b", "E:[/d/t.rib:1]: No string token associated with request \\0", "W:[/d/t.rib:1]: Skipping to next call...",
        "340"}},
      {B({0xCD, 0x01}) + "\"a\"" + B({0xCD, 0x01}) + "\"b\"" + B({0xCF, 0x01}), {"s:b"}},
      // A string defined from the table keeps its text when the original is
      // defined again; a quoted string after one from the table is its own.
      {B({0xCD, 0x01}) + "\"a\"" + B({0xCD, 0x02, 0xCF, 0x01, 0xCD, 0x01}) + "\"b\"" + B({0xCF, 0x02, 0xCF, 0x01}) + "\"c\"",
       {"s:a", "s:b", "s:c"}},
      {B({0xCF, 0x09}) + "Sphere",
       {"E:[/d/t.rib:1]: No string token associated with request \\11", "W:[/d/t.rib:1]: Skipping to next call...",
        "340"}},
      {B({0xCD, 0x01}) + "3 4", {"E:[/d/t.rib:1]: String expected after token \\315", "i:4"}},
      // The input ending where the string should be is no string either.
      {B({0xCC, 0x05}), {"E:[/d/t.rib:1]: Syntax error, ASCII string expected to encode RI request"}},
      {B({0xCE, 0x00, 0x01}), {"E:[/d/t.rib:1]: String expected after token \\316"}},
      // A dropped binary array goes with its elements.
      {B({0xCE, 0x00, 0x01, 0xC8, 0x01, 0x3F, 0x80, 0, 0}) + "4",
       {"E:[/d/t.rib:1]: String expected after token \\316", "i:4"}},
      // Defined strings keep the expanded prefix (see also below).
      {B({0xCD, 0x01}) + "\"${RIBDIR}/m.tx\"" + B({0xCF, 0x01}), {"s:/d/m.tx"}},
      // Delivered up to the first NUL.
      {B({0xCD, 0x01, 0x93, 'a', 0, 'b', 0xCF, 0x01}), {"s:a"}},
  });
}

// A string from the table is not expanded again when it comes back: with a
// stream whose directory itself begins "${RIBDIR}", a second expansion would
// show as a doubled directory.
TEST(RibBinaryTest, TableStringsAreNotExpandedAgain) {
  std::string stream = B({0xCD, 0x01}) + "\"${RIBDIR}/m.tx\"" + B({0xCF, 0x01, 0xCE, 0x00, 0x02, 0x9B}) +
                       "${VRXDIR}/n" + B({0xD0, 0x00, 0x02});
  EXPECT_EQ(Scan(stream, "${RIBDIR}/x/t.rib"), (Events{"s:${RIBDIR}/x/m.tx", "s:${RIBDIR}/x/n"}));
}

// The name's bytes go back into the input in front of the read position;
// more of them than the buffer has room for make it grow instead of ending
// the process.
TEST(RibBinaryTest, LongRequestNameIsScannedAgainWhole) {
  std::string name = "Sphere" + std::string(40000, ' ') + "7";
  std::string length = B({0xA1, static_cast<int>(name.size() >> 8), static_cast<int>(name.size() & 0xFF)});
  EXPECT_EQ(Scan(B({0xCC, 0x05}) + length + name + B({0xA6, 0x05})), (Events{"i:7", "340"}));
}

TEST(RibBinaryTest, RecoveryDropsPendingArraysAndCountsBadBytesOnce) {
  // The array's bytes would read as an unbound request if scanned.
  ExpectCases({
      {B({0xA6, 0x01, 0xC8, 0x01, 0xA6, 0x02, 0, 0}) + "Cone",
       {"E:[/d/t.rib:1]: Invalid RI request (binary) \\1", "W:[/d/t.rib:1]: Skipping to next call...", "272"}},
      // A binary error met while skipping bad bytes turns into a skip to the next call.
      {"@ " + B({0xA6, 0x01}) + "1 Cone",
       {"E:[/d/t.rib:1]: Invalid char: \\100", "W:[/d/t.rib:1]: Skipping to next valid token...",
        "E:[/d/t.rib:1]: Invalid RI request (binary) \\1", "W:[/d/t.rib:1]: Skipping to next call...", "272"}},
  });
}

TEST(RibBinaryTest, EveryFormCutAfterItsLeadByteEndsTheStreamQuietly) {
  std::vector<int> leads;
  for (int b = 0x80; b <= 0xA6; ++b) leads.push_back(b);
  for (int b = 0xC8; b <= 0xD4; ++b) leads.push_back(b);
  for (int b = 0xD8; b <= 0xDB; ++b) leads.push_back(b);
  for (int lead : leads) {
    bool intArray = lead >= 0xD1 && lead <= 0xD4;
    Events expected{"340"};
    if (lead == 0x90) expected.push_back("s:");  // needs no byte after it
    // An integer array's count is missing bytes read as 0: here an empty array.
    if (intArray) expected.insert(expected.end(), {"[", "]"});
    EXPECT_EQ(Scan("Sphere" + B({lead})), expected) << "lead " << lead;
    // Cut inside a multi-byte length, count or id.
    if (lead == 0xA3 || lead == 0xCB || lead == 0xCE || lead == 0xD0 || lead == 0xDB || lead == 0xD4) {
      // The integer array's count is 255, and its first element finds the end.
      Events cut = intArray ? Events{"340", "["} : Events{"340"};
      EXPECT_EQ(Scan("Sphere" + B({lead, 0xFF})), cut) << "lead " << lead;
    }
  }
}

// Exits with 0 when the stream scans to just the Sphere request within 512 MiB
// of address space.
void ScanUnder512MiB(const std::string& stream) {
  rlimit limit;
  limit.rlim_cur = limit.rlim_max = 512u << 20;
  setrlimit(RLIMIT_AS, &limit);
  exit(Scan(stream) == Events{"340"} ? 0 : 1);
}

TEST(RibBinaryTest, LengthPastTheEndAllocatesNothingUpFront) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "address-space limits do not mix with the sanitizers' shadow memory";
#else
  EXPECT_EXIT(ScanUnder512MiB("Sphere" + B({0xA3, 0xFF, 0xFF, 0xFF, 0xFF}) + "abc"), testing::ExitedWithCode(0), "");
#endif
}

// Definitions and recoveries met inside one another must not nest calls
// without bound: these streams end, whatever they bind.
TEST(RibBinaryTest, HostileNestingEnds) {
  std::string requests, strings, skips;
  for (int i = 0; i < 20000; ++i) {
    requests += B({0xCC, 0x01});
    strings += B({0xCD, 0x01});
    skips += B({0xA6, 0x01});
  }
  for (const std::string& stream : {requests, strings}) {
    Events events = Scan(stream + "\"Sphere\" Sphere");
    EXPECT_LE(events.size(), 20000u);
  }
  Events events = Scan(skips + "Sphere");
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), "340");
}

// A request name from the string table costs two bytes however long it is,
// and may itself hold definitions whose names come from the table. Scanned
// again without bound, such streams never reach their end: one name that
// defines twice more of itself within the nesting limit, and one that
// defines itself again after its keyword.
TEST(RibBinaryTest, NamesThatDefineThemselvesEnd) {
  const std::string syntaxError = "E:[t.rib:1]: Syntax error, ASCII string expected to encode RI request";
  const std::string defineByName = B({0xCC, 0x01, 0xD0, 0x01, 0x01});
  auto storeName = [](const std::string& name) {
    return B({0xCE, 0x01, 0x01, 0x90 + static_cast<int>(name.size())}) + name;
  };

  // Names still being read when the nested ones run out take the tokens
  // that follow as theirs, one each.
  std::string cones;
  for (int i = 0; i < 40; ++i) cones += " Cone";
  Events doubling = Scan(storeName(defineByName + defineByName) + defineByName + cones);
  ASSERT_FALSE(doubling.empty());
  EXPECT_EQ(doubling.back(), "272");
  EXPECT_THAT(doubling, testing::Each(testing::AnyOf(syntaxError, "272")));

  // Code 1 stays bound to Sphere from the rounds that ran. At the end of
  // the input each round finds the buffer emptied again.
  const std::string repeating = storeName("Sphere " + defineByName) + defineByName;
  EXPECT_EQ(Scan(repeating + B({0xA6, 0x01}) + "Cone"), (Events{syntaxError, "340", "272"}));
  EXPECT_EQ(Scan(repeating), Events{syntaxError});
}

// Each use of a table string costs two or three bytes of input: copying
// the string for each would cost its length, the square of the input in all.
TEST(RibBinaryTest, LongTableStringUsedOftenEnds) {
  const size_t length = 1 << 20;
  std::string stream = B({0xCD, 0x00, 0xA3, 0x00, 0x10, 0x00, 0x00}) + std::string(length, 'x');
  for (size_t i = 0; i < length; ++i) stream += B({0xCD, 0x01, 0xCF, 0x00});
  Events events = Scan(stream + B({0xCF, 0x01}) + "Sphere");
  ASSERT_EQ(events.size(), 2u);
  EXPECT_TRUE(events[0] == "s:" + std::string(length, 'x'));
  EXPECT_EQ(events[1], "340");
}

// Names from the table as a stream would use them: many codes bound to the
// longest keyword through one stored name.
TEST(RibBinaryTest, StoredNameBindsManyCodes) {
  const std::string name = "HierarchicalSubdivisionMesh";
  std::string stream = B({0xCD, 0x00, 0xA0, static_cast<int>(name.size())}) + name;
  for (int code = 0; code < 256; ++code) stream += B({0xCC, code, 0xCF, 0x00});
  stream += B({0xA6, 0x00, 0xA6, 0xFF});
  EXPECT_EQ(Scan(stream), (Events{"376", "376"}));
}

TEST(RibBinaryTest, BulkArrayReadsGiveHostOrder) {
  ScannerOver over(B({0xC8, 0x02, 0x3F, 0x80, 0, 0, 0xC0, 0x20, 0, 0,                   //
                      0xD8, 0x01, 0x40, 0x04, 0, 0, 0, 0, 0, 0,                        //
                      0xD2, 0x03, 0, 0, 0, 0x01, 0x00, 0xFF, 0xFF, 0x34, 0x12,         //
                      0xD4, 0x01, 0, 0, 0, 0x78, 0x56, 0x34, 0x12, 0x01, 0, 0, 0}) +
                   "7");
  RibScanner& s = over.scanner;
  size_t n = 0;
  float floats[2];
  EXPECT_FALSE(s.GetFloatArrayLength(&n));
  EXPECT_FALSE(s.ReadFloatArray(floats));
  ASSERT_EQ(s.NextToken(), RibToken::ArrayBegin);
  ASSERT_TRUE(s.GetFloatArrayLength(&n));
  EXPECT_EQ(n, 2u);
  EXPECT_FALSE(s.GetIntArrayLength(&n));
  ASSERT_TRUE(s.ReadFloatArray(floats));
  EXPECT_EQ(floats[0], 1.0f);
  EXPECT_EQ(floats[1], -2.5f);
  EXPECT_FALSE(s.GetFloatArrayLength(&n));

  ASSERT_EQ(s.NextToken(), RibToken::ArrayBegin);
  ASSERT_TRUE(s.GetDoubleArrayLength(&n));
  EXPECT_EQ(n, 1u);
  double doubles[1];
  ASSERT_TRUE(s.ReadDoubleArray(doubles));
  EXPECT_EQ(doubles[0], 2.5);

  ASSERT_EQ(s.NextToken(), RibToken::ArrayBegin);
  ASSERT_TRUE(s.GetIntArrayLength(&n));
  EXPECT_EQ(n, 3u);
  uint32_t ints[3];
  ASSERT_TRUE(s.ReadIntArray(ints));
  EXPECT_EQ(ints[0], 1u);
  EXPECT_EQ(ints[1], 65535u);
  EXPECT_EQ(ints[2], 0x1234u);

  ASSERT_EQ(s.NextToken(), RibToken::ArrayBegin);
  EXPECT_EQ(s.ReadIntArrayElement(), RibToken::Integer);
  EXPECT_EQ(s.intValue(), 0x12345678);
  ASSERT_TRUE(s.GetIntArrayLength(&n));
  EXPECT_EQ(n, 1u);  // the element read leaves the count as it was
  EXPECT_EQ(Describe(s, s.NextToken()), "i:1");
  EXPECT_EQ(s.NextToken(), RibToken::ArrayEnd);
  EXPECT_EQ(Describe(s, s.NextToken()), "i:7");
  EXPECT_TRUE(over.messages.empty());
}

TEST(RibBinaryTest, BulkReadFailsWhenTheInputEnds) {
  ScannerOver over(B({0xC8, 0x02, 0x3F, 0x80, 0, 0}));
  ASSERT_EQ(over.scanner.NextToken(), RibToken::ArrayBegin);
  float floats[2];
  EXPECT_FALSE(over.scanner.ReadFloatArray(floats));
  EXPECT_EQ(over.scanner.NextToken(), RibToken::End);
}

TEST(RibBinaryTest, RawAccessToTheBuffer) {
  std::string ints = B({0x80, 0xFE, 0x81, 0x01, 0x00, 0x82, 0xFF, 0xFF, 0xFF, 0x83, 0x00, 0x01, 0x00, 0x00});
  // The first input is the two bytes that tell a gzip stream; the number
  // they hold runs to their end, so the scanner reads the rest to end it.
  ScannerOver over("12" + ints + "Sphere 2 " + ints + B({0x80, 0x05}));
  RibScanner& s = over.scanner;
  ASSERT_EQ(s.NextToken(), RibToken::Integer);
  const char* p;
  size_t n;
  s.PeekRawBuffer(&p, &n);
  ASSERT_EQ(n, over.bytes.size() - 2);
  EXPECT_EQ(std::string(p, n), over.bytes.substr(2));

  int32_t values[8];
  size_t count = 8;
  EXPECT_FALSE(s.ReadBinaryIntegers(values, &count));  // stopped by 'S'
  EXPECT_EQ(std::vector<int32_t>(values, values + count), (std::vector<int32_t>{-2, 256, -1, 65536}));
  EXPECT_EQ(s.NextToken(), RibToken::Sphere);
  EXPECT_EQ(Describe(s, s.NextToken()), "i:2");
  s.SkipRaw(1);  // the blank
  count = 1;
  EXPECT_TRUE(s.ReadBinaryIntegers(values, &count));  // stopped by the count
  EXPECT_EQ(count, 1u);
  count = 8;
  EXPECT_TRUE(s.ReadBinaryIntegers(values, &count));  // stopped by the 5-byte margin
  EXPECT_EQ(std::vector<int32_t>(values, values + count), (std::vector<int32_t>{256, -1, 65536}));
  EXPECT_EQ(Describe(s, s.NextToken()), "i:5");
  EXPECT_EQ(s.NextToken(), RibToken::End);
}

TEST(RibBinaryTest, ReadRawCrossesRefills) {
  std::string body(50000, 'x');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
  ScannerOver over("1" + body + "zz");
  ASSERT_EQ(over.scanner.NextToken(), RibToken::Integer);
  std::string got(body.size(), '\0');
  ASSERT_TRUE(over.scanner.ReadRaw(&got[0], got.size()));
  EXPECT_EQ(got, body);
  EXPECT_TRUE(over.scanner.ReadRaw(nullptr, 0));
  char rest[4];
  EXPECT_FALSE(over.scanner.ReadRaw(rest, 4));
  EXPECT_EQ(std::string(rest, 2), "zz");
}

TEST(RibBinaryTest, SignedAndUnsignedBigEndianReads) {
  ScannerOver over("1" + B({0xFF, 0xFE, 0x80, 0x00, 0x00, 0x7F, 0xFF}));
  RibScanner& s = over.scanner;
  ASSERT_EQ(s.NextToken(), RibToken::Integer);
  EXPECT_EQ(s.ReadSignedBE(0), 0);
  EXPECT_EQ(s.ReadSignedBE(2), -2);
  EXPECT_EQ(s.ReadUnsignedBE(3), 0x800000);
  EXPECT_EQ(s.ReadSignedBE(2), 0x7FFF);
}
