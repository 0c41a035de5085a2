# Shared steps of the tools: packages, build, private X display, Wine prefix. Sourced, not run.

KV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KV_BUILD=${KV_BUILD:-$KV_ROOT/build}
KV_WINE=/usr/lib/wine/wine64
KV_WINESERVER=/usr/lib/wine/wineserver
KV_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
             mingw-w64-x86-64-dev cmake ninja-build googletest wine wine64 xvfb x11-apps
             fonts-wine imagemagick python3 python3-markdown python3-yaml python3-jsonschema
             osslsigncode openssl)

# What tools/release needs: the compilers and the build, not Wine.
KV_RELEASE_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
                     mingw-w64-x86-64-dev cmake ninja-build python3 python3-markdown)

# The packages whose bytes end up in a release: the compilers and their runtime, the binutils
# (linker and resource compiler), the mingw-w64 headers and runtime, the build tools, the
# Markdown library that renders the guide, and the Python that packs the zip (found below from
# the files it runs).
KV_TOOLCHAIN_PACKAGES=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
                       gcc-mingw-w64-x86-64-posix-runtime gcc-mingw-w64-base
                       binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev mingw-w64-common cmake
                       ninja-build python3-markdown)

kv_log() { echo "[kestrevel] $*" >&2; }
kv_fail() {
    kv_log "$*"
    exit 1
}

