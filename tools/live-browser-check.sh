#!/bin/bash
# The live view in a real browser: runs the desk with its live view, times a race through the
# light-barrier simulator and checks the lane times and places in the pages that headless
# Chromium renders against what the desk itself shows (its /api/state). Then a desk whose title
# and start list are full of markup: every page shows it as text and builds no element of it.
#
#   tools/live-browser-check.sh BUILD_DIR [SCREENSHOT_DIR]
#
# Last, pages kept open while that desk changes: a heat event alone moves the meeting page's mark
# of the heat on the desk and leaves its table as it is; a meeting event builds the table anew.
#
# Chromium (Debian's "chromium") and python3 are installed when missing, as root or through sudo;
# where that is impossible the check is skipped with exit code 77. With SCREENSHOT_DIR the pages
# are also saved as PNG pictures there.

set -u
BUILD=$(cd "${1:?usage: live-browser-check.sh BUILD_DIR [SCREENSHOT_DIR]}" && pwd)
SHOTS=${2:-}
SKIP=77

# A Debian package installed when its program is missing, as root or through sudo; skips the check
# where that is impossible.
need() { # PACKAGE PROGRAM
    command -v "$2" >/dev/null && return 0
    if [ "$(id -u)" = 0 ]; then SUDO=""; elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then SUDO="sudo -n"; else SUDO=none; fi
    if [ "$SUDO" = none ]; then
        echo "SKIP: $2 is not installed and cannot be installed here (no root, no sudo)"
        exit $SKIP
    fi
    echo "$2 is missing: installing Debian's $1 package for this check"
    if ! $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq "$1" >/dev/null 2>&1; then
        $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq >/dev/null 2>&1
        $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq "$1" >/dev/null 2>&1
    fi
    command -v "$2" >/dev/null || { echo "SKIP: $1 could not be installed (no package source reachable?)"; exit $SKIP; }
}
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
    need chromium chromium
    browser=$(command -v chromium)
fi
# The pages are also followed while the desk changes: python3 drives Chromium through its DevTools pipe.
need python3 python3
for tool in curl; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is missing"; exit $SKIP; }
done

