#!/usr/bin/env bash
# Builds Varnika on Debian and runs it, its tests, or makes its package.
#   ./build.sh run      build and start the window
#   ./build.sh test     build and run the whole test suite
#   ./build.sh package  build build/varnika_<version>_amd64.deb
# Installs the Debian packages it needs where they are missing; apt-get's
# output goes to build/apt-get.log.
# VARNIKA_SANITIZE=1 builds with AddressSanitizer and UBSan in build-asan/.
set -euo pipefail
cd "$(dirname "$0")"

what=${1:-}
case "$what" in run|test|build|package) ;; *) echo "usage: $0 run|test|build|package" >&2; exit 2;; esac

build=build
flags=()
timeout=600
if [ "${VARNIKA_SANITIZE:-0}" = 1 ]; then
  build=build-asan
  flags+=(-DVARNIKA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
  # The longest random tests take 7 to 9 minutes unoptimized under the
  # sanitizers on a 2-core machine.
  timeout=1500
fi
mkdir -p "$build"
log=$build/apt-get.log

# qt6-translations-l10n: Qt's own texts (file dialog, context menus) in Turkish.
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-translations-l10n libgl-dev libgtest-dev mdbtools python3)
[ "$what" = run ] && packages+=(fonts-dejavu-core)
# dpkg-shlibdeps (dpkg-dev, file) computes the package's Depends; the
# validators check its menu entry and its AppStream metadata.
[ "$what" = package ] && packages+=(dpkg-dev file desktop-file-utils appstream)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing ${#missing[@]} Debian packages: ${missing[*]} (apt-get's output: $log)"
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  if ! { $sudo apt-get update && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"; } >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "Installing the packages failed; see $log" >&2
    exit 1
  fi
fi

jobs=$(nproc 2>/dev/null || echo 2)
start=$SECONDS
cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
if [ "$what" = package ]; then
  # Only what the package holds: the window, the tool, icons and manual pages.
  cmake --build "$build" -j "$jobs" --target varnika varnika-db varnika_package_files
else
  cmake --build "$build" -j "$jobs"
fi
echo "Built in $((SECONDS - start)) s in $build/."

case "$what" in
  run) exec "$build/app/varnika" ;;
  test)
    export QT_QPA_PLATFORM=offscreen
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/.ci/lsan.supp:print_suppressions=0}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout "$timeout" ;;
  package)
    desktop-file-validate app/varnika.desktop
    appstreamcli validate --no-net "$build"/packaging/*.metainfo.xml >/dev/null
    rm -f "$build"/varnika_*.deb
    (cd "$build" && cpack -G DEB) >"$build/cpack.log" 2>&1 || { tail -n 20 "$build/cpack.log" >&2; exit 1; }
    deb=$(ls "$build"/varnika_*.deb)
    echo "Package: $deb"
    dpkg-deb -f "$deb" Depends | sed 's/^/Depends: /'
    echo "Install it with: sudo apt install ./$deb" ;;
esac
