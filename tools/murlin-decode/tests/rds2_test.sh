#!/bin/sh
# murlin-decode --rds2 on rdsgen --mpx --rds2-logo signals: the logo saved
# byte for byte, the extra streams' groups in JSON tagged by stream, stream
# 0's output as without --rds2; a transfer cut short saves nothing; wrong
# options are usage errors that name the option.
set -u
decode=$(realpath "$1")
rdsgen=$(realpath "$2")
logo=$(realpath "$(dirname "$0")/rds2_logo.png")
dir=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$dir"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
cd "$dir" || exit 1

printf 'pi 0xC2A1\nps "KESTREL "\n' > st.rds
cp "$logo" logo.png  # 24 x 16 pixels

# name | rdsgen options | logo saved
while IFS='|' read -r name gen saved; do
    rm -rf out && mkdir out
    # shellcheck disable=SC2086
    "$rdsgen" st.rds --mpx --rds2-logo logo.png $gen -o sig.wav 2> gen.err || { fail "$name: rdsgen: $(cat gen.err)"; continue; }
    "$decode" --rds2 --save-files out --json -o all.json sig.wav 2> err || fail "$name: murlin-decode: $(cat err)"
    if [ "$saved" = yes ]; then
        cmp -s out/logo-v0-0.png logo.png || fail "$name: the saved logo differs from the one sent: $(ls out)"
        grep -q '"rftFileReceived":{"pipe":0,"aid":"FF7F".*"crcOk":true' all.json || fail "$name: no file in the JSON"
        grep -q "saved: out/logo-v0-0.png" err || fail "$name: the summary names no file: $(cat err)"
    else
        [ -z "$(ls -A out)" ] || fail "$name: a file was saved: $(ls -A out)"
        grep -q "rftFileReceived" all.json && fail "$name: a file in the JSON"
        grep -q "RDS2 file on pipe 0 .*segments.*: not taken" err || fail "$name: summary: $(cat err)"
    fi
    for s in 1 2 3; do
        grep -q "^{\"stream\":$s,\"group\":\"C\"" all.json || fail "$name: no group of stream $s"
    done
    # Stream 0 as without --rds2, byte for byte.
    "$decode" -q --json -o plain.json sig.wav || fail "$name: without --rds2"
    grep -v '^{"stream"' all.json > stream0.json
    cmp -s stream0.json plain.json || fail "$name: stream 0's JSON differs with --rds2"
    "$decode" -q -o plain.out sig.wav && "$decode" -q --rds2 -o rds2.out sig.wav || fail "$name: decode logs"
    cmp -s plain.out rds2.out || fail "$name: the decode log differs with --rds2"
done <<'X'
whole|-d 7|yes
whole with a stereo programme and noise|-d 7 --stereo --cnr 25|yes
cut short|-d 2|no
X

# Wrong usage: exit 2, the option named.
mkdir -p out && : > afile
while IFS='|' read -r args message; do
    # shellcheck disable=SC2086
    "$decode" $args sig.wav -o /dev/null 2> err
    [ $? -eq 2 ] || fail "$args should exit 2"
    grep -q -- "$message" err || fail "$args: $(cat err)"
done <<'X'
--save-files out|--save-files needs --rds2
--rds2 --save-files afile|--save-files: afile is not a folder
--rds2 --save-files|--save-files
--rds2 --hex|--rds2 needs the multiplex signal
X
"$rdsgen" st.rds --mpx --rate 150000 --rds2-logo logo.png -o x.wav 2> err
[ $? -eq 2 ] && grep -q -- "--rds2-logo: the RDS2 subcarrier at 76 kHz needs --rate of at least 160000" err ||
    fail "rdsgen at 150 kHz: $(cat err)"
"$rdsgen" st.rds --mpx --rds2-logo missing.png -o x.wav 2> err
[ $? -eq 1 ] && grep -q "missing.png: cannot read" err || fail "rdsgen without the logo file: $(cat err)"
[ -e x.wav ] && fail "rdsgen wrote x.wav without a logo"
# A rate too low for the extra streams: stream 0 decodes, RDS2 says why not.
"$rdsgen" st.rds --mpx --rate 128000 -d 2 -o low.wav || fail "rdsgen at 128 kHz"
"$decode" --rds2 -o /dev/null low.wav 2> err || fail "decoding at 128 kHz"
grep -q "RDS2: the sample rate carries no extra stream" err || fail "at 128 kHz: $(cat err)"

# A clean multiplex without RDS2: stream 0 must not show through as groups
# of the extra streams.
"$rdsgen" st.rds --mpx -d 3 -o plain.wav || fail "rdsgen without RDS2"
"$decode" -q --rds2 --json -o plain-rds2.json plain.wav || fail "decoding without RDS2"
grep -q '"stream"' plain-rds2.json && fail "groups of an extra stream from a multiplex without RDS2"

[ "$fails" -eq 0 ] && echo "all RDS2 checks passed"
exit "$fails"
