#include "board.h"

#include <numeric>

namespace qbxsim {

namespace {

std::vector<CSimFpga> MakeDevices(const _SIMBOARDSPEC& spec, const std::shared_ptr<const CBoundaryLayout>& layout)
{
    std::vector<CSimFpga> devices;
    devices.reserve(spec.idcodes.size());
    for (const auto& idcode : spec.idcodes)
        devices.emplace_back(layout, idcode);
    return devices;
}

// Union-find over pin numbers.
class CPinSets {
public:
    explicit CPinSets(size_t count) : m_Parent(count) { std::iota(m_Parent.begin(), m_Parent.end(), size_t{0}); }
    size_t Find(size_t x)
    {
        while (m_Parent[x] != x) {
            m_Parent[x] = m_Parent[m_Parent[x]];
            x = m_Parent[x];
        }
        return x;
    }
    void Join(size_t a, size_t b) { m_Parent[Find(a)] = Find(b); }

private:
    std::vector<size_t> m_Parent;
};

}  // namespace

CSimBoard::CSimBoard(const _SIMBOARDSPEC& spec, std::shared_ptr<const CBoundaryLayout> layout,
                     std::vector<std::unique_ptr<OneWireDevice>> oneWire)
    : m_Name(spec.name),
      m_ChainAddress(spec.chainAddress),
      m_Pull(spec.pull ? 1 : 0),
      m_TdoStuck(spec.tdoStuck),
      m_Chain(MakeDevices(spec, layout), [this] { EvaluateNets(); }),
      m_OneWire(std::move(oneWire))
{
    const size_t ports = layout->Ports().size();
    const size_t devices = spec.idcodes.size();
    auto id = [ports](const _SIMPINREF& pin) { return static_cast<size_t>(pin.fpga) * ports + static_cast<size_t>(pin.port); };
    auto valid = [ports, devices](const _SIMPINREF& pin) {
        return pin.fpga >= 0 && static_cast<size_t>(pin.fpga) < devices && pin.port >= 0 &&
               static_cast<size_t>(pin.port) < ports;
    };

    std::vector<bool> open(ports * devices, false);
    for (const _SIMPINREF& pin : spec.opens)
        if (valid(pin))
            open[id(pin)] = true;

    // Nets and shorts join pins; an open pin is never joined to anything.
    CPinSets sets(ports * devices);
    auto join = [&](const _SIMPINREF& a, const _SIMPINREF& b) {
        if (valid(a) && valid(b) && !open[id(a)] && !open[id(b)])
            sets.Join(id(a), id(b));
    };
    for (const auto& net : spec.nets) {
        const _SIMPINREF* first = nullptr;
        for (const _SIMPINREF& pin : net) {
            if (!valid(pin) || open[id(pin)])
                continue;
            if (first)
                join(*first, pin);
            else
                first = &pin;
        }
    }
    for (const auto& [a, b] : spec.shorts)
        join(a, b);

    std::vector<int> netOfRoot(ports * devices, -1);
    for (size_t d = 0; d < devices; ++d) {
        for (size_t p = 0; p < ports; ++p) {
            size_t root = sets.Find(d * ports + p);
            if (netOfRoot[root] < 0) {
                netOfRoot[root] = static_cast<int>(m_Nets.size());
                m_Nets.emplace_back();
            }
            m_Nets[netOfRoot[root]].members.push_back({static_cast<int>(d), static_cast<int>(p)});
        }
    }
    for (const auto& [pin, value] : spec.stucks)
        if (valid(pin))
            m_Nets[netOfRoot[sets.Find(id(pin))]].stuck = value ? 1 : 0;

    m_Alone.resize(devices);
    std::vector<Net> joined;
    for (Net& net : m_Nets) {
        if (net.members.size() == 1 && net.stuck < 0)
            m_Alone[net.members[0].fpga].push_back(static_cast<uint32_t>(net.members[0].port));
        else
            joined.push_back(std::move(net));
    }
    m_Nets = std::move(joined);
    EvaluateNets(true);
}

void CSimBoard::SetPowered(bool powered)
{
    if (powered && !m_Powered)
        m_Chain.PowerOn();
    m_Powered = powered;
    EvaluateNets(true);
}

void CSimBoard::EvaluateNets()
{
    EvaluateNets(false);
}

void CSimBoard::EvaluateNets(bool everyDevice)
{
    std::vector<CSimFpga>& devices = m_Chain.Devices();
    std::vector<bool> driving(devices.size());
    for (size_t d = 0; d < devices.size(); ++d) {
        driving[d] = m_Powered && devices[d].InExtest();
        if (!devices[d].TakeDriveChanged() && !everyDevice)
            continue;
        bool level;
        for (uint32_t port : m_Alone[d])
            devices[d].SetPinLevel(port, driving[d] && devices[d].Drives(port, &level) ? level : m_Pull != 0);
    }

    for (const Net& net : m_Nets) {
        bool level;
        if (net.stuck >= 0) {
            level = net.stuck != 0;
        } else {
            bool any0 = false, any1 = false;
            for (const _SIMPINREF& pin : net.members) {
                bool driven;
                if (driving[pin.fpga] && devices[pin.fpga].Drives(static_cast<size_t>(pin.port), &driven))
                    (driven ? any1 : any0) = true;
            }
            level = any0 ? false : any1 ? true : m_Pull != 0;
        }
        for (const _SIMPINREF& pin : net.members)
            devices[pin.fpga].SetPinLevel(static_cast<size_t>(pin.port), level);
    }
}

std::vector<OneWireDevice*> CSimBoard::OneWireDevices() const
{
    std::vector<OneWireDevice*> list;
    for (const auto& device : m_OneWire)
        list.push_back(device.get());
    return list;
}

}  // namespace qbxsim
