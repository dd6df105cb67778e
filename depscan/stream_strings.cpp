#include "stream_strings.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "rib_keywords.h"
#include "rib_token.h"

bool RequestRoles::Take(Token token, int code, const std::string& text) {
  switch (state_) {
    case State::Idle:
      if (token == Token::Request) StartRequest(code);
      return false;
    case State::Handle:  // a token of another kind abandons the request
      state_ = token == Token::String ? State::Name : State::Idle;
      return false;
    case State::HandleBeforeTime:
      state_ = token == Token::String ? State::Time : State::Idle;
      return false;
    case State::Time:
      state_ = State::Name;
      return false;
    case State::Name:
      if (token != Token::String) {  // the list ends; the token is the next request's
        state_ = State::Idle;
        return Take(token, code, text);
      }
      typeParameter_ = text == "type";
      state_ = State::TypeDeclaration;
      return false;
    case State::TypeDeclaration:
      state_ = token == Token::String ? State::Count : State::Idle;
      return false;
    case State::Count:
      state_ = State::Value;
      return false;
    case State::Value:
      state_ = token == Token::ArrayBegin ? State::Array : State::Name;
      return token == Token::String && IsFileValue();
    case State::Array:
      if (token == Token::ArrayEnd) state_ = State::Name;
      return token == Token::String && IsFileValue();
  }
  return false;
}

void RequestRoles::StartRequest(int code) {
  evaluate_ = code == RibToken::Evaluate;
  if (code == RibToken::SetAttribute) state_ = State::Handle;
  if (code == RibToken::SetAttributeAtTime) state_ = State::HandleBeforeTime;
  if (code == RibToken::Evaluate) state_ = State::Name;
}

std::string DecodedString(const std::string& raw) {
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c != '\\' || i + 1 == raw.size()) {
      text += c;
      continue;
    }
    char next = raw[++i];
    switch (next) {
      case '\n': break;
      case '\r': if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i; break;
      case 'n': text += '\n'; break;
      case 'r': text += '\r'; break;
      case 't': text += '\t'; break;
      case 'b': text += '\b'; break;
      case 'f': text += '\f'; break;
      default:
        if (next >= '0' && next <= '7') {
          int value = next - '0';
          for (int digits = 1; digits < 3 && i + 1 < raw.size() && raw[i + 1] >= '0' &&
                               raw[i + 1] <= '7'; ++digits)
            value = value * 8 + (raw[++i] - '0');
          text += char(value & 0xFF);
        } else {
          text += next;
        }
    }
  }
  return text;
}

namespace {

bool IsLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsNumberByte(int c) {
  return IsDigit(c) || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
}

size_t DigitsFrom(std::string_view text, size_t at) {
  size_t end = at;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return end;
}

// The length of the number that text begins with, as the reader's longest
// match takes it (an integer, or a float with a fraction or an exponent); 0
// when the first byte starts none.
size_t NumberLength(std::string_view text) {
  size_t i = text[0] == '+' || text[0] == '-' ? 1 : 0;
  size_t integerEnd = DigitsFrom(text, i);
  bool integerDigits = integerEnd > i;
  size_t length = integerDigits ? integerEnd : 0;
  size_t exponentAt = integerEnd;
  if (integerEnd < text.size() && text[integerEnd] == '.') {
    size_t fractionEnd = DigitsFrom(text, integerEnd + 1);
    bool fractionDigits = fractionEnd > integerEnd + 1;
    if (!integerDigits && !fractionDigits) return 0;
    length = fractionEnd;
    if (!fractionDigits) return length;  // "1." takes no exponent
    exponentAt = fractionEnd;
  } else if (!integerDigits) {
    return 0;
  }
  if (exponentAt < text.size() && (text[exponentAt] == 'e' || text[exponentAt] == 'E')) {
    size_t digitsAt = exponentAt + 1;
    if (digitsAt < text.size() && (text[digitsAt] == '+' || text[digitsAt] == '-')) ++digitsAt;
    size_t exponentEnd = DigitsFrom(text, digitsAt);
    if (exponentEnd > digitsAt) length = exponentEnd;
  }
  return length;
}

// What a byte outside tokens starts.
enum ByteClass : unsigned char { kPlain, kComment, kQuote, kLetter, kNumber, kOpen, kClose };

struct ByteClasses {
  unsigned char of[256];
  ByteClasses() {
    for (int c = 0; c < 256; ++c)
      of[c] = IsLetter(c) ? kLetter : IsDigit(c) || c == '+' || c == '-' || c == '.' ? kNumber
                                                                                       : kPlain;
    of[int('#')] = kComment;
    of[int('"')] = kQuote;
    of[int('[')] = kOpen;
    of[int(']')] = kClose;
  }
};
const ByteClasses kClasses;

// Reads the input in large blocks and writes every stretch that stays as it
// was in one piece; only the quoted strings go through the sink. Bytes from
// the start of the token being read stay in the buffer, which grows for a
// token longer than itself, so that a token can be read again from its
// start (a stray quote's bytes, a number's tail).
class StreamCopier {
 public:
  StreamCopier(FILE* in, FILE* out, StringSink& sink)
      : in_(in), out_(out), sink_(sink), buffer_(kBlock) {}

