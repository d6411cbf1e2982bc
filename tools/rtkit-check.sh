#!/bin/bash
# Real-time priority from the RealtimeKit daemon as Debian ships it (package rtkit), for the ports'
# watcher threads of an ordinary user: runs build/tests/test_rtkit_ports as the user nobody, with
# a real-time limit (rtprio) of 0 and no capability, so that the direct request fails and the
# daemon must be asked, and checks the scheduling policy the threads get.
#
#   tools/rtkit-check.sh BUILD_DIR
#
# What it takes, all private to the check:
# - root (or sudo without a password): the daemon starts as root and drops to its user rtkit;
# - its own mount and process namespaces (unshare): whatever happens to the check, every process
#   it started dies with it, and the polkit rule below is seen by nothing else on the machine;
# - its own system bus: a dbus-daemon with the system bus's policy and the policies that the
#   packages install (rtkit's and polkit's), DBUS_SYSTEM_BUS_ADDRESS pointing at it;
# - polkitd on that bus: rtkit asks it whether the caller may have real-time priority. Its own
#   policy says yes for a user's active session at the screen (allow_active), no for anyone else
#   (allow_any); there is no session here, so a rule in place of /etc/polkit-1/rules.d allows the
#   user nobody this one action, as a desktop session would;
# - rtkit-daemon on that bus, first with no options (its defaults, as Debian's service starts it:
#   SCHED_RR, priority up to 20, RLIMIT_RTTIME up to 200 ms), then with other limits and SCHED_FIFO
#   (so that the limits the desk reads from the daemon are its own, not the defaults).
# The packages are installed when missing. Exit code 77 (skipped) only where the daemon cannot run:
# no root, no namespaces, the packages not installable.

set -u
SKIP=77
BUILD=$(cd "${1:?usage: rtkit-check.sh BUILD_DIR}" && pwd)
SELF=$(readlink -f "$0")
PROGRAM=$BUILD/tests/test_rtkit_ports
DAEMON=/usr/libexec/rtkit-daemon
POLKITD=/usr/lib/polkit-1/polkitd
USER_NAME=nobody
GROUP_NAME=$(id -gn nobody 2>/dev/null || echo nogroup)

[ -x "$PROGRAM" ] || { echo "FAIL: $PROGRAM is missing (build the target test_rtkit_ports)"; exit 1; }

if [ -z "${ZK_RTKIT_INSIDE:-}" ]; then
    if [ "$(id -u)" != 0 ]; then
        if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
            exec sudo -n "$SELF" "$BUILD"
        fi
        echo "SKIP: the RealtimeKit daemon starts as root: run as root or with sudo without a password"
        exit $SKIP
    fi
    missing=()
    for p in rtkit polkitd dbus-daemon dbus-bin util-linux; do
        dpkg-query -W -f='${Status}' $p 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing for this check: ${missing[*]}"
        install=(apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}")
        if ! DEBIAN_FRONTEND=noninteractive "${install[@]}" >/dev/null 2>&1; then
            apt-get -o DPkg::Lock::Timeout=600 update -qq >/dev/null 2>&1
            DEBIAN_FRONTEND=noninteractive "${install[@]}" >/dev/null 2>&1 \
                || { echo "SKIP: ${missing[*]} could not be installed (no package source reachable?)"; exit $SKIP; }
        fi
    fi
    if [ ! -x "$DAEMON" ] || [ ! -x "$POLKITD" ] || [ ! -d /etc/polkit-1/rules.d ]; then
        echo "FAIL: $DAEMON, $POLKITD or /etc/polkit-1/rules.d missing after installing"
        exit 1
    fi
    if ! unshare --mount --pid --fork --mount-proc true 2>/dev/null; then
        echo "SKIP: no private mount and process namespaces here (unshare refused), so no private daemons"
        exit $SKIP
    fi
    # The check itself runs as the first process of the new namespace: when it ends, however,
    # the kernel ends every process started in it; --kill-child ends it when unshare is killed.
    ZK_RTKIT_INSIDE=1 exec unshare --mount --pid --fork --kill-child --mount-proc "$SELF" "$BUILD"
fi

