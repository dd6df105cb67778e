// Line-by-line reading of the small text files under /proc.
#pragma once

#include <cstdio>

// Reads the next line into `line` (at most size - 1 bytes and a NUL). The rest
// of a line longer than that is skipped, so that its tail is never taken for a
// line of its own. False at the end of the file.
bool ZpReadLine(FILE* file, char* line, int size);
