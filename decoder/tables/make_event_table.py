#!/usr/bin/env python3
"""Generates decoder/src/event_table.cpp, the TMC event table of the decoder.

The table holds the 1375 event codes of the older ALERT-C edition that the
decoder reports; the phrases come from the public ALERT-C event list
(alertc-events.csv, semicolon separated). Each phrase is the list's phrase
with its first letter in upper case and its curly-brace notes dropped. Where
the list also gives a phrase with the quantifier Q, both are merged into one
phrase whose optional part stands in brackets: "accident" and "(Q) accidents"
give "(Q) accident(s)".

It also writes formats/tmc_quantifier_table.cpp: for every code of the
table that takes a quantifier, the list's quantifier type (0..12), which
says how the quantifier's value reads (a count, a speed, a time, ...).

Usage: make_event_table.py [--csv PATH] [--out PATH] [--check | --verify]
  --csv     the event list (default: ../shared/data/alertc-events.csv beside
            the repository)
  --out     the C++ file to write (default: decoder/src/event_table.cpp)
  --check   do not write; exit 1 when the checked-in file differs from what
            the event list gives
  --verify  without the event list: exit 1 unless the checked-in file is
            this script's rendering of the script's own code list and fixed
            phrases (the build's test, which needs nothing outside the tree)
Standard library only, so it runs wherever python3 does.
"""

import argparse
import csv
import os
import re
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", ".."))
DEFAULT_CSV = os.path.normpath(os.path.join(REPO, "..", "shared", "data", "alertc-events.csv"))
DEFAULT_OUT = os.path.join(REPO, "decoder", "src", "event_table.cpp")
QUANTIFIER_OUT = os.path.join(REPO, "formats", "tmc_quantifier_table.cpp")

# The codes of the table, ascending; a-b stands for every code from a to b.
CODE_RANGES = """
1-2 11-12 16 20 22-28 36-37 40-42 51-53 55-57 61-64 70-76 91 101-143 200-272
274-383 385 387-388 390-397 399 401-663 671-673 676 678-680 701-856 898-1045
1047-1048 1050 1054-1070 1073-1075 1079-1083 1101-1116 1126-1128 1130 1132
1134-1137 1170-1180 1190-1191 1201-1205 1209-1215 1217 1301-1305 1307-1310
1312-1314 1318-1326 1332 1337-1338 1340 1345-1346 1450-1496 1501-1591
1601-1663 1695-1696 1700-1712 1720-1721 1731-1741 1751-1771 1801-1852
1854-1857 1861-1862 1864-1911 1913-1916 1918 1920-1932 1934 1938 1940-1957
1961-1963 1971-1974 1977-1979 1982 2000 2006-2007 2013 2021-2022 2028-2030
2033-2035 2038-2040 2047
"""

# Rows whose wording the decoder has always reported; monitors and stored
# decode logs compare against these exact texts, so they are kept as they are.
FIXED_PHRASES = {
    102: "Stationary traffic for km",
    2013: "Dervice area busy",
    2021: "Dervice not operating, substitute service available",
    2047: "Null message",
}

MAX_LENGTH = 78

TOKEN = re.compile(r"(\s*)([^\s.,;:]+|[.,;:])")


def table_codes():
    codes = []
    for part in CODE_RANGES.split():
        first, _, last = part.partition("-")
        codes.extend(range(int(first), int(last or first) + 1))
    return codes


def clean(phrase):
    """Drops curly-brace notes, normalises the quantifier mark and spaces."""
    phrase = re.sub(r"\s*\{[^}]*\}", "", phrase)
    phrase = re.sub(r"\(Q\)(?=\w)", "Q ", phrase)  # "(Q)lanes" in the list
    phrase = phrase.replace("(Q)", "Q")
    return " ".join(phrase.split())


def is_plural(singular, plural):
    return plural in (singular + "s", singular + "es") or (
        singular.endswith("y") and plural == singular[:-1] + "ies")


def merge_plural(singular, plural):
    """'accident', 'accidents' -> 'accident(s)'; 'lorry', 'lorries' -> 'lorr(y/ies)'."""
    common = os.path.commonprefix([singular, plural])
    rest_s, rest_p = singular[len(common):], plural[len(common):]
    return common + ("(%s)" % rest_p if not rest_s else "(%s/%s)" % (rest_s, rest_p))


