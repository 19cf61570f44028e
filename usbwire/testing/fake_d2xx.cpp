// The scripted D2XX driver of the usbwire tests (see fake_d2xx.h).
#include "fake_d2xx.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace fake {

namespace {

enum Phase { kIdle, kAddress, kWrite, kRead, kIgnore };

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

std::string Text(const char* format, auto... args)
{
    char line[160];
    std::snprintf(line, sizeof line, format, args...);
    return line;
}

// ---- the I2C slave ----------------------------------------------------------------------------

bool Line(const Device::I2c& bus) { return bus.master && bus.slave; }

void Event(Device& d, const std::string& token)
{
    if (!State().quiet)
        d.trace += (d.trace.empty() ? "" : " ") + token;
}

// What the slave puts on SDA for the coming clock.
bool SlaveDrive(const Device::I2c& bus)
{
    const Driver& f = State();
    if (bus.phase == kRead)
        return bus.bit < 8 ? ((bus.out >> (7 - bus.bit)) & 1) != 0 : true;
    if (bus.phase != kAddress && bus.phase != kWrite)
        return true;
    if (bus.bit < 8)
        return bus.index != f.jamIndex;
    // The acknowledge: low unless scripted not to, or an address that is not the slave's.
    return bus.index == f.nackIndex || (bus.phase == kAddress && f.slave != static_cast<unsigned>(bus.shift >> 1));
}

uint8_t NextReadByte(Device::I2c& bus)
{
    const std::vector<uint8_t>& data = State().readData;
    return bus.readPosition < data.size() ? data[bus.readPosition++] : 0xFF;
}

// SCL rises: the bit on SDA counts.
void Rising(Device& d)
{
    Device::I2c& bus = d.i2c;
    bool level = Line(bus);
    if (bus.phase == kIdle || bus.phase == kIgnore)
        return;
    if (bus.bit < 8) {
        bus.shift = static_cast<uint8_t>((bus.shift << 1) | (level ? 1 : 0));
        ++bus.bit;
        return;
    }
    if (bus.phase == kRead)
        Event(d, Text("r%02X%c", bus.out, level ? '-' : '+'));
    else
        Event(d, Text("%02X%c", bus.shift, level ? '-' : '+'));
    if (bus.phase == kAddress)
        bus.phase = (bus.shift & 1) ? kRead : kWrite;
    if (level)
        bus.phase = kIgnore;  // not acknowledged: the transfer is over for the slave
    else if (bus.phase == kRead)
        bus.out = NextReadByte(bus);
    bus.bit = 0;
    bus.shift = 0;
    ++bus.index;
}

// New master levels of SCL and SDA (true: driven high or released).
void Drive(Device& d, bool scl, bool sda)
{
    Device::I2c& bus = d.i2c;
    if (bus.scl && scl) {
        bool before = Line(bus);
        bus.master = sda;
        if (before != Line(bus)) {
            // SDA moved while SCL was high: START when it fell, STOP when it rose.
            size_t readPosition = bus.readPosition;
            bus = Device::I2c{};
            bus.master = sda;
            bus.phase = before ? kAddress : kIdle;
            bus.readPosition = readPosition;
            Event(d, before ? "S" : "P");
        }
    } else if (scl) {
        bus.master = sda;  // SDA settles before SCL rises
        bus.scl = true;
        Rising(d);
    } else {
        if (bus.scl) {
            bus.scl = false;
            bus.slave = SlaveDrive(bus);
        }
        bus.master = sda;  // and changes after SCL fell
    }
}

// ---- the MPSSE engine -------------------------------------------------------------------------

void Reply(Device& d, uint8_t byte)
{
    if (!State().mute)
        d.received.push_back(byte);
}

void Clock(Device& d, bool tdi, bool tms, bool tdo)
{
    if (!State().quiet)
        d.clocks.push_back(static_cast<uint8_t>((tdi ? 1 : 0) | (tms ? 2 : 0) | (tdo ? 4 : 0)));
}

void Execute(Device& d, const std::vector<uint8_t>& command)
{
    Driver& f = State();
    const uint8_t opcode = command[0];
    const unsigned n = command.size() == 3 ? command[1] + 1u : 0;  // bits of a shift
    static const std::vector<uint8_t> kNothingToModel = {0x82, 0x86, 0x85, 0x87, 0x8A, 0x8D, 0x97};
    if (opcode == 0x80) {
        d.lowValue = command[1];
        d.lowDirection = command[2];
        Drive(d, (d.lowDirection & 0x01) == 0 || (d.lowValue & 0x01) != 0,
              (d.lowDirection & 0x02) == 0 || (d.lowValue & 0x02) != 0);
    } else if ((opcode == 0x1B || opcode == 0x3B) && n <= 8) {
        unsigned read = 0;
        for (unsigned i = 0; i < n; ++i) {
            bool tdi = ((command[2] >> i) & 1) != 0;
            bool tdo = tdi;
            if (f.jtagDelay != 0) {
                d.delayLine.resize(f.jtagDelay, f.jtagFill);
                d.delayLine.push_back(tdi);
                tdo = d.delayLine.front();
                d.delayLine.pop_front();
            }
            Clock(d, tdi, (d.lowValue & 0x08) != 0, tdo);
            read |= (tdo ? 1u : 0u) << i;
        }
        d.lowValue = static_cast<uint8_t>((d.lowValue & ~0x02) | (((command[2] >> (n - 1)) & 1) << 1));
        // The bits read fill the top n bits, the first one lowest.
        if (opcode == 0x3B)
            Reply(d, static_cast<uint8_t>((read << (8 - n)) | ((1u << (8 - n)) - 1u)));
    } else if (opcode == 0x37 && n <= 8) {
        unsigned read = 0;
        for (unsigned i = 0; i < n; ++i) {
            bool bit = (d.lowDirection & 0x02) == 0 || ((command[2] >> (7 - i)) & 1) != 0;
            Drive(d, false, bit);
            Drive(d, true, bit);
            read = (read << 1) | (Line(d.i2c) ? 1u : 0u);
            Drive(d, false, bit);
        }
        // The bits read fill the low n bits, the first one highest.
        Reply(d, static_cast<uint8_t>(read | (0xFFu << n)));
    } else if (opcode == 0x4B && n <= 8) {
        bool tdi = (command[2] & 0x80) != 0;
        for (unsigned i = 0; i < n; ++i)
            Clock(d, tdi, ((command[2] >> i) & 1) != 0, false);
        bool lastTms = ((command[2] >> (n - 1)) & 1) != 0;
        d.lowValue = static_cast<uint8_t>((d.lowValue & ~0x0A) | (lastTms ? 0x08 : 0) | (tdi ? 0x02 : 0));
    } else if (std::ranges::find(kNothingToModel, opcode) == kNothingToModel.end() && opcode != f.ignoreOpcode) {
        // A bad opcode: 0xFA and the opcode, unless the engine is scripted to start slowly.
        if (f.syncIgnore > 0) {
            --f.syncIgnore;
            return;
        }
        Reply(d, 0xFA);
        Reply(d, opcode);
    }
}

void Feed(Device& d, const uint8_t* bytes, size_t count)
{
    if (!State().quiet)
        d.written.insert(d.written.end(), bytes, bytes + count);
    for (size_t i = 0; d.mpsse && i < count; ++i) {
        d.partial.push_back(bytes[i]);
        uint8_t opcode = d.partial[0];
        bool three = opcode == 0x80 || opcode == 0x82 || opcode == 0x86 || opcode == 0x1B || opcode == 0x3B ||
                     opcode == 0x37 || opcode == 0x4B;
        if (d.partial.size() == (three ? 3u : 1u)) {
            Execute(d, d.partial);
            d.partial.clear();
        }
    }
}

// ---- the frame of every D2XX call -------------------------------------------------------------

// The scripted failure of a function, or FT_OK.
FT_STATUS Injected(const char* function)
{
    auto& fails = State().fails;
    for (auto rule = fails.begin(); rule != fails.end(); ++rule) {
        if (rule->function == function && rule->skip-- == 0) {
            FT_STATUS status = rule->status;
            fails.erase(rule);
            return status;
        }
    }
    return FT_OK;
}

// One call: the open device behind the handle (or null), its status, and the log line
// "FT_Write(0,3->3) = 0" written when the call ends.
struct Call {
    Call(const char* function, FT_HANDLE handle) : name(function)
    {
        for (Device& candidate : State().devices)
            d = (&candidate == handle && candidate.open) ? &candidate : d;
        status = d ? Injected(function) : FT_STATUS{FT_INVALID_HANDLE};
    }
    ~Call()
    {
        if (!State().quiet)
            State().log.push_back(Text("%s(%d%s) = %u", name, d ? d->index : -1, arguments.c_str(), status));
    }
    bool ok() const { return status == FT_OK; }
    void Arguments(const char* format, auto... values)
    {
        if (!State().quiet)
            arguments = Text(format, values...);
    }

