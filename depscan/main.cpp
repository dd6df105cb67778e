#include <malloc.h>

#include "program_flow.h"

int main(int argc, char** argv) {
  // The tables keep hundreds of thousands of small blocks until the clean-up
  // frees them all. Large blocks (bucket arrays, listings) of their own
  // mapping are returned without a pass over the heap, and small ones of
  // every size the tables use go to fast bins; so freeing a table costs a
  // push per entry, not a merge with its neighbours at random addresses.
  mallopt(M_MMAP_THRESHOLD, 64 * 1024);
  mallopt(M_MXFAST, 80 * sizeof(size_t) / 4);
  return RunTracwell(argc, argv);
}
