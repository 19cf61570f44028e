#include <cstdint>
#include <map>

#include "diagnosis.h"
#include "platform.h"
#include "vectors.h"

namespace {

// Vectors the board model holds at most; a file beyond it is refused by the station anyway.
constexpr size_t kMaxVectors = 4096;
// Problems named one by one before the rest is counted.
constexpr size_t kMaxProblemsNamed = 3;

// Reads the pin lines of a vector file through the station's own reader.
class CPinLineReader final : public CBsrVectors {
public:
    int AddPinVector(const std::string& group, int section, int device, const std::string& pin,
                     const std::string& bits) override
    {
        m_Lines.push_back({group, section, device, pin, bits});
        return 1;
    }
    std::vector<_PINLINE> m_Lines;
};

// The pin's names from the BSDL file: "$NAME" by port name, anything else by package pin.
void NamePin(const _BSDLDATA& bsdl, _NETEND& end)
{
    const _PINDESC* desc = !end.pin.empty() && end.pin[0] == '$' ? FindPin(bsdl.pins, FIND_BY_NAME, end.pin.c_str() + 1)
                                                                 : FindPin(bsdl.pins, FIND_BY_PIN, end.pin.c_str());
    end.port = desc != nullptr ? desc->name : end.pin;
    end.package = desc != nullptr ? PinLabel(*desc) : "";
}

// Adds "what: a, b, c and n more" to problems when the list is not empty.
void AddProblem(std::vector<std::string>& problems, const std::string& what, const std::vector<std::string>& items)
{
    if (items.empty())
        return;
    std::string text = what + ": ";
    for (size_t i = 0; i < items.size() && i < kMaxProblemsNamed; ++i)
        text += (i ? ", " : "") + items[i];
    if (items.size() > kMaxProblemsNamed)
        text += platform::Format(" and %zu more", items.size() - kMaxProblemsNamed);
    problems.push_back(text);
}

}  // namespace

std::string _NETEND::Name() const
{
    return platform::Format("fpga %d pin:%s (%s)", fpga, port.c_str(), package.empty() ? pin.c_str() : package.c_str());
}

void CNetModel::Build(const std::vector<_PINLINE>& lines, const _BSDLDATA& bsdl, std::vector<std::string>& problems)
{
    nets.clear();
    loose.clear();
    m_Receivers.clear();
    vectorCount = 0;

    // The vectors each group's positions 1, 2, ... land in; vector 0 is position 0 of every line.
    std::map<std::string, std::vector<size_t>> groupVectors;
    for (const _PINLINE& line : lines) {
        if (vectorCount == 0)
            vectorCount = 1;
        std::vector<size_t>& slots = groupVectors[line.group];
        while (slots.size() + 1 < line.bits.size() && vectorCount < kMaxVectors)
            slots.push_back(vectorCount++);
    }

    std::map<std::string, size_t> netByCode;
    std::vector<std::string> sameCode, constant, noNet, twice;
    std::map<std::pair<int, std::string>, std::string> seen;  // (fpga, port) -> the line naming it
    std::vector<const _PINLINE*> sensors;
    std::vector<_NETEND> sensorEnds;
    for (const _PINLINE& line : lines) {
        _NETEND end{line.fpga, line.pin, "", "", std::string(vectorCount, line.bits.empty() ? '0' : line.bits[0])};
        const std::vector<size_t>& slots = groupVectors[line.group];
        for (size_t i = 1; i < line.bits.size() && i - 1 < slots.size(); ++i)
            end.values[slots[i - 1]] = line.bits[i];
        NamePin(bsdl, end);
        const std::string where = platform::Format("%d-%s", line.fpga, line.pin.c_str());
        if (!seen.emplace(std::make_pair(end.fpga, end.port), where).second) {
            twice.push_back(where);
            continue;
        }
        if (line.section == SECTION_DRIVE) {
            if (end.values.find_first_not_of(end.values[0]) == std::string::npos)
                constant.push_back(where);
            auto [it, fresh] = netByCode.emplace(end.values, nets.size());
            if (!fresh) {
                sameCode.push_back(where + " and " + platform::Format("%d-%s", nets[it->second].driver.fpga,
                                                                      nets[it->second].driver.pin.c_str()));
                continue;
            }
            nets.push_back({std::move(end), {}});
        } else {
            sensorEnds.push_back(std::move(end));
            sensors.push_back(&line);
        }
    }
    for (size_t s = 0; s < sensorEnds.size(); ++s) {
        _NETEND& end = sensorEnds[s];
        const auto net = netByCode.find(end.values);
        const std::pair<int, std::string> key{end.fpga, end.port};
        if (net == netByCode.end()) {
            noNet.push_back(platform::Format("%d-%s", sensors[s]->fpga, sensors[s]->pin.c_str()));
            m_Receivers[key] = {SIZE_MAX, loose.size()};
            loose.push_back(std::move(end));
            continue;
        }
        std::vector<_NETEND>& receivers = nets[net->second].receivers;
        m_Receivers[key] = {net->second, receivers.size()};
        receivers.push_back(std::move(end));
    }

    if (vectorCount >= kMaxVectors)
        problems.push_back(platform::Format("more than %zu vectors: the later ones are not diagnosed", kMaxVectors));
    if (nets.empty())
        problems.push_back("the vector file has no DRIVE line: there is no net to name");
    AddProblem(problems, "DRIVE lines with the same values (nets that cannot be told apart)", sameCode);
    AddProblem(problems, "DRIVE lines that never change level (stuck nets cannot be seen)", constant);
    AddProblem(problems, "SENSOR lines whose values are no DRIVE line's (pins on no net)", noNet);
    AddProblem(problems, "pins on more than one line (left out)", twice);
}

bool CNetModel::Load(const std::string& path, const _BSDLDATA& bsdl, std::vector<std::string>& problems,
                     std::string& digest)
{
    CPinLineReader reader;
    if (reader.Load(path.c_str()) == 0 && reader.m_Lines.empty()) {
        problems.push_back("cannot read " + path);
        return false;
    }
    digest = reader.m_VectorsDigest;
    Build(reader.m_Lines, bsdl, problems);
    return true;
}

bool CNetModel::FindReceiver(int fpga, const std::string& port, size_t& net, size_t& receiver) const
{
    const auto it = m_Receivers.find({fpga, port});
    if (it == m_Receivers.end() || it->second.first == SIZE_MAX)
        return false;
    net = it->second.first;
    receiver = it->second.second;
    return true;
}
