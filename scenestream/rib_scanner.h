#ifndef SCENESTREAM_RIB_SCANNER_H
#define SCENESTREAM_RIB_SCANNER_H

#include <cstddef>
#include <cstdint>
#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

#include "rib_source.h"
#include "rib_token.h"

// The generated scanner includes FlexLexer.h itself, with its own class name.
#ifndef yyFlexLexerOnce
#undef yyFlexLexer
#define yyFlexLexer yyRibFlexLexer
#include <FlexLexer.h>
#undef yyFlexLexer
#endif

struct z_stream_s;
class RibInflateAhead;

// Receives every diagnostic: severity 1 warning, 2 error (scanning goes on),
// 3 fatal (the process exits with status 2 once the callback returns). The
// message belongs to the scanner and is valid during the call only.
typedef void (*RibErrorCallback)(void* user, int severity, const char* message);
// Receives each comment: kind "comment" or "structure", format "%s", text.
typedef void (*RibCommentCallback)(const char* kind, const char* format, ...);

// Pull tokenizer over one scene stream, ASCII or binary, plain or gzip.
// Call NextToken until it returns RibToken::End, reading the value that
// belongs to each String, Integer or Float token before the next call.
class RibScanner : public yyRibFlexLexer {
 public:
  // Takes ownership of source; copies streamName (used in messages and for
  // the "${RIBDIR}" prefix). errorCb is required, commentCb may be null.
  RibScanner(RibSource* source, const char* streamName, RibCommentCallback commentCb,
             RibErrorCallback errorCb, void* user);
  ~RibScanner() override;
  RibScanner(const RibScanner&) = delete;
  RibScanner& operator=(const RibScanner&) = delete;

  // The next RibToken code; 0 at the end of the input.
  int NextToken();

  // Values of the last token of each kind; a token of one kind leaves the
  // others untouched. stringValue holds the bytes only (NULs possible).
  const std::string& stringValue() const { return storedValue_ ? *storedValue_ : stringValue_; }
  // The string table's entry that the current string token brought back;
  // null for a string read from the input itself.
  const std::shared_ptr<const std::string>& storedString() const { return storedValue_; }
  int32_t intValue() const { return intValue_; }
  // Floats read from ASCII text are converted when asked for: a client that
  // reads no floats pays nothing for them.
  double floatValue() const { return floatTextLength_ ? ConvertFloatText() : floatValue_; }

  const char* streamName() const { return streamName_.c_str(); }
  int64_t line() const { return line_; }
  // How many times the scanner has asked for more input: names that come
  // after a change of this count were read after the names before it.
  uint64_t inputReads() const { return inputReads_; }

  // The next n bytes of input, raw, across refills; false when the input
  // ends first (the bytes read so far are in dst). n = 0 reads nothing.
  bool ReadRaw(void* dst, size_t n);
  // Replaces a leading "${RIBDIR}" or "${VRXDIR}" in stringValue by the
  // directory of the stream name.
  void ExpandStreamDir();
  // Reads a String token and scans its bytes again as input; returns the
  // first token they give, or -1 (with an error) when no String came.
  int ReadRequestName();
  // n (1 to 4) bytes, most significant first, as one integer; the signed
  // form sign-extends below 4 bytes. n < 1 gives 0. Missing bytes read as
  // 0xFF; callers that must not act on them use ReadByte.
  int32_t ReadSignedBE(unsigned n);
  int32_t ReadUnsignedBE(unsigned n);

  // Binary forms after their lead byte, one member each. Each returns the
  // token: 0 when the input ends inside the form, -1 when an undefined code
  // or id met during a recovery yields none.
  int ReadInt8();
  int ReadInt16();
  int ReadInt24();
  int ReadInt32();
  int ReadShortString(int lead);
  int ReadLongString(int lead);
  int ReadFloat();
  int ReadDouble();
  int ReadEncodedRequest();
  int ReadFloatArrayHeader(int lead);
  int ReadDoubleArrayHeader(int lead);
  int ReadIntArrayHeader(int lead);
  int ReadFixedPoint(int lead);
  int InterpolateStringToken(int lead);
  // Definitions give no token: they return false when the input ended.
  bool DefineEncodedRequest();
  bool DefineStringToken(int lead);

  // Bulk access to a pending binary array instead of one token per element.
  // The Get functions are false when no array of that kind is pending.
  bool GetFloatArrayLength(size_t* n) const;
  bool GetDoubleArrayLength(size_t* n) const;
  bool GetIntArrayLength(size_t* n) const;
  // Read every remaining element into dst in host order and end the array;
  // false when none is pending or the input ends first.
  bool ReadFloatArray(float* dst);
  bool ReadDoubleArray(double* dst);
  bool ReadIntArray(uint32_t* dst);
  // One element of the pending integer array into intValue: 260, or 0 when
  // the input ends. The count is not changed.
  int ReadIntArrayElement();
  // Decodes consecutive binary integer tokens (0x80-0x83) straight from the
  // current buffer, at most *count, while 5 unread bytes remain; *count
  // becomes the number decoded. False when a byte that is no such code
  // stopped it.
  bool ReadBinaryIntegers(int32_t* dst, size_t* count);
  // The unread bytes of the current buffer, not consumed.
  void PeekRawBuffer(const char** p, size_t* n);
  // Consumes min(n, unread bytes of the current buffer).
  void SkipRaw(size_t n);

