#!/usr/bin/env bash
# Builds Varnika on Debian and runs it or its tests.
#   ./build.sh run    build and start the window
#   ./build.sh test   build and run the whole test suite
# Installs the Debian packages it needs where they are missing.
# VARNIKA_SANITIZE=1 builds with AddressSanitizer and UBSan in build-asan/.
set -euo pipefail
cd "$(dirname "$0")"

what=${1:-}
case "$what" in run|test|build) ;; *) echo "usage: $0 run|test|build" >&2; exit 2;; esac

# qt6-translations-l10n: Qt's own texts (file dialog, context menus) in Turkish.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-translations-l10n libgl-dev libgtest-dev mdbtools python3)
[ "$what" = run ] && packages+=(fonts-dejavu-core)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi

build=build
flags=()
if [ "${VARNIKA_SANITIZE:-0}" = 1 ]; then
  build=build-asan
  flags+=(-DVARNIKA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

case "$what" in
  run) exec "$build/app/varnika" ;;
  test)
    export QT_QPA_PLATFORM=offscreen
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/.ci/lsan.supp:print_suppressions=0}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 600 ;;
esac
