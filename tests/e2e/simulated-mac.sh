#!/usr/bin/env bash
# The simulated Mac: as root, a private mount and pid namespace whose root is a copy-on-write
# overlay of this machine's root, holding /Applications/OBS.app (the fake OBS bundle),
# /Applications/MorvantaInstaller.app, /bin/launchctl and /usr/bin/dns-sd (the stand-ins) and the
# user ana with an OBS configuration in /Users/ana. The shipped binary runs in it unchanged, in a
# real X server. The host machine is left exactly as it was: every write lands in the overlay's
# upper layer, a tmpfs that goes away with the namespace.
#
#   simulated-mac.sh BUILD_DIR MODE [OUTPUT_DIR]
#     test        end-to-end installation with OBS running, checked; exits non-zero on a failure
#     test-no-obs the same without OBS installed: the run must fail and write nothing
#     repeat      50 installations in a row by the engine; no stray process, no descriptor leak
#     demo        the installer on your display (or under Xvfb, pressed automatically)
set -euo pipefail

BUILD=$(realpath "$1")
MODE=$2
OUT=$(realpath -m "${3:-$BUILD/artifacts/simulated-mac-$MODE}")
HERE=$(dirname "$(realpath "$0")")

if [ "${SIMULATED_MAC_INSIDE:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || { echo "simulated-mac.sh must run as root (it makes namespaces and mounts)" >&2; exit 1; }
    rm -rf "$OUT" && mkdir -p "$OUT"
    WORK=$(mktemp -d /tmp/simulated-mac.XXXXXX)
    status=0
    SIMULATED_MAC_INSIDE=1 SIMULATED_MAC_WORK=$WORK HOST_DISPLAY=${DISPLAY:-} \
        unshare --mount --pid --fork --propagation private bash "$0" "$BUILD" "$MODE" "$OUT" || status=$?
    rmdir "$WORK" 2>/dev/null || true
    exit $status
fi

# ---------------------------------------------------------------- inside the namespaces
WORK=$SIMULATED_MAC_WORK
mount -t tmpfs -o size=2g simulated-mac "$WORK"
mkdir -p "$WORK/upper" "$WORK/work" "$WORK/root"
mount -t overlay simulated-mac -o "lowerdir=/,upperdir=$WORK/upper,workdir=$WORK/work" "$WORK/root"
R=$WORK/root
mount -t proc proc "$R/proc"
mount --rbind /dev "$R/dev"
mount --rbind /sys "$R/sys"

FAILURES=0
fail() { echo "FAIL: $*" | tee -a "$OUT/result.txt"; FAILURES=$((FAILURES + 1)); }
pass() { echo "ok: $*" | tee -a "$OUT/result.txt"; }
check() { local what=$1; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
# Waits up to $1 seconds for the command after it to succeed.
wait_for() { local limit=$1; shift; local end=$((SECONDS + limit)); until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.2; done; }

# ---------------------------------------------------------------- the simulated Mac's layout
mkdir -p "$R/Applications" "$R/Users"
cp -a "$BUILD/MorvantaInstaller.app" "$R/Applications/"
[ "$MODE" = test-no-obs ] || cp -a "$BUILD/tests/fixtures/OBS.app" "$R/Applications/"
install -m 0755 "$BUILD/standins/launchctl" "$R/bin/launchctl"
install -m 0755 "$BUILD/standins/dns-sd" "$R/usr/bin/dns-sd"
chroot "$R" useradd -m -d /Users/ana -s /bin/bash ana
ANA_UID=$(chroot "$R" id -u ana)
HOME_DIR=$R/Users/ana
OBS_CONFIG="$HOME_DIR/Library/Application Support/obs-studio"
mkdir -p "$OBS_CONFIG/basic/scenes" "$OBS_CONFIG/basic/profiles/Untitled" "$OBS_CONFIG/basic/profiles/Relay"
printf '[General]\nFirstRun=true\nLastVersion=503316480\n' > "$OBS_CONFIG/user.ini"
printf '{"current_scene":"Scene","name":"Untitled","sources":[{"name":"Scene","id":"scene","settings":{"items":[]}}]}' \
    > "$OBS_CONFIG/basic/scenes/Untitled.json"
printf '{"modules":{"scripts-tool":[{"path":"/Users/ana/scripts/clock.lua","settings":{"format":"%%H:%%M"}}]},"name":"Show","sources":[]}' \
    > "$OBS_CONFIG/basic/scenes/Show.json"
printf '[General]\nName=Untitled\n\n[AdvOut]\nRecType=Standard\n' > "$OBS_CONFIG/basic/profiles/Untitled/basic.ini"
printf '[General]\nName=Relay\n\n[Output]\nMode=Advanced\n\n[AdvOut]\nRecType=FFmpeg\nFFURL=srt://127.0.0.1:8890?streamid=publish:morvanta\nFFFormat=mpegts\n' \
    > "$OBS_CONFIG/basic/profiles/Relay/basic.ini"
chroot "$R" chown -R ana:ana /Users/ana
mkdir -p "$R/run/user/$ANA_UID" && chroot "$R" chown ana:ana "/run/user/$ANA_UID" && chmod 0700 "$R/run/user/$ANA_UID"
cp -a "$HOME_DIR" "$OUT/home-before"

as_ana() {
    chroot --userspec=ana:ana "$R" env -i HOME=/Users/ana USER=ana LOGNAME=ana PATH=/usr/local/bin:/usr/bin:/bin \
        DISPLAY="$DISPLAY_NAME" XAUTHORITY=/Users/ana/.Xauthority XDG_RUNTIME_DIR="/run/user/$ANA_UID" "$@"
}

# ---------------------------------------------------------------- the display
DISPLAY_NAME=
if [ "$MODE" = demo ] && [ -n "${HOST_DISPLAY:-}" ] && xdpyinfo -display "$HOST_DISPLAY" > /dev/null 2>&1; then
    DISPLAY_NAME=$HOST_DISPLAY
    # ana needs your display's cookie to connect.
    cookie=${XAUTHORITY:-${HOME:-/root}/.Xauthority}
    if [ -f "$cookie" ]; then
        install -m 0600 "$cookie" "$HOME_DIR/.Xauthority"
        chroot "$R" chown ana:ana /Users/ana/.Xauthority
    fi
    echo "Using your display $DISPLAY_NAME"
else
    # Xvfb picks a free display number itself and writes it to descriptor 3.
    chroot "$R" Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -ac 3> "$OUT/display" > "$OUT/xvfb.log" 2>&1 &
    wait_for 20 test -s "$OUT/display" || { echo "Xvfb did not start" >&2; exit 1; }
    DISPLAY_NAME=:$(head -1 "$OUT/display")
    wait_for 20 xdpyinfo -display "$DISPLAY_NAME" > /dev/null 2>&1 || { echo "Xvfb did not answer" >&2; exit 1; }
fi
export DISPLAY=$DISPLAY_NAME
shot() { import -window root "$OUT/$1.png" 2>/dev/null && echo "screenshot: $OUT/$1.png"; }

# ---------------------------------------------------------------- helpers for the run
obs_log() { cat "$HOME_DIR/fake-obs.log" 2>/dev/null || true; }
obs_starts() { obs_log | grep -c '^started ' || true; }
obs_started_at_least() { [ "$(obs_starts)" -ge "$1" ]; }
start_obs() {
    as_ana setsid /Applications/OBS.app/Contents/MacOS/OBS < /dev/null > /dev/null 2>&1 &
    wait_for 10 obs_started_at_least "$1"
}
INSTALLER_PID=
start_installer() {
    as_ana /Applications/MorvantaInstaller.app/Contents/MacOS/MorvantaInstaller >> "$OUT/installer.log" 2>&1 &
    WINDOW=$(xdotool search --sync --onlyvisible --name '^Morvanta Radidor for OBS$' | head -1)
    INSTALLER_PID=$(xdotool getwindowpid "$WINDOW")
}
# The window ids of the installer's visible top-level windows other than the main window.
other_windows() { xdotool search --onlyvisible --pid "$INSTALLER_PID" 2>/dev/null | grep -vx "$WINDOW" || true; }
has_other_window() { [ -n "$(other_windows)" ]; }
press_install() { xdotool mousemove --window "$WINDOW" 400 259 click 1; }
accept_alert() {
    local alert
    wait_for 15 has_other_window || return 1
    alert=$(other_windows | head -1)
    shot "$1"
    xdotool windowfocus --sync "$alert" key --clearmodifiers Return
}
launchctl_print() { as_ana /bin/launchctl print "gui/$ANA_UID/com.brenmoorlabs.morvantamonitor.relay" 2>/dev/null || true; }
relay_running() { launchctl_print | grep -q 'state = running'; }
backups() { ls "$1".morvanta-backup-* 2>/dev/null | wc -l; }
upper_listing() { (cd "$WORK/upper" && find . -mindepth 1 \( -type f -o -type l -o -type s \) -printf '%p %s %T@\n' | sort); }

REPO=$(realpath "$HERE/../..")
SCENES="$OBS_CONFIG/basic/scenes"
RELAY_DIR="$HOME_DIR/Library/Application Support/MorvantaMonitorRelay"
SCRIPT_PATH="/Users/ana/Library/Application Support/MorvantaMonitorRelay/morvanta-monitor-output.lua"

check_installation() {
    local runs=$1
    check "relay executable is 0755" test "$(stat -c %a "$RELAY_DIR/mediamtx")" = 755
    for name in mediamtx mediamtx.yml morvanta-monitor-output.lua; do
        check "$name deployed" cmp -s "$RELAY_DIR/$name" "$R/Applications/MorvantaInstaller.app/Contents/Resources/$name"
    done
    check "configuration keeps its mode" test "$(stat -c %a "$RELAY_DIR/mediamtx.yml")" = \
        "$(stat -c %a "$R/Applications/MorvantaInstaller.app/Contents/Resources/mediamtx.yml")"
    for scene in Untitled Show; do
        check "$scene.json lists the output script last" \
            test "$(jq -r '.modules["scripts-tool"][-1].path' "$SCENES/$scene.json")" = "$SCRIPT_PATH"
        check "$scene.json has one entry of ours" \
            test "$(jq '[.modules["scripts-tool"][] | select(.path | contains("morvanta-monitor-output.lua"))] | length' "$SCENES/$scene.json")" = 1
        check "$scene.json has $runs backup(s)" test "$(backups "$SCENES/$scene.json")" = "$runs"
    done
    check "Show.json keeps the other script first" \
        test "$(jq -r '.modules["scripts-tool"][0].path' "$SCENES/Show.json")" = /Users/ana/scripts/clock.lua
    check "first backup holds the original bytes" \
        cmp -s "$(ls "$SCENES"/Untitled.json.morvanta-backup-* | head -1)" "$OUT/home-before/Library/Application Support/obs-studio/basic/scenes/Untitled.json"
    check "relay profile switched to standard recording" grep -qx 'RecType=Standard' "$OBS_CONFIG/basic/profiles/Relay/basic.ini"
    check "relay profile keeps its FFURL" grep -qx 'FFURL=srt://127.0.0.1:8890?streamid=publish:morvanta' "$OBS_CONFIG/basic/profiles/Relay/basic.ini"
    check "relay profile has one backup" test "$(backups "$OBS_CONFIG/basic/profiles/Relay/basic.ini")" = 1
    check "other profile untouched" cmp -s "$OBS_CONFIG/basic/profiles/Untitled/basic.ini" \
        "$OUT/home-before/Library/Application Support/obs-studio/basic/profiles/Untitled/basic.ini"
    check "other profile has no backup" test "$(backups "$OBS_CONFIG/basic/profiles/Untitled/basic.ini")" = 0
    check "relay definition as rendered" cmp -s "$HOME_DIR/Library/LaunchAgents/com.brenmoorlabs.morvantamonitor.relay.plist" "$REPO/tests/golden/relay.plist"
    check "discovery definition as rendered" cmp -s "$HOME_DIR/Library/LaunchAgents/com.brenmoorlabs.morvantamonitor.discovery.plist" "$REPO/tests/golden/discovery.plist"
    check "launchctl reports the relay running" relay_running
    check "relay log holds the start line" grep -q "mediamtx placeholder relay started with configuration /Users/ana/Library/Application Support/MorvantaMonitorRelay/mediamtx.yml" \
        "$HOME_DIR/Library/Logs/MorvantaMonitorRelay/com.brenmoorlabs.morvantamonitor.relay.log"
}

# Files written in the overlay since $1 (a listing), outside the home and the stand-ins' state.
written_outside_home() {
    comm -13 "$1" <(upper_listing) | awk '{print $1}' \
        | grep -v -e '^\./Users/ana/' -e "^\./tmp/morvanta-launchd-$ANA_UID/" -e '^\./tmp/.*\.xkm$' -e '^\./tmp/\.X11-unix/' || true
}

run_test() {
    start_obs 1 || fail "fake OBS started"
    upper_listing > "$OUT/upper-before.txt"
    start_installer
    shot window-idle
    press_install
    accept_alert confirmation || fail "confirmation alert shown"
    check "installation ended with OBS reopened" wait_for 60 obs_started_at_least 2
    check "OBS was asked to quit" grep -q '^asked to quit ' "$HOME_DIR/fake-obs.log"
    check "OBS quit before it was reopened" grep -q '^quit ' "$HOME_DIR/fake-obs.log"
    wait_for 10 relay_running || true
    sleep 0.5
    shot window-installed
    check_installation 1
    local outside
    outside=$(written_outside_home "$OUT/upper-before.txt")
    [ -z "$outside" ] || echo "$outside" > "$OUT/written-outside-home.txt"
    check "the installer wrote nothing outside the home" test -z "$outside"

    local old_pid
    old_pid=$(launchctl_print | sed -n 's/^\tpid = //p')
    kill -9 "$old_pid"
    check "the supervisor restarts a killed relay" wait_for 15 sh -c \
        "launchctl_pid=\$(chroot --userspec=ana:ana '$R' /bin/launchctl print gui/$ANA_UID/com.brenmoorlabs.morvantamonitor.relay | sed -n 's/^\tpid = //p'); [ -n \"\$launchctl_pid\" ] && [ \"\$launchctl_pid\" != $old_pid ]"

    kill "$INSTALLER_PID"
    wait_for 10 sh -c "! kill -0 $INSTALLER_PID 2>/dev/null" || true
    sleep 1.2
    start_installer
    press_install
    accept_alert confirmation-second || fail "second confirmation alert shown"
    check "second installation ended with OBS reopened" wait_for 60 obs_started_at_least 3
    wait_for 10 relay_running || true
    check_installation 2
    shot window-installed-second
    kill "$INSTALLER_PID" 2>/dev/null || true
}

run_test_without_obs() {
    start_installer
    press_install
    check "an error alert is shown" accept_alert error-alert
    sleep 0.3
    shot window-failed
    check "nothing was deployed" test ! -e "$RELAY_DIR"
    check "no agent folder" test ! -e "$HOME_DIR/Library/LaunchAgents"
    check "no backups" test "$(backups "$SCENES/Untitled.json")" = 0
    check "OBS configuration untouched" diff -r "$OUT/home-before/Library" "$HOME_DIR/Library"
    kill "$INSTALLER_PID" 2>/dev/null || true
}

run_demo() {
    start_obs 1
    start_installer
    if [ "$DISPLAY_NAME" = "${HOST_DISPLAY:-none}" ]; then
        echo "The installer is open on your display, with the fake OBS running. Close its window to end."
        wait "$INSTALLER_PID" || true
    else
        shot 1-window
        press_install
        accept_alert 2-confirmation
        sleep 0.3; shot 3-after-confirmation
        wait_for 60 obs_started_at_least 2 || true
        sleep 0.5; shot 4-installed
        kill "$INSTALLER_PID" 2>/dev/null || true
    fi
    echo "Relay agent as the service manager sees it:"; launchctl_print
    echo "Screenshots and logs are in $OUT"
}

run_repeat() {
    install -m 0755 "$BUILD/tests/tools/repeat_install" "$R/usr/local/bin/repeat_install"
    check "50 installations in a row" sh -c "chroot --userspec=ana:ana '$R' env -i HOME=/Users/ana PATH=/usr/bin:/bin \
        /usr/local/bin/repeat_install 50 /Applications/MorvantaInstaller.app/Contents/Resources > '$OUT/repeat.log' 2>&1"
    tail -3 "$OUT/repeat.log"
    chroot "$R" ps -u ana -o pid=,comm= > "$OUT/processes.txt" || true
    check "exactly two supervisors" test "$(grep -c ' launchctl$' "$OUT/processes.txt")" = 2
    check "one relay program" test "$(grep -c ' mediamtx$' "$OUT/processes.txt")" = 1
    check "no stray process" test -z "$(grep -v -e ' launchctl$' -e ' mediamtx$' -e ' dns-sd$' "$OUT/processes.txt")"
    local stamps reference=""
    for scene in Untitled Show; do
        stamps=$(ls "$SCENES" | sed -n "s/^$scene.json.morvanta-backup-//p" | sort | tr '\n' ' ')
        [ -n "$reference" ] || reference=$stamps
        check "$scene.json has one backup per run stamp" test "$stamps" = "$reference"
    done
    check "backups carry at least one stamp" test -n "$reference"
    check "relay profile backed up once" test "$(backups "$OBS_CONFIG/basic/profiles/Relay/basic.ini")" = 1
    check "launchctl reports the relay running" relay_running
}

case "$MODE" in
    test) run_test ;;
    repeat) run_repeat ;;
    test-no-obs) run_test_without_obs ;;
    demo) run_demo; exit 0 ;;
    *) echo "unknown mode $MODE" >&2; exit 2 ;;
esac
echo "$FAILURES failure(s); artefacts in $OUT"
[ "$FAILURES" = 0 ]
