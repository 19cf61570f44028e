// The scripted D2XX driver of the usbwire tests (see fake_d2xx.h).
#include "fake_d2xx.h"

#include "mpsse_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace fake {

namespace {

using namespace mpsse;

enum Phase { kIdle, kAddress, kWrite, kRead, kIgnore };

// Low-byte pins: TCK/SK (SCL), TDI/DO (SDA out), TMS/CS.
constexpr uint8_t kTck = 0x01, kTdi = 0x02, kTms = 0x08;

// The one driver; the library's own code reaches it here rather than through the exported Fake().
Driver& State()
{
    static Driver driver = [] {
        Driver fresh;
        fresh.Reset();
        return fresh;
    }();
    return driver;
}

void Event(Device& d, const char* format, auto... args)
{
    char token[8];
    std::snprintf(token, sizeof token, format, args...);
    if (!State().quiet)
        d.trace += (d.trace.empty() ? "" : " ") + std::string(token);
}

// ---- the I2C slave ----------------------------------------------------------------------------

bool Sda(const Device::I2c& bus) { return bus.master && bus.slave; }

// What the slave puts on SDA for the coming clock: a bit it sends, its (scripted) acknowledge, a jam.
bool SlaveDrive(const Device::I2c& bus)
{
    const Driver& f = State();
    if (bus.phase == kRead)
        return bus.bit < 8 ? ((bus.out >> (7 - bus.bit)) & 1) != 0 : true;
    if (bus.phase != kAddress && bus.phase != kWrite)
        return true;
    if (bus.bit < 8)
        return bus.index != f.jamIndex;
    return bus.index == f.nackIndex || (bus.phase == kAddress && f.slave != static_cast<unsigned>(bus.shift >> 1));
}

// The master's new levels of SCL and SDA (true: driven high or released).
void Drive(Device& d, bool scl, bool sda)
{
    Device::I2c& bus = d.i2c;
    bool before = Sda(bus);
    bus.master = sda;
    if (bus.scl && scl) {
        if (before != Sda(bus)) {  // SDA moved while SCL was high: START when it fell, STOP when it rose
            bus = Device::I2c{true, sda, true, before ? kAddress : kIdle, 0, 0, 0xFF, 0, bus.readPosition};
            Event(d, "%s", before ? "S" : "P");
        }
    } else if (scl) {  // SCL rises: the bit on SDA counts
        bus.scl = true;
        bool level = Sda(bus);
        if (bus.phase == kIdle || bus.phase == kIgnore)
            return;
        if (bus.bit++ < 8) {
            bus.shift = static_cast<uint8_t>((bus.shift << 1) | (level ? 1 : 0));
            return;
        }
        if (bus.phase == kRead)
            Event(d, "r%02X%c", bus.out, level ? '-' : '+');
        else
            Event(d, "%02X%c", bus.shift, level ? '-' : '+');
        if (bus.phase == kAddress)
            bus.phase = (bus.shift & 1) ? kRead : kWrite;
        const std::vector<uint8_t>& data = State().readData;
        if (level)
            bus.phase = kIgnore;  // not acknowledged: the transfer is over for the slave
        else if (bus.phase == kRead)
            bus.out = bus.readPosition < data.size() ? data[bus.readPosition++] : 0xFF;
        bus.bit = 0;
        bus.shift = 0;
        ++bus.index;
    } else if (bus.scl) {  // SCL falls: the slave sets up its next bit
        bus.scl = false;
        bus.slave = SlaveDrive(bus);
    }
}

// ---- the MPSSE engine -------------------------------------------------------------------------

void Reply(Device& d, uint8_t byte)
{
    if (!State().mute)
        d.received.push_back(byte);
}

void SetPin(Device& d, uint8_t pin, bool high)
{
    d.lowValue = static_cast<uint8_t>(high ? (d.lowValue | pin) : (d.lowValue & ~pin));
}

// One TCK clock; a data shift goes through the chain, which returns TDI jtagDelay clocks later.
bool Clock(const Driver& f, Device& d, bool tdi, bool tms, bool shift = true)
{
    bool tdo = shift && tdi;
    if (shift && f.jtagDelay != 0) {
        d.delayLine.resize(f.jtagDelay, true);
        d.delayLine.push_back(tdi);
        tdo = d.delayLine.front();
        d.delayLine.pop_front();
    }
    if (!f.quiet)
        d.clocks.push_back(static_cast<uint8_t>((tdi ? 1 : 0) | (tms ? 2 : 0) | (tdo ? 4 : 0)));
    return tdo;
}

// One command: the opcode and (padded) the two bytes after it.
void Execute(Device& d, const uint8_t* c)
{
    Driver& f = State();
    const unsigned n = (c[1] & 7u) + 1;  // the bits of a bit shift
    const bool last = ((c[2] >> (n - 1)) & 1) != 0;
    unsigned read = 0;
    switch (c[0]) {
    case kSetLowByte:
        d.lowValue = c[1];
        d.lowDirection = c[2];
        Drive(d, !(d.lowDirection & kTck) || (d.lowValue & kTck), !(d.lowDirection & kTdi) || (d.lowValue & kTdi));
        break;
    case kSetHighByte: d.highValue = c[1], d.highDirection = c[2]; break;
    case kSetClockDivisor: d.divisor = static_cast<uint16_t>(c[1] | c[2] << 8); break;
    case kDisableDivideBy5: d.divideBy5 = false; break;
    case kEnableDivideBy5: d.divideBy5 = true; break;
    case kEnableAdaptive: d.adaptive = true; break;
    case kDisableAdaptive: d.adaptive = false; break;
    case kEnableThreePhase: d.threePhase = true; break;
    case kDisableThreePhase: d.threePhase = false; break;
    case kLoopbackOn: d.loopback = true; break;
    case kLoopbackOff: d.loopback = false; break;
    case kSendImmediate: break;  // replies go out at once anyway
    case kBitsOutLsb:
    case kBitsInOutLsb:
        for (unsigned i = 0; i < n; ++i)
            read |= (Clock(f, d, (c[2] >> i) & 1, d.lowValue & kTms) ? 1u : 0u) << i;
        SetPin(d, kTdi, last);
        if (c[0] == kBitsInOutLsb)  // the bits read fill the top n bits, the first one lowest
            Reply(d, static_cast<uint8_t>((read << (8 - n)) | ((1u << (8 - n)) - 1u)));
        break;
    case kBitsInOutMsbFalling:
        for (unsigned i = 0; i < n; ++i) {
            bool bit = !(d.lowDirection & kTdi) || ((c[2] >> (7 - i)) & 1);
            Drive(d, false, bit);
            Drive(d, true, bit);
            read = (read << 1) | (Sda(d.i2c) ? 1u : 0u);
            Drive(d, false, bit);
        }
        Reply(d, static_cast<uint8_t>(read | (0xFFu << n)));  // in the low n bits, the first one highest
        break;
    case kTmsBitsOut:
        for (unsigned i = 0; i < n; ++i)
            Clock(f, d, c[2] & 0x80, (c[2] >> i) & 1, false);  // bit 7 is held on TDI
        SetPin(d, kTms, last);
        SetPin(d, kTdi, c[2] & 0x80);
        break;
    default:  // unknown: the bad-command reply, unless scripted to ignore it or to start slowly
        if (c[0] == f.ignoreOpcode || (f.syncIgnore > 0 && f.syncIgnore--))
            break;
        Reply(d, kBadCommand);
        Reply(d, c[0]);
    }
}

size_t CommandLength(uint8_t op)
{
    for (uint8_t three :
         {kSetLowByte, kSetHighByte, kSetClockDivisor, kBitsOutLsb, kBitsInOutLsb, kBitsInOutMsbFalling, kTmsBitsOut})
        if (op == three)
            return 3;
    return 1;
}

void Feed(Device& d, const uint8_t* bytes, size_t count)
{
    if (!State().quiet)
        d.written.insert(d.written.end(), bytes, bytes + count);
    for (size_t i = 0; d.mpsse && i < count; ++i) {
        d.partial.push_back(bytes[i]);
        if (d.partial.size() == CommandLength(d.partial[0])) {
            d.partial.resize(3);
            Execute(d, d.partial.data());
            d.partial.clear();
        }
    }
}

// ---- the frame of every D2XX call -------------------------------------------------------------

// The scripted status of this call of the function: FT_OK unless a failure is due.
FT_STATUS Scripted(const char* function)
{
    auto& fails = State().fails;
    auto rule = std::find_if(fails.begin(), fails.end(),
                             [&](Driver::Fail& f) { return f.function == function && f.skip-- == 0; });
    if (rule == fails.end())
        return FT_OK;
    FT_STATUS status = rule->status;
    fails.erase(rule);
    return status;
}

// The open device behind a handle, with the status of this call; null with FT_INVALID_HANDLE.
Device* Begin(const char* function, FT_HANDLE handle, FT_STATUS& status)
{
    status = FT_INVALID_HANDLE;
    for (Device& d : State().devices) {
        if (&d == handle && d.open) {
            status = Scripted(function);
            return &d;
        }
    }
    return nullptr;
}

// A call that is only noted in the device's settings: "FT_SetLatencyTimer 16".
FT_STATUS Setting(const char* function, FT_HANDLE handle, std::initializer_list<unsigned> arguments)
{
    FT_STATUS status;
    Device* d = Begin(function, handle, status);
    if (d && status == FT_OK) {
        std::string line = function;
        for (unsigned argument : arguments)
            line += " " + std::to_string(argument);
        d->settings.push_back(line);
    }
    return status;
}

}  // namespace

