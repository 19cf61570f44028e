// Fuzz target: the input is the content of a BSDL file. It goes through ReadBsdl via a temporary
// file (the file-reading path) and through ReadBsdlText (the scanners), which must agree.
#include "bsdl.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// One temporary file for the whole run, removed at exit.
struct TempFile {
    std::string path;
    TempFile()
    {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir != nullptr ? dir : "/tmp") + "/qbx-bsdl-fuzz-XXXXXX";
        int fd = mkstemp(path.data());
        if (fd < 0)
            std::abort();
        close(fd);
    }
    ~TempFile() { std::remove(path.c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TempFile file;
    FILE* f = std::fopen(file.path.c_str(), "wb");
    if (f == nullptr)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);

    _BSDLDATA fromFile;
    if (ReadBsdl(file.path.c_str(), fromFile) != 1)
        std::abort();
    std::string text(reinterpret_cast<const char*>(data), size);
    _BSDLDATA fromText;
    ReadBsdlText(text.c_str(), fromText);

    size_t bytes = static_cast<size_t>((fromFile.boundaryLength - 1) / 8 + 1);
    if (fromFile.safeBits.size() != bytes || fromFile.driveMask.size() != bytes)
        std::abort();
    if (fromFile.pins.size() != fromText.pins.size() || fromFile.safeBits != fromText.safeBits ||
        fromFile.driveMask != fromText.driveMask || fromFile.missingSections != fromText.missingSections)
        std::abort();
    for (const _PINDESC& p : fromFile.pins) {
        (void)FindPin(fromFile.pins, FIND_BY_PIN, PinLabel(p).c_str());
        (void)FindPin(fromFile.pins, FIND_BY_NAME, p.name.c_str());
    }
    return 0;
}
