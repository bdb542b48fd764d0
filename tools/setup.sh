#!/usr/bin/env bash
# Installs what the build needs on Debian 12 (only what is missing), then
# configures and builds. Usage: tools/setup.sh [release|asan|deb]   (default: release)
# deb is the build of the Debian package (tools/package-deb.sh).
# Idempotent: a second run installs nothing and rebuilds only what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

flavour="${1:-release}"
packages=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-multimedia-dev libgl-dev qtkeychain-qt6-dev
          zlib1g-dev libisal-dev libgtest-dev libbenchmark-dev xvfb xauth xdotool imagemagick ccache
          fonts-dejavu-core)

case "$flavour" in
    # The test build's peers and checks: the proxy daemons (Debian starts them
    # as system services, so only the test build brings them onto a machine),
    # the TLS terminator and the certificate maker, and the validators of the
    # desktop entry and the metainfo that the install test runs, and the
    # static analysis the tests run; the desktop services the tests start on
    # a session bus of their own (the bus, its monitor and gdbus, a
    # notification server, a Secret Service and its command-line client).
    asan) packages+=(dante-server tinyproxy openssl stunnel4 desktop-file-utils appstream clang-tidy
                     dbus-daemon dbus-bin libglib2.0-bin dunst gnome-keyring libsecret-tools) ;;
    deb)  packages+=(dpkg-dev lintian desktop-file-utils appstream) ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

case "$flavour" in
    release) dir=build; opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVISK_SANITIZE=OFF -DTAVISK_TESTS=OFF) ;;
    asan)    dir=build-asan; opts=(-DCMAKE_BUILD_TYPE=Debug -DTAVISK_SANITIZE=ON) ;;
    deb)     dir=build-deb; opts=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DTAVISK_SANITIZE=OFF -DTAVISK_TESTS=OFF)
             # Debian's hardening flags, as a package build would use them.
             export CPPFLAGS CXXFLAGS LDFLAGS DEB_BUILD_MAINT_OPTIONS=hardening=+all
             CPPFLAGS="$(dpkg-buildflags --get CPPFLAGS)"
             CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS"
             LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" ;;
    *) echo "setup: unknown flavour '$flavour' (release, asan or deb)" >&2; exit 2 ;;
esac
if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
fi
cmake --build "$dir" -j "$(nproc)"
