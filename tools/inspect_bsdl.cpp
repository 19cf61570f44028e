// qbx-inspect bsdl FILE: the pin table and the two images as the station reads them.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bsdl.h"
#include "inspect.h"

const char* const kInspectBsdlUsage = "qbx-inspect bsdl FILE";

namespace {

const char* DirectionName(int dir)
{
    switch (dir) {
    case 0:
        return "in";
    case 1:
        return "out";
    case 2:
        return "inout";
    default:
        return "?";
    }
}

void PrintImage(FILE* out, const char* label, const std::vector<uint8_t>& image)
{
    std::fprintf(out, "%s ", label);
    for (uint8_t byte : image)
        std::fprintf(out, "%02X", byte);
    std::fprintf(out, "\n");
}

// Why a file could not be read, as far as can be told from outside the reader.
std::string ReadFailure(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return "cannot open it (no such file or no access)";
    if (S_ISDIR(st.st_mode))
        return "it is a folder";
    if (S_ISREG(st.st_mode) && st.st_size > kMaxBsdlFileSize)
        return "it is larger than 64 MiB";
    return "cannot read it in full";
}

}  // namespace

int InspectBsdl(const std::vector<std::string>& args, FILE* out, FILE* err)
{
    if (args.size() != 1) {
        std::fprintf(err, "usage: %s\n", kInspectBsdlUsage);
        return 2;
    }
    const std::string& path = args[0];
    _BSDLDATA data;
    if (!ReadBsdl(path.c_str(), data)) {
        std::fprintf(err, "qbx-inspect: cannot read BSDL file %s: %s\n", path.c_str(), ReadFailure(path).c_str());
        return 1;
    }
    for (const _PINDESC& pin : data.pins) {
        std::fprintf(out, "port %s dir=%s pin=%s in=%d out=%d ctrl=%d safe=%d disable=%d\n", pin.name.c_str(),
                     DirectionName(pin.dir), PinLabel(pin).c_str(), pin.inCell, pin.outCell, pin.ctrlCell, pin.safe,
                     pin.disable);
    }
    std::fprintf(out, "length %d\n", data.boundaryLength);
    PrintImage(out, "safe", data.safeBits);
    PrintImage(out, "drive", data.driveMask);
    for (const std::string& section : MissingSectionNames(data.missingSections))
        std::fprintf(out, "missing %s\n", section.c_str());
    return 0;
}
