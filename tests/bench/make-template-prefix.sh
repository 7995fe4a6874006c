#!/bin/bash
# Builds the ready Wine prefix that every test executable gets a copy of:
# headless (Graphics=null), Windows 10, no com1 link, fonts for screenshots.
# Usage: make-template-prefix.sh DIR
set -eu
dir=$1
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
# The server keeps its own streams: a child that inherits a pipe keeps it
# open and hangs whoever reads it.
"$wine" wineboot -i </dev/null >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine' /v Version /d win10 /f </dev/null >/dev/null 2>&1
# A crashing program must end with a failure code, not wait in a debugger.
aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
"$wine" reg add "$aedebug" /v Debugger /d "" /f </dev/null >/dev/null 2>&1
"$wine" reg add "$aedebug" /v Auto /d 0 /f </dev/null >/dev/null 2>&1
wineserver -w
rm -f "$dir/dosdevices/com1"
fonts=/usr/share/wine/fonts
for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
    [ -f "$fonts/$font" ] && cp "$fonts/$font" "$dir/drive_c/windows/Fonts/"
done
touch "$dir/.bench-ready"