    const char* name;
    Device* d = nullptr;
    FT_STATUS status;
    std::string arguments;  // ",65536,65536" or "->2"
};

// A call whose effect is only its log line: "FT_SetLatencyTimer(0,16) = 0".
FT_STATUS Setting(const char* function, FT_HANDLE handle, std::initializer_list<unsigned> arguments)
{
    Call call(function, handle);
    for (unsigned argument : arguments) {
        if (!State().quiet)
            call.arguments += "," + std::to_string(argument);
    }
    return call.status;
}

}  // namespace

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
    d.index = static_cast<int>(devices.size() - 1);
    d.description = description;
    d.serial = serial;
    d.type = type;
    return d;
}

void Driver::ClearLogs()
{
    log.clear();
    for (Device& d : devices) {
        d.written.clear();
        d.writeSizes.clear();
        d.readTotal = 0;
        d.clocks.clear();
        d.trace.clear();
    }
}

std::vector<std::string> Driver::CallsWithoutPolls() const
{
    std::vector<std::string> calls;
    std::copy_if(log.begin(), log.end(), std::back_inserter(calls),
                 [](const std::string& line) { return !line.starts_with("FT_GetQueueStatus("); });
    return calls;
}

}  // namespace fake

// ---- the thirteen D2XX functions --------------------------------------------------------------

