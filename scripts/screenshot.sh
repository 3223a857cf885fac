#!/usr/bin/env bash
# Renders the main window with a real book-source file loaded, checked (its plain-http
# requests answered by a local proxy, so no network is needed) and shown in the table
# view, a row in the editor, to docs/screenshot.png (offscreen; no display needed).
set -euo pipefail
cd "$(dirname "$0")/.."

file=${1:-../shared/data/real/hzfla_book.json}
out=${2:-docs/screenshot.png}
if [ ! -f "$file" ]; then
  echo "screenshot: book-source file not found: $file" >&2
  exit 1
fi

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target ui_screenshot
QT_QPA_PLATFORM=offscreen ../build/tanvork-release/tests/ui/ui_screenshot "$file" "$out" 3 check
echo "screenshot: wrote $out"
