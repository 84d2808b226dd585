#!/usr/bin/env bash
# End to end: the real `vireo` under Xvfb with two simulated IRDs on loopback.
# Accepts the start-up dialog with the keyboard, waits until both devices are
# refreshed and polled, saves a screenshot, closes the program answering No and
# checks the log files and the untouched settings file. Then starts it once
# more on a third IRD scripted to lose lock for 12 s: photographs the Signal
# History tab and the Alarms window, acknowledges the alarm and checks the
# device's log and the history file. Last, a fourth IRD whose simulator is
# killed for 60 s: the link-lost alarm, the device back without a click, and
# the outage in the history and the availability report.
#   desktop_e2e.sh BUILD_DIR OUTPUT_DIR
# The simulated IRDs listen on $VIREO_E2E_NET.1 to .4 (127.0.63 unless set), so
# that runs on one machine can keep apart.
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2
net=${VIREO_E2E_NET:-127.0.63}
mkdir -p "$out"
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for f in vireo.log xvfb.log; do
        if [ -s "$work/$f" ]; then
            echo "--- $f (last lines)" >&2
            tail -n 30 "$work/$f" >&2
        fi
    done
    [ -n "${DISPLAY:-}" ] && import -window root "$out/e2e-failure.png" 2>/dev/null || true
    # A program that died on its own is started once more under gdb, so that
    # the report shows where.
    if [ -n "${vireo:-}" ] && ! kill -0 "$vireo" 2>/dev/null && command -v gdb > /dev/null; then
        echo "--- vireo again under gdb" >&2
        (cd "$work" && QT_QPA_PLATFORM=xcb timeout 30 gdb -q -batch -ex run -ex 'thread apply all bt 20' \
            --args "$build/src/vireo" 2>&1 | tail -n 80) >&2 || true
    fi
    exit 1
}

# Waits until a command succeeds, polling every 0.2 s, for at most $1 seconds.
wait_until() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}

# Xvfb picks a free display number itself and writes it to the file.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3> "$work/display" > "$work/xvfb.log" 2>&1 &
pids+=($!)
wait_until 10 grep -q '[0-9]' "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(tr -dc 0-9 < "$work/display")"
wait_until 10 xdpyinfo > /dev/null 2>&1 || fail "Xvfb did not answer on $DISPLAY"

# Three more IRDs from one process, listed but not ticked: the fleet window
# connects them.
"$build/sim/vireo-ird-sim" --addresses 127.0.160.21-127.0.160.23 --generate 3,8,12,4 -v \
    > "$work/fleet.log" 2>&1 &
pids+=($!)
"$build/sim/vireo-ird-sim" --address $net.1 --generate 4,24,40,12 -v > "$work/sim1.log" 2>&1 &
pids+=($!)
# The second IRD takes an upgrade at an operator's pace: 10 ms a block, 1.5 s
# a writing report.
"$build/sim/vireo-ird-sim" --address $net.2 --generate 6,30,60,20 -v \
    --upgrade-block-ms 10 --upgrade-write-ms 1500 > "$work/sim2.log" 2>&1 &
pids+=($!)

cd "$work"
mkdir Logs
printf '[Address]\r\nmachine=y%s.1:Studio A\r\nmachine=y%s.2:Uplink B\r\nmachine=n127.0.160.21:Fleet 1\r\nmachine=n127.0.160.22:Fleet 2\r\nmachine=n127.0.160.23:Fleet 3\r\nmachine=n127.0.160.24:Never\r\n[LANGUAGE]\r\nlanguage=1\r\n\r\n' \
    "$net" "$net" > Vireo.ini
cp Vireo.ini Vireo.ini.before

# A runtime folder of its own: the single-instance lock of a copy started by
# another test run of the same user is not this run's business.
mkdir -m 700 "$work/runtime"
XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb "$build/src/vireo" > "$work/vireo.log" 2>&1 &
vireo=$!
pids+=($vireo)

