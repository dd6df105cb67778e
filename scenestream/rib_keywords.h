#ifndef SCENESTREAM_RIB_KEYWORDS_H
#define SCENESTREAM_RIB_KEYWORDS_H

#include <string_view>

// The request keywords of the ASCII encoding, for clients that write streams
// or follow one byte by byte without the scanner.

// The keyword of a request code; null for a code without one.
const char* RibRequestKeyword(int code);

// The request code of a whole letter run; 0 when it is no keyword.
int RibRequestCode(std::string_view word);

#endif
