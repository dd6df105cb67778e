#include "rib_scanner.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdarg>

#include "scan_test_support.h"

using Events = std::vector<std::string>;
const char* const kSkip = "W:[t.rib:1]: Skipping to next valid token...";

struct Case {
  std::string input;
  Events expected;
};

void ExpectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(Scan(c.input), c.expected) << "input: " << c.input;
}

TEST(RibScannerTest, KeywordsAreWholeLetterRuns) {
  ExpectCases({
      {"AttributeBegin Attribute AttributeEnd", {"264", "263", "265"}},
      {"Attributes Sphere", {"E:[t.rib:1]: Invalid id: Attributes", kSkip, "340"}},
      {"version Version", {"356", "E:[t.rib:1]: Invalid id: Version", kSkip}},
      {"Sphere1", {"340", "i:1"}},
      // '_' is bad; the word 'x' after it is dropped silently while skipping.
      {"Sphere_x 2", {"340", "E:[t.rib:1]: Invalid char: \\137", kSkip, "i:2"}},
      {"infinity inf5", {"E:[t.rib:1]: Invalid id: infinity", kSkip, "f:inf", "i:5"}},
      {"[Sphere]", {"[", "340", "]"}},
  });
}

// Numbers between tokens are matched by a hand-written fast path, the first
// token and those after other white space by the automaton: each case is
// read both ways.
TEST(RibScannerTest, Numbers) {
  const std::vector<Case> cases = {
      {"1.", {"f:1"}},
      {"1.e3", {"f:1", "E:[t.rib:1]: Invalid id: e", kSkip, "i:3"}},
      {"5e3", {"f:5000"}},
      {"5E+1", {"f:50"}},
      {"2.5e-1", {"f:0.25"}},
      {".5", {"f:0.5"}},
      {"-.5e1", {"f:-5"}},
      {"+.5", {"f:0.5"}},
      {"5e", {"i:5", "E:[t.rib:1]: Invalid id: e", kSkip}},
      {"5e+", {"i:5", "E:[t.rib:1]: Invalid id: e", kSkip}},
      {"1.5.5", {"f:1.5", "f:0.5"}},
      {"-2147483648", {"i:-2147483648"}},
      {"+7", {"i:7"}},
      {"007", {"i:7"}},
      {"4294967296", {"i:0"}},
      {"2147483648", {"i:-2147483648"}},
      {"0x10", {"i:0", "E:[t.rib:1]: Invalid id: x", kSkip, "i:10"}},
      {"1-2", {"i:1", "i:-2"}},
      {"+inf", {"E:[t.rib:1]: Invalid char: \\53", kSkip, "f:inf"}},
      {"-inf", {"f:-inf"}},
      {"1e400", {"f:inf"}},
      {"0e400", {"f:0"}},
      {"-0.0e999", {"f:-0"}},
      {"nan", {"f:nan"}},
      {"-", {"E:[t.rib:1]: Invalid char: \\55", kSkip}},
      {"-.e1", {"E:[t.rib:1]: Invalid char: \\55", kSkip, "i:1"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Scan("\f" + c.input), c.expected) << "automaton: " << c.input;
    Events afterToken{"i:0"};
    afterToken.insert(afterToken.end(), c.expected.begin(), c.expected.end());
    EXPECT_EQ(Scan("0 " + c.input), afterToken) << "fast path: " << c.input;
  }
}

// Thousands of numbers, so that many lie across buffer ends: the same
// values as each read alone by the automaton.
TEST(RibScannerTest, NumbersAcrossBufferEnds) {
  const char* const forms[] = {"12345", "-7", "3.25", ".5", "6.", "-1.5e-3", "2E+2", "+9", "0.000125", "1e1"};
  std::string stream;
  Events expected;
  for (int i = 0; i < 40000; ++i) {
    std::string number = forms[i % 10] + std::string(i % 7, '1');
    stream += number + (i % 5 ? " " : "\n");
    for (const std::string& e : Scan("\f" + number)) expected.push_back(e);
  }
  EXPECT_EQ(Scan(stream), expected);
}

TEST(RibScannerTest, FloatsUseDigitByDigitArithmetic) {
  // 0 + 3 * 0.1 is not the double nearest to 0.3.
  RibScanner scanner(new RibFromBuffer("0.3 1.5e-2", 10), "t.rib", nullptr, CollectMessage, nullptr);
  ASSERT_EQ(scanner.NextToken(), RibToken::Float);
  EXPECT_EQ(scanner.floatValue(), 3 * 0.1);
  ASSERT_EQ(scanner.NextToken(), RibToken::Float);
  EXPECT_EQ(scanner.floatValue(), (1 + 5 * 0.1) * std::pow(10.0, -2));
}

TEST(RibScannerTest, StringEscapes) {
  ExpectCases({
      {R"("" "plain")", {"s:", "s:plain"}},
      {R"("\101\n\\\"\t\r\b\f")", {std::string("s:A\n\\\"\t\r\b\f")}},
      {R"("\8\q\777\1234")", {"s:8q\xFFS4"}},
      {std::string("\"a\\0b\"", 6), {std::string("s:a\0b", 5)}},
      // An escaped NUL is kept as a byte.
      {std::string("\"a\\\0b\"", 6), {std::string("s:a\0b", 5)}},
      {"\"raw\nline\r\xE9\"", {"s:raw\nline\r\xE9"}},
  });
}

