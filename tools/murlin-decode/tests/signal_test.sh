#!/bin/sh
# Ending a live run of murlin-decode by a signal: SIGINT, SIGTERM and SIGHUP
# stop the reading, the groups in hand are decoded, the output is committed
# (a file) or flushed (standard output), the summary says why it stopped,
# and the program ends by the same signal (status 128 + N). A second signal
# ends it at once.
set -u
decode=$(realpath "$1")
rdsgen=$(realpath "$2")
station=$(realpath "$3")
dir=$(mktemp -d)
holder=
trap 'kill $holder 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$dir"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
cd "$dir" || exit 1

"$rdsgen" "$station" -d 60 -o bits.txt || fail "rdsgen bits"
"$rdsgen" "$station" --mpx --raw -d 4 -o mpx.raw || fail "rdsgen raw samples"
"$decode" -q -o bits.want bits.txt || fail "decoding the bit file"

# Waits up to 20 s for process $1 to end; its status is in $status.
reap() {
    n=0
    while kill -0 "$1" 2>/dev/null && [ $n -lt 200 ]; do sleep 0.1; n=$((n + 1)); done
    kill -0 "$1" 2>/dev/null && { kill -KILL "$1"; fail "$2: still running 20 s after the signal"; }
    wait "$1"
    status=$?
}

# Waits up to 30 s until process $1 has read $2 bytes, then a moment more
# for it to decode them.
consumed() {
    n=0
    while [ "$(awk '/^rchar/ { print $2 }' "/proc/$1/io" 2>/dev/null || echo 0)" -lt "$2" ] && [ $n -lt 300 ]; do
        sleep 0.1
        n=$((n + 1))
    done
    sleep 1
}

# Input through a FIFO that a sleeping process keeps open, so the run only
# ends by the signal. Columns: signal, its number, the options (commas for
# spaces, "-" for none), the input, where the output goes.
while read -r sig num opts input out; do
    case="$sig $opts $input -> $out"
    opts=$(echo "$opts" | tr , ' ')
    [ "$opts" = - ] && opts=
    rm -f live out.txt err .out.txt.varnak-tmp.*
    mkfifo live
    if [ "$out" = stdout ]; then
        # shellcheck disable=SC2086
        "$decode" $opts -o - - < live > out.txt 2> err &
    else
        # shellcheck disable=SC2086
        "$decode" $opts -o out.txt live 2> err &
    fi
    run=$!
    sleep 60 > live &
    holder=$!
    timeout 30 sh -c 'cat "$1" > live' _ "$input" || fail "$case: the input was not taken"
    consumed $run "$(wc -c < "$input")"
    kill -"$sig" $run
    reap $run "$case"
    kill $holder 2>/dev/null
    [ "$status" -eq $((128 + num)) ] || fail "$case: exit status $status, expected $((128 + num))"
    grep -q "stopped by SIG$sig" err || fail "$case: summary: $(cat err)"
    groups=$(grep -c -- '------' out.txt 2>/dev/null)
    [ "${groups:-0}" -gt 0 ] || fail "$case: no groups written"
    grep -q " ${groups} groups decoded" err || fail "$case: $groups groups written, summary: $(cat err)"
    if [ "$input" = bits.txt ] && ! cmp -s out.txt bits.want; then fail "$case: the log differs from the file's"; fi
    if ls -a | grep -q varnak-tmp; then fail "$case: a temporary file is left"; fi
done <<'X'
INT 2 - bits.txt file
TERM 15 - bits.txt file
HUP 1 - bits.txt file
INT 2 - bits.txt stdout
TERM 15 --mpx,--rate,171000 mpx.raw stdout
HUP 1 --mpx,--rate,171000 mpx.raw file
X

# A second signal ends the run at once: here while the first one's output
# waits for a reader that never reads.
rm -f live outpipe
mkfifo live outpipe
sleep 60 < outpipe &
reader=$!
"$decode" -o - live > outpipe 2> err &
run=$!
sleep 60 > live &
holder=$!
timeout 30 sh -c 'cat bits.txt > live' || fail "second signal: the input was not taken"
consumed $run "$(wc -c < bits.txt)"
kill -INT $run 2>/dev/null
sleep 1
kill -0 $run 2>/dev/null || fail "second signal: the run ended after the first"
kill -INT $run 2>/dev/null
reap $run "second signal"
[ "$status" -eq 130 ] || fail "second signal: exit status $status, expected 130"
kill $holder $reader 2>/dev/null

[ $fails -eq 0 ] && echo "all murlin-decode signal checks passed"
exit $fails
