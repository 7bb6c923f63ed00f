#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the player.
# Safe to run again: apt skips what is already installed.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config ccache git
  # libraries
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libsdl2-dev libsdl2-mixer-dev
  libcurl4-openssl-dev
  libminizip-dev zlib1g-dev
  libmp3lame-dev libmpg123-dev libvorbis-dev
  libpulse-dev
  libcpp-httplib-dev nlohmann-json3-dev
  # run time: Qt's own Korean texts for the standard dialogs; the Wayland platform
  qt6-translations-l10n qt6-wayland
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev
  xvfb xauth xdotool x11-utils imagemagick xclip
  libxcb1-dev  # the start-up benchmark watches the windows being mapped
  espeak-ng sox libsox-fmt-base libsox-fmt-mp3 mpg123 unzip zip curl
  pulseaudio pulseaudio-utils
  # the desktop tests' second sound server, with its session manager and bus
  pipewire pipewire-pulse wireplumber dbus-daemon
  file  # the Debian package's library dependencies (cpack)
  desktop-file-utils  # the installed menu entries are checked
  lintian appstream  # the Debian package and its software-centre entry are checked
  weston  # a headless Wayland compositor for the launch test
  # the screen-reader check: the accessibility bus and its Python client
  at-spi2-core python3-pyatspi
  # portal links and lesson files on a desktop: the handler lookup with its MIME
  # reader, a browser and a window manager
  xdg-utils libfile-mimeinfo-perl shared-mime-info chromium openbox
  # fuzzing (-DVORUR_BUILD_FUZZ=ON, built with clang)
  clang libclang-rt-14-dev
  # fonts: a metric twin of Times New Roman, and Korean text
  fontconfig libfontconfig-dev fonts-liberation2 fonts-nanum fonts-dejavu-core
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
