#!/usr/bin/env bash
# Installs the build dependencies when missing, then configures and builds a Release build.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins
          qt6-gtk-platformtheme libgl-dev libsodium-dev libjpeg62-turbo-dev libxcb1-dev libexiv2-dev
          ccache fp-utils scdoc dpkg-dev libwebp-dev libheif-dev libavif-dev libjxl-dev)
if [ "${QMT_WITH_TEST_TOOLS:-0}" = 1 ]; then
  packages+=(imagemagick libmagickcore-6.q16-6-extra python3-pil poppler-utils libjpeg-turbo-progs
            libimage-exiftool-perl libglib2.0-bin shared-mime-info clang libclang-rt-14-dev xvfb
            desktop-file-utils xdg-utils openbox xdotool
            webp libheif-examples heif-thumbnailer libavif-bin libjxl-tools)
fi
# The checks a distribution runs on the package (tools/package-check.sh).
if [ "${QMT_WITH_PACKAGE_TOOLS:-0}" = 1 ]; then
  packages+=(lintian appstream desktop-file-utils xdg-utils libglib2.0-bin)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=900 update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=900 install -y -q --no-install-recommends "${missing[@]}"
fi

# Compiler cache entries are shared between checkouts in different folders.
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=1

# With the test tools, the codec tests also run under AddressSanitizer and UBSan.
cmake_options=()
if [ "${QMT_WITH_TEST_TOOLS:-0}" = 1 ]; then
  cmake_options+=(-DQMT_SANITIZE=ON)
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "${cmake_options[@]}"
cmake --build build -j"$(nproc)"