using fake::State;

extern "C" {

FT_STATUS FT_CreateDeviceInfoList(LPDWORD count)
{
    FT_STATUS status = fake::Injected("FT_CreateDeviceInfoList");
    if (status == FT_OK)
        *count = static_cast<DWORD>(State().devices.size());
    State().log.push_back("FT_CreateDeviceInfoList() = " + std::to_string(status));
    return status;
}

FT_STATUS FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* nodes, LPDWORD count)
{
    FT_STATUS status = fake::Injected("FT_GetDeviceInfoList");
    State().log.push_back(fake::Text("FT_GetDeviceInfoList(%u) = %u", *count, status));
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
    FT_STATUS status = fake::Injected("FT_OpenEx");
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
    State().log.push_back(fake::Text("FT_OpenEx(%s,%u) = %u", key.c_str(), flags, status));
    return status;
}

FT_STATUS FT_Close(FT_HANDLE handle)
{
    fake::Call call("FT_Close", handle);
    if (call.d != nullptr)
        call.d->open = false;  // gone even when the call reports a failure
    return call.status;
}

FT_STATUS FT_ResetDevice(FT_HANDLE handle) { return fake::Setting("FT_ResetDevice", handle, {}); }

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* amount)
{
    fake::Call call("FT_GetQueueStatus", handle);
    DWORD waiting = 0;
    if (call.ok()) {
        waiting = static_cast<DWORD>(call.d->received.size());
        if (State().readChunk != 0)
            waiting = std::min<DWORD>(waiting, State().readChunk);
        *amount = waiting;
    }
    call.Arguments("->%u", waiting);
    return call.status;
}

FT_STATUS FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD wanted, LPDWORD got)
{
    fake::Call call("FT_Read", handle);
    DWORD count = 0;
    if (call.ok()) {
        std::deque<uint8_t>& received = call.d->received;
        count = static_cast<DWORD>(std::min<size_t>(wanted, received.size()));
        std::copy_n(received.begin(), count, static_cast<uint8_t*>(buffer));
        received.erase(received.begin(), received.begin() + count);
        call.d->readTotal += count;
        *got = count;
    }
    call.Arguments(",%u->%u", wanted, count);
    return call.status;
}

FT_STATUS FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD size, LPDWORD written)
{
    fake::Call call("FT_Write", handle);
    DWORD accepted = 0;
    if (call.ok()) {
        if (State().zeroWrites > 0)
            --State().zeroWrites;
        else
            accepted = size;
        fake::Feed(*call.d, static_cast<const uint8_t*>(buffer), accepted);
        if (!State().quiet)
            call.d->writeSizes.push_back(size);
        *written = accepted;
    }
    call.Arguments(",%u->%u", size, accepted);
    return call.status;
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, ULONG in, ULONG out)
{
    return fake::Setting("FT_SetUSBParameters", handle, {in, out});
}

FT_STATUS FT_SetChars(FT_HANDLE handle, UCHAR event, UCHAR eventOn, UCHAR error, UCHAR errorOn)
{
    return fake::Setting("FT_SetChars", handle, {event, eventOn, error, errorOn});
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, ULONG read, ULONG write)
{
    return fake::Setting("FT_SetTimeouts", handle, {read, write});
}

FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR ms) { return fake::Setting("FT_SetLatencyTimer", handle, {ms}); }

FT_STATUS FT_SetBitMode(FT_HANDLE handle, UCHAR mask, UCHAR mode)
{
    FT_STATUS status = fake::Setting("FT_SetBitMode", handle, {mask, mode});
    for (fake::Device& d : State().devices) {
        if (&d == handle && status == FT_OK) {
            d.mpsse = mode == FT_BITMODE_MPSSE;
            d.partial.clear();
        }
    }
    return status;
}

}  // extern "C"
