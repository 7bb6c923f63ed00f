#!/usr/bin/env bash
# Each command's manual page and its --help name the same options: an option that
# one of them has and the other lacks fails the check.
#   check_manuals.sh <build dir> <source dir>
set -u
BUILD=$1
SRC=$2
BIN=$BUILD/bin
FAILURES=0
fail() { echo "FAIL: $*"; FAILURES=$((FAILURES + 1)); }
pass() { echo "ok: $*"; }

# The options a text names: -x and --long-name standing on their own (not inside
# a word such as vorur-rec). Manual pages write a dash as \- and fonts as \fB.
options() {
    sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\(em//g' |
        grep -oE '(^|[^[:alnum:]_-])--?[[:alpha:]][[:alnum:]-]*' |
        sed -E 's/^[^-]*//' | sort -u
}

# help COMMAND: what the command prints for --help (a description per subcommand
# for viztool); the status must be 0.
help_of() {
    case $1 in
        vorur-ozudiz) "$BIN/Vorur_Ozudiz" --help ;;
        vorur-ozudiz-demo) sh "$SRC/packaging/vorur-ozudiz-demo.in" --help ;;
        viztool)
            "$BIN/viztool" --help || return
            for sub in pack dump extract check; do "$BIN/viztool" "$sub" --help || return; done ;;
        *) "$BIN/$1" --help ;;
    esac
}

for command in vorur-ozudiz vorur-ozudiz-demo viztool lesson-server vorur-upload vorur-rec; do
    page=$SRC/packaging/man/$command.1
    if ! text=$(help_of "$command" 2>&1); then
        fail "$command --help ends with an error: $text"
        continue
    fi
    [ -n "$text" ] || fail "$command --help prints nothing"
    from_help=$(options <<<"$text")
    from_page=$(options <"$page")
    only_help=$(comm -23 <(echo "$from_help") <(echo "$from_page") | tr '\n' ' ')
    only_page=$(comm -13 <(echo "$from_help") <(echo "$from_page") | tr '\n' ' ')
    if [ -z "$only_help$only_page" ]; then
        pass "$command: --help and $command(1) name the same options: $(echo $from_help)"
    else
        fail "$command: only in --help: [${only_help% }], only in $command(1): [${only_page% }]"
    fi
done

if [ "$FAILURES" -ne 0 ]; then echo "$FAILURES check(s) failed"; exit 1; fi
echo "all checks passed"
