#!/bin/sh
# The suite's five programs answer -v and --version alike ("PROGRAM X.Y.Z"),
# and -h and --help with a usage line naming the program, in the suite's
# wording (no Qt "--help-all"); an unknown option is a usage error, status 2.
set -u
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
export QT_QPA_PLATFORM=offscreen
for program in "$@"; do
    name=$(basename "$program")
    for option in -v --version; do
        out=$("$program" $option 2>&1)
        status=$?
        [ $status -eq 0 ] || fail "$name $option: exit status $status"
        echo "$out" | grep -qx "$name [0-9][0-9]*\.[0-9][0-9]*\.[0-9][0-9]*" || fail "$name $option: '$out'"
    done
    for option in -h --help; do
        "$program" $option > help 2> err
        status=$?
        [ $status -eq 0 ] || fail "$name $option: exit status $status"
        head -n 1 help | grep -q "^Usage: $name " || fail "$name $option: $(head -n 1 help)"
        grep -q -- "--help-all\|Displays help" help && fail "$name $option: Qt's wording"
        grep -q -- "-v, --version" help || fail "$name $option: no -v, --version"
        [ -s err ] && fail "$name $option: $(cat err)"
    done
    "$program" --bogus > /dev/null 2> err
    status=$?
    [ $status -eq 2 ] || fail "$name --bogus: exit status $status"
    grep -qx "$name: unknown option '--bogus'" err || fail "$name --bogus: $(cat err)"
done
rm -f help err
[ $fails -eq 0 ] && echo "all command-line convention checks passed"
exit $fails