def merge(plain, with_q):
    """Merges the phrase without and with quantifier into one phrase.

    The two are aligned word by word (a longest common subsequence in which
    a word also matches its plural); words only the quantified phrase has go
    in brackets, a word that turns plural gets its plural ending in brackets.
    Words only the plain phrase has are kept as they are.
    """
    a, b = TOKEN.findall(plain), TOKEN.findall(with_q)

    def same(x, y):
        return x == y or is_plural(x, y)

    n, m = len(a), len(b)
    lcs = [[0] * (m + 1) for _ in range(n + 1)]
    for i in range(n - 1, -1, -1):
        for j in range(m - 1, -1, -1):
            if same(a[i][1], b[j][1]):
                lcs[i][j] = lcs[i + 1][j + 1] + 1
            else:
                lcs[i][j] = max(lcs[i + 1][j], lcs[i][j + 1])

    out = []
    inserted = []  # tokens of the quantified phrase waiting for their brackets

    def flush():
        if inserted:
            out.append(inserted[0][0] + "(" + "".join(
                [inserted[0][1]] + [s + t for s, t in inserted[1:]]) + ")")
            inserted.clear()

    i = j = 0
    while i < n or j < m:
        if i < n and j < m and same(a[i][1], b[j][1]) and lcs[i][j] == lcs[i + 1][j + 1] + 1:
            flush()
            word = a[i][1] if a[i][1] == b[j][1] else merge_plural(a[i][1], b[j][1])
            # The quantified phrase's spacing: after a bracketed insertion at
            # the start the plain phrase has no space before this word.
            out.append((b[j][0] if out else "") + word)
            i += 1
            j += 1
        elif j < m and (i == n or lcs[i][j + 1] >= lcs[i + 1][j]):
            inserted.append(b[j])
            j += 1
        else:
            flush()
            out.append(a[i][0] + a[i][1])
            i += 1
    flush()
    return "".join(out).strip()


def capitalise(phrase):
    # A phrase that is wholly a bracketed note, "(null event)", loses the brackets.
    if phrase.startswith("(") and phrase.endswith(")") and phrase.count("(") == 1:
        phrase = phrase[1:-1]
    for k, ch in enumerate(phrase):
        if ch.isalpha():
            return phrase[:k] + ch.upper() + phrase[k + 1:]
    return phrase


def build_rows(csv_path):
    try:
        with open(csv_path, newline="", encoding="utf-8") as f:
            reader = csv.DictReader(f, delimiter=";")
            listed = {}
            quantifiers = {}
            for line, rec in enumerate(reader, start=2):
                try:
                    code = int(rec["Code"])
                except (TypeError, ValueError):
                    raise SystemExit("%s:%d: bad event code %r" % (csv_path, line, rec.get("Code")))
                listed[code] = (rec["Description"] or "", rec["Description with Q"] or "")
                quantifiers[code] = int(rec["Q"] or 0)
    except OSError as e:
        raise SystemExit("%s: %s (give the event list with --csv)" % (csv_path, e.strerror))

    rows = []
    qrows = []
    for code in table_codes():
        if code not in listed:
            raise SystemExit("%s: event code %d is missing from the list" % (csv_path, code))
        plain, with_q = (clean(p) for p in listed[code])
        if with_q:
            qrows.append((code, quantifiers[code]))
        if code in FIXED_PHRASES:
            phrase = FIXED_PHRASES[code]
        elif not with_q:
            phrase = capitalise(plain)
        else:
            phrase = capitalise(merge(plain, with_q))
            # Phrases fit a display line of MAX_LENGTH characters, or the
            # list's own phrase where that is longer already; a merged phrase
            # that would not fit gives way to the quantified phrase as it is.
            if len(phrase) > max(MAX_LENGTH, len(with_q)):
                phrase = capitalise(with_q)
        rows.append((code, phrase))
    return rows, qrows


