#include "board_file.h"

#include <nlohmann/json.hpp>

#include "files.h"
#include "platform.h"

namespace qbxsim {

namespace {

using nlohmann::json;

// A problem at a key; caught once at the top and turned into the message.
struct BoardFileError {
    std::string key;
    std::string problem;
};

[[noreturn]] void Fail(const std::string& key, const std::string& problem)
{
    throw BoardFileError{key, problem};
}

std::string Quote(const std::string& text)
{
    return "\"" + text + "\"";
}

void CheckKeys(const json& object, const std::string& key, std::initializer_list<const char*> allowed)
{
    if (!object.is_object())
        Fail(key, "must be an object");
    for (const auto& item : object.items()) {
        bool known = false;
        for (const char* name : allowed)
            known = known || item.key() == name;
        if (!known)
            Fail(key, "unknown key " + Quote(item.key()));
    }
}

std::string Child(const std::string& parent, const char* name)
{
    return parent.empty() ? std::string(name) : parent + "." + name;
}

std::string Index(const std::string& parent, size_t i)
{
    return parent + "[" + std::to_string(i) + "]";
}

bool GetBool(const json& j, const std::string& key)
{
    if (!j.is_boolean())
        Fail(key, "must be true or false");
    return j.get<bool>();
}

int64_t GetInteger(const json& j, const std::string& key, int64_t low, int64_t high, const char* what)
{
    bool ok = j.is_number_integer();
    int64_t value = 0;
    if (ok) {
        if (j.is_number_unsigned()) {
            uint64_t u = j.get<uint64_t>();
            ok = u <= static_cast<uint64_t>(high);
            value = static_cast<int64_t>(u);
        } else {
            value = j.get<int64_t>();
        }
    }
    if (!ok || value < low || value > high)
        Fail(key, std::string("must be ") + what);
    return value;
}

std::optional<uint64_t> GetCount(const json& j, const std::string& key)
{
    if (j.is_null())
        return std::nullopt;
    return static_cast<uint64_t>(GetInteger(j, key, 0, int64_t{1} << 53, "null or a whole number of writes (0 or more)"));
}

std::optional<uint32_t> GetIdcode(const json& j, const std::string& key)
{
    if (j.is_null())
        return std::nullopt;
    const char* shape = "must be a hexadecimal code such as \"0x3E74E1CF\", or null";
    if (!j.is_string())
        Fail(key, shape);
    const std::string text = j.get<std::string>();
    if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        Fail(key, shape);
    uint32_t value = 0;
    for (size_t i = 2; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            Fail(key, shape);
        value = (value << 4) | digit;
    }
    return value;
}

class CParser {
public:
    CParser(const std::string& path) : m_Path(path) {}

