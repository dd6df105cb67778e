#include "stream_strings.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// Marks each string with its role: F for a file-name value, N otherwise.
class MarkingSink : public StringSink {
 public:
  void WriteString(const std::string& raw, bool fileName, FILE* out) override {
    std::fprintf(out, "%c:%s", fileName ? 'F' : 'N', raw.c_str());
  }
};

std::string Marked(const std::string& text) {
  FILE* in = fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
  char* bytes = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&bytes, &size);
  MarkingSink sink;
  CopyStreamStrings(in, out, sink);
  std::fclose(in);
  std::fclose(out);
  std::string result(bytes, size);
  std::free(bytes);
  return result;
}

TEST(StreamStringsTest, FileNamesAreTheParameterValuesTheTrackerReads) {
  const std::pair<const char*, const char*> cases[] = {
      {"SetAttribute \"h\" \"p\" \"string\" 1 \"v\"",
       "SetAttribute \"N:h\" \"N:p\" \"N:string\" 1 \"F:v\""},
      {"SetAttributeAtTime \"h\" 0.5 \"p\" \"string\" 2 [\"a\" 1 \"b\"] \"q\" \"string\" 1 \"c\"",
       "SetAttributeAtTime \"N:h\" 0.5 \"N:p\" \"N:string\" 2 [\"F:a\" 1 \"F:b\"] \"N:q\" "
       "\"N:string\" 1 \"F:c\""},
      {"Evaluate \"type\" \"string\" 1 \"vrxstream\" \"filename\" \"string\" 1 \"f\"",
       "Evaluate \"N:type\" \"N:string\" 1 \"N:vrxstream\" \"N:filename\" \"N:string\" 1 \"F:f\""},
      {"Create \"a\" \"b\"\nConnect \"a\" \"o\" \"b\" \"i\"",
       "Create \"N:a\" \"N:b\"\nConnect \"N:a\" \"N:o\" \"N:b\" \"N:i\""},
      // The list ends at the first token that is no string.
      {"SetAttribute \"h\" \"p\" \"string\" 1 \"v\" Sphere \"w\"",
       "SetAttribute \"N:h\" \"N:p\" \"N:string\" 1 \"F:v\" Sphere \"N:w\""},
      // A request keyword in the handle's place abandons both requests.
      {"SetAttribute Evaluate \"p\" \"string\" 1 \"v\"",
       "SetAttribute Evaluate \"N:p\" \"N:string\" 1 \"N:v\""},
      // Words the reader drops take no place; numbers split as it splits them:
      // "1.e3" is the count 1., a dropped word and the value 3.
      {"SetAttribute \"h\" \"p\" \"string\" 1 junk \"v\"",
       "SetAttribute \"N:h\" \"N:p\" \"N:string\" 1 junk \"F:v\""},
      {"SetAttribute \"h\" \"p\" \"string\" 1.e3 \"v\" \"string\" -inf \"w\"",
       "SetAttribute \"N:h\" \"N:p\" \"N:string\" 1.e3 \"N:v\" \"N:string\" -inf \"F:w\""},
      {"SetAttribute \"h\" # \"not\" a string\n\"p\" \"string\" 1 \"v\"",
       "SetAttribute \"N:h\" # \"not\" a string\n\"N:p\" \"N:string\" 1 \"F:v\""},
      {"\"open \\\" at the end", "\"open \\\" at the end"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Marked(in), out);
}

}  // namespace

// Tokens longer than a read block and tokens cut by a block's end are read
// whole: a string of 600,000 bytes keeps its role and its bytes, and the
// numbers and words around it split as they do in a short stream.
TEST(StreamStringsTest, TokensAcrossReadBlocksAreReadWhole) {
  std::string longName(600000, 'n');
  std::string pad(262140, ' ');  // puts "1.e3" across the first block's end
  std::string in = pad + "SetAttribute \"h\" \"p\" \"string\" 1.e3 \"" + longName +
                   "\" \"string\" -inf \"w\" # \"c\"\r\n\"x\"";
  std::string out = pad + "SetAttribute \"N:h\" \"N:p\" \"N:string\" 1.e3 \"N:" + longName +
                    "\" \"N:string\" -inf \"F:w\" # \"c\"\r\n\"N:x\"";
  EXPECT_EQ(Marked(in), out);
  std::string file = "SetAttribute \"h\" \"p\" \"string\" 1 \"" + longName + "\"";
  EXPECT_EQ(Marked(file), "SetAttribute \"N:h\" \"N:p\" \"N:string\" 1 \"F:" + longName + "\"");
}