TMP=$(mktemp -d)
DESK_PID=""
SIM_PID=""
PAGE_PID=""
cleanup() {
    exec 3>&- 4>&- 2>/dev/null
    [ -n "$DESK_PID" ] && kill "$DESK_PID" 2>/dev/null
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
    [ -n "$PAGE_PID" ] && kill "$PAGE_PID" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$TMP"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }

# ---- the light barriers: virtual lines COM1 and COM2 in a devices folder of our own ----
export ZIELKRON_DEVICES=$TMP/devices
mkdir -p "$ZIELKRON_DEVICES" "$TMP/cfg/Tempovia" "$TMP/run"
mkfifo "$TMP/commands"
"$BUILD/zielkron-signal" serve COM1 COM2 <"$TMP/commands" >"$TMP/signal.out" 2>&1 &
SIM_PID=$!
exec 3>"$TMP/commands"
for _ in $(seq 100); do [ -S "$ZIELKRON_DEVICES/com2" ] && break; sleep 0.05; done

# ---- the desk: settings of its own, ports 1 and 2, four lanes, hundredths, German ----
cat >"$TMP/cfg/Tempovia/zielkron.ini" <<INI
[General]
Left=0
Top=0
Height=0
Sound=0
Port1=1
Port2=2
Port3=0
Port4=0
Alg=0
FilterInd=1
Monitor=0
Title=Hallensportfest
LineCount=4
Accuracy=2
OneLS=0
Wind=0
DataON=1
INI
(cd "$TMP/run" && exec env XDG_CONFIG_HOME="$TMP/cfg" XDG_DATA_HOME="$TMP/data" LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 QT_QPA_PLATFORM=offscreen \
    "$BUILD/zielkron" --live 127.0.0.1:0 >"$TMP/desk.out" 2>"$TMP/desk.err") &
DESK_PID=$!
URL=""
for _ in $(seq 200); do
    URL=$(grep -o 'http://[^ ]*' "$TMP/desk.out" 2>/dev/null | head -1)
    [ -n "$URL" ] && break
    sleep 0.05
done
[ -n "$URL" ] || fail "the desk did not start its live view: $(cat "$TMP/desk.err")"
for _ in $(seq 100); do
    echo status >&3
    sleep 0.1
    [ "$(grep -c 'desk attached' "$TMP/signal.out")" -ge 2 ] && break
done
grep -q 'desk attached' "$TMP/signal.out" || fail "the desk did not open COM1 and COM2"

state() { curl -s --max-time 5 "${URL}api/state"; }
# A lane's field ("time", "place") as the desk shows it.
desk_field() { state | grep -o "\"lane\":$1,[^}]*" | sed "s/.*\"$2\":\"\\([^\"]*\\)\".*/\\1/"; }
wait_place() {
    for _ in $(seq 100); do [ "$(desk_field "$1" place)" = "$2" ] && return 0; sleep 0.05; done
    fail "the desk did not give lane $1 place $2: $(state)"
}
dump() {
    rm -rf "$TMP/profile"
    "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$TMP/profile" --dump-dom "$1" 2>/dev/null
}
shoot() {
    [ -n "$SHOTS" ] || return 0
    mkdir -p "$SHOTS"
    rm -rf "$TMP/profile"
    "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --hide-scrollbars --user-data-dir="$TMP/profile" --window-size="$3" \
        --screenshot="$SHOTS/$2" "$1" >/dev/null 2>&1
}
# A lane row's cell ("time", "place") as the browser rendered it.
page_cell() { grep -o "<tr[^>]*data-lane=\"$2\"[^>]*>.*" "$1" | sed 's#</tr>.*##' | sed "s/.*<td class=\"$3\">\\([^<]*\\)<.*/\\1/"; }
page_row() { grep -o "<tr[^>]*data-lane=\"$2\"[^>]*>" "$1" | head -1; }
seconds() { echo "$1" | tr ',' '.' | awk -F: '{ if (NF == 2) print $1 * 60 + $2; else print $1 }'; }

# ---- the race: start, lanes 2 and 1 finish, 3 and 4 still run ----
echo start >&3
for _ in $(seq 100); do state | grep -q '"running":true' && break; sleep 0.05; done
state | grep -q '"running":true' || fail "the start contact did not start the race"
sleep 1.2
echo "lane 2" >&3
wait_place 2 1
sleep 0.3
echo "lane 1" >&3
wait_place 1 2

dump "$URL" >"$TMP/running.html"
[ -s "$TMP/running.html" ] || fail "chromium rendered nothing"
for lane in 2 1; do
    want_time=$(desk_field $lane time)
    want_place=$(desk_field $lane place)
    got_time=$(page_cell "$TMP/running.html" $lane time)
    got_place=$(page_cell "$TMP/running.html" $lane place)
    [ "$got_time" = "$want_time" ] || fail "lane $lane: page shows time '$got_time', the desk '$want_time'"
    [ "$got_place" = "$want_place" ] || fail "lane $lane: page shows place '$got_place', the desk '$want_place'"
    echo "lane $lane: $got_time, place $got_place (as on the desk)"
done
echo "$want_time" | grep -q ',' || fail "the desk's decimal separator ',' is missing in '$want_time'"
running=$(page_cell "$TMP/running.html" 4 time)
page_row "$TMP/running.html" 4 | grep -q running || fail "lane 4 is not shown running"
echo "$running" | grep -Eq '^([0-9]:)?[0-9]{1,2},[0-9]{2}$' || fail "lane 4's running clock reads '$running'"
awk -v r="$(seconds "$running")" -v l="$(seconds "$want_time")" 'BEGIN { exit !(r >= l && r < l + 30) }' \
    || fail "lane 4's running clock $running is not after the last finish $want_time"
echo "lane 4: running clock $running"
shoot "$URL" live-lauf.png 412,640
shoot "${URL}anzeige" live-anzeige.png 1280,720

# ---- lanes 4 and 3 finish: every lane's time and place on both pages ----
echo "lane 4" >&3
wait_place 4 3
echo "lane 3" >&3
wait_place 3 4
sleep 0.1
dump "$URL" >"$TMP/heat.html"
dump "${URL}anzeige" >"$TMP/board.html"
for page in heat board; do
    for lane in 1 2 3 4; do
        want_time=$(desk_field $lane time)
        want_place=$(desk_field $lane place)
        got_time=$(page_cell "$TMP/$page.html" $lane time)
        got_place=$(page_cell "$TMP/$page.html" $lane place)
        [ -n "$want_time" ] || fail "lane $lane has no time on the desk"
        [ "$got_time" = "$want_time" ] || fail "$page, lane $lane: time '$got_time', the desk '$want_time'"
        [ "$got_place" = "$want_place" ] || fail "$page, lane $lane: place '$got_place', the desk '$want_place'"
    done
done
grep -q 'Hallensportfest' "$TMP/heat.html" || fail "the title is missing"
grep -q 'Vorlauf 1' "$TMP/heat.html" || fail "the heat line is missing"
shoot "$URL" live-lauf-ende.png 412,640
dump "${URL}veranstaltung" | grep -q 'Noch keine L' || fail "the meeting page did not render"
echo "PASS: the browser shows the desk's times and places ($URL)"

# ---- hostile texts: a title and a start list of markup, on a desk of the platform fakes ----
XSS="<img src=x onerror=document.body.setAttribute('data-xss','1')>"
TAB=$'\t'
{
    echo "${XSS}Liste"
    echo "01.02.2027"
    for heat in 1 2 3; do
        echo "${heat}${TAB}${TAB}${XSS}Sprint${TAB}${XSS}Jugend${TAB}${TAB}${TAB}"
        for lane in 1 2 3 4; do
            name=Anna; [ "$heat" = 2 ] && name=Berta; [ "$heat" = 3 ] && name=Clara
            echo "${lane}.${TAB}${heat}${lane}${TAB}${XSS}${name}${lane}${TAB}${TAB}${XSS}Notiz${TAB}${TAB}"
        done
    done
} >"$TMP/hostile.txt"
mkfifo "$TMP/page-commands"
(cd "$TMP" && exec env LANG=de_DE.UTF-8 QT_QPA_PLATFORM=offscreen "$BUILD/live_page_desk" "${XSS}Titel" \
    "$TMP/hostile.txt" <"$TMP/page-commands" >"$TMP/page-desk.out" 2>"$TMP/page-desk.err") &
PAGE_PID=$!
exec 4>"$TMP/page-commands"
PAGE_URL=""
for _ in $(seq 200); do
    PAGE_URL=$(grep -o 'http://[^ ]*' "$TMP/page-desk.out" 2>/dev/null | head -1)
    [ -n "$PAGE_URL" ] && break
    sleep 0.05
done
[ -n "$PAGE_URL" ] || fail "the desk with the hostile start list did not start: $(cat "$TMP/page-desk.err")"
# What a text of the desk looks like in the rendered page when it was set as text.
shown() { printf '%s' "$1" | sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g'; }
for page in "" anzeige veranstaltung; do
    dump "$PAGE_URL$page" >"$TMP/hostile-page.html"
    [ -s "$TMP/hostile-page.html" ] || fail "chromium rendered nothing of /$page"
    grep -qi '<img' "$TMP/hostile-page.html" && fail "/$page built an element from a text of the desk"
    grep -q 'data-xss="' "$TMP/hostile-page.html" && fail "/$page ran a script from a text of the desk"
    case "$page" in
        "") want="Titel Sprint Jugend Clara1 Clara4" ;;
        anzeige) want="Titel Sprint Clara2 Clara3" ;;
        # heats 1 and 2, and their ranking across both (its heading and names) in the same page
        veranstaltung) want="Titel Sprint Jugend Anna1 Anna4 Berta1 Notiz" ;;
    esac
    if [ "$page" = veranstaltung ]; then
        grep -q 'class="ranking"' "$TMP/hostile-page.html" || fail "/veranstaltung shows no ranking across the heats"
        grep -q "Gesamtwertung" "$TMP/hostile-page.html" || fail "/veranstaltung shows no ranking across the heats"
    fi
    for text in $want; do
        grep -qF "$(shown "$XSS$text")" "$TMP/hostile-page.html" || fail "/$page does not show '$XSS$text' as text"
    done
    echo "/$page: the hostile texts are shown as text ($want)"
