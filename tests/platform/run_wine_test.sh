#!/usr/bin/env bash
# Runs the Windows test program under Wine in a prefix of its own, with a pseudo-terminal as its
# COM port. Usage: run_wine_test.sh WINE64 PROGRAM WORK_DIR
# Exit 77 (a skip for CTest) with the reason when Wine cannot run here.
set -uo pipefail
wine=$1 program=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)

skip() { echo "SKIPPED: $*"; exit 77; }
[ -x "$wine" ] || skip "wine64 not found ($wine)"
command -v python3 >/dev/null || skip "python3 not found (the peer on the cable's far end)"
python3 -c 'import os, pty; pty.openpty()' 2>/dev/null || skip "no pseudo-terminals (/dev/pts)"

export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
wineserver=$(dirname "$wine")/wineserver
# Wine's processes outlive the program; a boot that timed out once left one spinning for minutes.
trap '"$wineserver" -k >/dev/null 2>&1' EXIT

mkdir -p "$work"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    if ! timeout 300 "$wine" wineboot --init >"$work/wineboot.log" 2>&1; then
        "$wineserver" -k >/dev/null 2>&1
        rm -rf "$WINEPREFIX"
        skip "Wine cannot start: wineboot failed or took over 300 s (see $work/wineboot.log)"
    fi
    "$wineserver" -w
fi

folder=$work/files
rm -rf "$folder" && mkdir -p "$folder"
# The program takes Windows paths: Wine shows the root folder as drive Z.
cd "$work" && timeout 600 python3 "$here/peer.py" "$wine" "$program" COM7 "Z:$(cd "$folder" && pwd)"
status=$?
[ $status -eq 0 ] || echo "exit status $status; Wine's own messages are in $work/wine.log"
exit $status