double Device::ClockHz() const
{
    return (divideBy5 ? kDividedBy5ClockHz : kMasterClockHz) / ((1.0 + divisor) * 2.0);
}

Driver& Fake() { return State(); }

void Driver::Reset()
{
    *this = Driver{};
    AddDevice("FT2232H MiniModule A", "QBX0001A", FT_DEVICE_2232H);
    AddDevice("FT2232H MiniModule B", "QBX0001B", FT_DEVICE_2232H);
}

Device& Driver::AddDevice(const std::string& description, const std::string& serial, unsigned type)
{
    Device& d = devices.emplace_back();
    d.description = description;
    d.serial = serial;
    d.type = type;
    return d;
}

void Driver::ClearLogs()
{
    for (Device& d : devices)
        d.settings.clear(), d.written.clear(), d.writeSizes.clear(), d.clocks.clear(), d.trace.clear();
}

}  // namespace fake

// ---- the thirteen D2XX functions --------------------------------------------------------------

using fake::State;

extern "C" {

FT_STATUS FT_CreateDeviceInfoList(LPDWORD count)
{
    FT_STATUS status = fake::Scripted("FT_CreateDeviceInfoList");
    if (status == FT_OK)
        *count = static_cast<DWORD>(State().devices.size());
    return status;
}

FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* nodes, LPDWORD count)
{
    FT_STATUS status = fake::Scripted("FT_GetDeviceInfoList");
    for (size_t i = 0; status == FT_OK && i < std::min<size_t>(*count, State().devices.size()); ++i) {
        // The strings are cut to the fields, without a NUL when they fill them.
        const fake::Device& d = State().devices[i];
        nodes[i] = FT_DEVICE_LIST_INFO_NODE{};
        nodes[i].Type = d.type;
        std::memcpy(nodes[i].SerialNumber, d.serial.data(), std::min<size_t>(d.serial.size(), 16));
        std::memcpy(nodes[i].Description, d.description.data(), std::min<size_t>(d.description.size(), 64));
    }
    if (status == FT_OK)
        *count = static_cast<DWORD>(State().devices.size());
    return status;
}

