#!/usr/bin/env bash
# A source build registered for one user: links and lesson files open the build's
# player, everything written lies in the user's data folder, and --remove takes
# back what it wrote and nothing else.
#   check_register_handler.sh <build dir>
source "$(dirname "$0")/install_lib.sh" "$1"
SCRIPT=$(cd "$(dirname "$0")/../.." && pwd)/scripts/register-handler.sh
U=$SCRATCH/home
DATA=$U/data
mkdir -p "$U/.config" "$DATA/applications"
printf '[Desktop Entry]\nType=Application\nName=Other\nExec=other %%u\nMimeType=text/x-other;\n' >"$DATA/applications/other.desktop"
touch "$SCRATCH/before"
as_user() { env -i PATH=/usr/bin:/bin HOME="$U" XDG_DATA_HOME="$DATA" XDG_CONFIG_HOME="$U/.config" XDG_DATA_DIRS=/usr/share "$@"; }

check "registering succeeds" as_user env BUILD_DIR="$BUILD" "$SCRIPT" >"$SCRATCH/register.log" 2>&1
check "links open the build's player" test "$(as_user xdg-mime query default x-scheme-handler/vorur-ozudiz)" = vorur-ozudiz.desktop
check "lesson files open the build's player" test "$(as_user xdg-mime query default application/x-vorur-lesson)" = vorur-ozudiz.desktop
exec_line=$(desktop_value "$DATA/applications/vorur-ozudiz.desktop" Exec)
check "the entry starts $BUILD/bin/Vorur_Ozudiz ($exec_line)" test "$exec_line" = "\"$BUILD/bin/Vorur_Ozudiz\" %u"
check "the entry is valid" desktop-file-validate "$DATA/applications/vorur-ozudiz.desktop"
outside=$(find "$SCRATCH" -mindepth 1 -newer "$SCRATCH/before" ! -path "$DATA" ! -path "$DATA/*" ! -name register.log -print)
check "nothing is written outside the data folder: $outside" test -z "$outside"

check "removing succeeds" as_user "$SCRIPT" --remove >/dev/null
check "links no longer open it" test -z "$(as_user xdg-mime query default x-scheme-handler/vorur-ozudiz)"
check "another program's entry stays" test -f "$DATA/applications/other.desktop"
left=$(find "$DATA" -name '*vorur*' -print)
check "nothing of ours is left: $left" test -z "$left"
finish
