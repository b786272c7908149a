# Helpers shared by the project's scripts. Source it; do not run it.

# Debian packages that building and testing need.
# fonts-liberation2: a face as narrow as the window's own where that is not installed.
LC_BUILD_PACKAGES="cmake ninja-build g++ qt6-base-dev libgl-dev libgtest-dev libxkbcommon-dev fonts-liberation2 fonts-sawarabi-gothic"
LC_TEST_PACKAGES="iproute2 util-linux xvfb xdotool x11-utils imagemagick tcpdump python3 libx11-6 fonts-dejavu-core clang libclang-rt-14-dev dbus-daemon at-spi2-core python3-gi gir1.2-atspi-2.0"

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

# Configures and builds into the given folder; extra arguments go to cmake.
lc_build() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir"
}
