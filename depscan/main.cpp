#include <malloc.h>

#include "program_flow.h"

int main(int argc, char** argv) {
  // The tables keep hundreds of thousands of small blocks until the clean-up
  // frees them all; without fast bins each free merges at once, instead of
  // one later pass over every freed block that walks the whole heap again.
  mallopt(M_MXFAST, 0);
  return RunTracwell(argc, argv);
}
