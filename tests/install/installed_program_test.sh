#!/usr/bin/env bash
# Installs the build into a fresh prefix and runs the installed programs from a
# folder outside the source tree: versions, the windowed tool on the offscreen
# platform in Chinese taking its screenshots (its pictures and skins must come
# from the prefix; its configuration must go to $XDG_CONFIG_HOME/palo520g, its
# log to $XDG_STATE_HOME/palo520g/Log), a start as a normal user with the data
# folder of an older version (moved once, with a notice), log rotation, the
# manual pages, the desktop files and the bash completion.
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
    rm -rf "$work/data" "$work/config" "$work/state" "$work/trace"
    env -u LC_ALL HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
        XDG_STATE_HOME="$work/state" LANG=zh_CN.UTF-8 QT_QPA_PLATFORM=offscreen \
        timeout 120 "${trace[@]}" "$prefix/bin/palo520g-tool" --demo --page "$1" --screenshot "$2" \
        >"$work/tool.out" 2>&1 || { cat "$work/tool.out"; fail "palo520g-tool --page $1 ended with $?"; }
    [ -s "$2" ] || fail "no screenshot $2"
    compgen -G "$work/state/palo520g/Log/*.log" >/dev/null || fail "no log under \$XDG_STATE_HOME/palo520g/Log"
    [ -s "$work/config/palo520g/appConfig.xml" ] || fail "no appConfig.xml under \$XDG_CONFIG_HOME/palo520g"
    [ ! -e "$work/data/palo520g/appConfig.xml" ] && [ ! -e "$work/data/palo520g/Log" ] \
        || fail "configuration or logs written into \$XDG_DATA_HOME"
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

# --- a normal user with the data folder of an older version: moved once, with a notice ---
# The older version kept appConfig.xml and Log/ in $XDG_DATA_HOME/palo520g (the
# defaults under ~ here: no XDG variable set). Run as "nobody" when this runs as root.
user_home=$work/user
old=$user_home/.local/share/palo520g
mkdir -p "$old/Log" "$old/SaveData"
printf '<?xml version="1.0"?>\n<AppConfig><Upgrade Url="file:///srv/fw/"/><Marker Text="from-the-old-folder"/></AppConfig>\n' \
    >"$old/appConfig.xml"
printf 'shown\n' >"$old/LicenseShown"
for i in $(seq -w 1 25); do printf 'old log %s\n' "$i" >"$old/Log/Palo520G_TOOL_202501${i}_120000_000.log"; done
printf 'record\n' >"$old/SaveData/RadarData_20250101_120000_000.dat"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chmod 755 "$work"
    chown -R nobody "$user_home"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
start_as_user() {  # log file of the run's standard error
    env -i HOME="$user_home" PATH=/usr/bin:/bin LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
        timeout 120 "${as_user[@]}" "$prefix/bin/palo520g-tool" --demo --screenshot "$work/user.png" \
        >"$1" 2>&1 || { cat "$1"; fail "palo520g-tool as a user ended with $?"; }
}
start_as_user "$work/first.out"
config=$user_home/.config/palo520g
logs=$user_home/.local/state/palo520g/Log
grep -q 'from-the-old-folder' "$config/appConfig.xml" || fail "the old appConfig.xml was not moved to ~/.config/palo520g"
[ -e "$config/LicenseShown" ] || fail "LicenseShown was not moved"
[ ! -e "$old/appConfig.xml" ] && [ ! -e "$old/Log" ] || fail "the old configuration or logs were left behind"
[ -e "$old/SaveData/RadarData_20250101_120000_000.dat" ] || fail "a record was moved or lost"
grep -q "moved, once, to the folders Linux programs use" "$work/first.out" || { cat "$work/first.out"; fail "no notice of the move"; }
grep -qF "$old/appConfig.xml -> $config/appConfig.xml" "$work/first.out" || fail "the notice does not name what moved"
# 25 old logs and this run's: the newest 20 stay.
[ "$(ls "$logs" | wc -l)" -eq 20 ] || fail "the log folder holds $(ls "$logs" | wc -l) logs, not 20"
[ ! -e "$logs/Palo520G_TOOL_20250106_120000_000.log" ] && [ -e "$logs/Palo520G_TOOL_20250125_120000_000.log" ] \
    || fail "the log rotation did not remove the oldest logs"
start_as_user "$work/second.out"
! grep -q "moved" "$work/second.out" || fail "the second start moved again: $(cat "$work/second.out")"
grep -q 'from-the-old-folder' "$config/appConfig.xml" || fail "the second start lost the moved settings"

# --- manual pages, desktop files, completion ---
for page in palo520g palo520g-sim palo520g-tool palo520g-params palo520g-monitor palo520g-fw; do
    [ -s "$prefix/share/man/man1/$page.1.gz" ] || fail "no manual page $page.1.gz"
done
zcat "$prefix/share/man/man1/palo520g.1.gz" | grep -qF 'ports\-from' || fail "palo520g.1 lacks the many-sensor options"
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
