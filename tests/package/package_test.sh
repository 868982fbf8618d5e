#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it: lintian (when
# installed) finds no error and no warning; the listing holds the programs, the
# private image library, the desktop entry, the metainfo, the icon, the gzipped
# manual pages, the documentation, the completion and the udev rule; it installs
# (into a private root, against this machine's installed packages, so the machine
# itself is left alone) with its post-install text; the installed palo520g
# --version runs, every manual page formats without a warning, and bash
# completion offers the serial ports for --port (stable names first, no stray
# pseudo-terminals) and the page names for --page.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
chmod 755 "$work"
sim_pid=
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
package=$(ls "$work"/out/palo520g_*.deb 2>/dev/null | head -n 1)
[ -n "$package" ] || fail "no package made"

if command -v lintian >/dev/null; then
    lintian --pedantic -I -E "$package" >"$work/lintian.log" 2>&1 || true
    if grep -E '^(E|W): ' "$work/lintian.log"; then
        fail "lintian reports errors or warnings"
    fi
    grep -E '^[IPX]: ' "$work/lintian.log" || true
else
    echo "lintian is not installed: the package was not checked by it"
fi

pages="palo520g palo520g-sim palo520g-tool palo520g-ports palo520g-info palo520g-params palo520g-monitor
       palo520g-replay palo520g-stats palo520g-threshold palo520g-fw"
listing=$(dpkg-deb -c "$package")
expected="./usr/bin/palo520g ./usr/bin/palo520g-tool ./usr/bin/palo520g-sim
          ./usr/lib/palo520g/libpalo520g_gdiplus.so
          ./usr/share/applications/palo520g-tool.desktop
          ./usr/share/metainfo/io.github.palo520g.Tool.metainfo.xml
          ./usr/share/icons/hicolor/48x48/apps/palo520g-tool.png
          ./usr/share/icons/hicolor/scalable/apps/palo520g-tool.svg
          ./usr/share/doc/palo520g/copyright ./usr/share/doc/palo520g/changelog.gz
          ./usr/share/doc/palo520g/README.md ./usr/share/doc/palo520g/docs/json.md
          ./usr/share/bash-completion/completions/palo520g
          ./usr/share/palo520g/udev/60-palo520g.rules
          ./usr/share/palo520g/Image/Nobody.png ./usr/share/palo520g/Skin/CHS/Download/Download_FW.xml"
for page in $pages; do expected+=" ./usr/share/man/man1/$page.1.gz"; done
for path in $expected; do
    grep -q " $path\$" <<<"$listing" || fail "the package lacks $path"
done
! grep -qE ' \./usr/lib/[^/]*\.so' <<<"$listing" || fail "a library in the system's library folder"

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
grep -q "60-palo520g.rules" "$work/dpkg.log" || fail "the post-install text does not mention the udev rule"
"$root/usr/bin/palo520g" --version | grep -q "palo520g " || fail "the installed palo520g --version"
grep -q "<project_license>MIT</project_license>" "$root/usr/share/metainfo/io.github.palo520g.Tool.metainfo.xml" \
    || fail "the metainfo does not name the MIT licence"
grep -q "^License: Expat" "$root/usr/share/doc/palo520g/copyright" || fail "copyright does not name the licence"

# --- every manual page: formats without a warning, and says what a reader needs ---
for page in $pages; do
    file=$root/usr/share/man/man1/$page.1.gz
    warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) || fail "man -l $page"
    [ -z "$warnings" ] || fail "man -l $page warns: $warnings"
    text=$(MANWIDTH=80 man -l "$file" 2>/dev/null)
    [[ $text == *"EXAMPLES"* ]] || fail "$page has no examples"
    if [[ $page == palo520g-* && $page != palo520g-sim && $page != palo520g-tool ]]; then
        for section in "EXIT STATUS" "JSON OUTPUT" "--json"; do
            [[ $text == *"$section"* ]] || fail "$page lacks $section"
        done
    fi
done
text=$(MANWIDTH=80 man -l "$root/usr/share/man/man1/palo520g-tool.1.gz")
for part in XDG_CONFIG_HOME XDG_STATE_HOME XDG_DATA_HOME LANGUAGES ENVIRONMENT --data-dir; do
    [[ $text == *"$part"* ]] || fail "palo520g-tool(1) lacks $part"
done

# --- completion, in an interactive bash as a user gets it ---
# A virtual sensor and a stable name for it in a by-id folder of our own.
"$root/usr/bin/palo520g-sim" --link "$work/sim-port" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/sim-port" ] && break; sleep 0.1; done
[ -e "$work/sim-port" ] || { cat "$work/sim.out"; fail "the installed palo520g-sim did not start"; }
pts=$(readlink -f "$work/sim-port")
mkdir -p "$work/by-id" "$work/home"
ln -s "$pts" "$work/by-id/usb-Palo_Test_Bridge_0001-if00-port0"
complete_words() {  # words... : what completion offers for the last one
    env -i HOME="$work/home" PATH="$root/usr/bin:/usr/bin:/bin" TERM=dumb PALO520G_SERIAL_BY_ID_DIR="$work/by-id" \
        bash --norc -ic 'source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _palo520g; printf "%s\n" "${COMPREPLY[@]}"' \
        "$root/usr/share/bash-completion/completions/palo520g" "$@" 2>/dev/null
}
ports=$(complete_words palo520g-tool --port "")
[ "$(head -n 1 <<<"$ports")" = "$work/by-id/usb-Palo_Test_Bridge_0001-if00-port0" ] \
    || fail "--port did not offer the stable name first: $ports"
while read -r port; do
    [[ $port == /dev/pts/* && $port != "$pts" ]] && fail "--port offered a pseudo-terminal that is no serial port: $port"
done <<<"$ports"
ports=$(complete_words palo520g info --port "$work/by-id/usb-P")
[ "$ports" = "$work/by-id/usb-Palo_Test_Bridge_0001-if00-port0" ] || fail "--port with a prefix offered: $ports"
pages_offered=$(complete_words palo520g-tool --page "" | sort | tr '\n' ' ')
[ "$pages_offered" = "firmware params target " ] || fail "--page offered: $pages_offered"
# Without a display (env -i leaves none), as over ssh: the tool's help still answers.
options=$(complete_words palo520g-tool --pa)
[[ $options == *--page* ]] || fail "option completion of palo520g-tool: $options"
echo "package OK: $(basename "$package")"
