#include "onewire.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "ds18s20.h"
#include "ds2450.h"

namespace qbxsim {

// ---- the bus ------------------------------------------------------------------------------------

void OneWireBus::SetDevices(std::vector<OneWireDevice*> devices)
{
    m_Devices = std::move(devices);
    if (m_Powered)
        for (OneWireDevice* device : m_Devices)
            device->PowerOn();   // plugged into a live socket
}

void OneWireBus::SetPowered(bool powered)
{
    if (powered && !m_Powered)
        for (OneWireDevice* device : m_Devices)
            device->PowerOn();
    m_Powered = powered;
}

bool OneWireBus::Reset()
{
    ++m_Resets;
    if (!m_Powered)
        return false;
    bool presence = false;
    for (OneWireDevice* device : m_Devices)
        presence = device->Reset() || presence;   // every device sees the pulse
    return presence;
}

bool OneWireBus::Slot(bool masterBit)
{
    ++m_Slots;
    bool level = masterBit;
    if (!m_Powered)
        return level;
    for (OneWireDevice* device : m_Devices)
        level = device->Slot(masterBit) && level;   // every device takes part in the slot
    return level;
}

void OneWireBus::SetStrongPullup(bool on)
{
    m_StrongPullup = on;
    if (!m_Powered)
        return;
    for (OneWireDevice* device : m_Devices)
        device->StrongPullup(on);
}

bool OneWireBus::JtagSwitchOn() const
{
    if (!m_Powered)
        return false;
    for (const OneWireDevice* device : m_Devices)
        if (device->JtagSwitchConducts())
            return true;
    return false;
}

uint64_t OneWireBus::Resets() const { return m_Resets; }

uint64_t OneWireBus::Bytes() const { return m_Slots / 8; }

double OneWireBus::ModelledSeconds() const
{
    return static_cast<double>(m_Resets) * kResetSeconds +
           static_cast<double>(m_Slots) * kSlotSeconds;
}

// ---- board-file entries -------------------------------------------------------------------------

namespace {

bool Fail(std::string* error, std::string message)
{
    if (error)
        *error = std::move(message);
    return false;
}

bool ParseSerial(const nlohmann::json& value, uint64_t* serial)
{
    if (!value.is_string())
        return false;
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() != 12)
        return false;
    uint64_t result = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        result = (result << 4) | static_cast<uint64_t>(digit);
    }
    *serial = result;
    return true;
}

bool GetNumber(const nlohmann::json& value, double* number)
{
    if (!value.is_number())
        return false;
    *number = value.get<double>();
    return std::isfinite(*number);
}

bool GetBool(const nlohmann::json& value, bool* flag)
{
    if (!value.is_boolean())
        return false;
    *flag = value.get<bool>();
    return true;
}

}  // namespace

std::unique_ptr<OneWireDevice> ParseOneWireDevice(const nlohmann::json& entry, std::string* error)
{
    if (!entry.is_object()) {
        Fail(error, "a 1-Wire device entry must be an object with \"type\" and \"serial\"");
        return nullptr;
    }
    const auto type = entry.find("type");
    if (type == entry.end() || !type->is_string() ||
        (*type != "DS18S20" && *type != "DS2450")) {
        Fail(error, "\"type\" must be \"DS18S20\" or \"DS2450\"");
        return nullptr;
    }
    const bool thermometer = *type == "DS18S20";
    uint64_t serial = 0;
    const auto serialIt = entry.find("serial");
    if (serialIt == entry.end() || !ParseSerial(*serialIt, &serial)) {
        Fail(error, "\"serial\" must be a string of 12 hexadecimal digits");
        return nullptr;
    }

    bool badCrc = false;
    Ds18s20Options thermo;
    Ds2450Options adc;
    for (const auto& [key, value] : entry.items()) {
        bool ok = true;
        std::string expected = "true or false";
        if (key == "type" || key == "serial") {
            continue;
        } else if (key == "bad_crc") {
            ok = GetBool(value, &badCrc);
        } else if (thermometer && key == "celsius") {
            expected = "a number from -55 to 125";
            ok = GetNumber(value, &thermo.celsius) && thermo.celsius >= -55.0 &&
                 thermo.celsius <= 125.0;
        } else if (thermometer && key == "powered") {
            ok = GetBool(value, &thermo.powered);
        } else if (thermometer && key == "bad_scratchpad_crc") {
            ok = GetBool(value, &thermo.badScratchpadCrc);
        } else if (thermometer && key == "count_per_c") {
            expected = "an integer from 0 to 255";
            ok = value.is_number_integer() && value.get<int64_t>() >= 0 &&
                 value.get<int64_t>() <= 255;
            if (ok)
                thermo.countPerC = static_cast<uint8_t>(value.get<int64_t>());
        } else if (!thermometer && key == "volts") {
            expected = "an array of four voltages, each 0 or more";
            ok = value.is_array() && value.size() == 4;
            for (size_t i = 0; ok && i < 4; ++i)
                ok = GetNumber(value[i], &adc.volts[i]) && adc.volts[i] >= 0.0;
        } else if (!thermometer && key == "jtag_switch") {
            ok = GetBool(value, &adc.jtagSwitch);
        } else if (!thermometer && key == "bad_memory_crc") {
            ok = GetBool(value, &adc.badMemoryCrc);
        } else {
            Fail(error, "unknown key \"" + key + "\" in a " + type->get<std::string>() + " entry");
            return nullptr;
        }
        if (!ok) {
            Fail(error, "\"" + key + "\" must be " + expected);
            return nullptr;
        }
    }

    if (thermometer)
        return std::make_unique<Ds18s20>(MakeRom(Ds18s20::kFamily, serial, badCrc), thermo);
    return std::make_unique<Ds2450>(MakeRom(Ds2450::kFamily, serial, badCrc), adc);
}

}  // namespace qbxsim
