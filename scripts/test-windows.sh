#!/usr/bin/env bash
# Cross-builds palo520g.exe and the Windows unit tests (scripts/build-windows.sh)
# and runs them under Wine: the unit tests, whose serial cases talk to
# tests/windows/echo_peer.py mapped as COM7 and whose update client cases talk to
# tests/windows/http_peer.py, then the command-line tool against
# the simulator, whose pseudo-terminal is mapped as COM5 (dosdevices/com5 -> the
# pty, and a SERIALCOMM entry as a driver would make), against an update server
# on loopback (tests/windows/http_peer.py), and through ser2net as tcp:// and
# rfc2217:// network ports. Prints each step's time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
started=$(date +%s.%N)
linux_build=$(scripts/build.sh | tail -n 1)    # for the simulator
win_build=$(scripts/build-windows.sh | tail -n 1)
export WINEPREFIX=${WINEPREFIX:-$PWD/$win_build/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

if [ ! -d "$WINEPREFIX/dosdevices" ]; then
  echo "Creating the Wine prefix $WINEPREFIX"
  wineboot --init >/dev/null 2>&1
fi
# One server for every run below, instead of one started and stopped per run. Its
# output is dropped: it prints its whole object table when a serial line hangs up.
# It fails when a server runs already (wineboot's may still be there): that one serves.
wineserver -p 120 >/dev/null 2>&1 || true

# map_port COMn program args...: starts a program that prints its pseudo-terminal
# first and maps that terminal as COMn.
map_port() {
  local name=$1 lower
  shift
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  pids+=($!)
  for _ in $(seq 100); do
    [ -s "$work/$name.out" ] && break
    sleep 0.1
  done
  local pty
  pty=$(head -n 1 "$work/$name.out")
  [ -c "$pty" ] || { echo "no terminal for $name: $(cat "$work/$name.err")"; exit 1; }
  lower=$(echo "$name" | tr '[:upper:]' '[:lower:]')
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/$lower"
  wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\PaloTest$name" /t REG_SZ /d "$name" /f >/dev/null 2>&1
}

failures=0
# step NAME EXPECTED-TEXT program args...: runs it, which must exit 0 and print the text.
step() {
  local name=$1 expected=$2 begin end
  shift 2
  begin=$(date +%s.%N)
  if "$@" >"$work/step.out" 2>&1 && grep -qF -- "$expected" "$work/step.out"; then
    end=$(date +%s.%N)
    printf 'ok    %-28s %6.1f s\n' "$name" "$(awk "BEGIN { print $end - $begin }")"
  else
    failures=$((failures + 1))
    printf 'FAIL  %s (wanted "%s")\n' "$name" "$expected"
    sed 's/^/      /' "$work/step.out" | tail -n 20
  fi
}

# serve_updates NAME SITE VERSION: serves the catalogue folder SITE, which holds
# VERSION, from tests/windows/http_peer.py (which adds versions that go wrong);
# sets served_url to its address.
serve_updates() {
  python3 tests/windows/http_peer.py "$2" "$3" >"$work/$1.out" 2>"$work/$1.err" &
  pids+=($!)
  for _ in $(seq 100); do
    [ -s "$work/$1.out" ] && break
    sleep 0.1
  done
  [ -s "$work/$1.out" ] || { echo "no update server: $(cat "$work/$1.err")" >&2; exit 1; }
  served_url=$(head -n 1 "$work/$1.out")
}

echo "== unit tests under Wine"
map_port COM7 python3 tests/windows/echo_peer.py
head -c 20000 /dev/urandom >"$work/unit-image.bin"
"$linux_build/palo520g" fw publish --catalogue "$work/unit-site" 1.0.3 "$work/unit-image.bin" >/dev/null
serve_updates unit-site "$work/unit-site" 1.0.3
unit_url=$served_url
# Every case must run: a skipped serial case would mean the echo port was not there.
step "windows_tests.exe" "all cases ran" bash -c "out=\$(PALO520G_TEST_ECHO_PORT=COM7 PALO520G_TEST_UPDATE_URL='$unit_url' \\
  wine '$win_build/windows_tests.exe' 2>&1); \
  echo \"\$out\" | grep -E '^\[  (PASSED|FAILED|SKIPPED) '; echo \"\$out\" | grep -q '^\[  PASSED  \]' \
  && ! echo \"\$out\" | grep -qE '^\[  (FAILED|SKIPPED) ' && echo 'all cases ran'"

echo "== palo520g.exe under Wine against the simulator on COM5"
map_port COM5 "$linux_build/palo520g-sim" --quiet --time-scale 200 --stream-time-scale 5 --reset-delay 50
exe=$win_build/palo520g.exe
config="Z:$(echo "$work/appConfig.xml" | tr / '\\')"
head -c 16384 /dev/urandom >"$work/APP0.bin"
image="Z:$(echo "$work/APP0.bin" | tr / '\\')"
step "--version" "palo520g " wine "$exe" --version
step "ports" "COM5" wine "$exe" ports
step "info" "Serial number:" wine "$exe" info --port COM5
step "params read" "GateTriggerThreshold" wine "$exe" params read --port COM5
step "params write --verify" "Parameters verified." \
  wine "$exe" params write --port COM5 --max 5 --absence 20 --verify
step "params save" "Parameters saved" wine "$exe" params save --port COM5 --config "$config"
# A second save replaces the file it wrote.
step "params save (replace)" "Parameters saved" wine "$exe" params save --port COM5 --config "$config"
step "params load --verify" "Parameters verified." wine "$exe" params load --port COM5 --config "$config" --verify
step "monitor --count 20" "20 reports" \
  bash -c "wine '$exe' monitor --port COM5 --count 20 --json | grep -c '^{' | sed 's/\$/ reports/'"