TEST(RibScannerTest, UnclosedOrNulBrokenQuoteIsOneBadByte) {
  ExpectCases({
      {"\"abc\nSphere", {"E:[t.rib:1]: Invalid char: \\42", kSkip, "340"}},
      {std::string("\"a\0b\" Sphere", 12), {"E:[t.rib:1]: Invalid char: \\42", kSkip, "340"}},
      // Escaped quotes inside fail too when scanning starts from them; a
      // binary string takes the backslash of the second one.
      {"\"\x91\\\" Sphere",
       {"E:[t.rib:1]: Invalid char: \\42", kSkip, "s:\\", "E:[t.rib:1]: Invalid char: \\42", kSkip, "340"}},
  });
  // Longer than the buffer, read a few bytes at a time.
  std::string stream = "\"";
  for (int i = 0; i < 20000; ++i) stream += "\\\"";
  stream += " Sphere";
  for (int step : {7, 1 << 20})
    EXPECT_EQ(ScanSource(new TrickleSource(stream, step)), (Events{"E:[t.rib:1]: Invalid char: \\42", kSkip, "340"}))
        << step;
}

// Tokens with the line the scanner is on after each of them.
Events ScanWithLines(const std::string& bytes) {
  Events events;
  RibScanner scanner(new RibFromBuffer(bytes.data(), bytes.size()), "t.rib", nullptr, CollectMessage, &events);
  for (int token; (token = scanner.NextToken()) != RibToken::End;)
    events.push_back(Describe(scanner, token) + "@" + std::to_string(scanner.line()));
  events.push_back("end@" + std::to_string(scanner.line()));
  return events;
}

TEST(RibScannerTest, LineCount) {
  struct LineCase {
    std::string input;
    Events expected;
  } cases[] = {
      {"Sphere\nSphere\rSphere\r\nSphere\n\r", {"340@1", "340@2", "340@3", "340@4", "end@6"}},
      // Continuations count; raw line ends inside the quotes do not.
      {"\"a\\\nb\\\r\nc\\\rd\" 1", {"s:abcd@4", "i:1@4", "end@4"}},
      {"\"a\nb\rc\" 1", {"s:a\nb\rc@1", "i:1@1", "end@1"}},
      // Comments end their line however they end, also without a callback.
      {"# a\n1 #b\r2 #c\r\n3 #d", {"i:1@2", "i:2@3", "i:3@4", "end@5"}},
      {std::string("#x\0" "1", 4), {"i:1@2", "end@2"}},
      {"1 #c\r", {"i:1@1", "end@2"}},
  };
  for (const LineCase& c : cases) EXPECT_EQ(ScanWithLines(c.input), c.expected) << c.input;
}

Events* commentSink;
void CollectComment(const char* kind, const char* format, ...) {
  va_list args;
  va_start(args, format);
  char text[256];
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  commentSink->push_back(std::string(kind) + ":" + text);
}

TEST(RibScannerTest, CommentCallbackKinds) {
  Events comments;
  commentSink = &comments;
  std::string stream = "##frame 1\n# note\nSphere #tail\r1 #\n#";
  Events tokens = ScanSource(new RibFromBuffer(stream.data(), stream.size()), "t.rib", CollectComment);
  EXPECT_EQ(tokens, (Events{"340", "i:1"}));
  EXPECT_EQ(comments, (Events{"structure:frame 1", "comment: note", "comment:tail", "comment:", "comment:"}));
}