# ---- inside the namespaces ----
TMP=$(mktemp -d)
chmod 755 "$TMP"
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    umount /etc/polkit-1/rules.d 2>/dev/null
    rm -rf "$TMP"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    for log in "$TMP"/*.log; do echo "--- $(basename "$log"):"; tail -n 30 "$log"; done
    exit 1
}

# The bus: the policy of Debian's system bus, the services' own policy files, a socket of its own.
cat >"$TMP/bus.conf" <<XML
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <auth>EXTERNAL</auth>
  <listen>unix:path=$TMP/system_bus_socket</listen>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Properties"/>
  </policy>
  <includedir>/usr/share/dbus-1/system.d</includedir>
  <includedir>/etc/dbus-1/system.d</includedir>
</busconfig>
XML
dbus-daemon --config-file="$TMP/bus.conf" --nofork --print-address=3 3>"$TMP/address" 2>"$TMP/dbus.log" &
PIDS+=($!)
for _ in $(seq 100); do [ -s "$TMP/address" ] && break; sleep 0.1; done
DBUS_SYSTEM_BUS_ADDRESS=$(head -n 1 "$TMP/address")
[ -n "$DBUS_SYSTEM_BUS_ADDRESS" ] || fail "the private system bus did not start"
export DBUS_SYSTEM_BUS_ADDRESS

owned() {
    dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}
wait_for_name() {
    for _ in $(seq 150); do owned "$1" && return 0; sleep 0.1; done
    fail "$1 did not appear on the private system bus"
}

# polkit with the one rule: the machine's own rules stay where they are, unseen in here.
mkdir "$TMP/rules"
cat >"$TMP/rules/50-zielkron-check.rules" <<JS
polkit.addRule(function(action, subject) {
    if (action.id == "org.freedesktop.RealtimeKit1.acquire-real-time" && subject.user == "$USER_NAME")
        return polkit.Result.YES;
});
JS
chown -R polkitd "$TMP/rules" 2>/dev/null
chmod 700 "$TMP/rules"
mount --bind "$TMP/rules" /etc/polkit-1/rules.d || fail "cannot put the rule in place of /etc/polkit-1/rules.d"
"$POLKITD" --no-debug >"$TMP/polkitd.log" 2>&1 &
PIDS+=($!)
wait_for_name org.freedesktop.PolicyKit1

# The daemon limits its own resources, a file size of 0 among them: its messages go through a
# pipe, a file would end it.
RTKIT_PID=""
start_rtkit() {
    echo "== rtkit-daemon $*"
    "$DAEMON" --stderr "$@" 2> >(cat >>"$TMP/rtkit.log") &
    RTKIT_PID=$!
    PIDS+=("$RTKIT_PID")
    wait_for_name org.freedesktop.RealtimeKit1
}
stop_rtkit() {
    kill "$RTKIT_PID"
    wait "$RTKIT_PID" 2>/dev/null
    for _ in $(seq 100); do owned org.freedesktop.RealtimeKit1 || return 0; sleep 0.1; done
    fail "rtkit-daemon did not leave the bus"
}

# The program as the ordinary user: its own copy where that user can read it, rtprio 0.
install -m 755 "$PROGRAM" "$TMP/test_rtkit_ports"
mkdir -m 700 "$TMP/runtime" && chown "$USER_NAME" "$TMP/runtime"
run_as_user() { # POLICY PRIORITY RTTIME: what the daemon must grant
    prlimit --rtprio=0:0 -- setpriv --reuid="$USER_NAME" --regid="$GROUP_NAME" --clear-groups --inh-caps=-all \
        env HOME="$TMP" XDG_RUNTIME_DIR="$TMP/runtime" QT_QPA_PLATFORM=offscreen \
        ZK_RTKIT_POLICY="$1" ZK_RTKIT_PRIORITY="$2" ZK_RTKIT_RTTIME="$3" \
        "$TMP/test_rtkit_ports"
}

start_rtkit
run_as_user RR 20 200000 || fail "the ports' threads did not get SCHED_RR 20 from rtkit-daemon with its defaults"
stop_rtkit
start_rtkit --scheduling-policy=FIFO --max-realtime-priority=10 --rttime-usec-max=50000
run_as_user FIFO 10 50000 || fail "the ports' threads did not get SCHED_FIFO 10 within rtkit-daemon's own limits"
stop_rtkit
echo "PASS"
