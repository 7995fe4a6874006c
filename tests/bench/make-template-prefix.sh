#!/bin/bash
# Builds the ready Wine prefix that every test executable gets a copy of:
# headless (Graphics=null), Windows 10, no com1 link, no crash debugger,
# fonts for screenshots, and the device bench: the stand-in DLLs built into
# BUILD_DIR/bin/device_bench copied over system32 and preferred to Wine's
# own, and the Ports class installer registered.
# Every Wine command's output goes to PREFIX-prefix.log beside the prefix; a
# step that fails prints its command, its exit code and the log's last lines.
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
mkdir -p "$(dirname "$dir")"
log=$(cd "$(dirname "$dir")" && pwd)/$(basename "$dir")-prefix.log
: >"$log"
export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64

# Ends the script with what a person needs to see: the step, its command,
# its exit code, and the end of the log.
fail() {
    local what=$1 rc=$2
    shift 2
    {
        echo "make-template-prefix: step \"$what\" failed: '$*' exited with code $rc."
        echo "make-template-prefix: the log is $log; its last lines:"
        tail -n 20 "$log" | sed 's/^/    /'
    } >&2
    exit 1
}

# Waits, within a bound, until no Wine process of this prefix runs and its
# server has exited, so that the next step neither races a server that is
# still starting nor one that is shutting down.
wait_for_wine() {
    local rc=0
    timeout 120 wineserver -w </dev/null >>"$log" 2>&1 || rc=$?
    echo "-- wineserver -w: exit code $rc" >>"$log"
    return $rc
}

# step WHAT COMMAND...: runs a command with its streams in the log (the
# server keeps the streams it is started with: a pipe would hang its
# reader). A command that fails is tried again, three times at most, after
# Wine has settled: the first start of Wine on a machine can fail while its
# server or its fonts are still being set up. Each try is logged.
step() {
    local what=$1 try rc
    shift
    for try in 1 2 3 4; do
        echo "== $what (try $try): $*" >>"$log"
        rc=0
        "$@" </dev/null >>"$log" 2>&1 || rc=$?
        [ $rc = 0 ] && return 0
        echo "-- exit code $rc" >>"$log"
        [ $try = 4 ] && break
        wait_for_wine || true
        sleep 1
    done
    fail "$what" $rc "$@"
}

# A server still running for an old prefix of this name must be gone before
# the folder is: a new folder can get the old one's inode, and with it the
# old server, which serves the old registry.
stop_old_server() {
    [ -d "$dir" ] || return 0
    wineserver -k </dev/null >>"$log" 2>&1 || true
    wait_for_wine
}
# A try that failed half-way leaves half a prefix: each try starts afresh.
create_prefix() {
    rm -rf "$dir" && "$wine" wineboot -i
}
step "stop the old prefix's server" stop_old_server
step "create the prefix" create_prefix
step "wait for the first start to end" wait_for_wine
reg_add() {
    step "registry: $1 $3" "$wine" reg add "$@" /f
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
# The registry reaches the prefix's files when the server exits.
step "write the registry to disk" wait_for_wine
for name in "${standins[@]}"; do
    step "install the $name stand-in" cp "$bench_dlls/$name.dll" "$dir/drive_c/windows/system32/$name.dll"
done

rm -f "$dir/dosdevices/com1"
fonts=/usr/share/wine/fonts
for font in tahoma.ttf tahomabd.ttf marlett.ttf; do
    if [ -f "$fonts/$font" ]; then
        step "copy the font $font" cp "$fonts/$font" "$dir/drive_c/windows/Fonts/"
    fi
done
touch "$dir/.bench-ready"
echo "== done" >>"$log"
