"""Speed of the Python module against the tool, and whether threads overlap (GIL released).

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_bench.py \
        --tool build/release/apps/tolvane [--count 1000000] [--repeat 5]

1. Distance and phantom end to end on the same files: the tool's wall time (process start,
   reading, computing; output to /dev/null) against tolvane.read + tolvane.distance /
   tolvane.analyze_phantom in this process. Both use the same thread count for the distance.
   Runs the two in turns, --repeat times each, and reports the medians and the ratio
   Python / tool.
2. Two threads each running tolvane.distance (threads=1) at the same time against the same two
   calls one after the other: the ratio sequential / concurrent is about the number of cores
   the two threads get (2 on two free cores) when the GIL is released, 1 when it is not.

Run it on a quiet machine: other work on the cores moves every figure.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

import tolvane


def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def paired_medians(fa, fb, repeat):
    """Medians of fa and fb run in turns, so that both meet the same load on the machine."""
    a, b = [], []
    for _ in range(repeat):
        a.append(timed(fa))
        b.append(timed(fb))
    return statistics.median(a), statistics.median(b)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--tool", required=True, help="the built tolvane program")
    ap.add_argument("--count", type=int, default=1000000, help="surfels per scan")
    ap.add_argument("--phantom-count", type=int, default=1000000, help="surfels of the phantom")
    ap.add_argument("--repeat", type=int, default=5)
    ap.add_argument("--threads", type=int, default=os.cpu_count() or 1,
                    help="distance threads of both the tool and Python")
    a = ap.parse_args()

    with tempfile.TemporaryDirectory() as d:
        ref, mov, ph = (os.path.join(d, n) for n in ("ref.ply", "mov.ply", "phantom.ply"))
        tolvane.generate_phantom(count=a.count, noise=0.0, seed=1).write(ref)
        tolvane.generate_phantom(count=a.count, noise=0.005, seed=2).write(mov)
        tolvane.generate_phantom(count=a.phantom_count, noise=0.005, seed=1).write(ph)

        def tool(*args):
            subprocess.run([a.tool, *args], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)

        rows = []
        t_tool, t_py = paired_medians(
            lambda: tool("distance", ref, mov, "--threads", str(a.threads)),
            lambda: tolvane.distance(tolvane.read(ref), tolvane.read(mov), threads=a.threads),
            a.repeat)
        rows.append((f"distance {a.count} x {a.count} surfels, {a.threads} threads", t_tool, t_py))
        t_tool, t_py = paired_medians(
            lambda: subprocess.run([a.tool, "phantom", ph, "--seed", "1"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL),
            lambda: tolvane.analyze_phantom(tolvane.read(ph), seed=1), a.repeat)
        rows.append((f"phantom {a.phantom_count} surfels", t_tool, t_py))

        print(f"{'end to end (median of %d)' % a.repeat:<44} {'tool s':>8} {'python s':>9} "
              f"{'python/tool':>12}")
        for name, t, p in rows:
            print(f"{name:<44} {t:8.3f} {p:9.3f} {p / t:12.3f}")

        # Threads: the collections are read once; each call measures the same pair.
        r, m = tolvane.read(ref), tolvane.read(mov)
        tolvane.distance(r, m, threads=1)  # builds the reference's search tree once

        def one():
            tolvane.distance(r, m, threads=1)

        def two_threads():
            ts = [threading.Thread(target=one) for _ in range(2)]
            for t in ts:
                t.start()
            for t in ts:
                t.join()

        sequential, concurrent = paired_medians(lambda: (one(), one()), two_threads, a.repeat)
        cpu = time.process_time()
        wall = timed(two_threads)
        cpu = time.process_time() - cpu
        print(f"\ntwo distance calls (threads=1 each), median of {a.repeat}:")
        print(f"  one after the other {sequential:.3f} s, in two Python threads {concurrent:.3f} s,"
              f" overlap {sequential / concurrent:.2f}x")
        print(f"  during the two threads the process used {cpu / wall:.2f} cores on average "
              f"(CPU time {cpu:.3f} s over {wall:.3f} s; at most 1 while the GIL is held)")


if __name__ == "__main__":
    sys.exit(main())
