#!/usr/bin/env python3
"""Benchmarks of murlin-decode on IQ captures made by rdsgen --iq.

speed        10 stations in a 2.4 MS/s cu8 capture (one core), 40 stations
             in a 10 MS/s cs16 capture, one station by --freq: times real
             time (capture length over CPU time) and peak memory.
sensitivity  groups correct per station against the RF C/N (of each
             station, in 200 kHz), 4 stations per capture; with --plot a
             picture of it.
Every station sends a stereo programme at 67.5 kHz deviation and RDS at
4 kHz.
selectivity  a station beside one 20 dB stronger 200 kHz away, at C/N 20
             dB; and phantoms: stations found that were not sent, over
             every capture of the run.

A decoded group is correct when its four block words are those of a group
its station sent (rdsgen --list-groups), wrong when they are not.

Usage: band.py BIN_DIR STATION speed|sensitivity|selectivity [--seconds N]
               [--plot FILE.png]
"""
import argparse
import collections
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

phantoms = 0


def stations_for(station, work, count):
    """`count` copies of the description, each with its own PI and PS."""
    with open(station) as f:
        text = f.read().splitlines()
    paths = []
    for i in range(count):
        lines = []
        for line in text:
            if line.startswith("pi "):
                line = "pi 0x%04X" % (0xC100 + i)
            elif line.startswith("ps "):
                line = 'ps "BAND%02d  "' % i
            lines.append(line)
        path = os.path.join(work, "s%d.rds" % i)
        with open(path, "w") as f:
            f.write("\n".join(lines) + "\n")
        paths.append(path)
    return paths


def make(bins, work, name, fmt, rate, center, stations, cn, seconds):
    """Writes a capture; `stations` are (MHz, description, level dB)."""
    out = os.path.join(work, name)
    args = [os.path.join(bins, "rdsgen"), "--iq", fmt, "--rate", str(rate), "--center", str(center),
            "--stereo", "--rds-khz", "4", "-d", str(seconds), "--list-groups", out + ".groups", "-o", out]
    for mhz, path, level in stations:
        args += ["--station", "%gM:%s:%g" % (mhz, path, level)]
    if cn is not None:
        args += ["--cn", str(cn)]
    subprocess.run(args, check=True)
    sent = collections.defaultdict(set)
    counts = collections.Counter()
    with open(out + ".groups") as f:
        for line in f:
            mhz, *words = line.split()
            sent[round(float(mhz), 2)].add(tuple(words))
            counts[round(float(mhz), 2)] += 1
    return out, sent, counts


def decode(bins, capture, fmt, rate, center, extra=()):
    """Runs murlin-decode; returns groups by frequency, CPU seconds, peak RSS (kB)."""
    global phantoms
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.time()
    run = subprocess.run([os.path.join(bins, "murlin-decode"), "-q", "--iq", fmt, "--rate", str(rate), "--center",
                          str(center), "--json", "-o", "-", *extra, capture], capture_output=True, text=True)
    wall = time.time() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if run.returncode not in (0, 1):
        sys.exit("murlin-decode failed: " + run.stderr)
    got = collections.defaultdict(list)
    found = set()
    for line in run.stdout.splitlines():
        obj = json.loads(line)
        if "group" in obj:
            got[round(obj["freq"], 2)].append(tuple(obj["blocks"]))
        elif "station" in obj:
            found.add(round(obj["freq"], 2))
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    return got, found, cpu, wall, after.ru_maxrss


def score(sent, counts, got, found, freq):
    global phantoms
    phantoms += len(found - set(sent))
    groups = got.get(freq, [])
    correct = sum(1 for g in groups if g in sent[freq])
    return counts[freq], correct, len(groups) - correct


def speed(a, work, paths):
    rows = []
    if a.only == "forty":
        return forty_only(a, work, paths)
    ten = [(97.1 + 0.2 * i, paths[i % len(paths)], 0) for i in range(10)]
    cap, sent, counts = make(a.bins, work, "ten.cu8", "cu8", 2.4e6, 98e6, ten, 20, a.seconds)
    got, found, cpu, wall, rss = decode(a.bins, cap, "cu8", 2.4e6, 98e6)
    ok = sum(score(sent, counts, got, found, round(f, 2))[1] for f, _, _ in ten)
    rows.append(("10 stations, 2.4 MS/s cu8 (--band)", a.seconds / cpu, a.seconds / wall, rss / 1024,
                 100.0 * ok / sum(counts.values())))
    got, found, cpu, wall, rss = decode(a.bins, cap, "cu8", 2.4e6, 98e6, ["--freq", "98.1M"])
    ok = score(sent, counts, got, found, 98.1)
    rows.append(("1 station, 2.4 MS/s cu8 (--freq)", a.seconds / cpu, a.seconds / wall, rss / 1024,
                 100.0 * ok[1] / ok[0]))
    forty = [(96.1 + 0.2 * i, paths[i % len(paths)], 0) for i in range(40)]
    short = max(2.0, a.seconds / 4)
    cap, sent, counts = make(a.bins, work, "forty.cs16", "cs16", 10e6, 100e6, forty, 20, short)
    got, found, cpu, wall, rss = decode(a.bins, cap, "cs16", 10e6, 100e6, ["--raster", "100k"])
    ok = sum(score(sent, counts, got, found, round(f, 2))[1] for f, _, _ in forty)
    rows.append(("40 stations, 10 MS/s cs16 (--band)", short / cpu, short / wall, rss / 1024,
                 100.0 * ok / sum(counts.values())))
    print("| capture | times real time (CPU) | times real time (wall) | peak memory (MB) | groups correct (%) |")
    print("|---|---:|---:|---:|---:|")
    for r in rows:
        print("| %s | %.1f | %.1f | %.0f | %.1f |" % r)


