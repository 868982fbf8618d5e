#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it: the listing holds
# the programs, the desktop entry, the metainfo, the icon, the manual pages, the
# completion and the udev rule; it installs (into a private root, against this
# machine's installed packages, so the machine itself is left alone) with its
# post-install text; and the installed palo520g --version runs.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
package=$(ls "$work"/out/palo520g_*.deb 2>/dev/null | head -n 1)
[ -n "$package" ] || fail "no package made"

listing=$(dpkg-deb -c "$package")
for path in ./usr/bin/palo520g ./usr/bin/palo520g-tool ./usr/bin/palo520g-sim \
            ./usr/share/applications/palo520g-tool.desktop \
            ./usr/share/metainfo/io.github.palo520g.Tool.metainfo.xml \
            ./usr/share/icons/hicolor/48x48/apps/palo520g-tool.png \
            ./usr/share/icons/hicolor/scalable/apps/palo520g-tool.svg \
            ./usr/share/man/man1/palo520g.1 ./usr/share/man/man1/palo520g-sim.1 ./usr/share/man/man1/palo520g-tool.1 \
            ./usr/share/bash-completion/completions/palo520g \
            ./usr/share/palo520g/udev/60-palo520g.rules \
            ./usr/share/palo520g/Image/Nobody.png ./usr/share/palo520g/Skin/CHS/Download/Download_FW.xml; do
    grep -q " $path\$" <<<"$listing" || fail "the package lacks $path"
done
grep -q 'libpalo520g_gdiplus.so' <<<"$listing" || fail "the package lacks the image library"

depends=$(dpkg-deb -f "$package" Depends)
for library in libqt6widgets6 libserialport0 libcurl4 libpugixml1v5 libzip4; do
    [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

# A private root and a copy of this machine's package database: dpkg checks the
# dependencies against what is installed here and runs the post-install script.
root=$work/root
admin=$work/admin
mkdir -p "$root" "$admin/info" "$admin/updates" "$admin/triggers"
cp /var/lib/dpkg/status "$admin/status"
dpkg --admindir="$admin" --instdir="$root" --force-script-chrootless --force-not-root --log=/dev/null \
    -i "$package" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
grep -q "dialout" "$work/dpkg.log" || fail "the post-install text does not mention the dialout group"
"$root/usr/bin/palo520g" --version | grep -q "palo520g " || fail "the installed palo520g --version"
echo "package OK: $(basename "$package")"