# Installs the packages of `KV_PACKAGES` (or those given) that are missing: as root directly,
# otherwise through sudo; without either it names them and stops.
kv_install_packages() {
    local wanted=("$@")
    [ ${#wanted[@]} -gt 0 ] || wanted=("${KV_PACKAGES[@]}")
    local missing=() package
    for package in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            kv_log "these packages are missing: ${missing[*]}"
            kv_log "install them as root, then run this again:"
            kv_log "  apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
            exit 1
        fi
        sudo=(sudo)
    fi
    kv_log "installing ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

# Configures `KV_BUILD` (tests included, warnings as errors) and builds the given targets, or
# everything. Each tool keeps the folder in use (a shared lock) until it ends, so that nothing
# is relinked under a running test; tools run side by side while the build is up to date, and a
# build that has work to do waits until no other tool uses the folder.
kv_build() {
    local targets=("$@")
    mkdir -p "$KV_BUILD"
    exec 9>"$KV_BUILD/.build.lock"
    flock -s 9
    if grep -qs '^KESTREVEL_WARNINGS_AS_ERRORS:BOOL=ON$' "$KV_BUILD/CMakeCache.txt" &&
        ninja -C "$KV_BUILD" -n "${targets[@]}" 2>/dev/null | grep -q '^ninja: no work to do'; then
        return
    fi
    flock -u 9
    if ! flock -n -x 9; then
        kv_log "waiting for the other tools that use $KV_BUILD to finish"
        flock -w 1800 -x 9 || kv_fail "$KV_BUILD stayed in use"
    fi
    cmake -S "$KV_ROOT" -B "$KV_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$KV_ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DKESTREVEL_WARNINGS_AS_ERRORS=ON >/dev/null
    cmake --build "$KV_BUILD" -- -j"$(nproc)" "${targets[@]}"
    flock -s 9
}

# Starts a private Xvfb and points DISPLAY at it. Xvfb picks a free display itself and tells
# its number once it is ready; our own server must still be alive then.
kv_start_xvfb() {
    local ready
    ready=$(mktemp)
    Xvfb -displayfd 7 -screen 0 1024x768x24 -nolisten tcp 7>"$ready" 8>&- 9>&- >/dev/null 2>&1 &
    KV_XVFB_PID=$!
    for _ in $(seq 100); do
        kill -0 "$KV_XVFB_PID" 2>/dev/null || break
        if [ -s "$ready" ]; then
            export DISPLAY=":$(tr -d '[:space:]' <"$ready")"
            rm -f "$ready"
            return 0
        fi
        sleep 0.1
    done
    rm -f "$ready"
    kv_fail "Xvfb did not start"
}

# A private Wine prefix for one tool (tools running at once each have their own, and each ends
# only its own wineserver), reporting Windows 10, with a virtual desktop so that windows get real
# captions, close boxes and foreground handling. A crash ends the program at once with a
# backtrace instead of waiting in a dialog.
kv_prepare_prefix() {
    KV_PREFIX=$KV_BUILD/wineprefix-$1
    export WINEPREFIX=$KV_PREFIX
    # One run of a tool at a time uses its prefix; a second waits.
    exec 8>"$KV_PREFIX.lock"
    if ! flock -n 8; then
        kv_log "waiting for the other run of this tool to finish"
        flock 8
    fi
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    if [ ! -f "$WINEPREFIX/.kestrevel-ready" ]; then
        kv_log "preparing Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        "$KV_WINE" wineboot -i >/dev/null 2>&1 8>&- 9>&-
        "$KV_WINE" reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
        "$KV_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
        "$KV_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
            >/dev/null 2>&1
        "$KV_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            >/dev/null 2>&1
        "$KV_WINESERVER" -w
        touch "$WINEPREFIX/.kestrevel-ready"
    fi
}

# Keeps one wineserver alive for the whole run, so that each test process starts quickly.
# Wine's services and the desktop process are started by the first program of a session and keep
# its output open: start them here, away from CTest's pipes, or CTest would wait for them.
# The server and the services outlive the commands that start them: they get none of the tool's
# locks.
kv_start_wineserver() {
    "$KV_WINESERVER" -p 8>&- 9>&- 2>/dev/null || true # a running server of this prefix will do
    "$KV_WINE" winecfg -v win10 </dev/null >/dev/null 2>&1 8>&- 9>&-
}

# Ends only what this tool started: its own prefix's wineserver and its own Xvfb.
kv_stop_all() {
    [ -n "${KV_PREFIX:-}" ] && WINEPREFIX=$KV_PREFIX "$KV_WINESERVER" -k >/dev/null 2>&1 || true
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
    [ -f "$standin" ] || kv_fail "the stand-in tool $standin is missing"
    cp "$standin" "$WINEPREFIX/drive_c/windows/system32/bcdedit.exe"
}

# Saves the X screen as a PNG.
kv_screenshot() {
    xwd -root -silent | convert xwd:- "png:$1"
}

# The version, written once: the project's version in CMakeLists.txt.
kv_version() {
    sed -n 's/^project(Kestrevel VERSION \([0-9.]*\).*/\1/p' "$KV_ROOT/CMakeLists.txt"
}

# "package version" of every toolchain package installed here, one per line, sorted; the
# Python that packs the zip is named by the packages its interpreter and its zipfile come from.
kv_toolchain() {
    local python zipfile packages=("${KV_TOOLCHAIN_PACKAGES[@]}")
    python=$(readlink -f /usr/bin/python3)
    zipfile=$(/usr/bin/python3 -c 'import zipfile; print(zipfile.__file__)')
    packages+=($(dpkg -S "$python" "$zipfile" 2>/dev/null | sed 's/[:,].*//' | sort -u))
    dpkg-query -W -f='${Package} ${Version}\n' "${packages[@]}" 2>/dev/null | sort
}

# Compares this machine's toolchain with the one a BUILDINFO names, and says so when they
# differ: the bytes of a build cannot then be expected to match. Returns 1 on a difference.
kv_compare_toolchain() {
    local buildinfo=$1 differences
    differences=$(diff <(sed -n 's/^ \([^ ]*\) \(.*\)$/\1 \2/p' "$buildinfo") <(kv_toolchain) |
        sed -n 's/^< \(.*\)/  built with:  \1/p; s/^> \(.*\)/  here:        \1/p') || true
    if [ -n "$differences" ]; then
        kv_log "this machine's toolchain is not the one that made $buildinfo:"
        echo "$differences" >&2
        kv_log "the bytes of a build here cannot be expected to match; a difference would then say"
        kv_log "nothing about the download. Install these versions (or use such a machine) first."
        return 1
    fi
    kv_log "the toolchain here is the one $buildinfo names"
}

# The read-me that the release zip carries: docs/LISEZMOI.txt in UTF-8 with a byte-order mark
# and Windows line ends, so that every Notepad shows it right, and the product's home page at the
# end when the release has one.
#   kv_readme OUT [HOMEPAGE]
KV_HOMEPAGE_LABEL="Page d'accueil de Kestrevel : "
kv_readme() {
    printf '\xef\xbb\xbf' >"$1"
    sed 's/$/\r/' "$KV_ROOT/docs/LISEZMOI.txt" >>"$1"
    [ -z "${2:-}" ] || printf '\r\n%s%s\r\n' "$KV_HOMEPAGE_LABEL" "$2" >>"$1"
}
