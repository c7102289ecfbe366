// vendrak-check: checks scripts as vendrak compiles them, and writes nothing.
#include <cstdio>

#include "check/cli.h"

int main(int argc, char** argv) { return vendrak::check::check_main(argc, argv, stdout, stderr); }
