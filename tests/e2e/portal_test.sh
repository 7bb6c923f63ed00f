#!/usr/bin/env bash
# A learner reaches the player from the school's portal and from the file manager.
# The build is installed in a folder of the test's own, with the desktop's MIME and
# menu databases brought up to date there as the package's triggers would; a user
# (nobody, when the test runs as root) with a home of its own opens:
#   - a link to a host that is not on the launch host list: refused, nothing fetched
#     or written;
#   - a link through xdg-open: the lesson opens, and a test run's upload carries the
#     name built from the link's bytes;
#   - a test link on lesson-server's portal page in Chromium, allowed for the portal's
#     origin in the browser's own profile: the lesson opens and its recording
#     arrives under the link's name; a second link meanwhile leaves that lesson alone
#     and brings its window to the front;
#   - a lesson file through xdg-open: a practice run, nothing sent.
# Under openbox on a private X server. Nothing outside the test's folder changes.
#   BIN_DIR=build/bin DEMO_DIR=build/demo BUILD_DIR=build tests/e2e/portal_test.sh
set -u
BUILD_DIR=$(cd "${BUILD_DIR:?BUILD_DIR must name the build folder}" && pwd)
# The user must be able to reach the test's folder.
if [ "$(id -u)" = 0 ]; then export TMPDIR=/tmp; fi
source "$(dirname "$0")/lib.sh"
chmod 755 "$WORK"
# The players that the desktop started for this test's user end with the test, and
# the read-only installed tree can be removed.
portal_cleanup() {
    for pid in $(pgrep -x Vorur_Ozudiz) $(pgrep chromium); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "HOME=$WORK/user" && kill -KILL "$pid" 2>/dev/null
    done
    chmod -R u+w "$WORK/root" 2>/dev/null
    cleanup
}
trap portal_cleanup EXIT

for tool in chromium xdg-open xdg-mime openbox Xvfb update-mime-database update-desktop-database mimetype; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

# --- The installed tree, read-only as a package's files are, and its triggers.
ROOT=$WORK/root
P=$ROOT/usr
DESTDIR=$ROOT cmake --install "$BUILD_DIR" --prefix /usr >"$WORK/install.log" 2>&1 || { cat "$WORK/install.log"; exit 1; }
update-mime-database "$P/share/mime" >/dev/null 2>&1
update-desktop-database "$P/share/applications"
chmod -R a-w "$ROOT"

# --- The user: nobody when we are root, else ourselves.
USER_HOME=$WORK/user
mkdir -p "$USER_HOME/runtime" "$USER_HOME/Downloads" "$WORK/etc/Dazuzor"
chmod 700 "$USER_HOME/runtime"
AS=()
if [ "$(id -u)" = 0 ]; then
    chown -R 65534:65534 "$USER_HOME"
    AS=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi

# The private X server and window manager.
exec 5>"$WORK/display"
Xvfb -displayfd 5 -screen 0 1280x900x24 -nolisten tcp -noreset >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$WORK/display")
unset XAUTHORITY
openbox >"$WORK/openbox.log" 2>&1 &
PIDS+=($!)
sleep 0.5