# The start-up dialog, or the program gone.
login_or_gone() { xdotool search --name '^Login$' > /dev/null || ! kill -0 "$vireo" 2> /dev/null; }
wait_until 20 login_or_gone
if ! kill -0 "$vireo" 2> /dev/null; then
    # Qt refusing the display is this machine's limit, not the program's.
    if grep -qE 'could not connect to display|no Qt platform plugin could be initialized' "$work/vireo.log"; then
        echo "SKIP: Qt cannot use the virtual display here:" >&2
        tail -n 20 "$work/vireo.log" >&2
        exit 77
    fi
    fail "vireo ended before its start-up dialog"
fi
xdotool search --name '^Login$' > /dev/null || fail "no start-up dialog"
# A key pressed before the dialog has the keyboard is lost (a slow start, a
# sanitizer build): press again until the dialog has gone.
login_gone() { ! xdotool search --name '^Login$' > /dev/null; }
for _ in 1 2 3 4 5 6 7 8 9 10; do
    xdotool key --clearmodifiers Return
    wait_until 2 login_gone && break
done
login_gone || fail "the start-up dialog did not take Return"

# Signal polling starts only once a device is refreshed and a program plays:
# three polls on each simulator mean both windows have shown their trees.
polls() { [ "$(grep -c '<- QuerySignal' "$1" || true)" -ge 3 ]; }
wait_until 60 polls "$work/sim1.log" || fail "$net.1 was not refreshed and polled"
wait_until 60 polls "$work/sim2.log" || fail "$net.2 was not refreshed and polled"
sleep 0.5
import -window root "$out/e2e-two-devices.png"

# The operator deletes a transponder with the keyboard: the first transponder
# of the first satellite in the active window ($net.2), through the tree's
# popup menu and the confirmation.
xdotool mousemove 290 129 click 1
sleep 0.3
xdotool key --clearmodifiers Down
sleep 0.3
xdotool key --clearmodifiers Menu
sleep 0.7
import -window root "$out/e2e-popup.png"
xdotool key --clearmodifiers Down
sleep 0.2
xdotool key --clearmodifiers Return
sleep 0.7
xdotool key --clearmodifiers Return
deleted() { grep -q '<- DeleteTp' "$work/sim2.log" && grep -q -- '-> StatusReply  88 63 04 24 00' "$work/sim2.log"; }
wait_until 10 deleted || fail "the transponder was not deleted on the simulator"
sleep 0.5
import -window root "$out/e2e-tp-deleted.png"
# Without a window manager the keyboard focus stays with the closed box: give
# it back to the main window (an empty spot of the machine tree).
xdotool mousemove 80 500 click 1
sleep 0.3
# The System Setting tab of the same window, then back to the programs.
xdotool mousemove 384 73 click 1
sleep 0.8
import -window root "$out/e2e-system-page.png"
xdotool mousemove 265 73 click 1
sleep 0.3

# A firmware upgrade of the same device from the toolbar: the question, the
# type (Loader + Main + FPGA, checked), the file typed into the file dialog.
# The file is newer than the device's 1.6 / 2.29 and holds 300 blocks.
{ printf '\001\006\003\000'; head -c $((300 * 1024)) /dev/urandom; } > "$work/upgrade.bin"
xdotool mousemove 151 37 click 1
sleep 0.8
import -window root "$out/e2e-upgrade-question.png"
xdotool key --clearmodifiers Return
sleep 0.8
xdotool key --clearmodifiers Return
sleep 1.2
xdotool type --delay 20 "$work/upgrade.bin"
xdotool key --clearmodifiers Return
sending() { grep -q 'upgrade begins' "$work/sim2.log"; }
wait_until 15 sending || fail "the upgrade did not begin on $net.2"
sleep 1.5
import -window root "$out/e2e-upgrade-sending.png"
writing() { grep -q -- '-> upgrade frame 18' "$work/sim2.log"; }
wait_until 30 writing || fail "$net.2 did not report writing the image"
sleep 0.3
import -window root "$out/e2e-upgrade-writing.png"
upgraded() { [ "$(grep -c -- '-> upgrade frame 4 ' "$work/sim2.log" || true)" -ge 2 ]; }
wait_until 30 upgraded || fail "$net.2 did not finish the upgrade"
# The device comes back up and stays silent (the simulator does not greet
# without --greet-after-restart): the window refreshes it by itself.
refreshed_again() { [ "$(grep -c '<- UpdateAll' "$work/sim2.log" || true)" -ge 2 ]; }
wait_until 30 refreshed_again || fail "no refresh after the upgrade"
sleep 1.5
import -window root "$out/e2e-upgrade-done.png"

