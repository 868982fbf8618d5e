#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and tests with; quick when all are present.
set -euo pipefail
PACKAGES=(
  cmake ninja-build g++ pkg-config
  libpugixml-dev libserialport-dev libcurl4-openssl-dev libzip-dev libssl-dev libcli11-dev nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev libqt6opengl6-dev qt6-qpa-plugins qt6-image-formats-plugins qt6-translations-l10n libgl-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wqy-microhei xvfb xauth
  help2man appstream desktop-file-utils dpkg-dev strace ccache
  clang libclang-rt-14-dev llvm lld
  ser2net lintian man-db
  wine64 g++-mingw-w64-x86-64-posix libz-mingw-w64-dev zlib1g-dev python3
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
