#!/bin/sh
# murlin-decode --mpx end to end on rdsgen --mpx signals: the groups of the
# bit file of the same bits, the same log from a WAV file and from raw
# samples on standard input; groups flushed while the input is still open;
# one line and the right exit status for every bad input.
set -u
decode=$(realpath "$1")
rdsgen=$(realpath "$2")
dir=$(mktemp -d)
trap 'kill $holder 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$dir"' EXIT
holder=
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
cd "$dir" || exit 1

cat > st.rds <<'X'
pi 0xC2A1
ps "KESTREL "
rt A "Radio input test"
ct 2026-12-08 19:55 +1
X
# The demodulated groups must be the transmitted ones: the block words of
# every group, in order, as the bit file of the same bits gives them. The
# demodulator may need the first groups to lock on (at most two are allowed
# to be missing); garbage first, as in a recording that starts mid-stream.
gen="$rdsgen st.rds --garbage 1200 -d 4"
$gen -o bits.txt || fail "rdsgen bits"
"$decode" -q --json -o bits.json bits.txt || fail "decoding the bit file"
blocks() { grep -o '"blocks":\[[^]]*\]' "$1"; }
same_groups() {
    blocks bits.json > want
    blocks "$1" > got
    [ "$(wc -l < want)" -ge 40 ] || fail "bit file: too few groups"
    missing=$(($(wc -l < want) - $(wc -l < got)))
    [ $missing -ge 0 ] && [ $missing -le 2 ] && tail -n "$(wc -l < got)" want | cmp -s - got \
        || fail "$1: groups differ from the bit file's ($(wc -l < got) of $(wc -l < want))"
}

# A WAV file at 171 kHz, and the same samples raw through standard input:
# the same log and JSON exactly, since they are the same samples.
$gen --mpx --cnr 6 -o a.wav || fail "rdsgen WAV"
"$decode" --mpx a.wav -o wav.out 2> err || fail "decoding the WAV: $(cat err)"
grep -q "signal: 5.0 s at 171000 Hz; pilot" err || fail "summary: $(cat err)"
grep -q "block errors 0.0 %" err || fail "summary: $(cat err)"
"$decode" -q --mpx --json a.wav -o wav.json || fail "decoding the WAV to JSON"
same_groups wav.json
$gen --mpx --raw --cnr 6 -o - | "$decode" -q --mpx --rate 171000 -o raw.out - || fail "decoding raw samples"
cmp -s wav.out raw.out || fail "the log of the raw samples differs from the WAV's"
$gen --mpx --raw --cnr 6 -o - | "$decode" -q --mpx --rate 171k --json -o - - > raw.json || fail "raw to JSON"
# Samples from a pipe are live: each group carries the time it was received.
grep -q '"rxTime":"' raw.json || fail "no receiving time in the JSON of live samples"
untimed() { sed 's/"rxTime":"[^"]*",//' "$1"; }
untimed raw.json | cmp -s wav.json - || fail "the JSON of the raw samples differs from the WAV's"

# Another rate, with a clock error and a stereo programme.
$gen --mpx --raw --rate 228000 --cnr 6 --ppm 80 --stereo -o - | "$decode" -q --mpx --rate 228000 --json -o - - > fast.json \
    || fail "decoding raw samples at 228 kHz"
same_groups fast.json

# Channel 2 of a two-channel file.
python3 - <<'X' || fail "making the two-channel file"
import wave
w = wave.open('a.wav', 'rb'); frames = w.readframes(w.getnframes()); rate = w.getframerate(); w.close()
two = bytearray(len(frames) * 2)
for i in range(0, len(frames), 2):
    two[2 * i + 2:2 * i + 4] = frames[i:i + 2]
o = wave.open('two.wav', 'wb'); o.setnchannels(2); o.setsampwidth(2); o.setframerate(rate); o.writeframes(bytes(two)); o.close()
o = wave.open('slow.wav', 'wb'); o.setnchannels(1); o.setsampwidth(2); o.setframerate(48000); o.writeframes(frames[:9600]); o.close()
X
"$decode" -q --mpx --channel 2 two.wav -o two.out || fail "decoding channel 2"
cmp -s wav.out two.out || fail "channel 2 log differs from the mono file's"

