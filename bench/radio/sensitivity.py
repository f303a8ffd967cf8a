#!/usr/bin/env python3
"""Sensitivity of the multiplex input: groups decoded against the RDS CNR.

For every CNR and seed, rdsgen --mpx makes a signal of the sample station
with white noise at that CNR and lists the groups it sent; murlin-decode
--mpx --json decodes it from standard input. A decoded group is correct when
its four block words equal those of a transmitted group, wrong when they
equal none. Prints a Markdown table and, with --plot, draws it.

Usage: sensitivity.py BIN_DIR STATION [--seconds 60] [--seeds 1,2,3]
                      [--cnr -8:4] [--rate 171000] [--plot FILE.png]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

def run_point(bins, station, cnr, seed, seconds, rate, work):
    groups_path = os.path.join(work, "sent.txt")
    gen = subprocess.Popen(
        [os.path.join(bins, "rdsgen"), station, "--mpx", "--raw", "-o", "-", "-d", str(seconds),
         "--cnr", str(cnr), "--seed", str(seed), "--rate", str(rate), "--list-groups", groups_path],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    dec = subprocess.run(
        [os.path.join(bins, "murlin-decode"), "--mpx", "--rate", str(rate), "--json", "-q", "-o", "-", "-"],
        stdin=gen.stdout, capture_output=True, text=True)
    gen.stdout.close()
    # Exit status 1 with "no group decoded" is a point where nothing got through.
    nothing = dec.returncode == 1 and "no group decoded" in dec.stderr
    if gen.wait() != 0 or (dec.returncode != 0 and not nothing):
        sys.exit("failed at CNR %s seed %s: %s%s" % (cnr, seed, gen.stderr.read().decode(), dec.stderr))
    with open(groups_path) as f:
        sent = [tuple(line.split()) for line in f if line.strip()]
    got = [tuple(json.loads(line)["blocks"]) for line in dec.stdout.splitlines() if line.strip()]
    sent_set = set(sent)
    correct = sum(1 for g in got if g in sent_set)
    return len(sent), correct, len(got) - correct


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("bins")
    p.add_argument("station")
    p.add_argument("--seconds", type=float, default=60)
    p.add_argument("--seeds", default="1,2,3")
    p.add_argument("--cnr", default="-8:4", help="first:last in dB, 1 dB steps")
    p.add_argument("--rate", type=int, default=171000)
    p.add_argument("--plot")
    a = p.parse_args()
    first, last = (int(v) for v in a.cnr.split(":"))
    seeds = [int(s) for s in a.seeds.split(",")]

    rows = []
    with tempfile.TemporaryDirectory() as work:
        for cnr in range(first, last + 1):
            sent = correct = wrong = 0
            for seed in seeds:
                s, c, w = run_point(a.bins, a.station, cnr, seed, a.seconds, a.rate, work)
                sent, correct, wrong = sent + s, correct + c, wrong + w
            rows.append((cnr, sent, correct, wrong))
            print("CNR %+d dB: %d of %d correct, %d wrong" % (cnr, correct, sent, wrong), file=sys.stderr)

    print("| CNR (dB) | Eb/N0 (dB) | groups sent | correct | correct % | wrong |")
    print("|---:|---:|---:|---:|---:|---:|")
    for cnr, sent, correct, wrong in rows:
        print("| %+d | %.1f | %d | %d | %.1f | %d |" % (cnr, cnr + 6.1, sent, correct, 100.0 * correct / sent, wrong))

    if a.plot:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        x = [r[0] for r in rows]
        fig, ax = plt.subplots(figsize=(7, 4.2), dpi=110)
        ax.plot(x, [100.0 * r[2] / r[1] for r in rows], "o-", label="groups correct")
        ax.set_xlabel("RDS carrier-to-noise ratio in 4.8 kHz (dB)")
        ax.set_ylabel("groups correct (%)")
        ax.set_ylim(0, 101)
        ax.grid(True, alpha=0.4)
        ax2 = ax.twinx()
        ax2.bar(x, [r[3] for r in rows], width=0.4, color="tab:red", alpha=0.5, label="wrong groups")
        ax2.set_ylabel("wrong groups (count)")
        ax2.set_ylim(0, max(5, max(r[3] for r in rows) * 2))
        lines = ax.get_legend_handles_labels()
        bars = ax2.get_legend_handles_labels()
        ax.legend(lines[0] + bars[0], lines[1] + bars[1], loc="center right")
        ax.set_title("murlin-decode --mpx, %d Hz, %g s x %d seed%s per point"
                     % (a.rate, a.seconds, len(seeds), "" if len(seeds) == 1 else "s"))
        fig.tight_layout()
        fig.savefig(a.plot)
        print("plot: " + a.plot, file=sys.stderr)


if __name__ == "__main__":
    main()