TEST(RibScannerTest, BadRunGivesOneErrorOneWarningWithItsLine) {
  Events events = Scan("Sphere\n\n\x01\x02\x03~~ Sphere", "scene.rib");
  EXPECT_EQ(events, (Events{"340", "E:[scene.rib:3]: Invalid char: \\1",
                            "W:[scene.rib:3]: Skipping to next valid token...", "340"}));
  EXPECT_EQ(Scan(std::string("\0 1", 3)), (Events{"E:[t.rib:1]: Invalid char: \\0", kSkip, "i:1"}));
  EXPECT_EQ(Scan("@"), (Events{"E:[t.rib:1]: Invalid char: \\100", kSkip}));
}

// A message is cut to 2,047 characters, prefix included: a long stream name
// leaves less room for the text, a name longer than that leaves none.
TEST(RibScannerTest, MessagesAreCutTo2047Characters) {
  for (size_t nameLength : {2030, 2040, 2041, 2042, 3000}) {
    std::string name(nameLength, 'n');
    std::string full = "E:[" + name + ":1]: Invalid char: \\1";
    Events events = Scan("\x01", name.c_str());
    ASSERT_EQ(events.size(), 2u) << nameLength;
    EXPECT_EQ(events[0], full.substr(0, 2 + 2047)) << nameLength;  // "E:" is the test's own
  }
}

TEST(RibScannerTest, TinyStreams) {
  EXPECT_EQ(Scan(""), Events{});
  EXPECT_EQ(Scan("7"), Events{"i:7"});
  // 0x1F without 0x8B after it is plain input from its first byte.
  EXPECT_EQ(Scan("\x1F" "1"), (Events{"E:[t.rib:1]: Invalid char: \\37", kSkip, "i:1"}));
  EXPECT_EQ(Scan("\x1F"), (Events{"E:[t.rib:1]: Invalid char: \\37", kSkip}));
}

TEST(RibScannerTest, EndTokenRepeats) {
  RibScanner scanner(new RibFromBuffer("1", 1), "t.rib", nullptr, CollectMessage, nullptr);
  EXPECT_EQ(scanner.NextToken(), RibToken::Integer);
  EXPECT_EQ(scanner.NextToken(), RibToken::End);
  EXPECT_EQ(scanner.NextToken(), RibToken::End);
}

TEST(RibScannerTest, TokenLongerThanTheBuffer) {
  std::string body(100000, 'x');
  for (size_t i = 0; i < body.size(); i += 1000) body[i] = static_cast<char>('a' + i / 1000 % 26);
  EXPECT_EQ(Scan("Sphere \"" + body + "\" 1"), (Events{"340", "s:" + body, "i:1"}));
}

// Reads at most `step` bytes each time and records the largest request.
class RecordingSource : public TrickleSource {
 public:
  using TrickleSource::TrickleSource;
  int Read(void* buf, int maxBytes) override {
    largest = std::max(largest, maxBytes);
    return TrickleSource::Read(buf, maxBytes);
  }
  int largest = 0;
};

// After a long token has grown the buffer, a refill asks for all of its free
// space: reads capped at the first buffer's size would make the automaton
// rescan the token once per read.
TEST(RibScannerTest, RefillsAskForTheGrownBuffersFreeSpace) {
  std::string stream = "\"" + std::string(200000, 'x') + "\" 1";
  Events events;
  auto* source = new RecordingSource(stream, 4096);
  RibScanner scanner(source, "t.rib", nullptr, CollectMessage, &events);
  EXPECT_EQ(scanner.NextToken(), RibToken::String);
  EXPECT_EQ(scanner.stringValue().size(), 200000u);
  EXPECT_GT(source->largest, 100000);
}

Events* wholeCommentSink;
void CollectWholeComment(const char* kind, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const char* text = va_arg(args, const char*);  // the format is "%s"
  va_end(args);
  wholeCommentSink->push_back(std::string(kind) + ":" + text);
}

