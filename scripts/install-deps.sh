#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the program need, or
# only the packages named as arguments. Idempotent: asks apt only when something
# is missing.
set -euo pipefail

DEFAULT_PACKAGES=(
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-svg-dev libxkbcommon-dev
  libocct-foundation-dev libocct-modeling-data-dev libocct-modeling-algorithms-dev
  libocct-ocaf-dev libocct-data-exchange-dev libocct-visualization-dev libtbb-dev
  libfontconfig-dev libfreetype-dev libfreeimage-dev libx11-dev libgl-dev
  libeigen3-dev zlib1g-dev
  xvfb xauth libgl1-mesa-dri libglx-mesa0 libegl-mesa0 mesa-utils fonts-dejavu-core
  libgtest-dev libgmock-dev libbenchmark-dev locales-all
  qt6-translations-l10n
  occt-misc assimp-testmodels python3-olefile python3-ezdxf poppler-utils
)
if [ $# -gt 0 ]; then PACKAGES=("$@"); else PACKAGES=("${DEFAULT_PACKAGES[@]}"); fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installiere fehlende Pakete: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
