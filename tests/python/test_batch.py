"""Batch runs: a local Dask cluster gives the rows of a sequential loop, bad files are rows,
reruns skip what is done."""

import csv
import subprocess
import sys

import pytest

import tolvane
from tolvane import batch

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def scans(tmp_path_factory):
    """Seven generated scans of the phantom and one corrupt file."""
    d = tmp_path_factory.mktemp("scans")
    paths = []
    for k in range(7):
        p = d / f"scan_{k}.ply"
        tolvane.generate_phantom(count=8000, noise=0.002 * k, seed=k + 1).write(p)
        paths.append(str(p))
    bad = d / "corrupt.ply"
    bad.write_bytes((d / "scan_0.ply").read_bytes()[:3000])  # cut off within the body
    paths.insert(3, str(bad))
    return paths


def without_time(rows):
    return sorted(({k: v for k, v in r.items() if k != "time_s"} for r in rows),
                  key=lambda r: r["file"] if "file" in r else (r["reference"], r["moving"]))


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def test_cluster_rows_equal_a_sequential_loop(scans, tmp_path):
    sequential = [batch.phantom_row(p, seed=1) for p in scans]
    corrupt = [r for r in sequential if r["status"] == "error"]
    assert len(corrupt) == 1 and "corrupt.ply" in corrupt[0]["error"]
    assert all(r["depth_deviation_um"] and r["verdict"] == "pass" for r in sequential
               if r["status"] == "ok")
    assert sum(r["status"] == "ok" for r in sequential) == 7
    out = tmp_path / "results.csv"
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        written = batch.run("phantom", scans, str(out), client, seed=1, progress=False)
        assert len(written) == 8
        # A rerun with the same output finds everything done.
        assert batch.run("phantom", scans, str(out), client, seed=1, progress=False) == []
        # The command line on the running scheduler.
        out2 = tmp_path / "via_scheduler.csv"
        assert batch.main(["phantom", *scans[:3], "--out", str(out2),
                           "--scheduler", cluster.scheduler_address]) == 0
    assert without_time(read_rows(out)) == without_time(sequential)
    assert without_time(read_rows(out2)) == without_time(sequential[:3])


def test_command_line_resumes_and_measures_pairs(scans, tmp_path):
    out = tmp_path / "phantom.csv"
    # An interrupted earlier run: two rows done and a third cut off mid-line.
    done = [batch.phantom_row(p) for p in scans[:2]]
    with open(out, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=batch.PHANTOM_COLUMNS)
        w.writeheader()
        w.writerows(done)
        f.write(scans[2] + ",ok,")
    cmd = [sys.executable, "-m", "tolvane.batch"]
    subprocess.run(cmd + ["phantom", *scans, "--out", str(out), "--sequential"], check=True,
                   capture_output=True)
    rows = read_rows(out)
    assert [r["file"] for r in rows[:2]] == scans[:2] and rows[:2] == done
    assert sorted(r["file"] for r in rows) == sorted(scans)

    pairs = tmp_path / "pairs.csv"
    pairs.write_text("reference,moving,max_distance\n"
                     f"{scans[0]},{scans[1]},0.05\n{scans[0]},{scans[3]},\n")
    dout = tmp_path / "distance.csv"
    subprocess.run(cmd + ["distance", str(pairs), "--out", str(dout), "--workers", "2"],
                   check=True, capture_output=True)
    rows = {r["moving"]: r for r in read_rows(dout)}
    expected = tolvane.distance(scans[0], scans[1], max_distance=0.05).summary
    assert rows[scans[1]]["status"] == "ok"
    assert float(rows[scans[1]]["rms"]) == expected["rms"]
    assert rows[scans[3]]["status"] == "error" and "corrupt.ply" in rows[scans[3]]["error"]