# Two short lessons (a test run of each takes seconds) beside the demo's.
mkdir -p "$WORK/lessons"
short_lessons "$WORK/lessons/l1.viz" "$WORK/lessons/l2.viz" || { echo "FAIL: viztool pack"; exit 1; }
DEMO_DIR=$WORK/lessons
start_server lessons
ORIGIN=${SERVER_URL%/}
HOSTPORT=${ORIGIN#http://}
# The school's administrator sets the lesson server for every user; LaunchHosts is
# unset, so links may fetch from that host only.
printf '[General]\nUploadHost=%s\n' "$HOSTPORT" >"$WORK/etc/Dazuzor/Vorur_Ozudiz2.conf"

# The microphone for the test runs.
sox -n -r 44100 -c 2 -b 16 -e signed-integer "$WORK/mic.raw" synth 120 sine 700 vol 0.3
chmod 644 "$WORK/mic.raw"

# as_user CMD...: a command as the user would run it on the desktop.
as_user() {
    env -i PATH="$P/bin:/usr/bin:/bin" HOME="$USER_HOME" XDG_RUNTIME_DIR="$USER_HOME/runtime" \
        XDG_DATA_DIRS="$P/share:/usr/share" XDG_CONFIG_DIRS="$WORK/etc" DISPLAY="$DISPLAY" LANG=C.UTF-8 \
        VORUR_MIXER=sim SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILEIN="$WORK/mic.raw" SDL_DISKAUDIOFILE=/dev/null \
        "${AS[@]}" "$@"
}
DATA=$USER_HOME/.local/share/Dazuzor/Vorur_Ozudiz2
link() {  # link URL TAG3 ID TIMES
    printf 'vorur-ozudiz://launch?url=%s&id=%s&class=C1&tag1=A01&tag2=L03&tag3=%s&times=%s' "$1" "$3" "$2" "$4"
}
requests() { grep -c '^lesson-server: GET /.*\.viz' "$WORK/lessons.log"; }
# The players of this test's user (other tests may run players beside it), and the
# newest of them.
our_players() {
    local pid
    for pid in $(pgrep -x Vorur_Ozudiz); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "HOME=$USER_HOME" && echo "$pid"
    done
}
player_pid() { our_players | sort -n | tail -1; }
TEST=(243 580) PLAY=(78 580) CLOSE=(774 580)
# test_run UPLOAD_NAME: Test, Play, Yes; the server must store UPLOAD_NAME.
test_run() {
    click_at "${TEST[@]}"
    click_at "${PLAY[@]}"
    if ! wait_message 120; then fail "the question never came"; return; fi
    check "the learner is asked whether to send" test "$(message_text)" = "학습한 내용을 서버로 전송하시겠습니까?"
    answer Return
    if wait_message 30; then
        check "the upload is accepted" test "$(message_text)" = "전송이 완료 되었습니다."
        answer Return
    else
        fail "no outcome message"
    fi
    check "the recording arrived as $(printf %q "$1")" test -s "$WORK/uploads/$1"
}
close_player() {
    local pid
    pid=$(player_pid)
    click_at "${CLOSE[@]}"
    [ -n "$pid" ] && exits_within 15 "$pid"
}

# --- The handler is registered.
check "the link handler is our entry" test "$(as_user xdg-mime query default x-scheme-handler/vorur-ozudiz)" = vorur-ozudiz.desktop
cp "$DEMO_DIR/l2.viz" "$USER_HOME/Downloads/수업 2.viz"
chmod 644 "$USER_HOME/Downloads/수업 2.viz"
check "a .viz file is a lesson" test "$(as_user xdg-mime query filetype "$USER_HOME/Downloads/수업 2.viz")" = application/x-vorur-lesson
check "lessons open in the player" test "$(as_user xdg-mime query default application/x-vorur-lesson)" = vorur-ozudiz.desktop
system_cache=$(cat /usr/share/applications/mimeinfo.cache /usr/share/mime/mime.cache 2>/dev/null | md5sum)

# --- A link to a host not on the list: a message naming it, no request, no file.
touch "$WORK/before-refusal"
as_user xdg-open "$(link "http://localhost:${HOSTPORT#*:}/l1.viz" D5 kim7 1)" >"$WORK/refused.log" 2>&1 &
refused=$!
PIDS+=($refused)
if wait_message 30; then
    check "the refusal names the host" test "$(message_text)" = "이 링크의 강좌는 허용되지 않은 서버(localhost)에 있어 열 수 없습니다."
    answer Return
else
    fail "a refused link shows a message"
fi
check "the refused start ends" exits_within 10 "$refused"
check "a refused link says why on stderr ($(head -c 300 "$WORK/refused.log"))" \
    grep -qx "vorur-ozudiz: launch link refused: the lesson host localhost is not in LaunchHosts" "$WORK/refused.log"
check "a refused link fetches nothing" test "$(requests)" = 0
written=$(find "$USER_HOME" -newer "$WORK/before-refusal" ! -path "$USER_HOME/runtime*" ! -path "$USER_HOME/.cache*" -print)
check "a refused link writes no file ($written)" test -z "$written"

# --- A link through xdg-open: the bytes of the link make the upload's name.
as_user xdg-open "$(link "${SERVER_URL}l2.viz" %B1%E8 -kim 1)" >"$WORK/xdg-link.log" 2>&1 &
PIDS+=($!)
check "xdg-open with a link opens the player" wait_main 30
check "it fetched the link's lesson" grep -q '^lesson-server: GET /l2.viz 200' "$WORK/lessons.log"
test_run "$(printf 'A01_L03_\xB1\xE8_SP_-kim.mp3')"
check "the data folder is the user's own ($(stat -c %U:%a "$DATA" 2>&1))" test "$(stat -c %a "$DATA")" = 700
close_player

# --- The portal in Chromium: its test link, then a second link while it runs.
mkdir -p "$USER_HOME/chromium/Default"
printf '{"protocol_handler":{"allowed_origin_protocol_pairs":{"%s":{"vorur-ozudiz":true}}}}\n' "$ORIGIN" \
    >"$USER_HOME/chromium/Default/Preferences"
[ ${#AS[@]} -gt 0 ] && chown -R 65534:65534 "$USER_HOME/chromium"
as_user chromium --no-sandbox --no-first-run --no-default-browser-check --disable-background-networking \
    --disable-component-update --disable-sync --disable-gpu --password-store=basic \
    --user-data-dir="$USER_HOME/chromium" "$SERVER_URL" >"$WORK/chromium.log" 2>&1 &
PIDS+=($!)
browser=
for _ in $(seq 150); do
    browser=$(xdotool search --onlyvisible --class chromium 2>/dev/null | head -1)
    [ -n "$browser" ] && grep -q '^lesson-server: GET / 200' "$WORK/lessons.log" && break
    sleep 0.2
done
check "Chromium shows the portal" test -n "$browser"
sleep 2
xdotool windowactivate --sync "$browser" 2>/dev/null
# The first link is l1's practice link, the second its test link.
xdotool key Tab Tab Return
check "the portal's test link opens the player" wait_main 30
first=$(player_pid)
check "it fetched the portal's lesson" grep -q '^lesson-server: GET /l1.viz 200' "$WORK/lessons.log"
shot portal-lesson

fetched=$(requests)
xdotool windowactivate --sync "$browser" 2>/dev/null
sleep 0.5
xdotool key Tab Return
for _ in $(seq 50); do
    [ "$(xdotool getactivewindow 2>/dev/null)" = "$MAIN" ] && break
    sleep 0.1
done
check "a second link brings the running player to the front" test "$(xdotool getactivewindow 2>/dev/null)" = "$MAIN"
# The second start ends by itself once it has asked.
for _ in $(seq 100); do [ "$(our_players | wc -l)" = 1 ] && break; sleep 0.1; done
check "the second start ends and the running player keeps its lesson" test "$(our_players)" = "$first"
check "a second link fetches nothing" test "$(requests)" = "$fetched"
wait_main 5
test_run A01_L03_l1_SP_kim7.mp3
shot portal-after-run
close_player

# --- A lesson file from the file manager: practised, never recorded or sent.
fetched=$(requests)
uploads=$(ls "$WORK/uploads" | wc -l)
as_user bash -c "cd '$USER_HOME/Downloads' && exec xdg-open '수업 2.viz'" >"$WORK/xdg-file.log" 2>&1 &
PIDS+=($!)
check "xdg-open with a lesson file opens the player" wait_main 30
shot lesson-file
check "the lesson file is not fetched from a server" test "$(requests)" = "$fetched"
click_at "${TEST[@]}"
click_at "${PLAY[@]}"
sleep 3
check "a lesson file is practised: no recording" test -z "$(find "$DATA" -maxdepth 1 -name '*.mp3')"
close_player
check "nothing was uploaded from the lesson file" test "$(ls "$WORK/uploads" | wc -l)" = "$uploads"
check "the lesson file is untouched" cmp -s "$DEMO_DIR/l2.viz" "$USER_HOME/Downloads/수업 2.viz"

check "the system's MIME and menu databases are untouched" \
    test "$(cat /usr/share/applications/mimeinfo.cache /usr/share/mime/mime.cache 2>/dev/null | md5sum)" = "$system_cache"
finish