step "fw flash (16 KiB)" "Download successful" wine "$exe" fw flash "$image" --partition 0 --port COM5
step "a missing port is named" "COM404" bash -c "! wine '$exe' info --port COM404"

echo "== palo520g.exe: an update server on loopback and firmware zips"
# Windows names for the script's files: Z: is the root of the Linux file system.
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
# fails program args...: the program must fail (its message is checked by step).
fails() { ! "$@"; }
site=$work/site
data=$work/data
step "fw publish (writes a zip)" "Published 1.0.3" wine "$exe" fw publish --catalogue "$(winpath "$site")" 1.0.3 "$image"
serve_updates site "$site" 1.0.3
url=$served_url
update=(--update-url "$url" --data-dir "$(winpath "$data")")
step "fw versions" "1.0.8" wine "$exe" fw versions --update-url "$url"
step "fw versions over file://" "1.0.3" wine "$exe" fw versions --update-url "file:///$(winpath "$site" | tr '\\' /)/"
step "fw fetch" "the image unpacked" bash -c "wine '$exe' fw fetch 1.0.3 --update-url '$url' --data-dir '$(winpath "$data")' \
  && cmp '$data/FW_Image/1.0.3/APP0.bin' '$work/APP0.bin' && echo 'the image unpacked'"
step "fw update (zip to partition 0)" "Download successful" \
  wine "$exe" fw update 1.0.3 --partition 0 --port COM5 "${update[@]}"
# One fetch into a folder at a time: a second one is refused while the first
# waits on a stalled server (which closes after 3 s and so ends it).
wine "$exe" fw fetch 1.0.9 "${update[@]}" >"$work/stalled.out" 2>&1 &
stalled=$!
for _ in $(seq 100); do
  [ -e "$data/FW_Image/.download.zip.part" ] && break
  sleep 0.1
done
step "a second fetch is refused" "another fetch into" fails wine "$exe" fw fetch 1.0.3 "${update[@]}"
wait "$stalled" || true
step "server down" "could not be reached" fails wine "$exe" fw versions --update-url http://127.0.0.1:1/
step "archive missing (404)" "HTTP status 404" fails wine "$exe" fw fetch 1.0.8 "${update[@]}"
step "archive cut short" "closed the connection after" fails wine "$exe" fw fetch 1.0.4 "${update[@]}"
step "archive too long" "more than the catalogue's" fails wine "$exe" fw fetch 1.0.5 "${update[@]}"
step "zip entry ../evil.bin" "leaves its folder" fails wine "$exe" fw fetch 1.0.6 "${update[@]}"
step "zip entry with a bad CRC" "CRC error" fails wine "$exe" fw fetch 1.0.7 "${update[@]}"
# The failed fetches left neither an archive, a temporary nor a folder; 1.0.3 is whole.
step "failures leave only 1.0.3" "only 1.0.3" bash -c "cd '$data/FW_Image' && [ \"\$(find . | sort | tr '\n' ' ')\" = '. ./1.0.3 ./1.0.3/APP0.bin ' ] \
  && [ ! -e '$work/evil.bin' ] && cmp 1.0.3/APP0.bin '$work/APP0.bin' && echo 'only 1.0.3'"

echo "== palo520g.exe: network ports through ser2net"
# A second simulator, so that these steps do not depend on what the firmware steps
# left in the first one, served by ser2net raw (tcp://) and as RFC 2217.
"$linux_build/palo520g-sim" --quiet --time-scale 200 --stream-time-scale 5 --reset-delay 50 \
  >"$work/net-sim.out" 2>"$work/net-sim.err" &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/net-sim.out" ] && break
  sleep 0.1
done
net_pty=$(head -n 1 "$work/net-sim.out")
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
raw_port=$(free_port)
rfc_port=$(free_port)
printf '%s\n' "connection: &raw" "  accepter: tcp,127.0.0.1,$raw_port" \
  "  connector: serialdev,$net_pty,115200n81,local" "  options:" "    kickolduser: true" \
  "connection: &rfc2217" "  accepter: telnet(rfc2217),tcp,127.0.0.1,$rfc_port" \
  "  connector: serialdev,$net_pty,115200n81,local" "  options:" "    kickolduser: true" >"$work/ser2net.yaml"
ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
"$ser2net" -n -u -P "$work/ser2net.pid" -c "$work/ser2net.yaml" >"$work/ser2net.log" 2>&1 &
pids+=($!)
listening() { python3 -c "import socket; socket.create_connection(('127.0.0.1', $1), 1).close()" 2>/dev/null; }
for _ in $(seq 100); do
  listening "$raw_port" && listening "$rfc_port" && break
  sleep 0.1
done
step "info over tcp://" "Serial number:" wine "$exe" info --port "tcp://127.0.0.1:$raw_port"
step "params write over rfc2217://" "Parameters verified." \
  wine "$exe" params write --port "rfc2217://127.0.0.1:$rfc_port" --max 5 --absence 20 --verify
step "monitor over rfc2217://" "20 reports" \
  bash -c "wine '$exe' monitor --port rfc2217://127.0.0.1:$rfc_port --count 20 --json | grep -c '^{' | sed 's/\$/ reports/'"
# The image's 0xFF bytes are doubled on the way (Telnet) and must arrive once.
step "fw flash over rfc2217://" "Download successful" \
  wine "$exe" fw flash "$image" --partition 0 --port "rfc2217://127.0.0.1:$rfc_port"
step "a port without a server" "nothing accepted the connection" fails wine "$exe" info --port "tcp://127.0.0.1:1"

ended=$(date +%s.%N)
printf '%d failed; %.0f s in all\n' "$failures" "$(awk "BEGIN { print $ended - $started }")"
[ "$failures" -eq 0 ]
