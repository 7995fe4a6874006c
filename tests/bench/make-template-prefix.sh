#!/bin/bash
# Builds the ready Wine prefix that every test executable gets a copy of:
# headless (Graphics=null), Windows 10, no com1 link, no crash debugger,
# fonts for screenshots, and the device bench: the stand-in DLLs built into
# BUILD_DIR/bin/device_bench copied over system32 and preferred to Wine's
# own, and the Ports class installer registered.
# Usage: make-template-prefix.sh PREFIX BUILD_DIR
set -eu
if [ $# -ne 2 ]; then
    echo "Usage: make-template-prefix.sh PREFIX BUILD_DIR" >&2
    exit 2
fi
dir=$1
bench_dlls=$2/bin/device_bench
standins=(msports newdev cfgmgr32)
for name in "${standins[@]}"; do
    if [ ! -f "$bench_dlls/$name.dll" ]; then
        echo "make-template-prefix: $bench_dlls/$name.dll is missing (build all targets first)" >&2
        exit 1
    fi
done
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
# The server keeps its own streams: a child that inherits a pipe keeps it
# open and hangs whoever reads it.
"$wine" wineboot -i </dev/null >/dev/null 2>&1
reg_add() {
    "$wine" reg add "$@" /f </dev/null >/dev/null 2>&1
}
reg_add 'HKCU\Software\Wine\Drivers' /v Graphics /d null
reg_add 'HKCU\Software\Wine' /v Version /d win10
# A crashing program must end with a failure code, not wait in a debugger.
aedebug='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
reg_add "$aedebug" /v Debugger /d ""
reg_add "$aedebug" /v Auto /d 0

# Device bench: the stand-ins replace Wine's msports.dll (which aborts on
# ComDBOpen), newdev.dll and cfgmgr32.dll (whose device status is a stub);
# the Ports class installer hands out COM numbers.
for name in "${standins[@]}"; do
    reg_add 'HKCU\Software\Wine\DllOverrides' /v "$name" /d native,builtin
done
ports='HKLM\System\CurrentControlSet\Control\Class\{4D36E978-E325-11CE-BFC1-08002BE10318}'
reg_add "$ports" /ve /d "Ports (COM & LPT)"
reg_add "$ports" /v Class /d Ports
reg_add "$ports" /v Installer32 /d "msports.dll,PortsClassInstaller"
# Windows keeps the arbiter bitmap from its first start on: 32 bytes, COM1 to
# COM256, all free.
reg_add 'HKLM\System\CurrentControlSet\Control\COM Name Arbiter' /v ComDB /t REG_BINARY /d "$(printf '0%.0s' {1..64})"
wineserver -w
for name in "${standins[@]}"; do
    cp "$bench_dlls/$name.dll" "$dir/drive_c/windows/system32/$name.dll"
done

rm -f "$dir/dosdevices/com1"
fonts=/usr/share/wine/fonts
for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
    [ -f "$fonts/$font" ] && cp "$fonts/$font" "$dir/drive_c/windows/Fonts/"
done
touch "$dir/.bench-ready"
