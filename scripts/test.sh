#!/usr/bin/env bash
# Installs what is missing, builds everything (warnings are errors) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
cmake --preset release -DTANVORK_WERROR=ON >/dev/null
cmake --build --preset release -j"$jobs"
# The GUI tests need no display: Qt draws offscreen.
QT_QPA_PLATFORM=offscreen ctest --preset release -j"$jobs" --timeout 600
