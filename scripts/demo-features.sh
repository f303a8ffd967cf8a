#!/usr/bin/env bash
# The newer features in one generated signal: a station with enhanced
# radiotext (eRT), a long PS, a TMC message with a quantifier over a small
# location table, a DAB cross-reference and a station logo on RDS2's
# extra subcarriers, sent as an FM multiplex
# through a noisy radio channel. The monitor decodes it offscreen with the
# history window open and saves a picture of both (docs/features.png);
# murlin-decode --json shows what each feature gives in JSON.
# Usage: scripts/demo-features.sh [BUILD_DIR]   (default build/release)
#
# To add a feature, add its lines to station.rds below, options for rdsgen
# to gen_args and the JSON fields to show to json_fields.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/release}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNAK_TESTS=OFF >/dev/null
fi
cmake --build "$build" -j2 --target varnak murlin-decode rdsgen murlin >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The station.
cat >"$work/station.rds" <<'STATION'
pi 0xC2A1
pty 10
tp 1
ps "KESTREL "
rt A "Radio Kestrel 97.4 - the best music on the coast"
ert 12A "Jetzt: Hafenlichter – Ölfa · Küstenradio Kestrel"
long-ps "Radio Kestrel Küste"
dab-ensemble 13A 0xE1C2 225648 1
dab-service 13A 0xE1C2 0xD2C1
oda 0xCD46 8A
tmc event=12 location=203 extent=2 direction=0 quantifier=3 duration=2
tmc event=108 location=201 extent=1 direction=1 quantifier=6
schedule 0A 2A 12A 0A 15A 3A 8A 0A 13A 2A 12A 0A 15A 8A 3A 12A
STATION

# A small TMC location table in the exchange format: road A7 "Kestrel
# Coast Road" with the points Harbour (201), Brücke (202) and Cliffside
# (203). Files are semicolon separated with a header line, CR LF, Latin-1.
tmc="$work/tmc"
mkdir -p "$tmc"
crlf() { sed 's/$/\r/'; }
crlf >"$tmc/LOCATIONCODES.DAT" <<'EOF'
CID;TABCD;LCD;ALLOCATED
58;1;100;1
58;1;201;1
58;1;202;1
58;1;203;1
EOF
printf 'CID;LID;NID;NAME;NCOMMENT;OFFICIALNAME\n58;1;1;Kestrel Coast Road;;\n58;1;2;Harbour;;\n58;1;3;Br\xfccke;;\n58;1;4;Cliffside;;\n' | crlf >"$tmc/NAMES.DAT"
crlf >"$tmc/ROADS.DAT" <<'EOF'
CID;TABCD;LCD;CLASS;TCD;STCD;ROADNUMBER;RNID;N1ID;N2ID;ROA_LCD;SEG_LCD;POL_LCD
58;1;100;L;1;1;A7;1;2;4;;;
EOF
crlf >"$tmc/SEGMENTS.DAT" <<'EOF'
CID;TABCD;LCD;CLASS;TCD;STCD;ROADNUMBER;RNID;N1ID;N2ID;ROA_LCD;SEG_LCD;POL_LCD
EOF
crlf >"$tmc/POINTS.DAT" <<'EOF'
CID;TABCD;LCD;CLASS;TCD;STCD;JUNCTIONNUMBER;RNID;N1ID;N2ID;POL_LCD;OTH_LCD;SEG_LCD;ROA_LCD;INPOS;INNEG;OUTPOS;OUTNEG;PRESENTPOS;PRESENTNEG;DIVERSIONPOS;DIVERSIONNEG;URBAN;INTERRUPTSROAD
58;1;201;P;1;3;;;2;;;;;100;1;1;1;1;1;1;;;0;0
58;1;202;P;1;3;;;3;;;;;100;1;1;1;1;1;1;;;0;0
58;1;203;P;1;3;;;4;;;;;100;1;1;1;1;1;1;;;0;0
EOF
crlf >"$tmc/OFFSETS.DAT" <<'EOF'
CID;TABCD;LCD;NEG_OFF_LCD;POS_OFF_LCD
58;1;201;;202
58;1;202;201;203
58;1;203;202;
EOF

# The signal: 40 s of FM multiplex with a stereo programme and the logo on
# the RDS2 streams, through a radio channel at C/N 20 dB (received as rtl_fm
# would give it, at a rate that carries the 76 kHz subcarrier).
gen_args=(--mpx --stereo --rf-cn 20 --seconds 40 --rate 171000 --rds2-logo "$top/tools/murlin-decode/tests/rds2_logo.png")
"$build/bin/rdsgen" "${gen_args[@]}" -o "$work/features.wav" "$work/station.rds"

# The monitor's settings: its own folder, naming the location table.
config="$work/config"
mkdir -p "$config/ostrand-software"
hex=$(printf '%s' "$tmc" | od -An -tx1 | tr -d ' \n')
cat >"$config/ostrand-software/settings.reg" <<EOF
Ostrand Software settings store 1
key SOFTWARE
key SOFTWARE%5COstrand%20Software
key SOFTWARE%5COstrand%20Software%5CVarnak
value TmcLocations 1 ${hex}00
EOF

mkdir -p "$top/docs"
XDG_CONFIG_HOME="$config" "$build/bin/varnak" -platform offscreen --exit-when-done --history \
  --screenshot "$top/docs/features.png" "$work/features.wav"
echo "Picture of the monitor and its history window: $top/docs/features.png"

# What JSON gives: the last object carrying each field.
json_fields=(enhancedRadiotext longPs dabEnsemble dabService tmcMessage place odaName rftFileReceived)
"$build/bin/murlin-decode" -q --json --rds2 --tmc-locations "$tmc" -o "$work/features.json" "$work/features.wav"
for field in "${json_fields[@]}"; do
  line=$(grep "\"$field\"" "$work/features.json" | tail -1 || true)
  value=$(printf '%s' "$line" | grep -o "\"$field\":\(\"[^\"]*\"\|{[^}]*}\)" | tail -1 || true)
  echo "${value:-\"$field\": (none)}"
done