# Compare with Snapshot: a snapshot of the first IRD, taken by vireo-dump
# (from a folder of its own, so its log stays out of the program's), compared
# in the window of the second (Ctrl+Alt+C in the active device window, the
# file typed into the file dialog): the differences show as a tree.
changes() { grep -cE '<- (SetSatellite|AddSatellite|DeleteSatellite|AddTp|ModifyTp|DeleteTp)' "$work/sim2.log" || true; }
changes_before=$(changes)
mkdir "$work/dump"
(cd "$work/dump" && "$build/tools/vireo-dump" $net.1 --name "Studio A" --out "$work/studio-a.json") \
    || fail "vireo-dump could not take a snapshot of $net.1"
xdotool mousemove 600 560 click 1
sleep 0.3
xdotool key --clearmodifiers ctrl+alt+c
sleep 1.2
xdotool type --delay 20 "$work/studio-a.json"
xdotool key --clearmodifiers Return
wait_until 10 xdotool search --name '^Differences with studio-a.json$' > /dev/null \
    || fail "no differences dialog"
sleep 0.8
import -window root "$out/e2e-snapshot-differences.png"
xdotool key --clearmodifiers Escape
sleep 0.5
[ "$(changes)" -eq "$changes_before" ] || fail "comparing with a snapshot sent a change to the device"
xdotool mousemove 80 500 click 1
sleep 0.3
# Both device windows side by side (Window > Tile Vertically).
xdotool key --clearmodifiers alt+w
sleep 0.5
xdotool key --clearmodifiers v
sleep 1
import -window root "$out/e2e-tiled.png"

# The fleet window (Ctrl+Shift+F): the filter leaves the three fleet devices
# and the machine that has no device, Return selects them, and the popup's
# first item connects them all; the one without a device fails.
xdotool key --clearmodifiers ctrl+shift+f
sleep 0.5
xdotool type --delay 50 '127.0.160.2'
xdotool key --clearmodifiers Return
sleep 0.3
xdotool key --clearmodifiers Menu
sleep 0.5
xdotool key --clearmodifiers Down
xdotool key --clearmodifiers Return
fleet_refreshed() { [ "$(grep -c '<- UpdateAll' "$work/fleet.log" || true)" -ge 3 ]; }
wait_until 60 fleet_refreshed || fail "the fleet window did not connect the three devices"
fleet_polled() { [ "$(grep -c '<- QuerySignal' "$work/fleet.log" || true)" -ge 3 ]; }
wait_until 60 fleet_polled || fail "the fleet devices were not polled"
sleep 1
# Every row shown again, sorted as it was.
xdotool key --clearmodifiers ctrl+shift+f
xdotool key --clearmodifiers ctrl+a BackSpace
sleep 1
import -window root "$out/e2e-fleet.png"
grep -q '127.0.160.24' "$work/fleet.log" && fail "a device the simulator does not play answered"

# Ctrl+F: a program searched by name across the devices; Return shows the
# first hit in its device window.
xdotool key --clearmodifiers ctrl+f
sleep 0.5
xdotool type --delay 50 'bbc world'
xdotool key --clearmodifiers Return
sleep 0.5
import -window root "$out/e2e-search.png"
xdotool key --clearmodifiers Return
sleep 1
import -window root "$out/e2e-search-revealed.png"
xdotool mousemove 80 500 click 1
sleep 0.3

xdotool key --clearmodifiers alt+f
sleep 0.5
xdotool key --clearmodifiers x
wait_until 10 xdotool search --name 'Vireo Remote Manager' > /dev/null || true
sleep 1
import -window root "$out/e2e-closing-question.png"
xdotool key --clearmodifiers n
wait_until 20 bash -c "! kill -0 $vireo 2> /dev/null" || fail "vireo did not exit after No"

