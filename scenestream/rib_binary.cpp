// The binary encoding: what follows each lead byte. Every form that runs
// into the end of the input ends the stream (the end token) rather than act
// on a value built from missing bytes.
#include <cmath>
#include <cstring>

#include "rib_scanner.h"

namespace {

// Definitions read their string through the scanner itself; deeper nesting
// than this only comes from hostile input.
constexpr int kMaxDefinitionDepth = 32;

int32_t SignExtend(uint32_t v, unsigned width) {
  unsigned bits = 8 * width;
  if (bits < 32 && (v & (1u << (bits - 1)))) v |= ~0u << bits;
  return static_cast<int32_t>(v);
}

}  // namespace

int RibScanner::ReadInt8() {
  int c = ReadByte();
  if (c < 0) return RibToken::End;
  intValue_ = static_cast<int8_t>(c);
  return RibToken::Integer;
}

int RibScanner::ReadInt16() {
  uint32_t v;
  if (!ReadBigEndian(2, &v)) return RibToken::End;
  intValue_ = SignExtend(v, 2);
  return RibToken::Integer;
}

int RibScanner::ReadInt24() {
  uint32_t v;
  if (!ReadBigEndian(3, &v)) return RibToken::End;
  intValue_ = SignExtend(v, 3);
  return RibToken::Integer;
}

int RibScanner::ReadInt32() {
  uint32_t v;
  if (!ReadBigEndian(4, &v)) return RibToken::End;
  intValue_ = static_cast<int32_t>(v);
  return RibToken::Integer;
}

// Lead byte 0x80 + 4d + w: w + 1 bytes, one signed big-endian integer with
// d bytes after the binary point. The lead bytes with d > w + 1 (0x88,
// 0x8C, 0x8D) are read the same way, as the w + 1 bytes they announce.
int RibScanner::ReadFixedPoint(int lead) {
  unsigned code = static_cast<unsigned>(lead) - 0x80;
  unsigned fractionBytes = code >> 2;
  unsigned width = (code & 3) + 1;
  uint32_t v;
  if (!ReadBigEndian(width, &v)) return RibToken::End;
  SetFloat(std::ldexp(static_cast<double>(SignExtend(v, width)), -8 * static_cast<int>(fractionBytes)));
  return RibToken::Float;
}

// The bytes arrive before they are stored, so a length that runs past the
// end of the input never allocates what it announces.
int RibScanner::ReadString(size_t length) {
  storedValue_.reset();
  stringValue_.clear();
  char piece[4096];
  while (length > 0) {
    size_t k = length < sizeof piece ? length : sizeof piece;
    if (!ReadRaw(piece, k)) return RibToken::End;
    stringValue_.append(piece, k);
    length -= k;
  }
  ExpandStreamDir();
  return RibToken::String;
}

int RibScanner::ReadShortString(int lead) { return ReadString(static_cast<size_t>(lead - 0x90)); }

int RibScanner::ReadLongString(int lead) {
  uint32_t length;
  if (!ReadBigEndian(static_cast<unsigned>(lead - 0x9F), &length)) return RibToken::End;
  return ReadString(length);
}

int RibScanner::ReadFloat() {
  unsigned char b[4];
  if (!ReadRaw(b, sizeof b)) return RibToken::End;
  uint32_t bits = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  float f;
  memcpy(&f, &bits, sizeof f);
  SetFloat(f);
  return RibToken::Float;
}

int RibScanner::ReadDouble() {
  unsigned char b[8];
  if (!ReadRaw(b, sizeof b)) return RibToken::End;
  uint64_t bits = 0;
  for (unsigned char byte : b) bits = (bits << 8) | byte;
  double d;
  memcpy(&d, &bits, sizeof d);
  SetFloat(d);
  return RibToken::Float;
}

int RibScanner::ReadEncodedRequest() {
  int code = ReadByte();
  if (code < 0) return RibToken::End;
  if (requestTable_[code] != 0) return static_cast<int>(requestTable_[code]);
  return BinaryError("Invalid RI request (binary) \\%o", static_cast<unsigned>(code));
}

int RibScanner::ReadFloatArrayHeader(int lead) {
  uint32_t count;
  if (!ReadBigEndian(static_cast<unsigned>(lead - 0xC7), &count)) return RibToken::End;
  floatArrayPending_ = true;
  floatArrayCount_ = count;
  return RibToken::ArrayBegin;
}

int RibScanner::ReadDoubleArrayHeader(int lead) {
  uint32_t count;
  if (!ReadBigEndian(static_cast<unsigned>(lead - 0xD7), &count)) return RibToken::End;
  doubleArrayPending_ = true;
  doubleArrayCount_ = count;
  return RibToken::ArrayBegin;
}

// Count and elements little-endian, unlike every other form. A count cut
// short by the end of the input has its missing bytes as 0; the array's
// first element then finds the end.
int RibScanner::ReadIntArrayHeader(int lead) {
  unsigned char b[4] = {};
  ReadRaw(b, sizeof b);
  intArrayPending_ = true;
  intArrayCount_ = (uint32_t{b[3]} << 24) | (uint32_t{b[2]} << 16) | (uint32_t{b[1]} << 8) | b[0];
  intArrayWidth_ = static_cast<uint32_t>(lead - 0xD0);
  return RibToken::ArrayBegin;
}

bool RibScanner::DefineEncodedRequest() {
  int code = ReadByte();
  if (code < 0) return false;
  if (definitionDepth_ >= kMaxDefinitionDepth) {
    Error("Syntax error, ASCII string expected to encode RI request");
    return true;
  }
  ++definitionDepth_;
  int token = ReadRequestName();
  --definitionDepth_;
  if (RibToken::IsRequest(token)) {
    requestTable_[code] = static_cast<uint32_t>(token);
    return true;
  }
  return token != RibToken::End && DropToken(token);
}

bool RibScanner::DefineStringToken(int lead) {
  uint32_t id;
  if (!ReadBigEndian(static_cast<unsigned>(lead - 0xCC), &id)) return false;
  if (definitionDepth_ >= kMaxDefinitionDepth) {
    Error("String expected after token \\%o", static_cast<unsigned>(lead));
    return true;
  }
  ++definitionDepth_;
  int token = yylex();
  --definitionDepth_;
  if (token != RibToken::String) {
    Error("String expected after token \\%o", static_cast<unsigned>(lead));
    return DropToken(token);
  }
  if (definedStrings_.size() <= id) definedStrings_.resize(id + 1);
  // Stored up to its first NUL, as it is delivered; a string from the table
  // is shared, not copied.
  definedStrings_[id] = storedValue_ ? storedValue_ : std::make_shared<const std::string>(stringValue_.c_str());
  return true;
}

int RibScanner::InterpolateStringToken(int lead) {
  uint32_t id;
  if (!ReadBigEndian(static_cast<unsigned>(lead - 0xCE), &id)) return RibToken::End;
  if (id < definedStrings_.size() && definedStrings_[id]) {
    storedValue_ = definedStrings_[id];
    return RibToken::String;
  }
  return BinaryError("No string token associated with request \\%o", id);
}
