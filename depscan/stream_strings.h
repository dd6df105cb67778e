// Follows an ASCII scene stream the way the reader tokenises it,
// so that the strings of a stream can be rewritten with everything else kept
// as it was: white space, comments, numbers and keywords are copied, and each
// quoted string is handed over together with its role in the request that
// holds it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Which string tokens the tracker reads as file names: the parameter values
// of SetAttribute, SetAttributeAtTime and Evaluate (an Evaluate's "type"
// aside). Handles, parameter names, type declarations and the arguments of
// every other request are not. Follows the tracker's request loop token for
// token, a request abandoned on a token of the wrong kind included.
class RequestRoles {
 public:
  enum class Token { String, Number, ArrayBegin, ArrayEnd, Request };

  // Takes the next token (code: the request code of a Request token; text:
  // the bytes of a String token). True when it is a string the tracker reads
  // as a file name.
  bool Take(Token token, int code = 0, const std::string& text = std::string());
  // Whether Take looks at the text of a String token now (a parameter name,
  // "type" among them); other strings may be taken without it.
  bool TakesText() const { return state_ == State::Name; }

 private:
  enum class State { Idle, Handle, HandleBeforeTime, Time, Name, TypeDeclaration, Count, Value,
                     Array };
  void StartRequest(int code);
  bool IsFileValue() const { return !(evaluate_ && typeParameter_); }

  State state_ = State::Idle;
  bool evaluate_ = false;
  bool typeParameter_ = false;
};

// Receives the quoted strings of a stream.
class StringSink {
 public:
  virtual ~StringSink() {}
  // Writes the string whose bytes between the quotes (escapes as written)
  // are raw, quotes excluded. fileName: the tracker reads it as a file name.
  virtual void WriteString(const std::string& raw, bool fileName, FILE* out) = 0;
};

// The bytes a quoted string stands for, escapes decoded as the reader
// decodes them (without its stream-directory replacement).
std::string DecodedString(const std::string& raw);

// Copies in to out, handing every quoted string (outside comments) to sink,
// which writes it. Reads in large blocks and writes the stretches between
// strings whole. Bytes of a string still open at the end of the input are
// written as they were.
void CopyStreamStrings(FILE* in, FILE* out, StringSink& sink);
