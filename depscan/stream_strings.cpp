#include "stream_strings.h"

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

size_t DigitsFrom(const std::string& text, size_t at) {
  size_t end = at;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return end;
}

// The length of the number that text begins with, as the reader's longest
// match takes it (an integer, or a float with a fraction or an exponent); 0
// when the first byte starts none.
size_t NumberLength(const std::string& text) {
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

class StreamCopier {
 public:
  StreamCopier(FILE* in, FILE* out, StringSink& sink) : in_(in), out_(out), sink_(sink) {}

  void Run() {
    for (int c = Get(); c != EOF; c = Get()) {
      if (c == '#') {
        Put(c);
        CopyComment();
      } else if (c == '"') {
        Put(c);
        CopyString();
      } else if (IsLetter(c)) {
        CopyWord(c);
      } else if (IsDigit(c) || c == '+' || c == '-' || c == '.') {
        CopyNumber(c);
      } else {
        Put(c);
        if (c == '[') roles_.Take(RequestRoles::Token::ArrayBegin);
        if (c == ']') roles_.Take(RequestRoles::Token::ArrayEnd);
      }
    }
  }

 private:
  int Get() {
    if (pushedBack_.empty()) return std::getc(in_);
    int c = static_cast<unsigned char>(pushedBack_.back());
    pushedBack_.pop_back();
    return c;
  }
  // Bytes read ahead that belong to later tokens, read again next.
  void Unget(const std::string& bytes) { pushedBack_.append(bytes.rbegin(), bytes.rend()); }
  void Put(int c) { std::fputc(c, out_); }
  void Put(const std::string& bytes) { std::fwrite(bytes.data(), 1, bytes.size(), out_); }

  // A comment ends at a line end (CR LF as one), a NUL or the end.
  void CopyComment() {
    for (int c = Get(); c != EOF; c = Get()) {
      Put(c);
      if (c == '\n' || c == '\0') return;
      if (c != '\r') continue;
      int after = Get();
      if (after == '\n') Put(after);
      else if (after != EOF) Unget(std::string(1, char(after)));
      return;
    }
  }

  void CopyString() {
    std::string raw;
    for (int c = Get(); c != EOF; c = Get()) {
      if (c == '"') {
        bool fileName = roles_.Take(RequestRoles::Token::String, 0, DecodedString(raw));
        sink_.WriteString(raw, fileName, out_);
        Put('"');
        return;
      }
      if (c == '\0') {  // no string: the quote was a stray byte
        Unget(raw + '\0');
        return;
      }
      raw += char(c);
      if (c != '\\') continue;
      int escaped = Get();
      if (escaped == EOF) break;
      raw += char(escaped);
    }
    Put(raw);
  }

  void CopyWord(int first) {
    std::string word(1, char(first));
    int c;
    while ((c = Get()) != EOF && IsLetter(c)) word += char(c);
    if (c != EOF) Unget(std::string(1, char(c)));
    Put(word);
    if (int code = RibRequestCode(word)) {
      roles_.Take(RequestRoles::Token::Request, code);
    } else if (word == "nan" || word == "inf") {
      roles_.Take(RequestRoles::Token::Number);
    }  // any other word is dropped by the reader, and so here
  }

  void CopyNumber(int first) {
    std::string text(1, char(first));
    int c;
    while ((c = Get()) != EOF && (IsNumberByte(c) || (first == '-' && text.size() < 4 &&
                                                      IsLetter(c))))
      text += char(c);
    if (c != EOF) text += char(c);
    size_t length = text.compare(0, 4, "-inf") == 0 ? 4 : NumberLength(text);
    // A byte that starts no number is dropped by the reader, as here.
    Put(text.substr(0, length ? length : 1));
    Unget(text.substr(length ? length : 1));
    if (length) roles_.Take(RequestRoles::Token::Number);
  }

  FILE* in_;
  FILE* out_;
  StringSink& sink_;
  RequestRoles roles_;
  std::string pushedBack_;  // last byte first
};

}  // namespace

void CopyStreamStrings(FILE* in, FILE* out, StringSink& sink) {
  StreamCopier(in, out, sink).Run();
}
