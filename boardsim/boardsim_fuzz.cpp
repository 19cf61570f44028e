// Fuzz target for the adapter side's inputs: an odd first byte sends the rest as MPSSE command
// bytes (split in two writes) to a channel wired to a powered three-FPGA board; an even one reads
// the rest as a board file and builds the adapter from it. Neither may crash, hang or leak.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "adapter.h"
#include "board_file.h"
#include "boardsim_test_support.h"
#include "mpsse.h"
#include "test_files.h"
#include "wiring.h"

namespace {

// The folder of the board files: it holds tiny.bsd.
const qbxtest::TempDir& Folder()
{
    static const qbxtest::TempDir dir;
    static const bool written = [] {
        qbxtest::WriteFile(dir.File("tiny.bsd"), qbxsim::testing::TinyBsdlText());
        return true;
    }();
    (void)written;
    return dir;
}

void RunCommands(const uint8_t* data, size_t size)
{
    auto layout = qbxsim::testing::TinyLayout();
    if (!layout)
        return;
    qbxsim::_SIMBOARDSPEC spec;
    spec.idcodes = {0x3E74E1CF, std::nullopt, 0x1};
    spec.nets = {{{0, 1}, {1, 0}, {2, 2}}};
    spec.shorts = {{{0, 3}, {2, 3}}};
    std::vector<std::unique_ptr<qbxsim::OneWireDevice>> wire;
    wire.push_back(std::make_unique<qbxsim::testing::ConductingSwitch>());
    std::vector<std::unique_ptr<qbxsim::CSimBoard>> boards;
    boards.push_back(std::make_unique<qbxsim::CSimBoard>(spec, layout, std::move(wire)));
    qbxsim::OneWireBus bus;
    qbxsim::CSimSocket socket(std::move(boards), bus);
    socket.SetPower(true);
    qbxsim::CJtagWiring wiring(socket, bus);
    qbxsim::CMpsseEngine engine(&wiring);
    engine.SetBitMode(0, 0x02);
    std::vector<uint8_t> reply;
    size_t half = size / 2;
    engine.Write(data, half, reply);
    engine.Write(data + half, size - half, reply);
}

void RunBoardFile(const uint8_t* data, size_t size)
{
    std::string error;
    auto config = qbxsim::ParseBoardFile(std::string(reinterpret_cast<const char*>(data), size),
                                         Folder().File("board.json"), &error);
    if (config)
        qbxsim::CSimAdapter adapter(std::move(config));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 65536)
        return 0;
    if (data[0] & 1) {
        if (size <= 257)  // a few long clock commands already take a while
            RunCommands(data + 1, size - 1);
    } else {
        RunBoardFile(data + 1, size - 1);
    }
    return 0;
}

