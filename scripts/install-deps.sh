#!/usr/bin/env bash
# Installs everything the build, the application and the tests need on Debian bookworm (as root).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ccache
  juce-modules-source libcurl4-openssl-dev libboost-regex-dev
  libasound2-dev libfreetype-dev libfontconfig1-dev libx11-dev libxrandr-dev libxinerama-dev
  libxcursor-dev libxext-dev libflac-dev libvorbis-dev libogg-dev libgtk-3-dev
  libgtest-dev googletest libbenchmark-dev
  xvfb xauth xdotool x11-utils
  libcdio-dev genisoimage xorriso sox flac
  curl
)

# Node.js and npm run the local stand-ins of the plant (standins/). Asked for only when missing:
# a Node.js build from outside Debian bundles npm and conflicts with Debian's npm package.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
