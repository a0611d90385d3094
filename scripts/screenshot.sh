#!/usr/bin/env bash
# Makes docs/window.png: the window as it starts, drawn by the X server of
# Xvfb with the real fonts. Builds the program first when needed.
#   scripts/screenshot.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -x "$build/app/varnika" ]; then
  cmake -S . -B "$build" -G Ninja -DVARNIKA_BUILD_APP=ON >/dev/null
  cmake --build "$build" --target varnika
fi
mkdir -p docs
# A home of its own, so that a copy the user already runs does not make this
# start the second instance.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
HOME=$home QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
  "$build/app/varnika" --screenshot docs/window.png
echo "wrote docs/window.png"