def c_string(text):
    if any(ord(ch) < 0x20 or ord(ch) > 0x7E for ch in text):
        raise SystemExit("phrase with a character outside printable ASCII: %r" % text)
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def render(rows):
    lines = [
        "// Generated by decoder/tables/make_event_table.py from the ALERT-C event",
        "// list; edit the script, not this file.",
        '#include "event_table.h"',
        "",
        "namespace murlin {",
        "",
        "const EventRow kEventTable[] = {",
    ]
    lines += ["    {%d, %s}," % (code, c_string(text)) for code, text in rows]
    lines += [
        "};",
        "",
        "const int kEventTableSize = %d;" % len(rows),
        "",
        "}  // namespace murlin",
        "",
    ]
    return "\n".join(lines)


def render_quantifiers(qrows):
    lines = [
        "// Generated by decoder/tables/make_event_table.py from the ALERT-C event",
        "// list; edit the script, not this file.",
        '#include "tmc_message.h"',
        "",
        "namespace rdsformats {",
        "",
        "// Event code and quantifier type of every event that takes a quantifier,",
        "// in ascending order of code.",
        "const TmcQuantifierRow kTmcQuantifierRows[] = {",
    ]
    per_line = 6
    for i in range(0, len(qrows), per_line):
        lines.append("    " + " ".join("{%d, %d}," % r for r in qrows[i:i + per_line]))
    lines += [
        "};",
        "",
        "const int kTmcQuantifierRowCount = %d;" % len(qrows),
        "",
        "}  // namespace rdsformats",
        "",
    ]
    return "\n".join(lines)


def write_atomically(path, text):
    # Written beside the target and renamed, so a failed run leaves the old file.
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(dir=folder, prefix=".event_table.")
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
        os.chmod(tmp, 0o644)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


ROW = re.compile(r'^    \{(\d+), "((?:[^"\\]|\\.)*)"\},$')


def verify(path):
    """Problems of the checked-in table against the script's own inputs."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except OSError as e:
        return ["%s: %s" % (path, e.strerror)]
    rows = []
    for line in text.splitlines():
        m = ROW.match(line)
        if m:
            rows.append((int(m.group(1)), re.sub(r"\\(.)", r"\1", m.group(2))))
    problems = []
    codes = [code for code, _ in rows]
    if codes != table_codes():
        missing = sorted(set(table_codes()) - set(codes))
        extra = sorted(set(codes) - set(table_codes()))
        problems.append("%s: codes differ from the code list (missing %s, extra %s, or out of order)"
                        % (path, missing[:10], extra[:10]))
    by_code = dict(rows)
    for code, phrase in sorted(FIXED_PHRASES.items()):
        if by_code.get(code) != phrase:
            problems.append("%s: event %d reads %r, not the fixed %r"
                            % (path, code, by_code.get(code), phrase))
    try:
        if render(rows) != text:
            problems.append("%s: not in the generator's layout; regenerate it" % path)
    except SystemExit as e:
        problems.append("%s: %s" % (path, e))
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--csv", default=DEFAULT_CSV, help="the ALERT-C event list")
    ap.add_argument("--out", default=DEFAULT_OUT, help="the C++ file to write")
    ap.add_argument("--check", action="store_true", help="compare instead of writing")
    ap.add_argument("--verify", action="store_true",
                    help="check the checked-in file against the script's own inputs only")
    ap.add_argument("--stats", action="store_true", help="print counts of the table")
    args = ap.parse_args()

    if args.verify:
        problems = verify(args.out)
        for problem in problems:
            print(problem, file=sys.stderr)
        return 1 if problems else 0

    rows, qrows = build_rows(args.csv)
    text = render(rows)
    qtext = render_quantifiers(qrows)
    if args.stats:
        phrases = [t for _, t in rows]
        print("rows %d, with Q %d, distinct %d, longest %d"
              % (len(rows), sum("Q" in t for t in phrases), len(set(phrases)),
                 max(map(len, phrases))))
    if args.check:
        stale = 0
        for path, wanted in ((args.out, text), (QUANTIFIER_OUT, qtext)):
            try:
                with open(path, encoding="utf-8") as f:
                    same = f.read() == wanted
            except OSError:
                same = False
            if not same:
                print("%s is out of date" % path, file=sys.stderr)
                stale = 1
        return stale
    write_atomically(args.out, text)
    write_atomically(QUANTIFIER_OUT, qtext)
    return 0


if __name__ == "__main__":
    sys.exit(main())
