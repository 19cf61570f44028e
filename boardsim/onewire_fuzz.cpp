// Arbitrary board-file entries: the parser either builds a device or names the fault, never
// crashes; a device it builds then takes arbitrary resets and slots.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "onewire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The first half is the JSON text, the second half drives the bus.
    const size_t half = size / 2;
    const auto entry = nlohmann::json::parse(data, data + half, nullptr, false);
    if (entry.is_discarded())
        return 0;
    std::string error;
    auto device = qbxsim::ParseOneWireDevice(entry, &error);
    if (!device) {
        if (error.empty())
            std::abort();   // a refusal must say why
        return 0;
    }
    qbxsim::OneWireBus bus;
    bus.SetDevices({device.get()});
    bus.SetPowered(true);
    for (size_t i = half; i < size; ++i) {
        switch (data[i] & 3) {
        case 0: bus.Reset(); break;
        case 1: bus.SetStrongPullup((data[i] & 4) != 0); break;
        default: bus.Slot((data[i] & 4) != 0); break;
        }
    }
    return 0;
}
