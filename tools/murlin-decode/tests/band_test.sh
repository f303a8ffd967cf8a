#!/bin/sh
# murlin-decode on IQ captures from rdsgen --iq: every station found with its
# PI and PS, the same groups from a file, from a pipe and from the SigMF form,
# one station by frequency, the stations' own log files, and one line with
# the right exit status for every bad input.
set -u
decode=$(realpath "$1")
rdsgen=$(realpath "$2")
description=$(realpath "$3")
dir=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$dir"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
cd "$dir" || exit 1

for s in "a C2A1 ALPHA" "b C202 BRAVO" "c D303 CHARLIE"; do
    set -- $s
    sed "s/^pi .*/pi 0x$2/; s/^ps .*/ps \"$3\"/" "$description" > "$1.rds"
done
stations="--station 97.7M:a.rds --station 98.1M:b.rds:-10 --station 98.4M:c.rds:6 --cn 25 --stereo -d 2.5"
# shellcheck disable=SC2086
$rdsgen --iq cu8 --rate 1.2M --center 98M $stations -o cap.cu8 || fail "rdsgen --iq"
# The SigMF form: rdsgen writes the pair; the capture above with metadata of
# its own beside it must decode to the same groups.
$rdsgen --iq cs16 --rate 1.2M --center 98M --station 98.1M:a.rds -d 0.2 --sigmf -o small || fail "rdsgen --sigmf"
grep -q '"core:datatype": "ci16_le"' small.sigmf-meta && [ -s small.sigmf-data ] || fail "rdsgen --sigmf: the pair"
ln -s cap.cu8 sig.sigmf-data
printf '{"global": {"core:datatype": "cu8", "core:sample_rate": 1200000, "core:version": "1.0.0"},\n %s\n' \
    '"captures": [{"core:sample_start": 0, "core:frequency": 98000000}], "annotations": []}' > sig.sigmf-meta

# Every station, from the file: its PI, PS and frequency.
"$decode" -q --iq cu8 --rate 1.2M --center 98M --json -o cap.json cap.cu8 || fail "--band from a file"
for s in "97.7 C2A1 ALPHA" "98.1 C202 BRAVO" "98.4 D303 CHARLIE"; do
    set -- $s
    grep -q "{\"freq\":$1,\"station\":{\"pi\":\"$2\",\"ps\":\"$3 *\"" cap.json || fail "station $1 $2 $3 missing"
    [ "$(grep -c "{\"freq\":$1,\"group\"" cap.json)" -ge 20 ] || fail "station $1: too few groups"
done
[ "$(grep -c '"station"' cap.json)" -eq 3 ] || fail "not exactly three stations"

# The same groups through a pipe and from the SigMF pair.
groups() { grep '"group"' "$1" | sed 's/"rxTime":[^,]*,//' | sort; }
cat cap.cu8 | "$decode" -q --iq cu8 --rate 1.2M --center 98M --json -o - - > pipe.json || fail "--band from a pipe"
groups cap.json > want; groups pipe.json > got
cmp -s want got || fail "a pipe gives other groups than the file"
"$decode" -q --json -o sig.json sig.sigmf-meta || fail "a SigMF recording"
groups sig.json > got
cmp -s want got || fail "the SigMF form gives other groups than the raw file"

# One station by frequency: its own log, to standard output.
"$decode" -q --iq cu8 --rate 1.2M --center 98M --freq 98.1M -o - cap.cu8 > one.log || fail "--freq"
[ "$(grep -c '^Bloc A: .* C202 ' one.log)" -ge 20 ] || fail "--freq: the station's log"
! grep -q 'C2A1\|D303' one.log || fail "--freq: another station in its log"

# Every station its own log, named after the output and its frequency.
"$decode" -q --iq cu8 --rate 1.2M --center 98M -o band.log cap.cu8 || fail "--band logs"
for f in 97.70 98.10 98.40; do [ -s "band-$f.log" ] || fail "band-$f.log missing"; done

# Bad input: (exit status, what it says, arguments).
printf 'x' > odd.cu8; cat cap.cu8 >> odd.cu8
cp sig.sigmf-meta lone.sigmf-meta
while IFS='|' read -r status message args; do
    # shellcheck disable=SC2086
    "$decode" $args > out.txt 2> err.txt < /dev/null
    got=$?
    [ "$got" -eq "$status" ] || fail "$args: exit $got, not $status"
    grep -q -- "$message" err.txt || fail "$args: says '$(head -c 200 err.txt)', not '$message'"
done <<'X'
2|--iq: unknown sample format 's16'|--iq s16 --rate 1.2M --center 98M cap.cu8
2|--rate: 0 is out of range|--iq cu8 --rate 0 --center 98M cap.cu8
2|raw IQ samples need their rate|--iq cu8 --center 98M cap.cu8
2|--band and --freq cannot both be given|--iq cu8 --rate 1.2M --center 98M --band --freq 98M cap.cu8
2|needs its own decode log|--iq cu8 --rate 1.2M --center 98M -o - cap.cu8
2|--mpx and IQ input cannot both be given|--mpx --iq cu8 --rate 1.2M --center 98M cap.cu8
1|98.700 MHz is outside the capture: a station's channel fits between|--iq cu8 --rate 1.2M --center 98M --freq 98.7M cap.cu8
1|its samples lone.sigmf-data are missing|lone.sigmf-meta
1|no SDR device matches 'driver=varnak_test_none'|--sdr driver=varnak_test_none --center 98M
0|odd.cu8 is truncated: it ends in the middle of a sample|--iq cu8 --rate 1.2M --center 98M --json -o o.json odd.cu8
X

[ "$fails" -eq 0 ] && echo "band test passed" && exit 0
echo "$fails failures"
exit 1
