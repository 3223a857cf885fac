#!/usr/bin/env bash
# Installs what is missing, builds the desktop program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target tanvork
exe=../build/tanvork-release/src/ui/tanvork
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "tanvork: no display found (DISPLAY/WAYLAND_DISPLAY are unset); start it from a desktop session, or under xvfb-run." >&2
  exit 1
fi
exec "$exe" "$@"