def forty_only(a, work, paths):
    forty = [(96.1 + 0.2 * i, paths[i % len(paths)], 0) for i in range(40)]
    cap, sent, counts = make(a.bins, work, "forty.cs16", "cs16", 10e6, 100e6, forty, 20, a.seconds)
    got, found, cpu, wall, rss = decode(a.bins, cap, "cs16", 10e6, 100e6)
    ok = sum(score(sent, counts, got, found, round(f, 2))[1] for f, _, _ in forty)
    print("40 stations, 10 MS/s cs16: %.1f x real time (CPU), %.1f (wall), %.0f MB, %.1f %% correct, %d found" %
          (a.seconds / cpu, a.seconds / wall, rss / 1024, 100.0 * ok / sum(counts.values()), len(found)))


def sensitivity(a, work, paths):
    rows = []
    plan = [(97.3, 0), (97.7, 0), (98.3, 0), (98.7, 0)]
    for cn in a.cn:
        stations = [(f, paths[i], level) for i, (f, level) in enumerate(plan)]
        cap, sent, counts = make(a.bins, work, "cn.cu8", "cu8", 2.4e6, 98e6, stations, cn, a.seconds)
        got, found, _, _, _ = decode(a.bins, cap, "cu8", 2.4e6, 98e6)
        total = [score(sent, counts, got, found, f) for f, _ in plan]
        n, c, w = (sum(t[i] for t in total) for i in range(3))
        rows.append((cn, n, c, w))
        print("C/N %g dB: %d of %d correct, %d wrong" % (cn, c, n, w), file=sys.stderr)
    print("| RF C/N in 200 kHz (dB) | groups sent | correct | correct % | wrong |")
    print("|---:|---:|---:|---:|---:|")
    for cn, n, c, w in rows:
        print("| %g | %d | %d | %.1f | %d |" % (cn, n, c, 100.0 * c / n, w))
    if a.plot:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
        fig, ax = plt.subplots(figsize=(7, 4.2), dpi=110)
        ax.plot([r[0] for r in rows], [100.0 * r[2] / r[1] for r in rows], "o-", label="murlin-decode --band")
        ax.set_xlabel("RF carrier-to-noise ratio in 200 kHz (dB)")
        ax.set_ylabel("groups correct (%)")
        ax.set_ylim(0, 101)
        ax.grid(True, alpha=0.4)
        ax.legend(loc="lower right")
        ax.set_title("Every station of an IQ capture: groups decoded against C/N")
        fig.tight_layout()
        fig.savefig(a.plot)


def selectivity(a, work, paths):
    # The weak stations at C/N 20 dB; the strong one 20 dB above, at -6 dBFS
    # (a 0-dB station is at -20 dBFS), where an 8-bit capture does not clip.
    stations = [(97.8, paths[0], -14), (98.0, paths[1], 6), (98.5, paths[2], -14)]
    cap, sent, counts = make(a.bins, work, "adj.cu8", "cu8", 2.4e6, 98.1e6, stations, 34, a.seconds)
    got, found, _, _, _ = decode(a.bins, cap, "cu8", 2.4e6, 98.1e6)
    print("| station | level (dB) | groups sent | correct % | wrong |")
    print("|---|---:|---:|---:|---:|")
    for f, _, level in stations:
        n, c, w = score(sent, counts, got, found, f)
        print("| %.1f MHz | %+d | %d | %.1f | %d |" % (f, level, n, 100.0 * c / n, w))
    print("\nphantom stations over the run: %d" % phantoms)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("bins")
    p.add_argument("station")
    p.add_argument("what", choices=["speed", "sensitivity", "selectivity"])
    p.add_argument("--seconds", type=float, default=30)
    p.add_argument("--cn", type=lambda s: [float(v) for v in s.split(",")], default=[4, 5, 6, 7, 8, 9, 10, 12])
    p.add_argument("--plot")
    p.add_argument("--only", help="speed: 'forty' for the 40-station capture alone")
    a = p.parse_args()
    with tempfile.TemporaryDirectory() as work:
        paths = stations_for(a.station, work, 40)
        {"speed": speed, "sensitivity": sensitivity, "selectivity": selectivity}[a.what](a, work, paths)


if __name__ == "__main__":
    main()
