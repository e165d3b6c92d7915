"""Batch runs over many scans on a Dask cluster, one CSV row per scan or pair.

    python3 -m tolvane.batch phantom SCAN.ply... --out results.csv [--seed N]
    python3 -m tolvane.batch distance PAIRS.csv --out results.csv

By default a local cluster starts with one worker process per core (--workers N to choose);
--scheduler ADDRESS uses a running Dask scheduler instead (`dask scheduler` on one machine,
`dask worker ADDRESS` on each machine that should help), which is how a run grows past one
machine. Every worker must be able to import tolvane and read the files under the same paths.

Rows are written to --out as they arrive and flushed, so an interrupted run keeps what it
finished; running again with the same --out skips the scans or pairs already in it. A scan
that fails is a row with its error and never stops the run. A progress bar on stderr shows the
work when stderr is a terminal.

PAIRS.csv has a header with the columns `reference` and `moving` (paths, relative ones taken
from the CSV's folder) and optionally `max_distance` and `transform` (16 numbers in storage
order, column by column, as `tolvane distance --transform` takes them).

Phantom analyses are seeded (--seed, default 1) before every scan, so a row does not depend on
which worker ran it or in which order.
"""

from __future__ import annotations

import argparse
import csv
import io
import os
import sys
import time
from typing import Any, Callable, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple

_DEVIATION_COLUMNS = (["depth_deviation_um"]
                      + [f"{q}_{k}_deviation_um" for q in ("shearing", "width", "height")
                         for k in range(1, 5)])

#: Columns of a phantom row: the file, the status (ok: the verdict passed, fail: it did not,
#: error: no analysis), the verdict ("pass" or the first failing check), the analyzer's depth and
#: deviations from the nominal phantom in µm, the attempt kept and the attempts run, the time
#: and the error.
PHANTOM_COLUMNS = (["file", "status", "verdict", "mean_depth_mm"] + _DEVIATION_COLUMNS
                   + ["attempt", "attempts", "time_s", "error"])

#: Columns of a distance row: the pair, the status, the summary of `tolvane distance`, the time
#: and the error.
DISTANCE_COLUMNS = (["reference", "moving", "status", "surfels", "with_distance", "mean",
                     "standard_deviation", "rms", "minimum", "maximum", "p5", "p50", "p95",
                     "time_s", "error"])


def _text(v: Any) -> str:
    if v is None:
        return ""
    if isinstance(v, float):
        return repr(v)
    return str(v)


def phantom_row(path: str, seed: Optional[int] = 1) -> Dict[str, str]:
    """Analyses one scan file and returns its row (never raises for a bad scan: the row then
    holds status "error" and the message)."""
    import tolvane

    row = {c: "" for c in PHANTOM_COLUMNS}
    row["file"] = path
    start = time.perf_counter()
    try:
        d = tolvane.analyze_phantom(path, seed=seed).to_dict()
        verdict = d["verdict"]
        row["status"] = "ok" if verdict["pass"] else "fail"
        row["verdict"] = verdict["summary"]
        row["attempt"] = _text(verdict["attempt"])
        row["attempts"] = _text(verdict["attempts"])
        row["mean_depth_mm"] = _text(d["depth"]["mean_mm"])
        row["depth_deviation_um"] = _text(d["depth"]["deviation_um"])
        for q in ("shearing", "width", "height"):
            for k, v in enumerate(d[q]["deviation_um"], 1):
                row[f"{q}_{k}_deviation_um"] = _text(v)
    except Exception as e:  # a bad scan is a row, not the end of the run
        row["status"] = "error"
        row["error"] = f"{type(e).__name__}: {e}"
    row["time_s"] = f"{time.perf_counter() - start:.3f}"
    return row


