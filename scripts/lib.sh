# shellcheck shell=bash disable=SC2034
# (SC2034: the package arrays are used by the scripts that source this file.)
# Helpers shared by the project's scripts. Source it; do not run it.

# Debian packages that building and testing need, as arrays: pass them on as
# "${LC_BUILD_PACKAGES[@]}".
# fonts-liberation2: a face as narrow as the window's own where that is not installed.
# libmosquitto-dev: the service's MQTT client; mosquitto, its clients and openssl:
# the broker, the outside clients and the certificates of its end-to-end checks.
# dbus-x11: what a desktop without a session bus starts one with, so the end-to-end
# checks can see that the panel leaves none behind.
LC_BUILD_PACKAGES=(cmake ninja-build g++ qt6-base-dev libgl-dev libgtest-dev libxkbcommon-dev libmosquitto-dev pkg-config fonts-liberation2 fonts-sawarabi-gothic)
# orca, speech-dispatcher (its libao plugin, whose null driver sounds nothing) and a small
# window manager: the panel as a screen reader presents it.
LC_TEST_PACKAGES=(iproute2 util-linux xvfb xdotool x11-utils imagemagick tcpdump python3 libx11-6 fonts-dejavu-core clang libclang-rt-14-dev dbus-daemon dbus-x11 at-spi2-core python3-gi gir1.2-atspi-2.0 orca speech-dispatcher speech-dispatcher-audio-plugins libao4 matchbox-window-manager mosquitto mosquitto-clients openssl)
# What building the panel alone needs (no test framework): scripts/run.
LC_RUN_PACKAGES=(cmake ninja-build g++ qt6-base-dev libgl-dev libxkbcommon-dev libmosquitto-dev pkg-config fonts-liberation2 fonts-sawarabi-gothic)
# What checking the package and the desktop metadata needs: dpkg-shlibdeps,
# lintian, the desktop file and AppStream validators, the SVG renderer.
LC_PACKAGE_PACKAGES=(dpkg-dev lintian desktop-file-utils appstream librsvg2-bin)
# What scripts/lint checks with: the C++ formatter and naming check, the shell
# and Python checkers.
LC_LINT_PACKAGES=(clang-format clang-tidy clang-tools shellcheck pyflakes3)

# Prints the comment block under a script's first line (its usage) and exits 0
# when the arguments ask for help; call it before anything else happens.
lc_help() {
    local script=$1; shift
    local a
    for a in "$@"; do
        case "$a" in
            -h | --help)
                sed -n '2,/^[^#]/{/^#/!d;s/^# \{0,1\}//;p}' "$script"
                exit 0
                ;;
        esac
    done
}

lc_as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the named Debian packages that are missing, and nothing else.
lc_ensure_packages() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    lc_as_root apt-get update -qq
    lc_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Runs a command in a private network namespace of its own: only `lo`, up,
# with the default route on it, so a broadcast loops back and reaches nothing else.
lc_in_private_net() {
    local flags=-n
    [ "$(id -u)" -ne 0 ] && flags=-rn
    unshare "$flags" bash -c 'ip link set lo up && ip route add default dev lo && exec "$@"' lc-net "$@"
}

# Configures and builds one of CMakePresets.json's builds (normal: build/,
# the others: build-<name>/); extra arguments name the targets to build.
lc_build() {
    local preset=$1; shift
    echo "== building '$preset' (build folder: $(lc_build_dir "$preset"))"
    cmake --preset "$preset" >/dev/null
    if [ $# -gt 0 ]; then
        cmake --build --preset "$preset" --target "$@"
    else
        cmake --build --preset "$preset"
    fi
}

lc_build_dir() {
    if [ "$1" = normal ]; then echo build; else echo "build-$1"; fi
}