done
echo "PASS: markup from the title and the start list stays text on every page"

# ---- pages that stay open while the desk changes ----
# Chromium is driven through its DevTools protocol on a pipe (it reads fd 3, writes fd 4, each
# message JSON ending in a NUL byte): a page is opened and its DOM asked again and again.
cat >"$TMP/follow.py" <<'PY'
import json, os, select, subprocess, sys, time

browser, url, commands, profile = sys.argv[1:5]
to_browser, browser_in = os.pipe()
browser_out, from_browser = os.pipe()
chromium = subprocess.Popen(
    ['sh', '-c', 'exec "$0" "$@" 3<&%d 4>&%d' % (to_browser, from_browser), browser,
     '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
     '--disable-background-networking', '--disable-component-update', '--disable-sync',
     '--user-data-dir=' + profile, '--remote-debugging-pipe', 'about:blank'],
    pass_fds=(to_browser, from_browser), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
os.close(to_browser)
os.close(from_browser)
received = b''
last_id = 0

def fail(text):
    print('FAIL: ' + text)
    chromium.kill()
    sys.exit(1)

def call(method, params=None, session=None):
    global received, last_id
    last_id += 1
    message = {'id': last_id, 'method': method, 'params': params or {}}
    if session:
        message['sessionId'] = session
    os.write(browser_in, json.dumps(message).encode() + b'\0')
    until = time.time() + 30
    while True:
        while b'\0' in received:
            raw, received = received.split(b'\0', 1)
            answer = json.loads(raw)
            if answer.get('id') == last_id:
                if 'error' in answer:
                    fail('%s: %s' % (method, answer['error']))
                return answer.get('result', {})
        if not select.select([browser_out], [], [], 1)[0]:
            if time.time() > until or chromium.poll() is not None:
                fail('chromium did not answer ' + method)
            continue
        chunk = os.read(browser_out, 1 << 16)
        if not chunk:
            fail('chromium ended')
        received += chunk

def open_page(path):
    target = call('Target.createTarget', {'url': url + path})['targetId']
    return call('Target.attachToTarget', {'targetId': target, 'flatten': True})['sessionId']

def value(page, expression):
    result = call('Runtime.evaluate', {'expression': expression, 'returnByValue': True}, page)
    return result.get('result', {}).get('value')

def wait(page, expression, text):
    until = time.time() + 15
    while not value(page, expression):
        if time.time() > until:
            fail(text)
        time.sleep(0.05)

def desk(line):
    with open(commands, 'w') as f:
        f.write(line + '\n')

meeting = open_page('veranstaltung')
heat = open_page('')
for page in (meeting, heat):
    wait(page, "document.getElementById('status').textContent.indexOf('verbunden') >= 0",
         'a page did not connect its event stream')
wait(meeting, "document.querySelector('#heats section[data-heat=\"3\"].current') !== null",
     'the meeting page does not mark heat 3, the heat on the desk')
# A mark of the test's own on the meeting table: gone only when the table is built anew.
value(meeting, "document.querySelector('#heats section[data-heat=\"1\"]').setAttribute('data-kept', '1')")

desk('heat 2')
wait(meeting, "document.querySelector('#heats section[data-heat=\"2\"].current') !== null",
     'a heat event did not move the meeting page to heat 2')
wait(heat, "document.getElementById('lanes').textContent.indexOf('Berta1') >= 0",
     'a heat event did not put heat 2 on the page of the current heat')
if value(meeting, "document.querySelector('#heats section[data-heat=\"3\"].current') !== null"):
    fail('the meeting page still marks heat 3')
if not value(meeting, "document.querySelector('#heats section[data-kept]') !== null"):
    fail('a heat event alone built the meeting table anew')
print('a heat event moves the meeting page to heat 2 and leaves its table')

desk('cell 2 3 Zora Neu')  # heat 1, lane 1's name
wait(meeting, "document.querySelector('#heats section[data-heat=\"1\"]').textContent.indexOf('Zora Neu') >= 0",
     'a meeting event did not update the meeting table')
if not value(meeting, "document.querySelector('#heats section[data-heat=\"2\"].current') !== null"):
    fail('the meeting table built anew lost the mark of heat 2')
print('a meeting event updates the meeting table')
chromium.kill()
chromium.wait()
PY
rm -rf "$TMP/profile"
python3 "$TMP/follow.py" "$browser" "$PAGE_URL" "$TMP/page-commands" "$TMP/profile" || exit 1
echo "PASS: open pages follow the heat and the meeting events"
