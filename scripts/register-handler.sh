#!/usr/bin/env bash
# Lets this user's desktop open portal links (vorur-ozudiz:) and lesson files
# (*.viz) with the player of a source build, without installing anything:
#   scripts/register-handler.sh            # after scripts/build.sh
#   scripts/register-handler.sh --remove   # undo
# Writes only under the user's XDG data folder ($XDG_DATA_HOME, else
# ~/.local/share): the menu entry (which, having the installed package's name,
# takes its place for this user), the lesson file type, its icon, and the caches of
# those folders. BUILD_DIR names another build folder, as for scripts/build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=${BUILD_DIR:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
: "${HOME:?HOME is not set}"
case ${XDG_DATA_HOME:-} in
  /*) DATA=$XDG_DATA_HOME ;;
  *) DATA=$HOME/.local/share ;;
esac
ENTRY=$DATA/applications/vorur-ozudiz.desktop
TYPE=$DATA/mime/packages/vorur-ozudiz.xml
ICONS=$DATA/icons/hicolor
MARK="X-Vorur-Ozudiz-Source-Build=true"

refresh() {
  update-desktop-database "$DATA/applications" 2>/dev/null || true
  update-mime-database "$DATA/mime" >/dev/null 2>&1 || true
}

if [ "${1:-}" = --remove ]; then
  # Only what this script wrote: an entry of the installed package stays.
  if [ -f "$ENTRY" ] && grep -qx "$MARK" "$ENTRY"; then rm -f "$ENTRY"; fi
  if [ -f "$TYPE" ] && grep -q 'application-x-vorur-lesson-build' "$TYPE"; then rm -f "$TYPE"; fi
  rm -f "$ICONS"/*/apps/vorur-ozudiz-build.png "$ICONS"/*/mimetypes/application-x-vorur-lesson-build.png
  [ -d "$DATA/mime" ] && refresh
  echo "register-handler: removed"
  exit 0
fi
[ $# -eq 0 ] || { echo "usage: scripts/register-handler.sh [--remove]" >&2; exit 2; }

PLAYER=$BUILD/bin/Vorur_Ozudiz
[ -x "$PLAYER" ] || { echo "register-handler: no player at $PLAYER; run scripts/build.sh first" >&2; exit 1; }
for tool in update-desktop-database update-mime-database; do
  command -v "$tool" >/dev/null || { echo "register-handler: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

# The Exec key's quoting: the path in double quotes, with ", `, $ and \ escaped,
# every backslash doubled once more for the desktop file's string syntax, and "%"
# written "%%".
quoted=$(printf '%s' "$PLAYER" | sed -e 's/\\/\\\\/g' -e 's/["`$]/\\&/g' -e 's/\\/\\\\/g' -e 's/%/%%/g')
mkdir -p "$DATA/applications" "$DATA/mime/packages"
sed -e "s|^Exec=.*|Exec=\"$(printf '%s' "$quoted" | sed 's/[&|]/\\&/g')\" %u|" \
    -e "s|^Icon=.*|Icon=vorur-ozudiz-build|" \
    -e "\$a $MARK" packaging/vorur-ozudiz.desktop > "$ENTRY.tmp"
mv "$ENTRY.tmp" "$ENTRY"
sed 's|<icon name="application-x-vorur-lesson"/>|<icon name="application-x-vorur-lesson-build"/>|' \
    packaging/vorur-ozudiz-mime.xml > "$TYPE.tmp"
mv "$TYPE.tmp" "$TYPE"
GEN=$BUILD/res/skin/icons
for size in 16 24 32 48 64; do
  mkdir -p "$ICONS/${size}x$size/apps" "$ICONS/${size}x$size/mimetypes"
  cp "$GEN/128-$size.png" "$ICONS/${size}x$size/apps/vorur-ozudiz-build.png"
  cp "$GEN/lesson-$size.png" "$ICONS/${size}x$size/mimetypes/application-x-vorur-lesson-build.png"
done
refresh
echo "register-handler: vorur-ozudiz: links and *.viz files now open $PLAYER"
echo "register-handler: check with: xdg-mime query default x-scheme-handler/vorur-ozudiz"
