#include "program_flow.h"

int main(int argc, char** argv) { return RunTracwell(argc, argv); }
