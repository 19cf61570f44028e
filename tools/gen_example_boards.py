#!/usr/bin/env python3
"""Writes the example board files of the board simulator into examples/boards/.

    python3 tools/gen_example_boards.py              # writes examples/boards/*.json
    python3 tools/gen_example_boards.py OUT_FOLDER   # writes the same files into OUT_FOLDER

Then regenerate the example vector file from the healthy board (a test checks it is up to date):

    build/<dir>/bin/qbx-vectors examples/boards/healthy.json -o examples/interconnect.vec

Every board is the same QBX design: eight A3PE3000 at chain address 1, nets between pins of
different FPGAs (read from examples/a3pe3000.bsd, never its LOCKPLL pin), a DS18S20 and two
DS2450. The healthy board passes; each faulty board carries exactly one fault; sequence.json puts a
passing and a failing board through the socket one after the other.

Deterministic: no randomness, no clock; running it again gives the same bytes. Python 3 standard
library only; the outputs are committed, nothing runs this at build or test time.
"""

import json
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
BSDL = os.path.join(HERE, "..", "examples", "a3pe3000.bsd")
BSDL_FROM_BOARDS = "../a3pe3000.bsd"   # as the board files name it (relative to the board file)
IDCODE = "0x3E74E1CF"
FPGAS = 8

# How many receivers each net has, by net number (cycled): mostly one, some nets reach three or
# four FPGAs.
FANOUT = [1, 2, 1, 3, 1, 1, 2, 1, 3, 2, 1, 1]
# Which FPGAs a net's receivers sit on, relative to its driver's FPGA (first FANOUT entries).
RECEIVER_OFFSETS = [1, 3, 6]
LINK_NETS = 40     # nets between LNK ports (each FPGA's LNK48*f .. LNK48*f+47)
CONTROL_NETS = 8   # nets from a GPO port to GPI ports (each FPGA's GPx8*f .. GPx8*f+7)

# The 1-Wire devices of the first board (sequence.json's second board gets other serials).
# DS2450 channel voltages: the station reads them about 0.4 % low (it scales with 5.1 V, the
# converter with 5.12 V); every threshold below stays far from its limit.
THERMOMETER = {"type": "DS18S20", "serial": "00080157A3B2", "powered": True, "celsius": 24.5}
# adcsensor1: A = supply-current amplifier (I = A / 20 / 0.022: 0.22 V is 0.5 A), B in (3.0, 3.7)
# and far from A, C unused, D = Vmem.
ADC_SUPPLY = {"type": "DS2450", "serial": "0000000C1D2E", "volts": [0.22, 3.30, 0.0, 1.80]}
# adcsensor2: |A - B| < 0.1, B in (3.0, 3.7), C = Vin / 2, D above 1.5 V (no Vmem fault); its
# channel A output is the board's JTAG switch.
ADC_SWITCH = {"type": "DS2450", "serial": "0000000C1D2F", "volts": [3.30, 3.32, 1.65, 3.30],
              "jtag_switch": True}
SECOND_SERIALS = {"00080157A3B2": "00080157A3C4", "0000000C1D2E": "0000000C1E30",
                  "0000000C1D2F": "0000000C1E31"}

STATION_SCALE = 5.1 / 5.12


def read_bsdl(path):
    """The user I/O ports of the BSDL file: {name: (direction, ball)}, from the port list and the
    PIN_MAP_STRING constant."""
    with open(path, "rb") as f:
        text = f.read().decode("ascii")
    directions = dict(re.findall(r"^\s*(\w+)\s*:\s*(in|out|inout)\s+bit\s*;?\s*$", text, re.M))
    balls = dict(re.findall(r'^\s*"(\w+)\s*:\s*([A-Z]+[0-9]+)\s*[,"]', text, re.M))
    ports = {}
    for name, direction in directions.items():
        if name in balls:
            ports[name] = (direction, balls[name])
    return ports


def design_nets(ports):
    """The nets of the QBX design: a list of nets, each a list of endpoints, driver first."""
    assert "LOCKPLL" in ports
    used = set()
    pools = {}

    def take(fpga, prefix, first, count):
        """The next free port of a pool of one FPGA (prefix + first .. prefix + first+count-1)."""
        key = (fpga, prefix)
        start = pools.get(key, 0)
        for m in range(start, count):
            name = "%s%d" % (prefix, first + m)
            if (fpga, name) not in used:
                pools[key] = m + 1
                used.add((fpga, name))
                return name
        raise SystemExit("pool %s of FPGA %d is exhausted" % (prefix, fpga))

    nets = []
    for i in range(LINK_NETS + CONTROL_NETS):
        driver = i % FPGAS
        receivers = [(driver + o) % FPGAS for o in RECEIVER_OFFSETS[:FANOUT[i % len(FANOUT)]]]
        if i < LINK_NETS:
            names = [take(f, "LNK", 48 * f, 48) for f in [driver] + receivers]
        else:
            names = [take(driver, "GPO", 8 * driver, 8)]
            names += [take(f, "GPI", 8 * f, 8) for f in receivers]
        net = []
        for e, (fpga, name) in enumerate(zip([driver] + receivers, names)):
            assert name != "LOCKPLL" and name in ports
            direction, ball = ports[name]
            assert direction in (("out", "inout") if e == 0 else ("in", "inout")), name
            # Both ways of naming a pin: by ball and by "$" + port name.
            net.append("%d:%s" % (fpga, ball if (i + e) % 2 == 0 else "$" + name))
        nets.append(net)
    return nets


