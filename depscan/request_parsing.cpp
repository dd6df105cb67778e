// The request loop: picks SetAttribute, SetAttributeAtTime and Evaluate out
// of the token stream and hands every string value of their parameter lists
// to the classification.
#include "dependency_tracker.h"
#include "relative_path.h"
#include "rib_syntax_error.h"

namespace {

const std::string& StringTokenText(const RibScanner& scanner) { return scanner.stringValue(); }

// Runs action for the value token when it is a string, or for every string
// of the array it opens; any other value is dropped. A missing "]" ends the
// array at the end of the stream.
template <typename Action>
void ForEachStringValue(DependencyTracker& tracker, uint32_t value, Action action) {
  if (value == RibToken::String) {
    action();
  } else if (value == RibToken::ArrayBegin) {
    for (uint32_t t = tracker.NextToken(); t != RibToken::ArrayEnd && t != RibToken::End;
         t = tracker.NextToken()) {
      if (t == RibToken::String) action();
    }
  }
}

}  // namespace

uint32_t DependencyTracker::NextToken() {
  if (pendingToken != 0) {
    uint32_t token = pendingToken;
    pendingToken = 0;
    return token;
  }
  return static_cast<uint32_t>(currentScanner->NextToken());
}

uint32_t DependencyTracker::PeekToken() {
  if (pendingToken == 0) pendingToken = static_cast<uint32_t>(currentScanner->NextToken());
  return pendingToken;
}

void DependencyTracker::ScanRequests() {
  for (;;) {
    uint32_t token = NextToken();
    try {
      switch (token) {
        case RibToken::End: return;
        case RibToken::SetAttribute: HandleSetAttribute(); break;
        case RibToken::SetAttributeAtTime: HandleSetAttributeAtTime(); break;
        case RibToken::Evaluate: HandleEvaluate(); break;
        default: break;  // other requests and their arguments
      }
    } catch (const RibSyntaxError&) {
      // The request is dropped; what it recorded so far stays.
    }
  }
}

const std::string& DependencyTracker::ReadString() {
  if (NextToken() != RibToken::String) throw RibSyntaxError{RibSyntaxError::kStringExpected};
  return StringTokenText(*currentScanner);
}

void DependencyTracker::HandleSetAttribute() {
  ReadString();  // node handle
  ParseParameterList(false);
}

void DependencyTracker::HandleSetAttributeAtTime() {
  ReadString();  // node handle
  NextToken();   // time
  ParseParameterList(false);
}

void DependencyTracker::HandleEvaluate() { ParseParameterList(true); }

void DependencyTracker::ParseParameterList(bool evaluate) {
  evaluateMode = evaluate;
  evaluateFileName.clear();
  evaluateFileNameString.reset();
  evaluateType.clear();
  while (PeekToken() == RibToken::String) {
    // Only the few names of the classification matter: a long one is
    // copied no further than any of them, whatever its length.
    std::string parameterName(ReadString(), 0, kZpMaxPathLength);
    ReadString();  // type declaration
    NextToken();   // count
    ForEachStringValue(*this, NextToken(), [&] { HandleParameter(parameterName); });
  }
  if (!evaluate || evaluateType.empty()) return;
  // Without a file name there is nothing to look for: an empty name would
  // also hide every other entry of its table from the sorted listing.
  if (evaluateFileName.empty()) return;
  // A long table string named as this kind before is recorded already.
  bool stream = evaluateType == "vrxstream";
  if (ClassifiedBefore(evaluateFileNameString, stream ? kAsStream : kAsProcedural)) return;
  // Copies, since a nested stream's own parameter lists reuse the members.
  std::string fileName = evaluateFileName;
  if (stream) {
    AddNestedStream(fileName);
  } else {
    AddProcedural(fileName);
  }
}

