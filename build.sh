#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds VplCMgr and either runs the console
# host vplhost with the built plug-in or runs the tests under Wine.
#
#   ./build.sh run     build, then run vplhost with the built plug-in against
#                      the bundled sample client
#   ./build.sh test    build, then run every test under Wine
#   ./build.sh bench [vplbench arguments]
#                      build, then run the benchmark vplbench under Wine
#                      (docs/performance.md)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=${VPL_BUILD_DIR:-$here/build}
export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine_dir=/usr/lib/wine

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools wine64
          libwine-dev googletest nlohmann-json3-dev python3 wixl msitools)

usage() {
  echo "usage: $0 run|test|bench [vplbench arguments]" >&2
  exit 2
}

install_packages() {
  local missing=()
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"
}

build() {
  cmake -S "$here" -B "$build_dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake"
  cmake --build "$build_dir"
}

# One wineserver for the whole run, started here and stopped by its pid.
wineserver_pid=
start_wine() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$wine_dir/wine64" wineboot --init >/dev/null 2>&1
    "$wine_dir/wineserver" -w
  fi
  "$wine_dir/wineserver" -f -p &
  wineserver_pid=$!
  trap stop_wine EXIT
  # Wine's background services start with the first program and inherit its
  # output; start them here, detached, so that no test runner waits on them.
  "$wine_dir/wine64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wine() {
  [ -n "$wineserver_pid" ] || return 0
  # -k ends this prefix's server together with its background services.
  "$wine_dir/wineserver" -k 2>/dev/null || kill "$wineserver_pid" 2>/dev/null || true
  wait "$wineserver_pid" 2>/dev/null || true
  wineserver_pid=
}

[ $# -ge 1 ] || usage
command=$1
shift
case "$command" in
  run | test) [ $# -eq 0 ] || usage ;;
  bench) ;;
  *) usage ;;
esac

install_packages
build
start_wine
case "$command" in
  run)
    # The plug-in against the bundled idle client, asked once by the host,
    # with its verbose lines explaining the decision.
    "$here/scripts/wine-run" "$build_dir/bin/vplhost.exe" query \
      --scenario "Z:$here/samples/default.json" \
      --dll "$build_dir/bin/VplCMgr.dll" --verbose
    ;;
  test)
    ctest --test-dir "$build_dir" --output-on-failure
    ;;
  bench)
    # Timings depend on the machine and on what else runs on it.
    "$here/scripts/wine-run" "$build_dir/bin/vplbench.exe" "$@"
    ;;
esac
