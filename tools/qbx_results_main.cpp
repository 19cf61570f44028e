// qbx-results: see qbx_results.h.
#include "qbx_results.h"

int main(int argc, char** argv)
{
    return RunQbxResults(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr);
}
