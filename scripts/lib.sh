#!/usr/bin/env bash
# Shared set-up for scripts/demo and scripts/test: installs what is missing,
# builds everything with mingw-w64 and provides a private Wine prefix on a
# private X display. Source it; it defines functions only.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
# Paths relative to the checkout, so ccache hits across checkouts.
export CCACHE_BASEDIR=$ROOT
STARTED_PIDS=()

log() { printf '== %s\n' "$*" >&2; }

need_packages() {
  local missing=()
  command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix)
  [ -x "$WINE" ] || missing+=(wine64)
  # Wine's own fonts (Tahoma, Marlett for the caption buttons) are only
  # recommended by wine64, which --no-install-recommends leaves out.
  [ -f /usr/share/wine/fonts/marlett.ttf ] || missing+=(fonts-wine)
  command -v Xvfb >/dev/null || missing+=(xvfb)
  command -v cmake >/dev/null || missing+=(cmake)
  command -v ctest >/dev/null || missing+=(cmake)
  [ -x /usr/bin/convert ] || missing+=(imagemagick)
  command -v dpkg-source >/dev/null || missing+=(dpkg-dev)
  [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
  command -v clang >/dev/null || missing+=(clang)
  dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || missing+=(libclang-rt-14-dev)
  printf '%s\n' "${missing[@]}" | sort -u | grep -v '^$' || true
}

install_packages() {
  local missing
  missing=$(need_packages)
  [ -z "$missing" ] && return 0
  log "installing: $(echo $missing)"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

# PCRE is built from Debian's own source package; nothing of it is committed.
fetch_pcre_source() {
  local dest=$BUILD/_src
  if [ -f "$dest/pcre/pcre_compile.c" ]; then return 0; fi
  log "fetching Debian's pcre3 source package"
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        >/etc/apt/sources.list.d/vellmark-deb-src.sources
    else
      grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
        >/etc/apt/sources.list.d/vellmark-deb-src.list
    fi
    apt-get update -qq >/dev/null
  fi
  rm -rf "$dest/tmp" && mkdir -p "$dest/tmp"
  (cd "$dest/tmp" && apt-get source -qq pcre3 >/dev/null 2>&1)
  local dir
  dir=$(find "$dest/tmp" -maxdepth 1 -type d -name 'pcre3-*' | head -1)
  [ -n "$dir" ] || { echo "apt-get source pcre3 failed" >&2; return 1; }
  rm -rf "$dest/pcre" && mv "$dir" "$dest/pcre" && rm -rf "$dest/tmp"
}

configure_and_build() {
  fetch_pcre_source
  if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    log "configuring"
    # ccache, where a machine has it, shares objects between checkouts.
    local launcher=()
    if command -v ccache >/dev/null; then
      launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPCRE_SOURCE_DIR="$BUILD/_src/pcre" "${launcher[@]}" >/dev/null
  fi
  log "building"
  # VM_TARGETS narrows the build to some targets while iterating.
  local targets=()
  local t
  for t in ${VM_TARGETS:-}; do targets+=(--target "$t"); done
  if ! cmake --build "$BUILD" -j"$(nproc)" "${targets[@]}" >"$BUILD/build.log" 2>&1; then
    grep -i -E -B2 -A6 'error' "$BUILD/build.log" | head -80 >&2
    echo "build failed; full log in $BUILD/build.log" >&2
    return 1
  fi
  grep -E 'warning:' "$BUILD/build.log" | sort -u | head -20 >&2 || true
}

# Our own X display, unless the caller gave one that answers. Xvfb picks a
# free display number itself and reports it once it accepts connections:
# choosing a number by looking for free lock files raced other scripts
# starting at the same moment, and two prefixes then shared one display,
# which went away with whichever script ended first.
start_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo_ok; then return 0; fi
  local number_file
  number_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
  local pid=$!
  STARTED_PIDS+=($pid)
  local i n
  for i in $(seq 1 200); do
    n=$(tr -dc '0-9' <"$number_file")
    if [ -n "$n" ]; then
      rm -f "$number_file"
      export DISPLAY=":$n"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  rm -f "$number_file"
  echo "Xvfb did not come up" >&2
  return 1
}

xdpyinfo_ok() { [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ]; }

wine_env() {
  export WINEPREFIX=$BUILD/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
}

# This Wine does not look for its own fonts where Debian puts them; without
# Marlett the caption buttons show letters. The prefix's font folder is
# always searched.
install_wine_fonts() {
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  [ -f "$fonts/marlett.ttf" ] && return 0
  mkdir -p "$fonts"
  cp /usr/share/wine/fonts/*.ttf "$fonts/" 2>/dev/null || true
}

# Made once; reused while its marker stands. The virtual desktop matters:
# without it hiding or re-parenting a top-level window stalls for 2 s.
prepare_prefix() {
  wine_env
  if [ -f "$WINEPREFIX/.vellmark-ready" ]; then
    install_wine_fonts
    return 0
  fi
  log "creating the Wine prefix (once)"
  rm -rf "$WINEPREFIX"
  "$WINE" wineboot -i </dev/null >/dev/null 2>&1
  "$WINE" winecfg -v win10 </dev/null >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default /f </dev/null >/dev/null 2>&1
  "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 1280x1024 /f </dev/null >/dev/null 2>&1
  # Light apps, as a new Windows user profile has it (a missing value would
  # mean dark).
  "$WINE" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Themes\Personalize' /v AppsUseLightTheme /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
  "$WINESERVER" -w
  install_wine_fonts
  touch "$WINEPREFIX/.vellmark-ready"
}

# One server for the whole run, booted with its output detached, so no test
# pays for (or inherits the pipes of) Wine's start-up services.
boot_prefix() {
  wine_env
  # A server left running for this prefix (a crashed run, a program started
  # by hand) keeps its desktop on the X display it was started with; every
  # window made on ours would then name a parent that does not exist there.
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
  "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
  # Starts Wine's desktop process detached too; otherwise the first test
  # program starts it and it holds that test's output pipe to the end.
  "$WINE" rundll32.exe </dev/null >/dev/null 2>&1 || true
  # That desktop ends a moment after its last window; the keeper's hidden
  # window holds it (detached) until cleanup ends the server.
  if [ -f "$BUILD/bin/tests/vm_desktop_keeper.exe" ]; then
    "$WINE" "$BUILD/bin/tests/vm_desktop_keeper.exe" </dev/null >/dev/null 2>&1 &
    STARTED_PIDS+=($!)
  fi
}

# Stops what this script started, by pid, and the server of our own prefix.
cleanup() {
  set +e
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    WINEPREFIX=$WINEPREFIX "$WINESERVER" -k >/dev/null 2>&1
  fi
  local p
  for p in "${STARTED_PIDS[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${STARTED_PIDS[@]}"; do wait "$p" 2>/dev/null; done
}
