#include "net_vectors.h"

#include <map>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>

#include "files.h"
#include "platform.h"

using json = nlohmann::json;
using platform::Format;

const char* const kQbxVectorsUsage = "qbx-vectors BOARD.json [--board N] [-o FILE]";

namespace {

// The station has eight FPGAs, numbered 0 to 7 in the vector file.
constexpr size_t kStationFpgas = 8;

// Text taken from the board file into the header comment: no line breaks, no control
// characters, and no "<" or ">", so that no header line can ever look like a group tag.
std::string HeaderText(const std::string& text)
{
    std::string clean = text;
    for (char& c : clean) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '<' || c == '>')
            c = '?';
    }
    return clean;
}

std::string BaseName(const std::string& path)
{
    size_t slash = path.find_last_of(platform::kPathSeparator == '/' ? "/" : "/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Quote(const std::string& text)
{
    return "\"" + text + "\"";
}

// "<fpga>:<pin>": decimal FPGA number (at most three digits), a colon, a non-empty pin.
bool ParseEndpoint(const std::string& text, _NETPIN& pin)
{
    size_t colon = text.find(':');
    if (colon == 0 || colon == std::string::npos || colon > 3 || colon + 1 >= text.size())
        return false;
    int fpga = 0;
    for (size_t i = 0; i < colon; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        fpga = fpga * 10 + (text[i] - '0');
    }
    pin.text = text;
    pin.fpga = fpga;
    pin.pin = text.substr(colon + 1);
    return true;
}

bool CellInRegister(int cell, int length)
{
    return cell >= 0 && cell < length;
}

}  // namespace

int CodeBits(size_t nets)
{
    int bits = 1;
    // 2^bits >= nets + 2, written so that it cannot overflow.
    while (bits < 63 && (uint64_t{1} << bits) - 2 < nets)
        ++bits;
    return bits;
}

std::string NetBits(size_t net, int codeBits)
{
    const uint64_t code = static_cast<uint64_t>(net) + 1;
    std::string bits;
    bits.reserve(2 * static_cast<size_t>(codeBits));
    for (int k = codeBits - 1; k >= 0; --k)
        bits.push_back(((code >> k) & 1) ? '1' : '0');
    for (int k = codeBits - 1; k >= 0; --k)
        bits.push_back(((code >> k) & 1) ? '0' : '1');
    return bits;
}

bool ReadNetlist(const std::string& path, size_t boardIndex, _NETLIST& netlist, std::vector<std::string>& errors)
{
    const size_t errorsBefore = errors.size();
    const platform::InputFile file = platform::ReadInputFile(path);
    if (!file.ok) {
        errors.push_back("cannot read " + path + ": " + file.why);
        return false;
    }
    json root;
    try {
        root = json::parse(file.content);
    } catch (const json::exception& e) {
        errors.push_back(path + ": not valid JSON (" + e.what() + ")");
        return false;
    }

    netlist = _NETLIST{};
    netlist.boardFile = path;
    netlist.boardIndex = boardIndex;
    if (!root.is_object()) {
        errors.push_back(path + ": not a board file (a JSON object with \"bsdl\" and \"boards\")");
        return false;
    }
    if (!root.contains("bsdl") || !root["bsdl"].is_string() || root["bsdl"].get<std::string>().empty()) {
        errors.push_back(path + ": \"bsdl\" must name the BSDL file of the FPGAs");
        return false;
    }
    netlist.bsdl = root["bsdl"].get<std::string>();
    netlist.bsdlPath =
        platform::IsAbsolutePath(netlist.bsdl) ? netlist.bsdl : platform::JoinPath(platform::DirName(path), netlist.bsdl);

    if (!root.contains("boards") || !root["boards"].is_array()) {
        errors.push_back(path + ": \"boards\" must be an array of boards");
        return false;
    }
    const json& boards = root["boards"];
    netlist.boardCount = boards.size();
    if (boardIndex >= boards.size()) {
        errors.push_back(path + Format(": there is no board %zu (the file has %zu board%s)", boardIndex,
                                       boards.size(), boards.size() == 1 ? "" : "s"));
        return false;
    }
    const std::string boardKey = Format("boards[%zu]", boardIndex);
    const json& board = boards[boardIndex];
    if (!board.is_object()) {
        errors.push_back(path + ": " + boardKey + " must be an object");
        return false;
    }
    if (board.contains("name") && board["name"].is_string())
        netlist.boardName = board["name"].get<std::string>();

    if (!board.contains("idcodes") || !board["idcodes"].is_array()) {
        errors.push_back(path + ": " + boardKey + ".idcodes must be an array (one identification code per FPGA of the chain)");
        return false;
    }
    netlist.chainLength = board["idcodes"].size();
    if (netlist.chainLength > kStationFpgas) {
        errors.push_back(path + ": " + boardKey + Format(".idcodes has %zu entries; the chain holds at most %zu FPGAs",
                                                         netlist.chainLength, kStationFpgas));
        return false;
    }

    if (board.contains("nets")) {
        const json& nets = board["nets"];
        if (!nets.is_array()) {
            errors.push_back(path + ": " + boardKey + ".nets must be an array of nets");
            return false;
        }
        for (size_t n = 0; n < nets.size(); ++n) {
            const std::string netKey = path + ": " + boardKey + Format(".nets[%zu]", n);
            if (!nets[n].is_array()) {
                errors.push_back(netKey + " must be an array of endpoints");
                continue;
            }
            std::vector<_NETPIN> net;
            for (size_t e = 0; e < nets[n].size(); ++e) {
                _NETPIN pin;
                if (!nets[n][e].is_string() || !ParseEndpoint(nets[n][e].get<std::string>(), pin)) {
                    errors.push_back(netKey + Format(", endpoint %zu", e) +
                                     ": must be \"<fpga>:<pin>\" such as \"0:A12\" or \"1:$DATA7\"");
                    continue;
                }
                net.push_back(std::move(pin));
            }
            netlist.nets.push_back(std::move(net));
        }
    }
    return errors.size() == errorsBefore;
}

bool CheckNetlist(const _NETLIST& netlist, const _BSDLDATA& bsdl, std::vector<std::string>& errors)
{
    const size_t errorsBefore = errors.size();
    const std::string where = netlist.boardFile + ": " + Format("boards[%zu]", netlist.boardIndex);
    if (netlist.nets.empty()) {
        errors.push_back(where + " has no nets: there is nothing to test");
        return false;
    }
    const int length = bsdl.boundaryLength;
    const _PINDESC* lockPll = FindPin(bsdl.pins, FIND_BY_NAME, "LOCKPLL");
    // Which net holds each pin of each FPGA, and as which endpoint.
    std::map<std::pair<int, const _PINDESC*>, std::pair<size_t, std::string>> taken;

    for (size_t n = 0; n < netlist.nets.size(); ++n) {
        const std::vector<_NETPIN>& net = netlist.nets[n];
        const std::string netKey = where + Format(".nets[%zu]", n);
        if (net.size() < 2)
            errors.push_back(netKey + Format(" has %zu endpoint%s; a net needs a driver and at least one receiver",
                                             net.size(), net.size() == 1 ? "" : "s"));
        for (size_t e = 0; e < net.size(); ++e) {
            const _NETPIN& end = net[e];
            const bool driver = e == 0;
            const std::string at = netKey + ", " + (driver ? "driver " : "receiver ") + Quote(end.text) + ": ";
            if (static_cast<size_t>(end.fpga) >= netlist.chainLength) {
                errors.push_back(at + Format("FPGA %d is not in the chain (%zu FPGA%s", end.fpga, netlist.chainLength,
                                             netlist.chainLength == 1 ? "" : "s") +
                                 (netlist.chainLength ? Format(", 0 to %zu)", netlist.chainLength - 1) : ")"));
                continue;
            }
            bool printable = true;
            for (char c : end.pin) {
                unsigned char u = static_cast<unsigned char>(c);
                printable = printable && u > 0x20 && u < 0x7F;
            }
            if (!printable) {
                errors.push_back(at + "a pin name cannot hold blanks or control characters");
                continue;
            }
            const _PINDESC* pin = end.pin[0] == '$'
                                      ? (end.pin.size() > 1 ? FindPin(bsdl.pins, FIND_BY_NAME, end.pin.c_str() + 1) : nullptr)
                                      : FindPin(bsdl.pins, FIND_BY_PIN, end.pin.c_str());
            if (!pin) {
                errors.push_back(at + "no pin " + Quote(end.pin) + " in " + netlist.bsdl);
                continue;
            }
            if (pin == lockPll) {
                errors.push_back(at + "this is port LOCKPLL, which the station drives in every vector after the "
                                      "first; it cannot be on a net");
                continue;
            }
            auto [it, fresh] = taken.try_emplace({end.fpga, pin}, n, end.text);
            if (!fresh) {
                errors.push_back(at + Format("port %s of FPGA %d is already on ", pin->name.c_str(), end.fpga) +
                                 (it->second.first == n ? std::string("this net") : Format("nets[%zu]", it->second.first)) +
                                 " as " + Quote(it->second.second));
                continue;
            }
            if (driver) {
                if (!CellInRegister(pin->outCell, length))
                    errors.push_back(at + "port " + pin->name + " has no output cell to drive the net");
                else if (!CellInRegister(pin->ctrlCell, length))
                    errors.push_back(at + "port " + pin->name + " has no control cell for its output");
            } else if (!CellInRegister(pin->inCell, length)) {
                errors.push_back(at + "port " + pin->name + " has no input cell to sense the net");
            }
        }
    }
    return errors.size() == errorsBefore;
}

std::string FormatVectorFile(const _NETLIST& netlist)
{
    const size_t n = netlist.nets.size();
    const int bits = CodeBits(n);
    const std::string name = BaseName(netlist.boardFile);
    std::string board = Format("board %zu", netlist.boardIndex);
    if (!netlist.boardName.empty())
        board += " (" + Quote(netlist.boardName) + ")";

    std::string text;
    auto line = [&text](const std::string& s) { text += s + "\r\n"; };
    line(HeaderText("# Interconnection test vectors of " + board + " of " + name + ", written by qbx-vectors."));
    line(HeaderText("# Regenerate rather than edit: qbx-vectors " + name + " --board " +
                    std::to_string(netlist.boardIndex) + " -o FILE"));
    line(HeaderText("# FPGA pins of " + netlist.bsdl + "; " +
                    Format("%zu net%s, %d code bits, %d vectors.", n, n == 1 ? "" : "s", bits, 2 * bits)));
    line(Format("# Net i carries the code i+1, most significant bit first, in vectors 0 to %d, and its", bits - 1));
    line(Format("# complement in vectors %d to %d. The first endpoint of each net drives it, the others", bits,
                2 * bits - 1));
    line("# sense it; both lists are in net order.");
    line(std::string("<") + kInterconnectGroup + ">");
    line("DRIVE:");
    for (size_t i = 0; i < n; ++i) {
        if (!netlist.nets[i].empty())
            line(Format("%d-%s ", netlist.nets[i][0].fpga, netlist.nets[i][0].pin.c_str()) + NetBits(i, bits));
    }
    line("SENSOR:");
    for (size_t i = 0; i < n; ++i) {
        const std::string values = NetBits(i, bits);
        for (size_t e = 1; e < netlist.nets[i].size(); ++e)
            line(Format("%d-%s ", netlist.nets[i][e].fpga, netlist.nets[i][e].pin.c_str()) + values);
    }
    line(std::string("</") + kInterconnectGroup + ">");
    return text;
}

int RunQbxVectors(const std::vector<std::string>& args, FILE* out, FILE* err)
{
    auto usage = [&]() {
        std::fprintf(err, "usage: %s\n", kQbxVectorsUsage);
        return 2;
    };
    std::string boardFile;
    std::string outFile;
    bool haveOut = false;
    size_t boardIndex = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            std::fprintf(out, "usage: %s\n", kQbxVectorsUsage);
            std::fprintf(out, "Writes interconnection test vectors for the nets of board N (default 0) of a board file:\n"
                              "one driver per net (its first endpoint), its other endpoints as sensors.\n");
            return 0;
        }
        if (a == "--board" || a == "-o") {
            if (i + 1 >= args.size()) {
                std::fprintf(err, "qbx-vectors: %s needs a value\n", a.c_str());
                return usage();
            }
            const std::string& value = args[++i];
            if (a == "-o") {
                if (value.empty()) {
                    std::fprintf(err, "qbx-vectors: -o needs a file name\n");
                    return usage();
                }
                outFile = value;
                haveOut = true;
                continue;
            }
            bool digits = !value.empty() && value.size() <= 9;
            for (char c : value)
                digits = digits && c >= '0' && c <= '9';
            if (!digits) {
                std::fprintf(err, "qbx-vectors: --board needs a board number (0 for the first), not \"%s\"\n",
                             value.c_str());
                return usage();
            }
            boardIndex = std::stoul(value);
            continue;
        }
        if (!a.empty() && a[0] == '-') {
            std::fprintf(err, "qbx-vectors: unknown option %s\n", a.c_str());
            return usage();
        }
        if (!boardFile.empty()) {
            std::fprintf(err, "qbx-vectors: one board file only (%s and %s given)\n", boardFile.c_str(), a.c_str());
            return usage();
        }
        boardFile = a;
    }
    if (boardFile.empty())
        return usage();

    std::vector<std::string> errors;
    _NETLIST netlist;
    _BSDLDATA bsdl;
    bool ok = ReadNetlist(boardFile, boardIndex, netlist, errors);
    if (ok) {
        std::string why;
        if (!ReadBsdl(netlist.bsdlPath.c_str(), bsdl, &why)) {
            errors.push_back(boardFile + ": cannot read the BSDL file " + netlist.bsdl + " (" + netlist.bsdlPath + "): " +
                             (why.empty() ? "no such file" : why));
            ok = false;
        } else if (bsdl.missingSections != 0) {
            std::string missing;
            for (const std::string& section : MissingSectionNames(bsdl.missingSections))
                missing += (missing.empty() ? "" : ", ") + section;
            errors.push_back(boardFile + ": the BSDL file " + netlist.bsdl + " has no " + missing);
            ok = false;
        } else {
            ok = CheckNetlist(netlist, bsdl, errors);
        }
    }
    if (!ok) {
        for (const std::string& e : errors)
            std::fprintf(err, "qbx-vectors: %s\n", e.c_str());
        std::fprintf(err, "qbx-vectors: no vector file written\n");
        return 1;
    }

    const std::string text = FormatVectorFile(netlist);
    if (haveOut) {
        std::string why;
        if (!platform::WriteOutputFile(outFile, text, &why)) {
            std::fprintf(err, "qbx-vectors: cannot write %s: %s\n", outFile.c_str(), why.c_str());
            return 1;
        }
        return 0;
    }
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0) {
        std::fprintf(err, "qbx-vectors: cannot write the vector file to the output\n");
        return 1;
    }
    return 0;
}
