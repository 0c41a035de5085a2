# Shared steps of tools/run and tools/test: packages, build, private X display, Wine prefix.
# Sourced, not run.

KV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KV_BUILD=${KV_BUILD:-$KV_ROOT/build}
KV_WINE=/usr/lib/wine/wine64
KV_WINESERVER=/usr/lib/wine/wineserver
KV_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
             mingw-w64-x86-64-dev cmake ninja-build googletest wine wine64 xvfb x11-apps
             fonts-wine imagemagick python3)

kv_log() { echo "[kestrevel] $*" >&2; }

kv_install_packages() {
    local missing=()
    for package in "${KV_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return
    fi
    kv_log "installing ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

kv_build() {
    cmake -S "$KV_ROOT" -B "$KV_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$KV_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$KV_BUILD" -- -j"$(nproc)"
}

# Starts a private Xvfb on a free display and points DISPLAY at it.
kv_start_xvfb() {
    local display=$(( 90 + RANDOM % 400 ))
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    KV_XVFB_PID=$!
    export DISPLAY=":$display"
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$display" ] && return 0
        sleep 0.1
    done
    kv_log "Xvfb did not start"
    return 1
}

# A private Wine prefix reporting Windows 10, with a virtual desktop so that windows get real
# captions, close boxes and foreground handling.
kv_prepare_prefix() {
    export WINEPREFIX=${1:-$KV_BUILD/wineprefix}
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    if [ ! -f "$WINEPREFIX/.kestrevel-ready" ]; then
        kv_log "preparing Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        "$KV_WINE" wineboot -i >/dev/null 2>&1
        "$KV_WINE" reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
        "$KV_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
        "$KV_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
            >/dev/null 2>&1
        "$KV_WINESERVER" -w
        touch "$WINEPREFIX/.kestrevel-ready"
    fi
}

# Keeps one wineserver alive for the whole run, so that each test process starts quickly.
# Wine's services and the desktop process are started by the first program of a session and keep
# its output open: start them here, away from CTest's pipes, or CTest would wait for them.
kv_start_wineserver() {
    "$KV_WINESERVER" -p 2>/dev/null || true # an already running server of this prefix will do
    "$KV_WINE" winecfg -v win10 </dev/null >/dev/null 2>&1
}

kv_stop_all() {
    [ -n "${WINEPREFIX:-}" ] && "$KV_WINESERVER" -k >/dev/null 2>&1 || true
    [ -n "${KV_XVFB_PID:-}" ] && kill "$KV_XVFB_PID" 2>/dev/null || true
}

# The Windows path of a file inside the prefix's view of the Unix file system.
kv_windows_path() {
    echo "Z:$(readlink -f "$1" | tr '/' '\\')"
}

# Wine has no boot-configuration tool: the demo uses the project's stand-in, which keeps the
# current policy in a small file as the real tool keeps it in the boot store.
kv_install_standin() {
    local standin=$KV_BUILD/standin/system32/bcdedit.exe
    if [ -f "$standin" ]; then
        cp "$standin" "$WINEPREFIX/drive_c/windows/system32/bcdedit.exe"
    fi
}

# Saves the X screen as a PNG.
kv_screenshot() {
    xwd -root -silent | convert xwd:- "png:$1"
}

kv_drive_demo() {
    local build=$1
    local driver=$build/tests/e2e/demo_driver.exe
    if [ ! -f "$driver" ]; then
        sleep 3
        kv_screenshot "$build/kestrevel.png"
        return
    fi
    # The driver captures the Windows desktop itself, at the moments that matter, as BMP files.
    "$KV_WINE" "$driver" "$(kv_windows_path "$build")"
    for picture in "$build"/kestrevel*.bmp; do
        [ -f "$picture" ] && convert "$picture" "${picture%.bmp}.png" && rm -f "$picture"
    done
}
