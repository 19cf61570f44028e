// qbx-inspect bsdl FILE: the pin table and the two images as the station reads them.
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

}  // namespace

int InspectBsdl(const std::vector<std::string>& args, FILE* out, FILE* err)
{
    if (args.size() != 1) {
        std::fprintf(err, "usage: %s\n", kInspectBsdlUsage);
        return 2;
    }
    const std::string& path = args[0];
    _BSDLDATA data;
    std::string why;
    if (!ReadBsdl(path.c_str(), data, &why)) {
        std::fprintf(err, "qbx-inspect: cannot read BSDL file %s: %s\n", path.c_str(),
                     why.empty() ? "no such file" : why.c_str());
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