# A truncated WAV: what is there is decoded, with a warning; exit 0.
head -c 1000000 a.wav > cut.wav
"$decode" --mpx cut.wav -o cut.out 2> err || fail "a truncated WAV should still exit 0"
grep -q "warning: cut.wav is truncated: its header promises" err || fail "truncation: $(cat err)"
[ "$(grep -c -- '-----' cut.out)" -ge 12 ] || fail "truncated WAV: too few groups"

# Groups leave while the input is still open: a FIFO that a sleeping
# process keeps open after the samples, the output (a pipe, so flushed group
# by group) watched until the groups are there.
mkfifo live out
cat out > live.json &
"$decode" -q --mpx --rate 171000 --json -o - live > out &
reader=$!
sleep 120 > live &
holder=$!
timeout 60 sh -c "$gen --mpx --raw --cnr 6 -o - > live" || fail "rdsgen into the FIFO"
n=0
while [ "$(wc -l < live.json)" -lt "$(wc -l < wav.json)" ] && [ $n -lt 300 ]; do sleep 0.1; n=$((n + 1)); done
kill -0 $reader 2>/dev/null || fail "the decoder ended before its input did"
untimed live.json | cmp -s wav.json - || fail "groups not all out while the input is open ($(wc -l < live.json) lines)"
kill $holder
wait $reader || fail "the decoder failed when its input closed"

# Standard input closed at once: the summary, no group, exit 1, no output.
"$decode" --mpx --rate 171000 -o empty.out - < /dev/null 2> err && fail "empty standard input should exit 1"
grep -q "no group decoded" err || fail "empty standard input: $(cat err)"
[ -e empty.out ] && fail "empty standard input left empty.out"

# A full-scale square wave (9.5 kHz at 171 kHz: 18 samples a period) has
# harmonics near 57 kHz but no RDS: no RDS level or CNR is claimed for it.
printf '\377\177\377\177\377\177\377\177\377\177\377\177\377\177\377\177\377\177' > square.raw
printf '\000\200\000\200\000\200\000\200\000\200\000\200\000\200\000\200\000\200' >> square.raw
for _ in 1 2 3 4 5 6 7 8 9 10 11 12 13 14; do cat square.raw square.raw > twice.raw && mv twice.raw square.raw; done
"$decode" --mpx --rate 171000 -o square.out square.raw 2> err
grep -q "no pilot; no RDS signal found" err || fail "square wave: $(cat err)"
grep -q "CNR" err && fail "square wave claims a CNR: $(cat err)"

# Bad input: exit 1 and one line naming the file; bad usage: exit 2.
printf 'not audio\n' > notes.txt
: > empty.raw
while IFS='|' read -r code args message; do
    # shellcheck disable=SC2086
    "$decode" $args -o x.out 2> err < /dev/null
    status=$?
    [ $status -eq "$code" ] || fail "$args: exit $status, expected $code"
    grep -q -- "$message" err || fail "$args: $(cat err)"
    [ -e x.out ] && fail "$args left x.out"
done <<'X'
1|--mpx notes.txt|murlin-decode: notes.txt: not an audio file: its format is none
1|--mpx slow.wav|slow.wav: the sample rate is 48000 Hz; RDS sits at 57 kHz
1|--mpx --channel 3 two.wav|two.wav: has 2 channels, no channel 3
1|--mpx --rate 171000 empty.raw|empty.raw: holds no samples
1|--mpx missing.wav|murlin-decode: cannot open missing.wav: No such file or directory
2|--mpx --rate 0 -|--rate: 0 Hz is out of range
2|--mpx --rate 1e9 -|--rate: 1e9 Hz is out of range
2|--mpx --rate fast -|--rate: 'fast' is not a sample rate in Hz
2|--mpx --hex a.wav|--mpx and --hex cannot both be given
2|--rate 171000 a.wav|--rate needs --mpx
2|--mpx -|standard input carries raw samples: give their rate with --rate
2|--mpx --channel 0 a.wav|--channel: '0' is not a channel number
X

[ $fails -eq 0 ] && echo "all murlin-decode --mpx checks passed"
exit $fails
