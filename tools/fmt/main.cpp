// vendrak-fmt: lays scripts out in the one canonical way.
#include <cstdio>

#include "fmt/cli.h"

int main(int argc, char** argv) { return vendrak::fmt::fmt_main(argc, argv, stdin, stdout, stderr); }
