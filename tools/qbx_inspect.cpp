// qbx-inspect: shows how the station reads its input files and patterns.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "inspect.h"
#include "platform.h"

namespace {

struct Subcommand {
    const char* name;
    int (*run)(const std::vector<std::string>& args, FILE* out, FILE* err);
    const char* const* usage;
};

const Subcommand kSubcommands[] = {
    {"bsdl", InspectBsdl, &kInspectBsdlUsage},
    {"match", InspectMatch, &kInspectMatchUsage},
    {"vectors", InspectVectors, &kInspectVectorsUsage},
};

void PrintUsage(FILE* err)
{
    std::fprintf(err, "usage:\n");
    for (const Subcommand& s : kSubcommands)
        std::fprintf(err, "  %s\n", *s.usage);
}

}  // namespace

int main(int argc, char** argv)
{
    platform::UseBinaryStdio();
    if (argc < 2) {
        PrintUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(stdout);
        return 0;
    }
    for (const Subcommand& s : kSubcommands) {
        if (std::strcmp(argv[1], s.name) == 0) {
            std::vector<std::string> args(argv + 2, argv + argc);
            int status = s.run(args, stdout, stderr);
            if (std::fflush(stdout) != 0 && status == 0) {
                std::fprintf(stderr, "qbx-inspect: cannot write the output\n");
                return 1;
            }
            return status;
        }
    }
    std::fprintf(stderr, "qbx-inspect: unknown subcommand '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
