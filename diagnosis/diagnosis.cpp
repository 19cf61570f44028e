#include <algorithm>
#include <cstdint>
#include <set>

#include "diagnosis.h"
#include "platform.h"

namespace {

bool Constant(const std::string& values)
{
    return !values.empty() && values.find_first_not_of(values[0]) == std::string::npos;
}

// The wired AND (or OR) of the codes of the given nets.
std::string Combine(const CNetModel& model, const std::set<size_t>& nets, bool wiredOr)
{
    std::string result(model.vectorCount, wiredOr ? '0' : '1');
    for (size_t n : nets)
        for (size_t v = 0; v < result.size(); ++v)
            if ((model.nets[n].driver.values[v] == '1') == wiredOr)
                result[v] = wiredOr ? '1' : '0';
    return result;
}

bool ShortGives(const CNetModel& model, const std::set<size_t>& nets, const std::string& read)
{
    return Combine(model, nets, false) == read || Combine(model, nets, true) == read;
}

// The one net other than n whose short with n explains a receiver of n reading values: the other
// net's code itself (its driver wins) or the AND or OR of both codes. SIZE_MAX when none or more
// than one fits.
size_t ShortPartner(const CNetModel& model, size_t n, const std::string& values)
{
    size_t found = SIZE_MAX;
    for (size_t m = 0; m < model.nets.size(); ++m) {
        if (m == n || (model.nets[m].driver.values != values && !ShortGives(model, {n, m}, values)))
            continue;
        if (found != SIZE_MAX)
            return SIZE_MAX;
        found = m;
    }
    return found;
}

std::string NameList(const std::vector<std::string>& names)
{
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

}  // namespace

std::vector<_NETFAULT> Diagnose(const CNetModel& model, const std::vector<_FAILEDPIN>& failed)
{
    // What every receiver read: its expected values with the wrong cells put in.
    std::vector<std::vector<std::string>> read(model.nets.size());
    for (size_t n = 0; n < model.nets.size(); ++n)
        for (const _NETEND& receiver : model.nets[n].receivers)
            read[n].push_back(receiver.values);
    std::map<std::string, std::string> offNet;  // name -> the wrong vectors it read, for pins on no net
    for (const _FAILEDPIN& pin : failed) {
        size_t n = 0, r = 0;
        if (pin.abs >= 0 && static_cast<size_t>(pin.abs) < model.vectorCount && model.FindReceiver(pin.fpga, pin.port, n, r)) {
            read[n][r][static_cast<size_t>(pin.abs)] = pin.read ? '1' : '0';
            continue;
        }
        const _NETEND end{pin.fpga, pin.port, pin.port, pin.package, ""};
        offNet[end.Name()] += platform::Format("%s%d=%d", offNet[end.Name()].empty() ? "" : " ", pin.abs, pin.read);
    }

    // Receivers that read wrong, by net; and the nets whose receivers read each varying wrong value.
    std::vector<std::vector<size_t>> wrong(model.nets.size());
    std::map<std::string, std::set<size_t>> varying;
    for (size_t n = 0; n < model.nets.size(); ++n)
        for (size_t r = 0; r < read[n].size(); ++r)
            if (read[n][r] != model.nets[n].receivers[r].values) {
                wrong[n].push_back(r);
                if (!Constant(read[n][r]))
                    varying[read[n][r]].insert(n);
            }

    // Shorts: the nets whose receivers read one value that their codes' AND or OR gives; else a
    // single net whose receivers read what a short with one other net gives.
    std::set<std::set<size_t>> shorts;
    std::map<std::string, std::set<size_t>> explained;  // values -> nets whose receivers they explain
    for (const auto& [values, nets] : varying) {
        if (nets.size() >= 2 && ShortGives(model, nets, values)) {
            shorts.insert(nets);
            explained[values] = nets;
            continue;
        }
        for (size_t n : nets)
            if (const size_t m = ShortPartner(model, n, values); m != SIZE_MAX) {
                shorts.insert({n, m});
                explained[values].insert(n);
            }
    }

    // Nets whose receivers all read one level; two such nets whose codes' AND (or OR) is that level
    // throughout are one short rather than two stuck nets (their codes are complementary).
    std::vector<int> level(model.nets.size(), -1);
    for (size_t n = 0; n < model.nets.size(); ++n) {
        const size_t count = model.nets[n].receivers.size();
        if (count > 0 && wrong[n].size() == count &&
            std::all_of(read[n].begin(), read[n].end(), [&](const std::string& r) { return Constant(r) && r[0] == read[n][0][0]; }))
            level[n] = read[n][0][0] - '0';
    }
    std::map<std::set<size_t>, int> constantShorts;
    for (size_t n = 0; n < model.nets.size(); ++n) {
        std::vector<size_t> partners;
        for (size_t m = 0; m < model.nets.size() && level[n] >= 0; ++m)
            if (m != n && level[m] == level[n] && ShortGives(model, {n, m}, std::string(model.vectorCount, static_cast<char>('0' + level[n]))))
                partners.push_back(m);
        if (partners.size() == 1)
            constantShorts[{n, partners[0]}] = level[n];
    }
    for (const auto& [nets, value] : constantShorts) {
        shorts.insert(nets);
        for (size_t n : nets)
            level[n] = -1;
        for (size_t n : nets)
            for (const std::string& r : read[n])
                explained[r].insert(n);
    }

    std::vector<_NETFAULT> faults;
    std::set<std::set<size_t>> shown;
    for (size_t n = 0; n < model.nets.size(); ++n) {
        if (wrong[n].empty())
            continue;
        for (const std::set<size_t>& nets : shorts)
            if (nets.count(n) && shown.insert(nets).second) {
                const auto constant = constantShorts.find(nets);
                faults.push_back({NetFaultKind::Short, std::vector<size_t>(nets.begin(), nets.end()), {},
                                  constant == constantShorts.end() ? -1 : constant->second});
            }
        if (level[n] >= 0) {
            faults.push_back({NetFaultKind::OpenOrStuck, {n}, {}, level[n]});
            continue;
        }
        const _NET& net = model.nets[n];
        std::vector<size_t> others;
        for (size_t r : wrong[n]) {
            if (explained[read[n][r]].count(n))
                continue;
            if (Constant(read[n][r]))
                faults.push_back({NetFaultKind::OpenReceiver, {n}, {net.receivers[r].Name()}, read[n][r][0] - '0'});
            else
                others.push_back(r);
        }
        if (!others.empty()) {
            _NETFAULT fault{NetFaultKind::Unexplained, {n}, {}, -1};
            for (size_t r : others)
                fault.pins.push_back(net.receivers[r].Name() + " reads " + read[n][r] + ", expected " + net.receivers[r].values);
            faults.push_back(std::move(fault));
        }
    }
    for (const auto& [name, values] : offNet)
        faults.push_back({NetFaultKind::Unexplained, {}, {name + " read wrong in vectors " + values + " and is on no net"}, -1});
    return faults;
}

const char* NetFaultKindName(NetFaultKind kind)
{
    switch (kind) {
    case NetFaultKind::Short:
        return "short";
    case NetFaultKind::OpenOrStuck:
        return "open-or-stuck";
    case NetFaultKind::OpenReceiver:
        return "open-receiver";
    case NetFaultKind::Unexplained:
        break;
    }
    return "unexplained";
}

std::string DescribeNetFault(const CNetModel& model, const _NETFAULT& fault)
{
    std::vector<std::string> nets;
    for (size_t n : fault.nets)
        nets.push_back("net " + model.nets.at(n).driver.Name());
    const std::string net = nets.empty() ? std::string() : nets[0];
    switch (fault.kind) {
    case NetFaultKind::Short:
        if (fault.value >= 0)
            return platform::Format("short between %s (their codes are complementary, so every receiver reads %d: or each net is "
                                    "stuck at %d)", NameList(nets).c_str(), fault.value, fault.value);
        return "short between " + NameList(nets);
    case NetFaultKind::OpenOrStuck: {
        const std::vector<_NETEND>& receivers = model.nets.at(fault.nets.at(0)).receivers;
        if (receivers.size() == 1)
            return platform::Format("%s: its receiver %s reads %d: open at the driver or at the receiver, or the net is stuck at %d",
                                    net.c_str(), receivers[0].Name().c_str(), fault.value, fault.value);
        return platform::Format("%s: all %zu receivers read %d: open at the driver, or the net is stuck at %d", net.c_str(),
                                receivers.size(), fault.value, fault.value);
    }
    case NetFaultKind::OpenReceiver:
        return platform::Format("%s: receiver %s reads %d, the others read right: open at that receiver", net.c_str(),
                                fault.pins.at(0).c_str(), fault.value);
    case NetFaultKind::Unexplained:
        break;
    }
    std::string pins;
    for (const std::string& pin : fault.pins)
        pins += (pins.empty() ? "" : "; ") + pin;
    return (net.empty() ? "unexplained: " : net + ": unexplained: ") + pins;
}