void DependencyTracker::HandleParameter(const std::string& parameterName) {
  // Compared as views, which the compiler reduces to a length test and a
  // memcmp; this runs for every string value.
  std::string_view name = parameterName;
  // A value longer than any path names no file, and is passed over before
  // it is hashed: a string-table reference brings back a long string for
  // two bytes of input, and classifying it would cost its whole length at
  // every reference.
  const std::string& text = StringTokenText(*currentScanner);
  bool mayBeAPath = text.size() <= kZpMaxPathLength;
  if (evaluateMode && name == "filename") {
    if (!mayBeAPath) {
      evaluateFileName.clear();
      return;
    }
    std::string_view value = ExpandedTokenView();
    evaluateFileName = value;
    evaluateFileNameString = currentScanner->storedString();
    if (!ClassifiedBefore(kAsTexture)) AddImage(value, true, true);
  } else if (evaluateMode && name == "type") {
    // Cut like a name: a type that long is no "vrxstream" either way.
    evaluateType.assign(text, 0, kZpMaxPathLength);
  } else if (!mayBeAPath) {
    return;
  } else if (name == "shaderfilename") {
    if (!ClassifiedBefore(kAsShader)) AddShader(std::string(ExpandedTokenView()));
  } else if (name == "imagefilename") {
    if (!ClassifiedBefore(kAsOutput)) AddImage(ExpandedTokenView(), false, true);
  } else if (!ClassifiedBefore(kAsTexture)) {
    AddImage(ExpandedTokenView(), true, true);
  }
}

bool DependencyTracker::ClassifiedBefore(uint8_t way) {
  return ClassifiedBefore(currentScanner->storedString(), way);
}

bool DependencyTracker::ClassifiedBefore(const std::shared_ptr<const std::string>& stored,
                                         uint8_t way) {
  if (!stored || stored->size() < kLongTableString) return false;
  ClassifiedTableString& entry = classifiedTableStrings[stored.get()];
  if (entry.ways & way) return true;
  entry.text = stored;
  entry.ways |= way;
  return false;
}

std::string DependencyTracker::ExpandedTokenText() { return std::string(ExpandedTokenView()); }

// Every value is classified each time it comes: the tables are sets, and the
// tracker's memory of the disk makes a repeated value cheap. A text without
// "$" is expanded on the spot (absolute as it stands, else against the
// working directory), so that the path variables keep only the texts that
// variables expand, not a copy of every distinct value of the stream. The
// text ends at its first NUL, as it does for the path variables.
//
// The expansion is recorded in its lexically normal form: "/shot/./tex/a.tif"
// (a stream named "shot.rib" read from /shot), "/shot/tex//a.tif" and
// "/shot/seq/../tex/a.tif" are one file, and must be one name in the
// listing, the conflict report and the package.
std::string_view DependencyTracker::ExpandedTokenView() {
  const char* path = StringTokenText(*currentScanner).c_str();
  std::string_view expanded;
  if (ZpPathVariables::ExpandsToItself(path)) {
    expanded = path;
  } else if (const char* plain = PathVariables().ExpandWithoutVariables(path, &expansion)) {
    expanded = plain;
  } else {
    PathVariables().ResolveInPlace(&path);
    expanded = path;
  }
  if (IsLexicallyNormal(expanded)) return expanded;
  normalSpelling = RecordedSpelling(expanded);
  return normalSpelling;
}

void DependencyTracker::ReadImageArgument(bool texture) {
  AddImage(ReadString(), texture, false);
}

uint32_t DependencyTracker::ScanStringParameters() {
  while (PeekToken() == RibToken::String) {
    NextToken();  // parameter name
    ForEachStringValue(*this, NextToken(),
                       [&] { AddImage(StringTokenText(*currentScanner), true, true); });
  }
  return PeekToken();
}

void DependencyTracker::SkipArrays(int n) {
  for (int i = 0; i < n; ++i) {
    uint32_t token = NextToken();
    if (token == RibToken::End) return;
    if (token != RibToken::ArrayBegin) continue;
    do {
      token = NextToken();
      if (token == RibToken::End) return;
    } while (token != RibToken::ArrayEnd);
  }
}
