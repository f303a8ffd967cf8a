#!/usr/bin/env python3
"""Timed measurement of the live path without a card.

1. cardsim's stream rate: a bare protocol client connects card 1, sets the
   bit-stream mode and counts the bits that arrive; the rate should be
   1187.5 bit/s times the speed factor.
2. cardctl live against cardsim: how many of the streamed bits the card
   client (one 40 ms look per extractor step, every buffered frame taken in
   it) saves with --hex-out, for a few speed factors and batch intervals;
   the target is every bit up to 20 times the bit rate in 10 ms batches.

Usage: stream_rate.py [BUILD_BIN_DIR] (default build/release/bin)
"""
import os
import re
import socket
import struct
import subprocess
import sys
import tempfile
import time

MARKER = bytes([0x34, 0x27, 0x83, 0x27])
BIT_RATE = 1187.5


def start_sim(bindir, args):
    p = subprocess.Popen([os.path.join(bindir, "cardsim"), "--port", "0"] + args,
                         stdout=subprocess.PIPE, text=True)
    line = p.stdout.readline()
    return p, int(line.strip().rsplit(":", 1)[1])


class Client:
    def __init__(self, port):
        self.s = socket.create_connection(("127.0.0.1", port))
        self.s.settimeout(0.2)
        self.buf = b""
        self.seq = 0

    def frame(self, deadline):
        while time.time() < deadline:
            i = self.buf.find(MARKER)
            if i >= 0 and len(self.buf) - i >= 16:
                _, seq, length, _ = struct.unpack("<Iiii", self.buf[i:i + 16])
                if len(self.buf) - i - 16 >= length:
                    payload = self.buf[i + 16:i + 16 + length]
                    self.buf = self.buf[i + 16 + length:]
                    return seq, payload
            try:
                self.buf += self.s.recv(65536)
            except socket.timeout:
                pass
        return None

    def send(self, seq, payload):
        self.s.sendall(struct.pack("<Iiii", 0x27832734, seq, len(payload), 1) + payload)

    def command(self, body):
        self.seq += 1
        xml = b'<Message version="1.0">\r\n<Command>\r\n' + body + b"</Command>\r\n</Message>\r\n"
        self.send(self.seq, struct.pack("<I", 0x03000000) + xml)

    def handshake(self):
        deadline = time.time() + 5
        seq, _ = self.frame(deadline)
        self.send(seq, struct.pack("<I", 0x00200000) + bytes(28))
        seq, _ = self.frame(deadline)
        self.send(seq, struct.pack("<I", 0x00200002))
        self.seq = seq


def sim_rate(bindir, bits_file, speed, seconds=4.0):
    sim, port = start_sim(bindir, ["--bits", bits_file, "--loop", "--speed", str(speed)])
    try:
        c = Client(port)
        c.handshake()
        c.command(b'<Connect>\r\n<Card number="1"/>\r\n</Connect>\r\n')
        c.command(b'<Set>\r\n<ParameterList>\r\n<Parameter name="modulation" value="dbpsk"/>\r\n'
                  b'<Parameter name="code" value="hf-analysis-bit-stream"/>\r\n\r\n</ParameterList>\r\n\r\n</Set>\r\n')
        first = None
        total = 0
        end = time.time() + seconds + 5
        while time.time() < end:
            f = c.frame(end)
            if f is None:
                break
            m = re.search(rb'bit-count="(\d+)"', f[1])
            if not m:
                continue
            now = time.time()
            if first is None:
                first = now     # count from the first batch on
                end = first + seconds
                continue
            total += int(m.group(1))
            last = now
        return total / (last - first)
    finally:
        sim.kill()


def cardctl_share(bindir, bits_file, speed, batch_ms, seconds=3.0):
    sim, port = start_sim(bindir, ["--bits", bits_file, "--loop", "--speed", str(speed),
                                   "--batch-ms", str(batch_ms)])
    try:
        with tempfile.TemporaryDirectory() as d:
            hexfile = os.path.join(d, "out.hex")
            t0 = time.time()
            r = subprocess.run([os.path.join(bindir, "cardctl"), "--port", str(port), "--card", "1",
                                "--seconds", str(seconds), "--hex-out", hexfile, "live"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            wall = time.time() - t0
            if r.returncode != 0:
                return None
            saved = sum(len(l.strip()) * 4 for l in open(hexfile))
            frames = r.stdout.count('"OnCardDataBinary"')
            # Streaming starts with the mode request, about 0.05 s into the run.
            streamed = BIT_RATE * speed * (wall - 0.1)
            return saved, streamed, frames, wall
    finally:
        sim.kill()


def main():
    bindir = sys.argv[1] if len(sys.argv) > 1 else "build/release/bin"
    here = os.path.dirname(os.path.abspath(__file__))
    bits_file = os.path.join(here, "..", "..", "data", "samples", "station.txt")
    print("cardsim stream rate (bare client, 4 s):")
    for speed in (1, 10, 50):
        rate = sim_rate(bindir, bits_file, speed)
        print(f"  speed {speed:>3}: {rate:10.1f} bit/s (expected {BIT_RATE * speed:10.1f}, "
              f"{100 * rate / (BIT_RATE * speed):5.1f} %)")
    print("cardctl live, --seconds 3 (about 8 s with the start sequence):")
    for speed, batch_ms in ((1, 250), (10, 250), (20, 10), (50, 250)):
        res = cardctl_share(bindir, bits_file, speed, batch_ms)
        if res is None:
            print(f"  speed {speed:>3}, batches of {batch_ms:>3} ms: cardctl failed")
            continue
        saved, streamed, frames, wall = res
        print(f"  speed {speed:>3}, batches of {batch_ms:>3} ms: saved {saved:8d} bits of about "
              f"{streamed:9.0f} streamed ({100 * saved / streamed:5.1f} %), {frames} data events in {wall:.1f} s")


if __name__ == "__main__":
    main()