def distance_row(pair: Dict[str, str]) -> Dict[str, str]:
    """Measures one pair ({"reference", "moving", "max_distance"?, "transform"?}) and returns
    its row (errors become the row's error)."""
    import numpy as np
    import tolvane

    row = {c: "" for c in DISTANCE_COLUMNS}
    row["reference"] = pair["reference"]
    row["moving"] = pair["moving"]
    start = time.perf_counter()
    try:
        transform = None
        if pair.get("transform"):
            m = [float(w) for w in pair["transform"].replace(",", " ").split()]
            if len(m) != 16:
                raise ValueError(f"transform: expected 16 numbers, found {len(m)}")
            transform = np.array(m).reshape(4, 4).T  # stored column by column
        max_distance = float(pair["max_distance"]) if pair.get("max_distance") else None
        base = pair.get("base", "")
        r = tolvane.distance(os.path.join(base, pair["reference"]),
                             os.path.join(base, pair["moving"]), transform, max_distance)
        row["status"] = "ok"
        for k, v in r.summary.items():
            row[k] = _text(v)
    except Exception as e:
        row["status"] = "error"
        row["error"] = f"{type(e).__name__}: {e}"
    row["time_s"] = f"{time.perf_counter() - start:.3f}"
    return row


def read_pairs(path: str) -> List[Dict[str, str]]:
    """The pairs of a PAIRS.csv, each with "base": the CSV's folder."""
    with open(path, newline="") as f:
        reader = csv.DictReader(f)
        if reader.fieldnames is None or not {"reference", "moving"} <= set(reader.fieldnames):
            raise ValueError(f"{path}: needs a header with the columns reference and moving")
        base = os.path.dirname(os.path.abspath(path))
        return [dict(r, base=base) for r in reader]


class _Output:
    """The results CSV, opened for appending: the rows already there (complete lines only; a
    line cut short by an interruption is dropped) tell what is done."""

    def __init__(self, path: str, columns: Sequence[str]):
        self.columns = list(columns)
        self.done: List[Dict[str, str]] = []
        text = ""
        if os.path.exists(path):
            with open(path, newline="") as f:
                text = f.read()
        if text and not text.endswith("\n"):
            text = text[: text.rfind("\n") + 1]
            with open(path, "w", newline="") as f:
                f.write(text)
        if text:
            reader = csv.DictReader(io.StringIO(text))
            if reader.fieldnames != self.columns:
                raise ValueError(f"{path}: holds other columns than a {columns[0]} batch writes")
            self.done = list(reader)
        self.file = open(path, "a", newline="")
        self.writer = csv.DictWriter(self.file, fieldnames=self.columns)
        if not text:
            self.writer.writeheader()
            self.file.flush()

    def write(self, row: Dict[str, str]) -> None:
        self.writer.writerow(row)
        self.file.flush()

    def close(self) -> None:
        self.file.close()


class _Progress:
    """A one-line progress bar on stderr, drawn only on a terminal."""

    def __init__(self, total: int, what: str, stream=sys.stderr):
        self.total, self.what, self.stream = total, what, stream
        self.done = self.failed = 0
        self.start = time.perf_counter()
        self.tty = hasattr(stream, "isatty") and stream.isatty()
        self.draw()

    def step(self, failed: bool) -> None:
        self.done += 1
        self.failed += int(failed)
        self.draw()

    def draw(self) -> None:
        if not self.tty:
            return
        width = 30
        filled = width * self.done // max(self.total, 1)
        elapsed = time.perf_counter() - self.start
        self.stream.write(f"\r[{'#' * filled}{'.' * (width - filled)}] {self.done}/{self.total} "
                          f"{self.what}, {self.failed} failed, {elapsed:.1f} s")
        self.stream.flush()

    def finish(self) -> None:
        if self.tty:
            self.stream.write("\n")
            self.stream.flush()