cmp -s Vireo.ini Vireo.ini.before || fail "Vireo.ini changed although No was answered"
# One refresh for the connect and one after the upgrade, none doubled.
[ "$(grep -c '<- UpdateAll' "$work/sim2.log")" -eq 2 ] || fail "$net.2 was not refreshed exactly twice"
banner='**********Closing Here**********Closing Here**********'
for address in $net.1 $net.2; do
    log="Logs/$address.txt"
    [ -f "$log" ] || fail "no log file $log"
    for line in "Begin connect remote port" "Connect successfully" "Update IRD Information" \
        "Begin monitoring"; do
        grep -q "): $line"$'\r\r'"\$" "$log" || fail "$log lacks \"$line\""
    done
    tail -c 58 "$log" | grep -qF "$banner" || fail "$log does not end with the closing banner"
done
grep -q "): Delete TPOK"$'\r\r'"\$" Logs/$net.2.txt || fail "no confirmed delete in the log"
grep -q "^Delete TP: " Logs/$net.2.txt || fail "no delete question line in the log"
for line in "Selected-upgrading file:$work/upgrade.bin" "Total blocks: 300" "In transporting: 99%!" \
    "Translation completely!" "Upgrading: 100%!" \
    "Upgrading completely, please waiting for IRD restart!"; do
    grep -qF "): $line" Logs/$net.2.txt || fail "the upgrade's log lacks \"$line\""
done

# --- Signal history and alarms. The third IRD is locked for 25 s, then
# without lock for 12 s, then locked for an hour.
printf '25 82 74 1\n12 9 3 0\n3600 82 74 1\n' > "$work/outage.script"
"$build/sim/vireo-ird-sim" --address $net.3 --generate 2,6,10,4 -v \
    --signal-script "$work/outage.script" > "$work/sim3.log" 2>&1 &
pids+=($!)
script_start=$SECONDS
mkdir "$work/history" "$work/history/Logs"
cd "$work/history"
printf '[Address]\r\nmachine=y%s.3:Fading C\r\n[LANGUAGE]\r\nlanguage=1\r\n\r\n' "$net" > Vireo.ini
XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb "$build/src/vireo" > "$work/vireo.log" 2>&1 &
vireo=$!
pids+=($vireo)
wait_until 20 login_or_gone
xdotool search --name '^Login$' > /dev/null || fail "no start-up dialog the second time"
xdotool key --clearmodifiers Return
first_poll() { grep -q '<- QuerySignal' "$work/sim3.log"; }
wait_until 30 first_poll || fail "$net.3 was not polled"
[ -s History.sqlite ] || fail "no History.sqlite next to Vireo.ini"
# The window's fourth tab, Signal History, while the signal is good.
xdotool mousemove 614 73 click 1
sleep 6
import -window root "$out/e2e-history-live.png"
# The signal is polled every 4 s: the outage is seen 25 to 29 s into the
# script, its alarm raised 5 s later, and cleared no sooner than 3 s after the
# lock is back (37 s).
until_script() { local t=$1; while [ $((SECONDS - script_start)) -lt "$t" ]; do sleep 0.2; done; }
until_script 36
xdotool key --clearmodifiers ctrl+l
sleep 1.5
import -window root "$out/e2e-alarm-raised.png"
# Acknowledged while still active: the first row, then the button.
xdotool mousemove 81 603 click 1
sleep 0.3
xdotool mousemove 46 559 click 1
sleep 1
import -window root "$out/e2e-alarm-acknowledged.png"
until_script 48
import -window root "$out/e2e-history-outage.png"
xdotool key --clearmodifiers alt+f
sleep 0.5
xdotool key --clearmodifiers x
sleep 1
xdotool key --clearmodifiers n
wait_until 20 bash -c "! kill -0 $vireo 2> /dev/null" || fail "vireo did not exit after No (history)"
log=Logs/$net.3.txt
for line in "Alarm raised: signal unlocked" "Alarm cleared: signal unlocked"; do
    grep -qF "): $line" "$log" || fail "$log lacks \"$line\""
