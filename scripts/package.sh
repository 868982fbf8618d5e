#!/usr/bin/env bash
# Builds the Debian package with CPack: build/palo520g_<version>_<arch>.deb.
# Installs what is missing first (including help2man, appstream and
# desktop-file-utils), builds, packs, and lists what the package holds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD_DIR=$(scripts/build.sh | tail -n 1)
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
PACKAGE=$(ls -t "$BUILD_DIR"/palo520g_*.deb | head -n 1)
dpkg-deb -c "$PACKAGE" >/dev/null
echo "$PACKAGE"
