#!/usr/bin/python3
"""Checks that other point-cloud programs load every field of a PLY file the tool writes.

Usage: other_tools_load.py TOLVANE_PROGRAM WORK_DIR

Writes a coloured distance map with `tolvane distance --out`, then loads it with Open3D's
tensor point cloud reader and with CloudCompare's command-line mode (under xvfb-run), and
checks that positions, normals, colours and the scalar fields quality, tissue, boundary, value
and distance all arrive. Exits 77 (skipped) when neither program is installed.
"""
import os
import shutil
import subprocess
import sys

FIELDS = ["quality", "tissue", "boundary", "value", "distance"]


def main():
    tool, work = sys.argv[1], sys.argv[2]
    os.makedirs(work, exist_ok=True)
    ply = os.path.join(work, "dist.ply")
    env = dict(os.environ, HOME=work)
    for args in (["generate", "phantom", "a.ply", "--count", "3000"],
                 ["generate", "phantom", "b.ply", "--count", "3000", "--seed", "2"],
                 ["distance", "a.ply", "b.ply", "--out", ply]):
        subprocess.run([tool] + args, cwd=work, env=env, check=True, capture_output=True)

    checked = 0
    try:
        import open3d as o3d  # noqa: PLC0415 - optional
    except ImportError:
        o3d = None
    if o3d is not None:
        cloud = o3d.t.io.read_point_cloud(ply)
        names = {"positions", "normals", "colors"} | {"scalar_" + f for f in FIELDS}
        missing = sorted(n for n in names if n not in cloud.point)
        if missing or cloud.point["positions"].shape[0] != 3000:
            print("Open3D misses", missing)
            return 1
        checked += 1

    cc = shutil.which("CloudCompare")
    xvfb = shutil.which("xvfb-run")
    if cc and xvfb:
        out = os.path.join(work, "cc.asc")
        subprocess.run([xvfb, "-a", cc, "-SILENT", "-AUTO_SAVE", "OFF", "-O", ply,
                        "-C_EXPORT_FMT", "ASC", "-ADD_HEADER", "-SAVE_CLOUDS", "FILE", out],
                       cwd=work, check=True, capture_output=True, timeout=120)
        with open(out, encoding="ascii") as f:
            header = f.readline().lstrip("/").split()
            rows = sum(1 for _ in f)
        wanted = ["X", "Y", "Z", "R", "G", "B", "Nx", "Ny", "Nz"] + FIELDS
        missing = [w for w in wanted if w not in header]
        if missing or rows != 3000:
            print("CloudCompare misses", missing, "or rows", rows)
            return 1
        checked += 1
    return 0 if checked else 77


if __name__ == "__main__":
    sys.exit(main())
