// Fuzz target of the vector file reader: every input is written to a file and read by Load.
// Beyond "no crash, no hang", it checks that the two lists stay parallel to the pin lines handed
// to AddPinVector, that a digest is always produced, and that warnings and reasons agree with the
// result. Seeds: fuzz_seeds/ (files a station must refuse or warn about, and one it takes).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "vectors.h"

namespace {

class CCountingVectors : public CBsrVectors {
public:
    int AddPinVector(const std::string& group, int section, int, const std::string& pin,
                     const std::string& bits) override
    {
        if (group.size() < 2 || (section != SECTION_SENSOR && section != SECTION_DRIVE) || pin.empty() ||
            bits.empty() || bits.find_first_not_of("01") != std::string::npos)
            std::abort();
        ++m_Calls;
        return bits.size() % 7 != 0;  // refuse some lines, so that both outcomes are exercised
    }
    size_t m_Calls = 0;
};

// One in-memory file for the whole run, reached by path through /proc.
class CInputFile {
public:
    CInputFile()
    {
        m_Fd = memfd_create("qbx-vectors-fuzz", 0);
        if (m_Fd < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        m_Path = "/proc/self/fd/" + std::to_string(m_Fd);
    }
    ~CInputFile() { close(m_Fd); }

    const char* Put(const uint8_t* data, size_t size)
    {
        if (ftruncate(m_Fd, 0) != 0 || pwrite(m_Fd, data, size, 0) != static_cast<ssize_t>(size))
            std::abort();
        return m_Path.c_str();
    }

private:
    int m_Fd = -1;
    std::string m_Path;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CInputFile input;
    CCountingVectors reader;
    const int result = reader.Load(input.Put(data, size));
    if (reader.m_PinNames.size() != reader.m_Calls || reader.m_DeviceNumbers.size() != reader.m_Calls)
        std::abort();
    if (reader.m_VectorsDigest.size() != HASH_HEX_LENGTH)
        std::abort();
    if (result != 0 && result != 1)
        std::abort();
    // A file taken has no reason against it; warnings name lines of the file, in order.
    if (result == 1 && !reader.m_LoadError.empty())
        std::abort();
    for (size_t i = 0; i < reader.m_Warnings.size(); ++i) {
        if (reader.m_Warnings[i].line == 0 || (i > 0 && reader.m_Warnings[i].line < reader.m_Warnings[i - 1].line))
            std::abort();
    }
    return 0;
}