  // The generated rules (recursion while recovering, definitions).
  int yylex() override;

 protected:
  int LexerInput(char* buf, int maxSize) override;
  void LexerError(const char* message) override;

 private:
  void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Report(int severity, const char* format, va_list args);
  void FormatMessage(const char* format, va_list args, char* out, int size);
  int SkipToNextValidToken();
  int SkipToNextCall();
  int BinaryError(const char* format, unsigned value);

  // Rule actions of the ASCII grammar.
  int ScanInteger(const char* text, size_t length);
  int ScanFloat(const char* text, size_t length);
  double ConvertFloatText() const;
  void SetFloat(double value) {
    floatValue_ = value;
    floatTextLength_ = 0;
  }
  int ScanFast();
  int ScanQuote();
  int ScanQuotedString(const char* text, size_t length);
  void ScanComment();
  void SkipBlanks();
  int BadInput(const char* word, int byte);

  // Input: gzip detection and decompression.
  int BytesWanted(const char* buf, int maxSize) const;
  int ReadInput(char* buf, int maxSize, int wanted);
  int ReadSource(char* buf, int maxSize, int wanted);
  int InflateInto(char* buf, int maxSize, int wanted);
  bool StartNextMember(int delivered);
  int TakeInflated(char* buf, int maxSize, int wanted);
  void InputError(const char* message);
  int ReadFailed(int delivered);
  bool EndAfterReadError();

  // Buffer primitives over the generated scanner's state.
  void EnsureBuffer();
  void CreateFirstBuffer();
  int FirstBufferSize() const;
  void ReleaseHeldChar();
  void HoldNextChar();
  size_t UnreadBytes() const;
  size_t BufferOffset(const char* p) const;
  bool RefillBuffer();
  int ReadByte();
  void PushBack(const char* bytes, size_t n);
  void MakeRoomInFront(size_t n);
  char* DataEnd() const;
  bool ReadMoreOfToken(char** tokenStart);
  bool ReadBigEndian(unsigned width, uint32_t* value);
  bool SkipInput(uint64_t n);
  int ReadString(size_t length);
  int EndInsideArray();
  void ClearPendingArrays();
  bool DropToken(int token);

  RibSource* source_;
  std::string streamName_;
  int64_t line_ = 1;
  int32_t intValue_ = 0;
  mutable double floatValue_ = 0.0;
  // The text of the last Float token while it is not converted yet.
  mutable size_t floatTextLength_ = 0;
  char floatText_[40];
  std::string stringValue_;
  // A String from the table shares the table's copy: bringing back a long
  // string costs nothing however often it is done. Null: stringValue_.
  std::shared_ptr<const std::string> storedValue_;
  std::vector<std::shared_ptr<const std::string>> definedStrings_;
  uint32_t requestTable_[256] = {};
  bool floatArrayPending_ = false;
  bool doubleArrayPending_ = false;
  bool intArrayPending_ = false;
  uint32_t floatArrayCount_ = 0;
  uint32_t doubleArrayCount_ = 0;
  uint32_t intArrayCount_ = 0;
  uint32_t intArrayWidth_ = 0;

  // Recovery state: skipping silences bad words and bytes; a binary error
  // met while recovering turns the recovery into a skip to the next call,
  // so nested errors never nest calls.
  bool skipping_ = false;
  bool skipToCall_ = false;
  // Definitions read their string through yylex; this bounds the nesting.
  int definitionDepth_ = 0;
  // Bytes the input has delivered, and bytes request names have put back
  // into it: the second is bounded by the first.
  uint64_t inputBytes_ = 0;
  uint64_t inputReads_ = 0;
  uint64_t pushedBackBytes_ = 0;
  // Quotes between these distances from the end of the buffer's data are
  // known to close no string (0 and 0: none).
  size_t unclosedFromEnd_ = 0;
  size_t unclosedToEnd_ = 0;

  bool inputSniffed_ = false;
  bool memberEnded_ = false;     // gzip: a member ended, next not looked for
  bool inputFinished_ = false;   // gzip: last member ended
  bool inputFailed_ = false;     // gzip: corrupt or cut short
  bool readErrorPending_ = false;
  unsigned char* inflateInput_ = nullptr;
  z_stream_s* inflater_ = nullptr;
  // Inflating ahead: the thread owns the input state above until it ends,
  // and the input's messages are kept for the scanner to say.
  std::unique_ptr<RibInflateAhead> inflateAhead_;
  bool deferErrors_ = false;
  const char* deferredError_ = nullptr;

  RibCommentCallback commentCallback_;
  RibErrorCallback errorCallback_;
  void* user_;
};

#endif
