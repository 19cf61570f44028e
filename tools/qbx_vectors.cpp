// qbx-vectors BOARD.json [--board N] [-o FILE]: writes interconnection test vectors for the nets
// of a board of a simulator board file (see net_vectors.h for the code and why it finds every
// single open, stuck net and short).
#include <cstdio>
#include <string>
#include <vector>

#include "net_vectors.h"
#include "platform.h"

int main(int argc, char** argv)
{
    platform::UseBinaryStdio();
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunQbxVectors(args, stdout, stderr);
}
