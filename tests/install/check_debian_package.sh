#!/usr/bin/env bash
# The Debian package: its name and metadata, dependencies found by dpkg-shlibdeps plus
# the run-time ones, the installed layout under /usr, stripped programs, and what
# lintian and the AppStream validator say of it.
#   check_debian_package.sh <build dir>
source "$(dirname "$0")/install_lib.sh" "$1"

if ! (cd "$SCRATCH" && cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$SCRATCH/pkg") >"$SCRATCH/cpack.log" 2>&1; then
    cat "$SCRATCH/cpack.log" >&2
    echo "FAIL: cpack failed" >&2
    exit 1
fi
deb=$(ls "$SCRATCH"/pkg/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { cat "$SCRATCH/cpack.log" >&2; echo "FAIL: no package made" >&2; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
check "the package is vorur-ozudiz" test "$(field Package)" = vorur-ozudiz
check "the package is for $(dpkg --print-architecture)" test "$(field Architecture)" = "$(dpkg --print-architecture)"
maintainer=$(field Maintainer)
address='^[^<]+ <[^@>]+@[^>]+>$'
[[ $maintainer =~ $address ]] || fail "the package names a maintainer with an address ($maintainer)"
check "the package has a summary and a long description" test "$(field Description | wc -l)" -ge 3
version=$(field Version)
[[ $version =~ ^[0-9]+\.[0-9]+ ]] || fail "the package is versioned ($version)"

depends=$(field Depends)
for dep in fonts-nanum fonts-liberation2 qt6-qpa-plugins qt6-translations-l10n libqt6widgets6 libmp3lame0 \
           libcurl4 libsdl2-2.0-0 libsdl2-mixer-2.0-0 libpulse0 libc6; do
    grep -Eq "(^|, )$dep( |,|\$)" <<<"$depends" || fail "Depends names $dep ($depends)"
done
recommends=$(field Recommends)
grep -Eq "(^|, )qt6-wayland( |,|\$)" <<<"$recommends" || fail "Recommends names qt6-wayland ($recommends)"

listing=$(dpkg-deb -c "$deb" | awk '{ print $6 $7 $8 }')
for path in "./usr/$LIBDIR/vorur-ozudiz/Vorur_Ozudiz" "./usr/$LIBDIR/vorur-ozudiz/libDovOvoru.so" \
            "./usr/$BINDIR/vorur-ozudiz->" "./usr/$BINDIR/vorur-ozudiz-demo" "./usr/$BINDIR/lesson-server" \
            "./usr/$BINDIR/viztool" "./usr/$BINDIR/vorur-upload" "./usr/$BINDIR/vorur-rec->" \
            "./usr/$DATADIR/vorur-ozudiz/demo/demo1.viz" "./usr/$DATADIR/applications/vorur-ozudiz-demo.desktop" \
            "./usr/$DATADIR/icons/hicolor/48x48/apps/vorur-ozudiz.png" \
            "./usr/$DATADIR/applications/vorur-ozudiz.desktop" "./usr/$DATADIR/mime/packages/vorur-ozudiz.xml" \
            "./usr/$DATADIR/icons/hicolor/48x48/mimetypes/application-x-vorur-lesson.png" \
            "./usr/$DATADIR/doc/vorur-ozudiz/copyright" "./usr/$DATADIR/doc/vorur-ozudiz/changelog.gz" \
            "./usr/$DATADIR/metainfo/example.vorur_ozudiz.demo.metainfo.xml"; do
    check "the package holds $path" grep -qF -- "$path" <<<"$listing"
done
# Every command in bin/ has its man page.
for cmd in $(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed -n "s|^\./usr/$BINDIR/\(..*\)|\1|p"); do
    check "$cmd has a man page" grep -qxF -- "./usr/$DATADIR/man/man1/$cmd.1.gz" <<<"$listing"
done

mkdir -p "$SCRATCH/x"
dpkg-deb -x "$deb" "$SCRATCH/x"
# Portal links and lesson files: the hidden entry claims both, and the desktop's
# databases are left to their own packages' triggers.
entry=$SCRATCH/x/usr/$DATADIR/applications/vorur-ozudiz.desktop
check "the player's entry opens links and lesson files" \
    test "$(desktop_value "$entry" MimeType)" = "x-scheme-handler/vorur-ozudiz;application/x-vorur-lesson;"
check "the player's entry passes the link on" test "$(desktop_value "$entry" Exec)" = "vorur-ozudiz %u"
check "the package runs no database updates of its own" \
    bash -c "! dpkg-deb -e '$deb' '$SCRATCH/ctl' || ! grep -qs 'update-mime-database\|update-desktop-database' '$SCRATCH'/ctl/*"
for f in "$SCRATCH/x/usr/$LIBDIR/vorur-ozudiz/Vorur_Ozudiz" "$SCRATCH/x/usr/$LIBDIR/vorur-ozudiz/libDovOvoru.so"; do
    check "$f is stripped" bash -c "! readelf -S '$f' | grep -q '\.debug_info'"
done

# No errors and no warnings from lintian; the ones the package overrides are
# explained in its override file. A sanitized build is never shipped, so lintian
# judges only plain ones. The software-centre entry validates.
if [ -n "${VORUR_SANITIZE:-}" ]; then
    echo "sanitized build ($VORUR_SANITIZE): lintian skipped"
elif command -v lintian >/dev/null; then
    if ! lintian --fail-on error,warning "$deb" >"$SCRATCH/lintian.log" 2>&1; then
        fail "lintian finds errors or warnings: $(grep -v '^running with root' "$SCRATCH/lintian.log")"
    fi
    # Pedantic too: nothing at any level (hardening included) but the overrides.
    lintian --pedantic --info "$deb" >"$SCRATCH/lintian-pedantic.log" 2>&1
    tags=$(grep -E '^[EWIPX]: ' "$SCRATCH/lintian-pedantic.log")
    check "lintian --pedantic notes nothing: $tags" test -z "$tags"
else
    fail "lintian is missing (scripts/install-deps.sh installs it)"
fi
if command -v appstreamcli >/dev/null; then
    msgs=$(appstreamcli validate-tree --no-net "$SCRATCH/x" 2>&1) || fail "the AppStream metainfo validates: $msgs"
else
    fail "appstreamcli is missing (scripts/install-deps.sh installs it)"
fi
finish
