// vendrak-vbf: shows, verifies, makes and unpacks VBF flash files.
#include <cstdio>

#include "vbf/cli.h"

int main(int argc, char** argv) { return vendrak::vbf_tool::vbf_main(argc, argv, stdout, stderr); }