FT_STATUS FT_OpenEx(PVOID argument, DWORD flags, FT_HANDLE* opened)
{
    std::string key = static_cast<const char*>(argument);
    FT_STATUS status = fake::Scripted("FT_OpenEx");
    auto& devices = State().devices;
    auto match = std::find_if(devices.begin(), devices.end(), [&](const fake::Device& d) {
        return flags == FT_OPEN_BY_SERIAL_NUMBER && d.serial.substr(0, 16) == key;
    });
    if (status == FT_OK)
        status = match == devices.end() ? FT_DEVICE_NOT_FOUND : match->open ? FT_DEVICE_NOT_OPENED : FT_OK;
    if (status == FT_OK) {
        match->open = true;
        match->mpsse = false;
        match->received.clear();
        *opened = &*match;
    }
    return status;
}

FT_STATUS FT_Close(FT_HANDLE handle)
{
    FT_STATUS status;
    if (fake::Device* d = fake::Begin("FT_Close", handle, status))
        d->open = false;  // gone even when the call reports a failure
    return status;
}

FT_STATUS FT_ResetDevice(FT_HANDLE handle) { return fake::Setting("FT_ResetDevice", handle, {}); }

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* amount)
{
    FT_STATUS status;
    fake::Device* d = fake::Begin("FT_GetQueueStatus", handle, status);
    if (status == FT_OK) {
        unsigned chunk = State().readChunk;
        *amount = static_cast<DWORD>(chunk ? std::min<size_t>(d->received.size(), chunk) : d->received.size());
    }
    return status;
}

FT_STATUS FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD wanted, LPDWORD got)
{
    FT_STATUS status;
    fake::Device* d = fake::Begin("FT_Read", handle, status);
    if (status == FT_OK) {
        *got = static_cast<DWORD>(std::min<size_t>(wanted, d->received.size()));
        std::copy_n(d->received.begin(), *got, static_cast<uint8_t*>(buffer));
        d->received.erase(d->received.begin(), d->received.begin() + *got);
    }
    return status;
}

FT_STATUS FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD size, LPDWORD written)
{
    FT_STATUS status;
    fake::Device* d = fake::Begin("FT_Write", handle, status);
    if (status == FT_OK) {
        *written = State().zeroWrites > 0 ? (--State().zeroWrites, 0) : size;
        fake::Feed(*d, static_cast<const uint8_t*>(buffer), *written);
        if (!State().quiet)
            d->writeSizes.push_back(size);
    }
    return status;
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE h, ULONG in, ULONG out) { return fake::Setting(__func__, h, {in, out}); }
FT_STATUS FT_SetTimeouts(FT_HANDLE h, ULONG read, ULONG write) { return fake::Setting(__func__, h, {read, write}); }
FT_STATUS FT_SetLatencyTimer(FT_HANDLE h, UCHAR ms) { return fake::Setting(__func__, h, {ms}); }

FT_STATUS FT_SetChars(FT_HANDLE h, UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn)
{
    return fake::Setting(__func__, h, {event, eventOn, error, errorOn});
}

FT_STATUS FT_SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode)
{
    FT_STATUS status = fake::Setting(__func__, handle, {mask, mode});
    if (status == FT_OK) {
        auto* d = static_cast<fake::Device*>(handle);
        d->mpsse = mode == FT_BITMODE_MPSSE;
        d->partial.clear();
    }
    return status;
}

}  // extern "C"
