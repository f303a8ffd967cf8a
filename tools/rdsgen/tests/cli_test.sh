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

# Descriptions that cannot be read, or are not text: exit 1 and the reason.
mkdir "$dir/folder.rds"
{ printf 'pi 0xC2A1\n'; head -c 3000000 /dev/zero; } > "$dir/binary.rds"
head -c 3000000 /dev/zero | tr '\0' 'x' > "$dir/oneline.rds"
while IFS='|' read -r file message; do
  "$rdsgen" "$dir/$file" 2> "$dir/err" > /dev/null
  [ $? -eq 1 ] || fail "$file should exit 1"
  grep -q -- "$message" "$dir/err" || fail "$file: message: $(head -c 200 "$dir/err")"
done <<'CASES'
none.rds|none.rds: cannot open the description file: No such file or directory
folder.rds|folder.rds: cannot open the description file: Is a directory
binary.rds|binary.rds: not a text file
oneline.rds|oneline.rds:1: line longer than
CASES
rm -r "$dir/folder.rds" "$dir/binary.rds" "$dir/oneline.rds"

# Usage errors: exit 2, "rdsgen: what", then "Try 'rdsgen --help'."
while IFS='|' read -r args message; do
  # shellcheck disable=SC2086
  "$rdsgen" "$dir/good.rds" $args 2> "$dir/err" > /dev/null
  [ $? -eq 2 ] || fail "$args should exit 2"
  printf "rdsgen: %s\nTry 'rdsgen --help'.\n" "$message" | cmp -s - "$dir/err" || fail "$args: message: $(cat "$dir/err")"
done <<'CASES'
--error-rate 2|--error-rate: must be within 0..1
--bogus|unknown option '--bogus'
-x|unknown option '-x'
-o|option '-o' needs a file name
--seed|option '--seed' needs a value
CASES
"$rdsgen" --help > "$dir/help" || fail "--help should exit 0"
head -n 1 "$dir/help" | grep -qx "Usage: rdsgen \[options\] description" || fail "usage line: $(head -n 1 "$dir/help")"
rm -f "$dir/help"
"$rdsgen" --version | grep -q "^rdsgen [0-9]" || fail "--version"

# Outputs that are not regular files are written in place, never replaced.
mkfifo "$dir/pipe"
cat "$dir/pipe" > "$dir/from-pipe" &
reader=$!
"$rdsgen" "$dir/good.rds" -n 10 -o "$dir/pipe" || fail "writing into a pipe failed"
if [ -p "$dir/pipe" ]; then wait $reader; else fail "the pipe was replaced"; kill $reader; fi
[ "$(wc -c < "$dir/from-pipe")" -eq 1040 ] || fail "the pipe got $(wc -c < "$dir/from-pipe") bytes"
rm -f "$dir/pipe" "$dir/from-pipe"
if [ "$(id -u)" -eq 0 ]; then
  mknod "$dir/null" c 1 3  # a private copy of /dev/null
  "$rdsgen" "$dir/good.rds" -n 10 -o "$dir/null" || fail "writing into a device failed"
  [ -c "$dir/null" ] || fail "the device was replaced by a $(stat -c %F "$dir/null")"
  rm -f "$dir/null"
fi
# A device that refuses the text, and standard output on it: exit 1, the
# reason. As root the device is a private copy of /dev/full, so that a build
# that replaces devices cannot harm the machine.
full=/dev/full
if [ "$(id -u)" -eq 0 ]; then full="$dir/full"; mknod "$full" c 1 7; fi
"$rdsgen" "$dir/good.rds" -n 10 -o "$full" 2> "$dir/err"
[ $? -eq 1 ] || fail "a full device should exit 1"
grep -qx "rdsgen: cannot write $full: No space left on device" "$dir/err" || fail "message: $(cat "$dir/err")"
[ -c "$full" ] || fail "the full device was replaced"
rm -f "$dir/full"
"$rdsgen" "$dir/good.rds" -n 10 > /dev/full 2> "$dir/err"
[ $? -eq 1 ] || fail "a full standard output should exit 1"
grep -qx "rdsgen: cannot write standard output: No space left on device" "$dir/err" || fail "message: $(cat "$dir/err")"

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
