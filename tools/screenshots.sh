#!/bin/bash
# Takes screenshots of setup.exe in each of its screens while it really
# installs and removes the sample package: Xvfb, Wine's virtual desktop in a
# scratch prefix with the device bench, uidriver.exe to reach each state.
# setup.exe runs from C:\package beside the sample package.
# Usage: tools/screenshots.sh BUILD_DIR OUT_DIR
# Needs xvfb, imagemagick, fonts-noto-cjk and the ja_JP.UTF-8 locale, and
# every target built (setup, uidriver, test_service, the device bench).
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR OUT_DIR" >&2
    exit 2
fi
build=$(realpath "$1")
out=$(realpath -m "$2")
here=$(dirname "$(realpath "$0")")
wine=/usr/lib/wine/wine64
desktop_size=800x600
margin=12

work=$(mktemp -d /tmp/screenshots.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
package=$WINEPREFIX/drive_c/package
xvfb_pid=

cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Windows path of a Unix path (drive Z: is the Unix root).
winpath() {
    local path=$1
    echo "Z:${path//\//\\}"
}

start_xvfb() {
    local n
    for n in $(seq 90 120); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 "${desktop_size}x24" -nolisten tcp >/dev/null 2>&1 &
        xvfb_pid=$!
        export DISPLAY=:$n
        for _ in $(seq 50); do
            xdpyinfo >/dev/null 2>&1 && return 0
            sleep 0.1
        done
        kill "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    done
    echo "screenshots: no free X display" >&2
    exit 1
}

make_prefix() {
    if [ -f "$build/wine/template/.bench-ready" ]; then
        cp -a "$build/wine/template" "$WINEPREFIX"
    else
        "$here/../tests/bench/make-template-prefix.sh" "$WINEPREFIX" "$build"
    fi
    # Draw through X11 in one virtual-desktop window: captions, no window
    # manager needed.
    local reg="$wine reg"
    $reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f </dev/null >/dev/null 2>&1 || true
    $reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    $reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$desktop_size" /f </dev/null >/dev/null 2>&1
    wineserver -w
    mkdir -p "$package"
    cp "$here"/../tests/package/* "$build/bin/setup.exe" "$package/"
    cp "$build/bin/test_service.exe" "$WINEPREFIX/drive_c/"
}

# A server of our own with detached streams; the locale is read at start.
start_server() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1
    "$wine" cmd /c exit </dev/null >/dev/null 2>&1
}

# shoot LOG NAME...: at the k-th READY line of LOG, captures the screen into
# OUT/NAME.png (the k-th NAME) cropped to the reported bounds, then lets
# uidriver go on by creating LOG.go.
shoot() {
    local log=$1 count=0 name line x y w h
    shift
    for name in "$@"; do
        count=$((count + 1))
        for _ in $(seq 600); do
            [ "$(grep -c '^READY' "$log" 2>/dev/null)" -ge "$count" ] 2>/dev/null && break
            sleep 0.1
        done
        line=$(grep '^READY' "$log" | sed -n "${count}p" | tr -d '\r')
        if [ -z "$line" ]; then
            echo "screenshots: $name: no READY from uidriver" >&2
            cat "$log" >&2
            return 1
        fi
        read -r _ x y w h <<<"$line"
        sleep 0.7 # let the windows finish painting
        import -window root "$work/screen.png"
        # A palette PNG: the dialogs use few colours.
        convert "$work/screen.png" -crop "$((w + 2 * margin))x$((h + 2 * margin))+$((x - margin))+$((y - margin))" \
            +repage -colors 256 "PNG8:$out/$name.png"
        echo "screenshots: $out/$name.png"
        touch "$log.go"
    done
}

# drive LOG STEPS... -- ARGS...: starts uidriver.exe on setup.exe in the
# package folder, in the background; its output goes to LOG.
drive() {
    local log=$1
    shift
    local steps=()
    while [ "$1" != "--" ]; do
        steps+=("$1")
        shift
    done
    shift
    "$wine" "$build/bin/uidriver.exe" --timeout 60000 --wait-file "$(winpath "$log.go")" --cwd 'C:\package' \
        "${steps[@]}" -- 'C:\package\setup.exe' "$@" </dev/null >"$log" 2>&1 &
    driver_pid=$!
}

# finish: waits for the last uidriver and checks that setup.exe ended with 0
# (or with the code given).
finish() {
    local log=$1 expected=${2:-0}
    wait "$driver_pid" || { cat "$log" >&2; return 1; }
    grep -q "^EXIT $expected" "$log" || { echo "screenshots: unexpected end:" >&2; cat "$log" >&2; return 1; }
}

# run_setup ARGS...: runs setup.exe from the package folder, not driven
# (a silent run), and checks that it ended with 0.
run_setup() {
    local rc=0
    (cd "$package" && "$wine" setup.exe "$@" </dev/null >/dev/null 2>&1) || rc=$?
    [ "$rc" = 0 ] || { echo "screenshots: setup.exe $* ended with $rc" >&2; return 1; }
}

# Replaces the installed function driver's service by a program service
# that takes about 15 s to stop, so that a reinstall visibly waits there.
slow_function_driver() {
    local sc="$wine sc"
    $sc delete qzvrcom </dev/null >/dev/null 2>&1
    $sc create qzvrcom binpath= 'C:\test_service.exe hint=15000 delay=14000 life=600000' type= own \
        </dev/null >/dev/null 2>&1 &&
        $sc start qzvrcom </dev/null >/dev/null 2>&1 ||
        { echo "screenshots: cannot start the slow qzvrcom service" >&2; return 1; }
}

english_screens() {
    # A reinstall (range 8): its uninstall half stops the function driver
    # at step 3, where the bar waits while the picture is taken.
    run_setup /s
    slow_function_driver
    drive "$work/install.log" --dialog Install --hold --click 1 --sleep 5000 --hold --messagebox --hold --dismiss --
    shoot "$work/install.log" install-ready install-working install-success
    finish "$work/install.log"

    # An interactive uninstall while COM12 is held by another program.
    drive "$work/busy.log" --busy-port 12 --dialog Uninstall --click 1 --messagebox --hold --dismiss --messagebox \
        --dismiss -- /u
    shoot "$work/busy.log" uninstall-port-open
    finish "$work/busy.log" -1

    drive "$work/uninstall.log" --dialog Uninstall --hold --click 2 -- /u
    shoot "$work/uninstall.log" uninstall-ready
    finish "$work/uninstall.log"

    drive "$work/about.log" --dialog Install --move 10 10 --sys-command 0xE001 --dialog "About setup" \
        --move 10 120 --hold \
        --click 1 --dialog Install --click 2 --
    shoot "$work/about.log" about-box
    finish "$work/about.log"

    # COM12 already belongs to another port: the install ends with the
    # result that says a port did not get its number.
    run_setup /u /s
    set_com_db "0008$(printf '0%.0s' {1..60})"
    drive "$work/number.log" --dialog Install --click 1 --messagebox --hold --dismiss --
    shoot "$work/number.log" install-wrong-number
    finish "$work/number.log" -1
    run_setup /u /s
    set_com_db "$(printf '0%.0s' {1..64})"

    # The bench's ports start only after a restart: the result box says so.
    bench_restart 1
    drive "$work/restart.log" --dialog Install --click 1 --messagebox --hold --dismiss --
    shoot "$work/restart.log" install-restart
    finish "$work/restart.log"
    bench_restart 0
}

# bench_restart 1|0: whether the device bench's ports ask for a restart.
bench_restart() {
    "$wine" reg add 'HKLM\SOFTWARE\DeviceBench' /v RestartPorts /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1
}

# set_com_db HEX: the arbiter's bitmap.
set_com_db() {
    "$wine" reg add 'HKLM\System\CurrentControlSet\Control\COM Name Arbiter' /v ComDB /t REG_BINARY /d "$1" /f \
        </dev/null >/dev/null 2>&1
}

japanese_screens() {
    drive "$work/ja.log" --dialog Install --click 1 --messagebox --hold --dismiss --
    shoot "$work/ja.log" success-box-ja
    finish "$work/ja.log"

    # A reinstall whose ports start only after a restart.
    bench_restart 1
    drive "$work/restart-ja.log" --dialog Install --click 1 --messagebox --hold --dismiss --
    shoot "$work/restart-ja.log" restart-box-ja
    finish "$work/restart-ja.log"
    bench_restart 0

    # A second instance while the first shows its dialog.
    drive "$work/first.log" --dialog Install --move 20 20 --hold --click 2 --
    local first_pid=$driver_pid
    for _ in $(seq 300); do
        grep -q '^READY' "$work/first.log" 2>/dev/null && break
        sleep 0.1
    done
    drive "$work/second.log" --messagebox --hold --dismiss --
    shoot "$work/second.log" instance-refused-ja
    finish "$work/second.log" -1
    touch "$work/first.log.go"
    driver_pid=$first_pid
    finish "$work/first.log"
}

mkdir -p "$out"
start_xvfb
make_prefix
start_server
english_screens
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
start_server
japanese_screens
