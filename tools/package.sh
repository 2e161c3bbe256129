#!/usr/bin/env bash
# Builds the Debian package from the Qt 5 build (build/): installs what is
# missing, checks the desktop entry and the AppStream metadata, then runs
# `cpack -G DEB` in the build folder.
#   tools/package.sh            build/baroterm_<version>_<arch>.deb
#   tools/package.sh --check    the same, then checks it with lintian (any error or
#                               warning fails), installs it with apt-get, runs the
#                               programs from /usr/bin and removes it again (root or sudo)
set -euo pipefail
cd "$(dirname "$0")/.."

mode="${1:-build}"
# dpkg-shlibdeps (dpkg-dev) and file work out the dependencies from the linked libraries.
tools/deps.sh dpkg-dev file desktop-file-utils appstream lintian

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
desktop-file-validate packaging/com.example.Baroterm.desktop
appstreamcli validate --no-net --explain build/packaging/com.example.Baroterm.metainfo.xml
cmake --build build -j"$(nproc)" --target baroterm baroterm-run baroterm-boxsim baroterm_package_docs
rm -f build/baroterm_*.deb
(cd build && cpack -G DEB)
deb="$(ls build/baroterm_*.deb)"
dpkg-deb --field "$deb" Package Version Depends
dpkg-deb --contents "$deb" | awk '{print $6}'

case "$mode" in
  build) ;;
  --check)
    # Debian's own checks of the package; CI runs as root, which lintian
    # only warns about.
    lintian --allow-root --fail-on error,warning "$deb"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "./$deb"
    trap 'DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y -qq baroterm' EXIT
    # No display: every program answers these without one.
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb /usr/bin/baroterm --version
    env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb /usr/bin/baroterm --help >/dev/null
    env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/baroterm-run --version
    env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/baroterm-run --help >/dev/null
    /usr/bin/baroterm-boxsim --version
    /usr/bin/baroterm-boxsim --help >/dev/null
    dpkg-query -L baroterm | grep -E "^/usr/share/(man/man1|applications|metainfo)/."
    ;;
  *)
    echo "usage: $0 [--check]" >&2
    exit 2
    ;;
esac