  void Run() {
    while (Available()) {
      keep_ = pos_;
      unsigned char c = byte(pos_);
      switch (kClasses.of[c]) {
        case kPlain: SkipPlain(); break;
        case kComment: ++pos_; CopyComment(); break;
        case kQuote: ++pos_; CopyString(); break;
        case kLetter: CopyWord(); break;
        case kNumber: CopyNumber(); break;
        case kOpen: ++pos_; roles_.Take(RequestRoles::Token::ArrayBegin); break;
        case kClose: ++pos_; roles_.Take(RequestRoles::Token::ArrayEnd); break;
      }
    }
    Emit(end_);
  }

 private:
  static constexpr size_t kBlock = 1 << 18;

  unsigned char byte(size_t at) const { return static_cast<unsigned char>(buffer_[at]); }

  // True when a byte is at pos_, reading the next block when needed.
  bool Available() { return pos_ < end_ || Fill(); }

  bool Fill() {
    if (atEnd_) return false;
    Emit(holding_ ? holdFrom_ : pos_);
    // Everything before keep_ is written and read: drop it.
    if (keep_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + keep_, end_ - keep_);
      end_ -= keep_;
      pos_ -= keep_;
      written_ -= keep_;
      holdFrom_ -= holding_ ? keep_ : 0;
      keep_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    size_t n = fread_unlocked(buffer_.data() + end_, 1, buffer_.size() - end_, in_);
    if (n == 0) atEnd_ = true;
    end_ += n;
    return n > 0;
  }

  // Writes the bytes up to `until` that are not written yet, as they were.
  void Emit(size_t until) {
    // The output is this copy's own: no other thread writes to it.
    if (until > written_) fwrite_unlocked(buffer_.data() + written_, 1, until - written_, out_);
    written_ = until;
  }

  void SkipPlain() {
    do ++pos_;
    while (pos_ < end_ && kClasses.of[byte(pos_)] == kPlain);
  }

  // A comment ends at a line end (CR LF as one), a NUL or the end.
  void CopyComment() {
    for (keep_ = pos_; Available(); keep_ = pos_) {
      unsigned char c = byte(pos_++);
      if (c == '\n' || c == '\0') return;
      if (c != '\r') continue;
      if (Available() && byte(pos_) == '\n') ++pos_;
      return;
    }
  }

  void CopyString() {
    keep_ = holdFrom_ = pos_;  // the first byte after the quote
    holding_ = true;
    while (Available()) {
      unsigned char c = byte(pos_);
      if (c == '"') {
        Emit(holdFrom_);
        holding_ = false;
        raw_.assign(buffer_.data() + holdFrom_, pos_ - holdFrom_);
        bool fileName = roles_.Take(RequestRoles::Token::String, 0,
                                    roles_.TakesText() ? DecodedString(raw_) : std::string());
        sink_.WriteString(raw_, fileName, out_);
        written_ = pos_;  // the closing quote is written with what follows
        ++pos_;
        return;
      }
      if (c == '\0') {  // no string: the quote was a stray byte, read on after it
        holding_ = false;
        pos_ = holdFrom_;
        return;
      }
      ++pos_;
      if (c == '\\' && Available()) ++pos_;
    }
    holding_ = false;  // open at the end: written as it was
  }

  void CopyWord() {
    do ++pos_;
    while (Available() && IsLetter(byte(pos_)));
    std::string_view word(buffer_.data() + keep_, pos_ - keep_);
    if (int code = RibRequestCode(word)) {
      roles_.Take(RequestRoles::Token::Request, code);
    } else if (word == "nan" || word == "inf") {
      roles_.Take(RequestRoles::Token::Number);
    }  // any other word is dropped by the reader, and so here
  }

  void CopyNumber() {
    bool minus = byte(pos_) == '-';
    size_t end = pos_ + 1;
    // The bytes that may belong to the number; the reader's longest match
    // takes what NumberLength says, and the rest is read again.
    for (;;) {
      if (end == end_) {
        pos_ = end;
        if (!Fill()) break;
        end = pos_;
      }
      unsigned char c = byte(end);
      if (!(IsNumberByte(c) || (minus && end - keep_ < 4 && IsLetter(c)))) break;
      ++end;
    }
    std::string_view text(buffer_.data() + keep_, end - keep_);
    size_t length = text.compare(0, 4, "-inf") == 0 ? 4 : NumberLength(text);
    // A byte that starts no number is dropped by the reader, as here.
    pos_ = keep_ + (length ? length : 1);
    if (length) roles_.Take(RequestRoles::Token::Number);
  }

  FILE* in_;
  FILE* out_;
  StringSink& sink_;
  RequestRoles roles_;
  std::vector<char> buffer_;
  size_t pos_ = 0;      // the next byte to read
  size_t end_ = 0;      // the end of what was read
  size_t written_ = 0;  // the first byte not written yet
  size_t keep_ = 0;     // the first byte still needed
  bool holding_ = false;  // in a string, whose bytes from holdFrom_ wait for the sink
  size_t holdFrom_ = 0;
  bool atEnd_ = false;
  std::string raw_;
};

}  // namespace

void CopyStreamStrings(FILE* in, FILE* out, StringSink& sink) {
  StreamCopier(in, out, sink).Run();
}
