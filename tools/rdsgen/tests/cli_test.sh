#!/bin/sh
# Runs the rdsgen program: errors name what is wrong and leave the output
# file as it was; good runs write it whole.
set -u
rdsgen=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

cat > "$dir/good.rds" <<'X'
pi 0xC2A1
ps "KESTREL "
X
printf 'pi 0xC2A1\nps "KESTREL"\npty 40\n' > "$dir/bad.rds"

# A bad description: exit 1, file:line: problem, the old output untouched.
echo "old contents" > "$dir/out.txt"
"$rdsgen" "$dir/bad.rds" -o "$dir/out.txt" 2> "$dir/err"
[ $? -eq 1 ] || fail "bad description should exit 1"
grep -q "bad.rds:3: pty: 40 is out of range 0..31" "$dir/err" || fail "message: $(cat "$dir/err")"
[ "$(cat "$dir/out.txt")" = "old contents" ] || fail "output file changed by a failed run"

# A missing description file.
"$rdsgen" "$dir/none.rds" 2> "$dir/err" > /dev/null
[ $? -eq 1 ] || fail "missing description should exit 1"
grep -q "none.rds: cannot open the description file" "$dir/err" || fail "message: $(cat "$dir/err")"

# A bad option: exit 2 and the option named.
"$rdsgen" "$dir/good.rds" --error-rate 2 2> "$dir/err" > /dev/null
[ $? -eq 2 ] || fail "bad option should exit 2"
grep -q -- "--error-rate: must be within 0..1" "$dir/err" || fail "message: $(cat "$dir/err")"

# An output folder that does not exist: an error, nothing written.
"$rdsgen" "$dir/good.rds" -o "$dir/no/such/out.txt" 2> "$dir/err"
[ $? -eq 1 ] || fail "unwritable output should exit 1"
grep -q "no/such/out.txt" "$dir/err" || fail "message: $(cat "$dir/err")"

# The description itself as output: refused, the description kept.
cp "$dir/good.rds" "$dir/keep.rds"
"$rdsgen" "$dir/keep.rds" -o "$dir/keep.rds" 2> "$dir/err"
[ $? -eq 2 ] || fail "output over the description should exit 2"
cmp -s "$dir/good.rds" "$dir/keep.rds" || fail "description overwritten"
rm -f "$dir/keep.rds"

# A good run replaces the file whole, and leaves no temporary file behind.
"$rdsgen" "$dir/good.rds" -n 10 -o "$dir/out.txt" || fail "good run failed"
[ "$(wc -c < "$dir/out.txt")" -eq 1040 ] || fail "10 groups should be 1040 bits"
[ "$(ls "$dir" | wc -l)" -eq 4 ] || fail "stray files: $(ls "$dir")"

# Standard output: the same bits; hex: the same bits packed.
"$rdsgen" "$dir/good.rds" -n 10 -o - > "$dir/stdout.txt" || fail "stdout run failed"
cmp -s "$dir/out.txt" "$dir/stdout.txt" || fail "-o - differs from -o file"
[ "$("$rdsgen" "$dir/good.rds" -n 10 --hex | wc -c)" -eq 260 ] || fail "hex of 1040 bits should be 260 characters"
"$rdsgen" --help | grep -q "Description file" || fail "--help lacks the format summary"

[ $fails -eq 0 ] && echo "all rdsgen program checks passed"
exit $fails
