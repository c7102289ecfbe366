// vendrak-inspect: verifies, lists and decompiles a vendrak container.
#include <cstdio>

#include "inspect/inspect.h"

int main(int argc, char** argv) { return vendrak::inspect::inspect_main(argc, argv, stdout, stderr); }