done
[ "$(grep -c 'Alarm raised' "$log")" -eq 1 ] || fail "the outage raised more than one alarm"

# --- A device that goes away for 60 s. The window gives it up as it always
# did, keeps watching it in the background, and takes it back by itself.
"$build/sim/vireo-ird-sim" --address $net.4 --generate 2,6,10,4 -v > "$work/sim4.log" 2>&1 &
sim4=$!
pids+=($sim4)
mkdir "$work/lost" "$work/lost/Logs"
cd "$work/lost"
printf '[Address]\r\nmachine=y%s.4:Lost D\r\n[LANGUAGE]\r\nlanguage=1\r\n\r\n' "$net" > Vireo.ini
report_from=$(date +%s%3N)
XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb "$build/src/vireo" > "$work/vireo.log" 2>&1 &
vireo=$!
pids+=($vireo)
wait_until 20 login_or_gone
xdotool search --name '^Login$' > /dev/null || fail "no start-up dialog the third time"
xdotool key --clearmodifiers Return
polled4() { grep -q '<- QuerySignal' "$1"; }
wait_until 30 polled4 "$work/sim4.log" || fail "$net.4 was not polled"
xdotool mousemove 614 73 click 1
sleep 2
kill -9 "$sim4"
lost_at=$SECONDS
# The link-lost rule raises its alarm after 10 s.
until_lost() { while [ $((SECONDS - lost_at)) -lt "$1" ]; do sleep 0.2; done; }
until_lost 14
xdotool key --clearmodifiers ctrl+l
sleep 1
import -window root "$out/e2e-link-lost.png"
until_lost 60
"$build/sim/vireo-ird-sim" --address $net.4 --generate 2,6,10,4 -v > "$work/sim4b.log" 2>&1 &
pids+=($!)
# Back without a click: the watch finds it, and the window refreshes and polls it.
wait_until 90 polled4 "$work/sim4b.log" || fail "$net.4 did not come back by itself"
grep -q '<- UpdateAll' "$work/sim4b.log" || fail "$net.4 came back without a refresh"
sleep 6
import -window root "$out/e2e-link-back.png"
xdotool key --clearmodifiers alt+f
sleep 0.5
xdotool key --clearmodifiers x
sleep 1
xdotool key --clearmodifiers n
wait_until 20 bash -c "! kill -0 $vireo 2> /dev/null" || fail "vireo did not exit after No (link lost)"
log=Logs/$net.4.txt
grep -qE '\): (Re-connect Communication Port fail!|Communication has failed, exit connection)' "$log" \
    || fail "$log lacks the line of the given-up link"
for line in "Alarm raised: link lost" "Alarm cleared: link lost" "Link lost: the device is watched"; do
    grep -qF "): $line" "$log" || fail "$log lacks \"$line\""
done
# The report: one outage of 60 s, give or take the watch's step (the device
# is tried 31 s and 63 s after the loss) and a poll, and less than 100 %.
"$build/tools/vireo-report" --from "$report_from" --history History.sqlite --out report.csv \
    || fail "vireo-report failed"
cp report.csv "$out/e2e-availability.csv"
row=$(grep -m1 "^$net.4," report.csv) || fail "no report line for $net.4"
outages=$(echo "$row" | cut -d, -f5)
outage_s=$(echo "$row" | cut -d, -f6 | cut -d. -f1)
availability=$(echo "$row" | cut -d, -f3 | cut -d. -f1)
[ "$outages" -eq 1 ] || fail "$outages outages reported instead of 1: $row"
[ "$outage_s" -ge 58 ] && [ "$outage_s" -le 75 ] || fail "an outage of $outage_s s instead of 60: $row"
[ "$availability" -lt 100 ] || fail "availability $availability % despite the outage: $row"
echo "link lost for 60 s: recorded as $outage_s s, availability $availability %"
echo "desktop end-to-end: 2 devices and a fleet of 3 refreshed, an outage recorded and alarmed, a device lost and back, screenshots in $out"
