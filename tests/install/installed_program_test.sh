#!/usr/bin/env bash
# Installs the build into a fresh prefix and runs the installed programs from a
# folder outside the source tree: versions, the windowed tool on the offscreen
# platform in Chinese taking its screenshots (its pictures and skins must come
# from the prefix, its data must go to $XDG_DATA_HOME/palo520g), the manual
# pages, the desktop files and the bash completion.
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/usr
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
cd "$work"

# --- versions ---
for program in palo520g palo520g-sim palo520g-tool; do
    text=$(QT_QPA_PLATFORM=offscreen "$prefix/bin/$program" --version)
    [[ $text == *"$version"* ]] || fail "$program --version printed '$text'"
done

# --- the tool, in Chinese, with its own data folder ---
# strace tells which files it opened: its pictures and the Chinese skin must come
# from the prefix. (The pages load them before the run's log file is open.)
trace=()
command -v strace >/dev/null && strace -qq -o /dev/null true 2>/dev/null && trace=(strace -f -qq -e trace=openat -o "$work/trace")
run_tool() {  # page, picture
    rm -rf "$work/data" "$work/trace"
    env -u LC_ALL HOME="$work/home" XDG_DATA_HOME="$work/data" LANG=zh_CN.UTF-8 QT_QPA_PLATFORM=offscreen \
        timeout 120 "${trace[@]}" "$prefix/bin/palo520g-tool" --demo --page "$1" --screenshot "$2" \
        >"$work/tool.out" 2>&1 || { cat "$work/tool.out"; fail "palo520g-tool --page $1 ended with $?"; }
    [ -s "$2" ] || fail "no screenshot $2"
    compgen -G "$work/data/palo520g/Log/*.log" >/dev/null || fail "no log under \$XDG_DATA_HOME/palo520g"
    [ ! -e "$prefix/bin/appConfig.xml" ] && [ ! -e "$prefix/bin/Log" ] || fail "data written into bin/"
}
opened() {  # true when the traced run opened this file successfully
    [ ${#trace[@]} -eq 0 ] && return 0
    grep -F "\"$1\"" "$work/trace" | grep -qv ' = -1 '
}

run_tool target "$work/target.png"
for picture in Nobody Motion Motionless; do
    opened "$prefix/share/palo520g/Image/$picture.png" || fail "the tool did not read Image/$picture.png from the prefix"
done
run_tool firmware "$work/firmware.png"
opened "$prefix/share/palo520g/Skin/CHS/Download/Download_FW.xml" || fail "the tool did not read the Chinese skin"
[ ${#trace[@]} -gt 0 ] || echo "strace cannot run here: which files the tool read was not checked"

# --- manual pages, desktop files, completion ---
for page in palo520g palo520g-sim palo520g-tool; do
    [ -s "$prefix/share/man/man1/$page.1" ] || fail "no manual page $page.1"
done
grep -qF 'ports\-from' "$prefix/share/man/man1/palo520g.1" || fail "palo520g.1 lacks the many-sensor options"
[ -s "$prefix/share/icons/hicolor/48x48/apps/palo520g-tool.png" ] || fail "no 48x48 icon"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$prefix/share/applications/palo520g-tool.desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml >"$work/as.log" 2>&1 \
        || { cat "$work/as.log"; fail "appstreamcli validate"; }
fi
completions=$(PATH="$prefix/bin:$PATH" bash -c '
    source "$1/share/bash-completion/completions/palo520g"
    COMP_WORDS=(palo520g params l); COMP_CWORD=2; _palo520g; echo "${COMPREPLY[*]}"
    COMP_WORDS=(palo520g info --p); COMP_CWORD=2; _palo520g; echo "${COMPREPLY[*]}"' _ "$prefix")
[[ $completions == *load* && $completions == *--ports-from* ]] || fail "completion gave: $completions"

echo "installed programs OK"
