#!/bin/sh
# rdsgen --mpx: option checks, the WAV and raw outputs, the group list.
set -u
rdsgen=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

printf 'pi 0xC2A1\nps "KESTREL "\n' > "$dir/st.rds"

# Bad option combinations: exit 2, the option named, nothing written.
while IFS='|' read -r args message; do
    # shellcheck disable=SC2086
    "$rdsgen" "$dir/st.rds" $args 2> "$dir/err" > "$dir/out"
    [ $? -eq 2 ] || fail "$args should exit 2"
    grep -q -- "$message" "$dir/err" || fail "$args: $(cat "$dir/err")"
    [ -s "$dir/out" ] && fail "$args wrote to standard output"
done <<'X'
--mpx --hex -o x.wav|--mpx and --hex cannot both be given
--rate 200000|--rate needs --mpx
--cnr 3|--cnr needs --mpx
--mpx --rate 96000 -o x.wav|--rate: 96000 is out of range 128000..2000000
--mpx --rate 0 -o x.wav|--rate: 0 is out of range
--mpx --rate 171k -o x.wav|--rate: '171k' is not a whole number of Hz
--mpx --cnr x -o x.wav|--cnr: 'x' is not a number
--mpx --ppm 5000 -o x.wav|--ppm: must be within -1000..1000
--rds-offset 5|--rds-offset needs --mpx
--mpx --rds-offset 2000 -o x.wav|--rds-offset: must be within -1000..1000 Hz
--mpx --rds-drift 61 -o x.wav|--rds-drift: must be within -60..60 Hz per minute
--mpx --rds-phase x -o x.wav|--rds-phase: 'x' is not a number
--fading tu|--fading needs --mpx
--mpx --doppler 10 -o x.wav|--doppler needs the radio channel
--mpx --fading car -o x.wav|--fading: 'car' is not one of none, rayleigh, rician, tu, ra
--mpx --echo 5 -o x.wav|--echo: '5' is not us:db or us:db:deg
--mpx --echo 800:-3 -o x.wav|--echo: the delay must be within 0..500 us
--mpx --interferer 200:x -o x.wav|--interferer: '200:x' is not khz:db
--mpx --rf-cn 20 --rate 1000000 -o x.wav|--rate: the radio channel takes at most 400000 Hz
--mpx|--mpx writes a WAV file: give it with -o FILE, or add --raw
X

# A WAV file: 16-bit mono at the rate asked; the same seed gives the same
# file, another seed another file.
"$rdsgen" "$dir/st.rds" --mpx -n 4 --cnr 5 --rate 192000 -o "$dir/a.wav" --list-groups "$dir/a.groups" || fail "WAV run failed"
"$rdsgen" "$dir/st.rds" --mpx -n 4 --cnr 5 --rate 192000 -o "$dir/b.wav" || fail "second WAV run failed"
"$rdsgen" "$dir/st.rds" --mpx -n 4 --cnr 5 --rate 192000 --seed 9 -o "$dir/c.wav" || fail "third WAV run failed"
cmp -s "$dir/a.wav" "$dir/b.wav" || fail "same seed, different WAV"
cmp -s "$dir/a.wav" "$dir/c.wav" && fail "another seed, same WAV"
[ "$(head -c 4 "$dir/a.wav")" = "RIFF" ] || fail "no WAV header"
# 416 bits at 192 kHz plus the last symbols' tails, 2 bytes a sample.
size=$(wc -c < "$dir/a.wav")
[ "$size" -gt $((416 * 192000 / 1187 * 2)) ] && [ "$size" -lt $((430 * 192000 / 1187 * 2 + 100)) ] || fail "WAV size $size"
[ "$(cat "$dir/a.groups")" = "C2A1 0008 E0CD 4B45
C2A1 0009 E0CD 5354
C2A1 000A E0CD 5245
C2A1 000B E0CD 4C20" ] || fail "group list: $(cat "$dir/a.groups")"

# Raw samples to standard output: the WAV's samples without the header.
"$rdsgen" "$dir/st.rds" --mpx --raw -n 4 --cnr 5 --rate 192000 -o - > "$dir/a.raw" || fail "raw run failed"
tail -c "$(wc -c < "$dir/a.raw")" "$dir/a.wav" | cmp -s - "$dir/a.raw" || fail "raw samples differ from the WAV's"

# Through the radio channel: the same seed gives the same signal, and the
# receiver's output has the multiplex's length.
"$rdsgen" "$dir/st.rds" --mpx --raw -n 4 --rf-cn 20 --fading tu --doppler 10 --echo 3:-6:90 --interferer 200:-10 -o - > "$dir/ch1.raw" || fail "channel run failed"
"$rdsgen" "$dir/st.rds" --mpx --raw -n 4 --rf-cn 20 --fading tu --doppler 10 --echo 3:-6:90 --interferer 200:-10 -o - > "$dir/ch2.raw" || fail "second channel run failed"
cmp -s "$dir/ch1.raw" "$dir/ch2.raw" || fail "same seed, different channel output"
"$rdsgen" "$dir/st.rds" --mpx --raw -n 4 -o - > "$dir/plain.raw" || fail "plain run failed"
[ "$(wc -c < "$dir/ch1.raw")" -eq "$(wc -c < "$dir/plain.raw")" ] || fail "channel output length differs"
cmp -s "$dir/ch1.raw" "$dir/plain.raw" && fail "channel output equals the plain multiplex"

# An unwritable place: exit 1, the place named, no file left behind.
"$rdsgen" "$dir/st.rds" --mpx -n 4 -o "$dir/no/such/x.wav" 2> "$dir/err"
[ $? -eq 1 ] || fail "unwritable output should exit 1"
grep -q "no/such/x.wav" "$dir/err" || fail "message: $(cat "$dir/err")"
"$rdsgen" --help | grep -q -- "--mpx" || fail "--help lacks --mpx"

# The group list never replaces the description or the output.
cp "$dir/st.rds" "$dir/keep.rds"
"$rdsgen" "$dir/keep.rds" -n 2 -o "$dir/out.txt" --list-groups "$dir/keep.rds" 2> "$dir/err"
[ $? -eq 2 ] || fail "group list over the description should exit 2"
cmp -s "$dir/st.rds" "$dir/keep.rds" || fail "description overwritten by the group list"
"$rdsgen" "$dir/st.rds" -n 2 -o "$dir/new.txt" --list-groups "$dir/new.txt" 2> "$dir/err"
[ $? -eq 2 ] || fail "group list over the output should exit 2"

[ $fails -eq 0 ] && echo "all rdsgen --mpx checks passed"
exit $fails