    std::unique_ptr<_SIMCONFIG> Parse(const json& root)
    {
        auto config = std::make_unique<_SIMCONFIG>();
        config->path = m_Path;
        if (!root.is_object())
            Fail("", "the file must hold one JSON object");
        CheckKeys(root, "", {"bsdl", "adapter", "bridge", "boards"});

        if (!root.contains("bsdl"))
            Fail("bsdl", "missing (the BSDL file of the chain's FPGAs)");
        ReadBsdlFile(root["bsdl"], *config);

        if (root.contains("adapter")) {
            const json& a = root["adapter"];
            CheckKeys(a, "adapter", {"present", "fail_after_writes", "mute_after_writes", "usb"});
            if (a.contains("present"))
                config->adapterPresent = GetBool(a["present"], "adapter.present");
            if (a.contains("fail_after_writes"))
                config->failAfterWrites = GetCount(a["fail_after_writes"], "adapter.fail_after_writes");
            if (a.contains("mute_after_writes"))
                config->muteAfterWrites = GetCount(a["mute_after_writes"], "adapter.mute_after_writes");
            if (a.contains("usb"))
                ParseUsb(a["usb"], config->usb);
        }
        if (root.contains("bridge")) {
            const json& b = root["bridge"];
            CheckKeys(b, "bridge", {"present", "busy_reads", "stuck_busy"});
            if (b.contains("present"))
                config->bridgePresent = GetBool(b["present"], "bridge.present");
            if (b.contains("busy_reads"))
                config->bridge.busyReads = static_cast<int>(
                    GetInteger(b["busy_reads"], "bridge.busy_reads", 0, 1000000, "a whole number from 0 to 1000000"));
            if (b.contains("stuck_busy"))
                config->bridge.stuckBusy = GetBool(b["stuck_busy"], "bridge.stuck_busy");
        }

        if (!root.contains("boards"))
            Fail("boards", "missing (the boards that go through the socket)");
        const json& boards = root["boards"];
        if (!boards.is_array())
            Fail("boards", "must be an array of boards");
        for (size_t i = 0; i < boards.size(); ++i) {
            config->oneWire.emplace_back();
            config->boards.push_back(ParseBoard(boards[i], Index("boards", i), *config, config->oneWire.back()));
        }
        return config;
    }

private:
    static void ParseUsb(const json& u, _SIMUSBCONFIG& usb)
    {
        CheckKeys(u, "adapter.usb", {"serial_number", "permission_denied", "interfaces_in_use", "kernel_driver", "adapters"});
        if (u.contains("serial_number")) {
            const json& s = u["serial_number"];
            const char* shape = "must be null (no serial number) or 1 to 15 letters and digits";
            if (s.is_null()) {
                usb.serialNumber.reset();
            } else {
                if (!s.is_string())
                    Fail("adapter.usb.serial_number", shape);
                const std::string text = s.get<std::string>();
                bool plain = !text.empty() && text.size() <= 15;
                for (char ch : text)
                    plain = plain && ((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z'));
                if (!plain)
                    Fail("adapter.usb.serial_number", shape);
                usb.serialNumber = text;
            }
        }
        if (u.contains("permission_denied"))
            usb.permissionDenied = GetBool(u["permission_denied"], "adapter.usb.permission_denied");
        if (u.contains("kernel_driver"))
            usb.kernelDriver = GetBool(u["kernel_driver"], "adapter.usb.kernel_driver");
        if (u.contains("adapters"))
            usb.adapters = static_cast<int>(GetInteger(u["adapters"], "adapter.usb.adapters", 1, kMaxUsbAdapters,
                                                       "a whole number from 1 to 4"));
        if (u.contains("interfaces_in_use")) {
            const json& list = u["interfaces_in_use"];
            const char* shape = "must be an array of interface letters, \"A\" and/or \"B\"";
            if (!list.is_array())
                Fail("adapter.usb.interfaces_in_use", shape);
            for (size_t i = 0; i < list.size(); ++i) {
                const json& letter = list[i];
                if (!letter.is_string() || (letter != "A" && letter != "B"))
                    Fail(Index("adapter.usb.interfaces_in_use", i), shape);
                usb.interfaceInUse[letter == "A" ? 0 : 1] = true;
            }
        }
    }

    void ReadBsdlFile(const json& j, _SIMCONFIG& config)
    {
        if (!j.is_string() || j.get<std::string>().empty())
            Fail("bsdl", "must be the name of a BSDL file");
        std::string name = j.get<std::string>();
        config.bsdlPath = platform::IsAbsolutePath(name) ? name : platform::JoinPath(platform::DirName(m_Path), name);
        _BSDLDATA data;
        if (!ReadBsdl(config.bsdlPath.c_str(), data))
            Fail("bsdl", "cannot read " + Quote(config.bsdlPath));
        unsigned needed = BSDL_SECTION_PORTS | BSDL_SECTION_PIN_MAP | BSDL_SECTION_LENGTH | BSDL_SECTION_REGISTER;
        if (data.missingSections & needed) {
            std::string names;
            for (const std::string& section : MissingSectionNames(data.missingSections & needed))
                names += (names.empty() ? "" : ", ") + section;
            Fail("bsdl", Quote(config.bsdlPath) + " has no " + names);
        }
        if (data.boundaryLength <= 0)
            Fail("bsdl", Quote(config.bsdlPath) + " has no usable BOUNDARY_LENGTH");
        std::string why;
        config.layout = CBoundaryLayout::Build(data.pins, static_cast<size_t>(data.boundaryLength), &why,
                                               &data.driveMask);
        if (!config.layout)
            Fail("bsdl", Quote(config.bsdlPath) + ": " + why);
    }

    _SIMPINREF ParseEndpoint(const json& j, const std::string& key, const _SIMBOARDSPEC& board,
                             const _SIMCONFIG& config)
    {
        const char* shape = "must be an endpoint \"<fpga>:<pin>\" such as \"0:A12\" or \"1:$DATA7\"";
        if (!j.is_string())
            Fail(key, shape);
        const std::string text = j.get<std::string>();
        size_t colon = text.find(':');
        if (colon == 0 || colon == std::string::npos || colon > 3 || colon + 1 >= text.size())
            Fail(key, shape);
        int fpga = 0;
        for (size_t i = 0; i < colon; ++i) {
            if (text[i] < '0' || text[i] > '9')
                Fail(key, shape);
            fpga = fpga * 10 + (text[i] - '0');
        }
        if (static_cast<size_t>(fpga) >= board.idcodes.size())
            Fail(key, Quote(text) + " names FPGA " + std::to_string(fpga) + ", but the chain has " +
                          std::to_string(board.idcodes.size()) + (board.idcodes.size() == 1 ? " device" : " devices"));
        std::string pin = text.substr(colon + 1);
        const std::vector<_PINDESC>& ports = config.layout->Ports();
        const _PINDESC* found = pin[0] == '$' ? (pin.size() > 1 ? FindPin(ports, FIND_BY_NAME, pin.c_str() + 1) : nullptr)
                                              : FindPin(ports, FIND_BY_PIN, pin.c_str());
        if (!found)
            Fail(key, "no pin " + Quote(pin) + " in " + Quote(config.bsdlPath));
        return {fpga, static_cast<int>(found - ports.data())};
    }

    _SIMBOARDSPEC ParseBoard(const json& b, const std::string& key, const _SIMCONFIG& config,
                             std::vector<std::unique_ptr<OneWireDevice>>& oneWire)
    {
        CheckKeys(b, key, {"name", "chain_address", "idcodes", "pull", "nets", "faults", "onewire", "tdo_stuck"});
        _SIMBOARDSPEC board;
        if (b.contains("name")) {
            if (!b["name"].is_string())
                Fail(Child(key, "name"), "must be a string");
            board.name = b["name"].get<std::string>();
        }
        if (b.contains("chain_address"))
            board.chainAddress = static_cast<int>(
                GetInteger(b["chain_address"], Child(key, "chain_address"), 0, 15, "a whole number from 0 to 15"));
        if (!b.contains("idcodes"))
            Fail(Child(key, "idcodes"), "missing (one identification code per FPGA of the chain)");
        const json& ids = b["idcodes"];
        if (!ids.is_array() || ids.size() > kMaxChainDevices)
            Fail(Child(key, "idcodes"), "must be an array of at most 8 codes");
        for (size_t i = 0; i < ids.size(); ++i)
            board.idcodes.push_back(GetIdcode(ids[i], Index(Child(key, "idcodes"), i)));
        if (b.contains("pull"))
            board.pull = static_cast<int>(GetInteger(b["pull"], Child(key, "pull"), 0, 1, "0 or 1"));
        if (b.contains("tdo_stuck") && !b["tdo_stuck"].is_null())
            board.tdoStuck = static_cast<int>(GetInteger(b["tdo_stuck"], Child(key, "tdo_stuck"), 0, 1, "0, 1 or null"));

        if (b.contains("nets")) {
            const std::string netsKey = Child(key, "nets");
            const json& nets = b["nets"];
            if (!nets.is_array())
                Fail(netsKey, "must be an array of nets");
            for (size_t n = 0; n < nets.size(); ++n) {
                const std::string netKey = Index(netsKey, n);
                if (!nets[n].is_array())
                    Fail(netKey, "must be an array of endpoints");
                std::vector<_SIMPINREF> net;
                for (size_t e = 0; e < nets[n].size(); ++e)
                    net.push_back(ParseEndpoint(nets[n][e], Index(netKey, e), board, config));
                board.nets.push_back(std::move(net));
            }
        }

        if (b.contains("faults")) {
            const std::string faultsKey = Child(key, "faults");
            const json& faults = b["faults"];
            if (!faults.is_array())
                Fail(faultsKey, "must be an array of faults");
            for (size_t f = 0; f < faults.size(); ++f)
                ParseFault(faults[f], Index(faultsKey, f), board, config);
        }

        if (b.contains("onewire")) {
            const std::string wireKey = Child(key, "onewire");
            const json& devices = b["onewire"];
            if (!devices.is_array())
                Fail(wireKey, "must be an array of 1-Wire devices");
            for (size_t d = 0; d < devices.size(); ++d) {
                std::string why;
                std::unique_ptr<OneWireDevice> device = ParseOneWireDevice(devices[d], &why);
                if (!device)
                    Fail(Index(wireKey, d), why.empty() ? "not a 1-Wire device" : why);
                oneWire.push_back(std::move(device));
            }
        }
        return board;
    }

    void ParseFault(const json& f, const std::string& key, _SIMBOARDSPEC& board, const _SIMCONFIG& config)
    {
        CheckKeys(f, key, {"open", "short", "stuck", "value"});
        int kinds = static_cast<int>(f.contains("open")) + static_cast<int>(f.contains("short")) +
                    static_cast<int>(f.contains("stuck"));
        if (kinds == 0)
            Fail(key, "a fault needs \"open\", \"short\" or \"stuck\"");
        if (kinds > 1)
            Fail(key, "one fault per entry: \"open\", \"short\" or \"stuck\"");
        if (f.contains("value") && !f.contains("stuck"))
            Fail(key, "unknown key \"value\" (only a \"stuck\" fault has a value)");
        if (f.contains("open")) {
            board.opens.push_back(ParseEndpoint(f["open"], Child(key, "open"), board, config));
        } else if (f.contains("short")) {
            const json& pair = f["short"];
            if (!pair.is_array() || pair.size() != 2)
                Fail(Child(key, "short"), "must be an array of two endpoints");
            board.shorts.emplace_back(ParseEndpoint(pair[0], Index(Child(key, "short"), 0), board, config),
                                      ParseEndpoint(pair[1], Index(Child(key, "short"), 1), board, config));
        } else {
            _SIMPINREF pin = ParseEndpoint(f["stuck"], Child(key, "stuck"), board, config);
            if (!f.contains("value"))
                Fail(Child(key, "value"), "missing (the level the stuck net reads, 0 or 1)");
            int value = static_cast<int>(GetInteger(f["value"], Child(key, "value"), 0, 1, "0 or 1"));
            board.stucks.emplace_back(pin, value);
        }
    }

    std::string m_Path;
};

}  // namespace

std::unique_ptr<_SIMCONFIG> ParseBoardFile(const std::string& text, const std::string& path, std::string* error)
{
    const std::string prefix = "board file " + path + ": ";
    json root;
    try {
        root = json::parse(text);
    } catch (const json::exception& e) {
        if (error)
            *error = prefix + "not valid JSON (" + e.what() + ")";
        return nullptr;
    }
    try {
        return CParser(path).Parse(root);
    } catch (const BoardFileError& e) {
        if (error)
            *error = prefix + (e.key.empty() ? "" : e.key + ": ") + e.problem;
    } catch (const json::exception& e) {  // a value of an unexpected type that slipped past the checks
        if (error)
            *error = prefix + e.what();
    }
    return nullptr;
}

std::unique_ptr<_SIMCONFIG> LoadBoardFile(const std::string& path, std::string* error)
{
    const platform::InputFile file = platform::ReadInputFile(path);
    if (!file.ok) {
        if (error)
            *error = "board file " + path + ": cannot read it (" + file.why + ")";
        return nullptr;
    }
    return ParseBoardFile(file.content, path, error);
}

}  // namespace qbxsim
