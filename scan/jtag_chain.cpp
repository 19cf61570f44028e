#include "jtag_chain.h"

#include "platform.h"
#include "usbwire.h"

namespace {

// The handle the chain's variable holds now; null when there is no channel (nothing is then done on
// the bus).
void* CurrentHandle(const _JTAGCHAIN& chain)
{
    return chain.handle != nullptr ? *chain.handle : nullptr;
}

uint8_t AddressByte(const _JTAGCHAIN& chain)
{
    return static_cast<uint8_t>(chain.address & 0xFF);
}

// A device the chain cannot handle, or a failed adapter call: every TAP to Test-Logic-Reset, no
// update. Returns false, the result of the abandoned scan.
bool AbortScan(void* handle, const _JTAGCHAIN& chain)
{
    JTAG_Addr(handle, AddressByte(chain));
    JTAG_Tms(handle, TMS_TEST_LOGIC_RESET, TMS_TEST_LOGIC_RESET_BITS);
    return false;
}

int DataMode(const CJtagStream& device)
{
    return device.m_Family == JTAG_FAMILY_IR4 ? 1 : 0;
}

}  // namespace

bool ScanIR(const _JTAGCHAIN& chain)
{
    void* handle = CurrentHandle(chain);
    if (handle == nullptr)
        return false;
    if (chain.first == nullptr)
        return true;
    if (!JTAG_Addr(handle, AddressByte(chain)) || !JTAG_Tms(handle, TMS_IDLE_TO_SHIFT_IR, TMS_IDLE_TO_SHIFT_IR_BITS))
        return AbortScan(handle, chain);
    for (CJtagStream* device = chain.first; device != nullptr; device = device->m_Next) {
        const int length = device->IrLength();
        if (length == 0)
            return AbortScan(handle, chain);
        // Instructions go LSB first whatever the family.
        const auto instruction = static_cast<uint8_t>(device->m_Instruction & 0xFF);
        if (!JTAG_Out(handle, 0, static_cast<unsigned>(length), &instruction, nullptr, device->m_Next == nullptr ? 1 : 0))
            return AbortScan(handle, chain);
    }
    return JTAG_Tms(handle, TMS_EXIT1_TO_IDLE, TMS_EXIT1_TO_IDLE_BITS) != 0;
}

bool ScanDR(const _JTAGCHAIN& chain)
{
    void* handle = CurrentHandle(chain);
    if (handle == nullptr)
        return false;
    if (chain.first == nullptr)
        return true;
    if (!JTAG_Addr(handle, AddressByte(chain)) || !JTAG_Tms(handle, TMS_IDLE_TO_SHIFT_DR, TMS_IDLE_TO_SHIFT_DR_BITS))
        return AbortScan(handle, chain);

    // Capture pass: zeros in, every register's captured value out.
    for (CJtagStream* device = chain.first; device != nullptr; device = device->m_Next) {
        if (!device->IsScannable())
            return AbortScan(handle, chain);
        if (!JTAG_Out(handle, DataMode(*device), device->m_Length, nullptr, device->m_Capture, 0))
            return AbortScan(handle, chain);
    }

    // Update pass: the chain now holds exactly its length of zeros, so these bits land in place.
    for (CJtagStream* device = chain.first; device != nullptr; device = device->m_Next) {
        const uint32_t bytes = device->ByteCount();
        for (uint32_t i = 0; i < bytes; ++i)
            device->m_Shift[i] =
                static_cast<uint8_t>((device->m_Shift[i] & device->m_Mask[i]) | (~device->m_Mask[i] & device->m_Capture[i]));
        if (!JTAG_Out(handle, DataMode(*device), device->m_Length, device->m_Shift, nullptr, device->m_Next == nullptr ? 1 : 0))
            return AbortScan(handle, chain);
        for (uint32_t i = 0; i < bytes; ++i)
            device->m_Shift[i] = device->m_Capture[i];
    }
    return JTAG_Tms(handle, TMS_EXIT1_TO_IDLE, TMS_EXIT1_TO_IDLE_BITS) != 0;
}

void ReadIdCodes(std::vector<uint32_t>& ids, const _JTAGCHAIN& chain)
{
    ids.clear();
    void* handle = CurrentHandle(chain);
    if (handle == nullptr)
        return;
    JTAG_Addr(handle, AddressByte(chain));
    JTAG_Tms(handle, TMS_TEST_LOGIC_RESET, TMS_TEST_LOGIC_RESET_BITS);
    JTAG_Tms(handle, TMS_IDLE_TO_SHIFT_DR, TMS_IDLE_TO_SHIFT_DR_BITS);
    while (ids.size() < kMaxIdCodes) {
        uint8_t bytes[4] = {0, 0, 0, 0};
        JTAG_Out(handle, 0, 32, nullptr, bytes, 0);
        const uint32_t code = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                              (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
        // Past the last device the chain returns what went in (zeros), or ones from an open TDO.
        if (code == 0 || code == 0xFFFFFFFFu)
            break;
        ids.push_back(code);
    }
    JTAG_Tms(handle, TMS_TEST_LOGIC_RESET, TMS_TEST_LOGIC_RESET_BITS);
}

bool OpenJtag(void*& handle)
{
    CloseJtag(handle);
    handle = JTAG_Open(kJtagDescription);
    if (handle == nullptr) {
        platform::MessageBox(platform::Format("Error Open Device: %s", kJtagDescription), platform::BoxIcon::Error);
        return false;
    }
    return true;
}

void CloseJtag(void*& handle)
{
    if (handle != nullptr)
        JTAG_Close(handle);
    handle = nullptr;
}
