#!/bin/bash
# The Debian package as an operator gets it: checked by lintian (no errors, no program built without
# hardening), installed with apt-get on this machine, its AppStream metadata validated, the
# installed desk asked for its version, its files looked for from an empty folder with a home of
# its own (--check: lists, cues and manual, and the copies of the defaults in the operator's
# folder) and started offscreen; then removed again, also when a step fails.
#
#   packaging/check-package.sh BUILD_DIR      (after "make package"; run as root or with sudo)
#
# One check at a time on this machine: the installed package is shared by everyone on it.

set -euo pipefail
BUILD=$(cd "${1:?usage: check-package.sh BUILD_DIR}" && pwd)
shopt -s nullglob
debs=("$BUILD"/zielkron_*_amd64.deb)
[ ${#debs[@]} -eq 1 ] || { echo "FAIL: expected one zielkron_*_amd64.deb in $BUILD, found ${#debs[@]}"; exit 1; }
DEB=${debs[0]}
if [ "$(id -u)" = 0 ]; then SUDO=(); else SUDO=(sudo); fi
APT=("${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=600)
started=$(date +%s)

fail() { echo "FAIL: $*"; exit 1; }
# Known to dpkg in any state (installed, half-configured, only its configuration files left ...).
known() {
    local state
    state=$(dpkg-query -W -f='${db:Status-Status}' zielkron 2>/dev/null) && [ -n "$state" ] && [ "$state" != not-installed ]
}

echo "== lintian $(basename "$DEB")"
lint=0
lintian -I --pedantic --fail-on error --tag-display-limit 0 "$DEB" >"$BUILD/lintian.log" 2>&1 || lint=$?
grep -v '^running with root privileges' "$BUILD/lintian.log" || true
[ $lint = 0 ] || fail "lintian reports errors"
# Every program built hardened as Debian builds its own (fortified calls, bound at start-up ...).
! grep -q ' hardening-' "$BUILD/lintian.log" || fail "lintian finds a program built without hardening"

exec 9>/tmp/zielkron-package-check.lock
flock -w 900 9 || fail "another package check has held this machine for 15 minutes"
known && fail "a zielkron package is on this machine already; remove it (apt-get purge zielkron) or run make test PACKAGE_CHECK=0"
getent group zielkron >/dev/null && group_before=1 || group_before=0

TMP=$(mktemp -d /tmp/zielkron-package-check.XXXXXX)
cleanup() {
    if known; then
        echo "== removing the package"
        "${APT[@]}" purge zielkron >/dev/null || echo "WARNING: could not remove the package"
    fi
    if [ "$group_before" = 0 ] && getent group zielkron >/dev/null; then
        "${SUDO[@]}" groupdel zielkron || true
    fi
    rm -rf "$TMP"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

echo "== apt-get install $(basename "$DEB")"
cp "$DEB" "$TMP/"   # apt reads the file as its own unprivileged user
chmod 755 "$TMP"
"${APT[@]}" install "$TMP/$(basename "$DEB")" >"$TMP/apt.log" 2>&1 \
    || { "${APT[@]}" update && "${APT[@]}" install "$TMP/$(basename "$DEB")" >"$TMP/apt.log" 2>&1; } \
    || { cat "$TMP/apt.log"; fail "apt-get install"; }

for file in /usr/bin/zielkron /usr/bin/zielkron-signal /usr/share/applications/zielkron.desktop \
            /usr/share/icons/hicolor/48x48/apps/zielkron.png /usr/share/icons/hicolor/scalable/apps/zielkron.svg \
            /usr/share/man/man1/zielkron.1.gz /usr/share/man/man1/zielkron-signal.1.gz \
            /usr/lib/udev/rules.d/99-zielkron-ftdi.rules /usr/share/doc/zielkron/handbuch/index.html \
            /usr/share/metainfo/zielkron.metainfo.xml; do
    [ -e "$file" ] || fail "$file is missing"
done
echo "== appstreamcli validate"
appstreamcli validate --pedantic --no-net /usr/share/metainfo/zielkron.metainfo.xml || fail "the AppStream metadata are not valid"
grep -qx '@zielkron - rtprio 20' /etc/security/limits.d/zielkron.conf || fail "no real-time limit for the group zielkron"
getent group zielkron >/dev/null || fail "postinst did not create the group zielkron"

# The installed desk in a home of its own, from an empty folder, never touching a real serial port.
mkdir -p "$TMP/home" "$TMP/empty" "$TMP/runtime" "$TMP/devices"
chmod 700 "$TMP/runtime"
desk() {
    (cd "$TMP/empty" && env -i PATH=/usr/bin:/bin HOME="$TMP/home" XDG_RUNTIME_DIR="$TMP/runtime" \
        ZIELKRON_DEVICES="$TMP/devices" QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 "$@")
}

echo "== zielkron --version"
desk zielkron --version | grep -q '^zielkron [0-9]' || fail "zielkron --version"
desk zielkron-signal --version | grep -q '^zielkron-signal [0-9]' || fail "zielkron-signal --version"

echo "== zielkron --check (from an empty folder)"
desk zielkron --check | tee "$TMP/check.out" || fail "the installed desk does not find its files"
own="$TMP/home/.local/share/Tempovia/zielkron"
for file in /usr/share/zielkron/*.lst /usr/share/zielkron/*.wav; do
    cmp -s "$file" "$own/$(basename "$file")" || fail "no copy of $(basename "$file") in the operator's folder"
    grep -q "^$(basename "$file"): $own/" "$TMP/check.out" || fail "$(basename "$file") is not read from $own"
done
grep -q '^Handbuch: /usr/share/zielkron/zielkron-hilfe/index.html$' "$TMP/check.out" || fail "the manual is not found"

echo "== zielkron started offscreen"
set +e
desk timeout 5 zielkron --virtual-ports >"$TMP/desk.out" 2>&1
code=$?
set -e
[ $code = 124 ] || { cat "$TMP/desk.out"; fail "the installed desk ended after less than 5 s (exit code $code)"; }

echo "package check passed in $(( $(date +%s) - started )) s"
