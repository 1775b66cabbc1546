#!/usr/bin/env bash
# Shared set-up of run.sh and test.sh: installs the Debian packages the project needs when any is
# missing (quiet when nothing is), then configures and builds into build/ (QUILLORY_BUILD_DIR names
# another folder; further arguments go to the first configure). --packages-only stops after the
# packages (tools/fuzz.sh and .ci/run use it before builds of their own).
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  # toolchain; clang and its runtime with libFuzzer for the fuzz build (tools/fuzz.sh)
  cmake ninja-build g++ pkg-config clang libclang-rt-14-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # the desktop program and its platform stand-ins
  qt6-base-dev qt6-multimedia-dev libgl-dev
  libavcodec-dev libavformat-dev libswscale-dev libswresample-dev libavutil-dev
  libcurl4-openssl-dev qtkeychain-qt6-dev
  # test peers: an independent AVI reader and writer, metric-compatible fonts, an SMTP server and
  # the certificates for its STARTTLS, GIF files from another writer
  ffmpeg fonts-liberation python3-aiosmtpd openssl imagemagick
  # GLib's own reader of the desktop's recently-used list, which the program's entries must satisfy
  libglib2.0-dev
  # installing and packaging: validators of the desktop files, the MIME database and gio to type
  # files with it, dpkg-shlibdeps; a private session bus, an X server and input for the installed
  # program's checks
  desktop-file-utils appstream shared-mime-info libglib2.0-bin dpkg-dev dbus-daemon xvfb xdotool
  # the accessibility bus and a screen reader's view of it, for the installed program's AT-SPI check
  at-spi2-core python3-pyatspi
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ "${1:-}" = "--packages-only" ]; then exit 0; fi

BUILD_DIR=${QUILLORY_BUILD_DIR:-build}
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
cmake --build "$BUILD_DIR"
