#include "line_reader.h"

#include <cstring>

bool ZpReadLine(FILE* file, char* line, int size) {
  if (fgets(line, size, file) == nullptr) return false;
  size_t length = strlen(line);
  if (length > 0 && line[length - 1] != '\n') {
    int c;
    while ((c = getc(file)) != EOF && c != '\n') {
    }
  }
  return true;
}
