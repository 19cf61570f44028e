#!/usr/bin/env bash
# The Windows build, tested under Wine: cross-builds the windows preset with Debian's MinGW-w64
# (Test_QBX_FPGA.exe, usbwire.dll, the tools, qbxsim.dll and the test programs), prepares a Wine
# prefix in the build folder and runs every test of that build through Wine on a virtual X display
# (the message-box test needs one). On a fresh Debian 12 machine it first installs the packages it
# needs (as root or through sudo). Prints how long each step took.
set -euo pipefail
cd "$(dirname "$0")/.."

step_start=$SECONDS
step() {
  printf '== %s (%ds)\n' "$1" $((SECONDS - step_start))
  step_start=$SECONDS
}

# mingw-w64's C++ compiler with posix threads and its binutils, Wine (64-bit only), the X server
# for the box, GoogleTest's sources; cmake, ninja and nlohmann-json as for the Linux build.
scripts/deps.sh g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xauth googletest
step "packages"

cmake --preset windows
cmake --build --preset windows
step "cross build"

# One Wine prefix per build folder; a fresh one takes a few seconds to set up. No Mono or Gecko
# installer is offered (they would wait for a click).
export WINEPREFIX=$PWD/build/windows/wineprefix
export WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1
  wineserver --wait
fi
step "wine prefix"

# Everything under one virtual display. The Wine server and its services are started first, apart
# from CTest, and kept running: a service started by a test program would hold that program's
# output pipe open and CTest would wait for it forever; and a kept server starts programs faster.
status=0
xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" bash -c '
  set -e
  wineserver --persistent
  wine cmd /c exit >/dev/null 2>&1 </dev/null
  status=0
  ctest --preset windows "$@" || status=$?
  wineserver --kill
  exit $status
' test-windows "$@" || status=$?
step "tests under wine"

# The files a user copies to the bench PC, in a folder of their own, run as README.md shows: the
# demo there leaves the report, truth table and error file of examples/demo/.
bench=build/windows/bench-pc
rm -rf "$bench"
cmake --install build/windows --prefix "$bench" --strip >/dev/null
mkdir "$bench/out"
(
  cd "$bench"
  USBWIRE_DRIVER=qbxsim.dll QBXSIM_BOARD='examples\boards\sequence.json' QBX_CONSOLE_BOX=1 \
    wine Test_QBX_FPGA.exe 'examples\a3pe3000.bsd' 'examples\interconnect.vec' out \
    < examples/operator-input.txt > out/console.txt
)
for file in error.txt truetable.txt QBX_1001_6C00080157A3B210.txt; do
  if ! cmp -s "examples/demo/$file" "$bench/out/$file"; then
    echo "the demo on the bench-PC folder left another $file than examples/demo/$file" >&2
    status=1
  fi
done
wineserver --wait
step "demo from the installed folder"
exit $status
