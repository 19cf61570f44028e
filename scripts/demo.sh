#!/usr/bin/env bash
# The station's main job on the simulated board sequence of the examples: builds the optimised
# station, the board simulator and the report checker, runs Test_QBX_FPGA on a passing board and a
# failing one with the operator's input from examples/operator-input.txt, then shows the signed
# report, its verification, the error file and the two boards' records in the results database.
# On a fresh Debian 12 machine it first installs the packages it needs.
#
# QBX_DEMO_BUILD=<folder> uses an already configured build folder instead of the release preset.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(Test_QBX_FPGA qbxsim qbx-verify-report qbx-results)
if [ -n "${QBX_DEMO_BUILD:-}" ]; then
  build=$QBX_DEMO_BUILD
  cmake --build "$build" --target "${targets[@]}"
else
  scripts/deps.sh
  build=build/release
  cmake --preset release
  cmake --build --preset release --target "${targets[@]}"
fi
bin=$build/bin

out=out/demo
rm -rf "$out"
mkdir -p "$out"

section() { printf '\n===== %s\n' "$*"; }

section "operator input (examples/operator-input.txt): serial number and current per board, then 0"
tr -d '\r' < examples/operator-input.txt | paste -sd ' ' -
section "Test_QBX_FPGA examples/a3pe3000.bsd examples/interconnect.vec $out" \
  "(boards: examples/boards/sequence.json)"
status=0
# The records go to results.db in the output folder.
unset QBX_RESULTS
USBWIRE_DRIVER=libqbxsim.so QBXSIM_BOARD=examples/boards/sequence.json \
  "$bin/Test_QBX_FPGA" examples/a3pe3000.bsd examples/interconnect.vec "$out" \
  < examples/operator-input.txt || status=$?
section "Test_QBX_FPGA ended with status $status"

reports=("$out"/QBX_*.txt)
if [ ! -e "${reports[0]}" ]; then
  echo "no report was written" >&2
  exit 1
fi
for report in "${reports[@]}"; do
  section "report $report"
  cat "$report"
  section "qbx-verify-report $report"
  "$bin/qbx-verify-report" "$report"
done
section "error file $out/error.txt (the last board's messages)"
cat "$out/error.txt"
section "qbx-results --db $out/results.db list (every board tested, newest first)"
"$bin/qbx-results" --db "$out/results.db" list
exit "$status"
