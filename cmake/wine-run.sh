#!/bin/sh
# Runs a Windows program of the cross build under Wine: the emulator CTest puts before every
# program it runs. Wine's debug output is off unless WINEDEBUG says otherwise; WINEPREFIX is the
# caller's (the windows test preset names the prefix that scripts/test-windows.sh prepares).
: "${WINEDEBUG:=-all}"
export WINEDEBUG
exec wine "$@"
