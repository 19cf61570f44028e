#!/usr/bin/env bash
# Builds everything under AddressSanitizer and UndefinedBehaviorSanitizer and runs every test.
# On a fresh Debian 12 machine it first installs the packages it needs.
set -euo pipefail
cd "$(dirname "$0")/.."

# Chromium draws the results report page in a test.
scripts/deps.sh chromium
cmake --preset asan
cmake --build --preset asan
ctest --preset asan "$@"