def check_sensors(onewire):
    """Asserts that the station classifies the converters as intended, with wide margins."""
    adcs = [d for d in onewire if d["type"] == "DS2450"]
    for d in adcs:
        a, b, c, dd = (v * STATION_SCALE for v in d["volts"])
        assert 3.1 < b < 3.6, d
        if d.get("jtag_switch"):
            assert abs(a - b) < 0.05 and dd > 2.0 and 1.5 < c < 1.8, d   # adcsensor2
        else:
            assert abs(a - b) > 1.0 and 0.4 < a / 20 / 0.022 < 0.6 and 1.6 < dd < 2.0, d


def board(name, nets, onewire, idcodes=None, faults=None):
    b = {
        "name": name,
        "chain_address": 1,
        "idcodes": idcodes if idcodes is not None else [IDCODE] * FPGAS,
        "pull": 1,
        "nets": nets,
    }
    if faults:
        b["faults"] = faults
    b["onewire"] = onewire
    return b


def healthy_onewire():
    return [dict(THERMOMETER), dict(ADC_SUPPLY), dict(ADC_SWITCH)]


def boards(nets):
    """{file name: (description, list of boards)}"""
    out = {}
    ok = healthy_onewire()
    check_sensors(ok)
    out["healthy.json"] = [board("healthy", nets, ok)]

    open_pin = nets[13][1]
    out["open-pin.json"] = [board("open pin %s" % open_pin, nets, healthy_onewire(),
                                  faults=[{"open": open_pin}])]

    short = [nets[10][1], nets[21][1]]
    out["short.json"] = [board("nets 10 and 21 shorted", nets, healthy_onewire(),
                               faults=[{"short": short}])]

    stuck = nets[30][0]
    out["stuck-net.json"] = [board("net 30 stuck at 0", nets, healthy_onewire(),
                                   faults=[{"stuck": stuck, "value": 0}])]

    # The eighth FPGA is missing: the chain has seven devices, and the nets that reached FPGA 7
    # are not on this board.
    seven = [n for n in nets if all(not e.startswith("7:") for e in n)]
    out["seven-fpgas.json"] = [board("seven FPGAs in the chain", seven, healthy_onewire(),
                                     idcodes=[IDCODE] * (FPGAS - 1))]

    wrong = [IDCODE] * FPGAS
    wrong[5] = "0x2E74E1CF"   # another silicon version of the device
    out["wrong-idcode.json"] = [board("FPGA 5 answers 0x2E74E1CF", nets, healthy_onewire(),
                                      idcodes=wrong)]

    parasite = healthy_onewire()
    parasite[0]["powered"] = False
    out["parasite-thermometer.json"] = [board("parasite-powered DS18S20", nets, parasite)]

    out["missing-converter.json"] = [board("adcsensor1 missing", nets,
                                           [dict(THERMOMETER), dict(ADC_SWITCH)])]

    second = []
    for d in healthy_onewire():
        d["serial"] = SECOND_SERIALS[d["serial"]]
        second.append(d)
    out["sequence.json"] = [
        board("first board: passes", nets, healthy_onewire()),
        board("second board: nets 10 and 21 shorted", nets, second, faults=[{"short": short}]),
    ]
    return out


def render(value, indent=0):
    """JSON with two-space indents, and arrays of plain values (a net, the volts) on one line."""
    pad = "  " * indent
    inner = "  " * (indent + 1)
    if isinstance(value, dict):
        items = ['%s%s: %s' % (inner, json.dumps(k), render(v, indent + 1)) for k, v in value.items()]
        return "{\n" + ",\n".join(items) + "\n" + pad + "}"
    if isinstance(value, list):
        if not value:
            return "[]"
        if all(not isinstance(v, (dict, list)) for v in value):
            return "[" + ", ".join(json.dumps(v) for v in value) + "]"
        return "[\n" + ",\n".join(inner + render(v, indent + 1) for v in value) + "\n" + pad + "]"
    return json.dumps(value)


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "examples", "boards")
    os.makedirs(out_dir, exist_ok=True)
    nets = design_nets(read_bsdl(BSDL))
    for name, sequence in boards(nets).items():
        document = {"bsdl": BSDL_FROM_BOARDS, "boards": sequence}
        text = render(document) + "\n"
        assert json.loads(text) == document
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(text.encode("ascii"))


if __name__ == "__main__":
    main()
