# Shared by the installation checks: a scratch folder, failure reporting and an
# installation of the build tree under a DESTDIR.
#   source install_lib.sh <build dir>
set -uo pipefail

BUILD=$(cd "$1" && pwd)
LIBDIR=${VORUR_INSTALL_LIBDIR:-lib}
BINDIR=${VORUR_INSTALL_BINDIR:-bin}
DATADIR=${VORUR_INSTALL_DATADIR:-share}
PREFIX=/usr

SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/vorur-install.XXXXXX")
trap 'rm -rf "$SCRATCH"' EXIT

FAILURES=0
fail() {
    echo "FAIL: $*" >&2
    FAILURES=$((FAILURES + 1))
}
check() {
    local what=$1
    shift
    "$@" || fail "$what"
}
finish() {
    if [ "$FAILURES" -ne 0 ]; then
        echo "$FAILURES check(s) failed" >&2
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

# Installs the build tree into $SCRATCH/root$PREFIX; sets ROOT (the DESTDIR) and P
# (the installed prefix as seen from here).
install_tree() {
    ROOT=$SCRATCH/root
    P=$ROOT$PREFIX
    if ! DESTDIR=$ROOT cmake --install "$BUILD" --prefix "$PREFIX" >"$SCRATCH/install.log" 2>&1; then
        cat "$SCRATCH/install.log" >&2
        echo "FAIL: cmake --install failed" >&2
        exit 1
    fi
}

# Width and height of a PNG file, from its header.
png_size() {
    local hex
    hex=$(od -An -tx1 -j16 -N8 "$1" | tr -d ' \n')
    [ ${#hex} -eq 16 ] || return 1
    echo "$((16#${hex:0:8}))x$((16#${hex:8:8}))"
}

# Value of KEY in the [Desktop Entry] group of a desktop file.
desktop_value() {
    sed -n '/^\[Desktop Entry\]/,/^\[/{s/^'"$2"'=//p}' "$1" | head -1
}