def run(kind: str, items: Sequence[Any], out: str, client: Any = None,
        seed: Optional[int] = 1, progress: bool = True) -> List[Dict[str, str]]:
    """Runs a batch of kind "phantom" (items: scan paths) or "distance" (items: pairs as
    read_pairs gives them) and appends one row per item not yet in `out`. With a Dask client
    the items run on its cluster as they are submitted; without one they run here in order.
    Returns the rows written by this run, in the order they arrived."""
    if kind == "phantom":
        columns, task = PHANTOM_COLUMNS, phantom_row
        key: Callable[[Any], Tuple[str, ...]] = lambda x: (x,)
        row_key: Callable[[Dict[str, str]], Tuple[str, ...]] = lambda r: (r["file"],)
        args: Callable[[Any], Tuple[Any, ...]] = lambda x: (x, seed)
    elif kind == "distance":
        columns, task = DISTANCE_COLUMNS, distance_row
        key = lambda p: (p["reference"], p["moving"])
        row_key = lambda r: (r["reference"], r["moving"])
        args = lambda p: (p,)
    else:
        raise ValueError(f"unknown batch kind '{kind}'")

    output = _Output(out, columns)
    seen = {row_key(r) for r in output.done}
    todo = []
    for item in items:
        if key(item) not in seen:
            seen.add(key(item))
            todo.append(item)
    bar = _Progress(len(todo), "scans" if kind == "phantom" else "pairs",
                    sys.stderr if progress else io.StringIO())
    written = []
    try:
        for row in _results(task, [args(i) for i in todo], client, columns, key, todo):
            output.write(row)
            written.append(row)
            bar.step(row["status"] != "ok")
    finally:
        bar.finish()
        output.close()
    return written


def _results(task, arguments, client, columns, key, items) -> Iterator[Dict[str, str]]:
    if client is None:
        for a in arguments:
            yield task(*a)
        return
    from distributed import as_completed

    futures = {client.submit(task, *a, pure=False): item for a, item in zip(arguments, items)}
    for future in as_completed(futures):
        try:
            yield future.result()
        except Exception as e:  # the worker itself died on this item
            row = {c: "" for c in columns}
            row.update(dict(zip(columns, key(futures[future]))))
            row["status"] = "error"
            row["error"] = f"{type(e).__name__}: {e}"
            yield row
        finally:
            future.release()


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m tolvane.batch",
        description="Phantom analyses or scan-pair distances over many files on a Dask "
                    "cluster, one CSV row each.")
    sub = parser.add_subparsers(dest="kind", required=True)
    ph = sub.add_parser("phantom", help="analyse scans of the calibration phantom")
    ph.add_argument("paths", nargs="+", metavar="PATH", help="scan files")
    ph.add_argument("--seed", type=int, default=1,
                    help="srand(SEED) before every analysis (default 1)")
    di = sub.add_parser("distance", help="signed distances of scan pairs")
    di.add_argument("pairs", metavar="PAIRS.csv",
                    help="CSV with columns reference, moving [, max_distance, transform]")
    for p in (ph, di):
        p.add_argument("--out", required=True, help="results CSV (appended to; done rows kept)")
        p.add_argument("--scheduler", metavar="ADDRESS",
                       help="address of a running Dask scheduler (default: a local cluster)")
        p.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                       help="workers of the local cluster (default: one per core)")
        p.add_argument("--sequential", action="store_true",
                       help="run in this process, one item after another (no cluster)")
    a = parser.parse_args(argv)

    try:
        items = a.paths if a.kind == "phantom" else read_pairs(a.pairs)
    except (OSError, ValueError) as e:
        print(f"tolvane.batch: {e}", file=sys.stderr)
        return 1
    seed = getattr(a, "seed", None)
    try:
        if a.sequential:
            rows = run(a.kind, items, a.out, None, seed)
        else:
            from distributed import Client, LocalCluster

            if a.scheduler:
                with Client(a.scheduler) as client:
                    rows = run(a.kind, items, a.out, client, seed)
            else:
                with LocalCluster(n_workers=max(a.workers, 1), threads_per_worker=1,
                                  processes=True, dashboard_address=None) as cluster, \
                        Client(cluster) as client:
                    rows = run(a.kind, items, a.out, client, seed)
    except (OSError, ValueError) as e:
        print(f"tolvane.batch: {e}", file=sys.stderr)
        return 1
    failed = sum(r["status"] == "fail" for r in rows)
    errors = sum(r["status"] == "error" for r in rows)
    print(f"{len(rows)} {'scans' if a.kind == 'phantom' else 'pairs'} done, {failed} failed their "
          f"checks, {errors} in error; results in {a.out}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