// Runs of blanks and comments are passed over in the buffer instead of
// being kept whole as tokens: however long, they never make it grow, which
// a request for more than its first size would show.
TEST(RibScannerTest, LongBlankRunsAndCommentsLeaveTheBufferAsItIs) {
  std::string blanks;
  for (int i = 0; i < 50000; ++i) blanks += " \t\v\f";
  std::string text(200000, 'c');
  std::string stream = "Sphere" + blanks + "1 #" + text + "\r\n2 ##" + text + "\r3 #" + text;
  for (bool withCallback : {false, true}) {
    Events comments;
    wholeCommentSink = &comments;
    auto* source = new RecordingSource(stream, 100000);
    Events events;
    RibScanner scanner(source, "t.rib", withCallback ? CollectWholeComment : nullptr,
                       CollectMessage, &events);
    for (int token; (token = scanner.NextToken()) != RibToken::End;)
      events.push_back(Describe(scanner, token) + "@" + std::to_string(scanner.line()));
    EXPECT_EQ(events, (Events{"340@1", "i:1@1", "i:2@2", "i:3@3"}));
    EXPECT_EQ(scanner.line(), 4);
    EXPECT_LE(source->largest, 16384);
    if (withCallback) {
      EXPECT_EQ(comments, (Events{"comment:" + text, "structure:" + text, "comment:" + text}));
    }
  }
}

// A CR that ends a comment and a LF after it are one line end, also when a
// refill comes between them.
TEST(RibScannerTest, CommentLineEndAcrossARefill) {
  for (size_t pad = 16360; pad < 16400; ++pad) {
    std::string stream = std::string(pad, ' ') + "#c\r\n1\r\n2";
    EXPECT_EQ(ScanWithLines(stream), (Events{"i:1@2", "i:2@3", "end@3"})) << pad;
  }
}

TEST(RibScannerTest, SourceGivingFewBytesPerReadScansTheSame) {
  std::string stream =
      "Create \"a\\\nb\" [1 2.5 -3e2] ##s\n# c\r\nAttributes 4294967297 \"${RIBDIR}/x\"\n" +
      std::string(20000, ' ') + "\"" + std::string(20000, 'q') + "\" Evaluate";
  Events whole = ScanSource(new RibFromBuffer(stream.data(), stream.size()), "/d/s.rib");
  for (int step : {1, 2, 3, 7}) EXPECT_EQ(ScanSource(new TrickleSource(stream, step), "/d/s.rib"), whole) << step;
  EXPECT_THAT(whole, testing::Contains("s:/d/x"));
}

TEST(RibScannerTest, StreamDirectoryPrefix) {
  struct DirCase {
    const char* stream;
    const char* text;
    const char* expected;
  } cases[] = {
      {"/scenes/shot1/main.rib", "${RIBDIR}/maps/a.tex", "/scenes/shot1/maps/a.tex"},
      {"/scenes/shot1/main.rib", "${VRXDIR}", "/scenes/shot1"},
      {"/scenes/shot1/main.rib", "${VRXDIR}${RIBDIR}", "/scenes/shot1${RIBDIR}"},
      {"stdin", "${RIBDIR}/a", "./a"},
      {"/s/m.rib", "a${RIBDIR}", "a${RIBDIR}"},
      {"/s/m.rib", "${RIBDIR", "${RIBDIR"},
      {"/s/m.rib", "${ribdir}/a", "${ribdir}/a"},
  };
  for (const DirCase& c : cases) {
    std::string stream = "\"" + std::string(c.text) + "\"";
    EXPECT_EQ(Scan(stream, c.stream), Events{std::string("s:") + c.expected}) << c.text;
  }
  // Escapes are decoded before the prefix is looked for.
  EXPECT_EQ(Scan(R"("\$\{RIBDIR}/b")", "/s/m.rib"), Events{"s:/s/b"});
}

TEST(RibScannerTest, ValuesStayUntilTheNextTokenOfTheirKind) {
  RibScanner scanner(new RibFromBuffer("\"a\" 2 1.5 Sphere", 16), "t.rib", nullptr, CollectMessage, nullptr);
  while (scanner.NextToken() != RibToken::Sphere) {}
  EXPECT_EQ(scanner.stringValue(), "a");
  EXPECT_EQ(scanner.intValue(), 2);
  EXPECT_EQ(scanner.floatValue(), 1.5);
}

class FatalScanner : public RibScanner {
 public:
  using RibScanner::RibScanner;
  void Fail() { LexerError("flex scanner push-back overflow"); }
};

void PrintMessage(void*, int severity, const char* message) { fprintf(stderr, "%d %s\n", severity, message); }

TEST(RibScannerDeathTest, FatalErrorReportsAndExitsWithStatus2) {
  EXPECT_EXIT(
      {
        FatalScanner scanner(new RibFromBuffer("", 0), "x.rib", nullptr, PrintMessage, nullptr);
        scanner.Fail();
      },
      testing::ExitedWithCode(2), "3 flex scanner push-back overflow \\(in 'x.rib'\\)");
}
