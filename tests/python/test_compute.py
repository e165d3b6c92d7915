"""Distances, the phantom analysis, filters and settings agree with the tool on the same data."""

import csv
import json
import math

import numpy as np
import pytest

import tolvane
from conftest import random_arrays


@pytest.fixture(scope="module")
def pair(tmp_path_factory):
    """A phantom scan and a second, noisier scan of it, as files."""
    d = tmp_path_factory.mktemp("pair")
    tolvane.generate_phantom(count=20000, noise=0.0, seed=1).write(d / "reference.ply")
    tolvane.generate_phantom(count=15000, noise=0.01, seed=2).write(d / "moving.ply")
    return d / "reference.ply", d / "moving.ply"


def test_distance_equals_the_tools_csv_and_summary(tool, pair, tmp_path):
    ref, mov = pair
    # Column-vector matrix with a small turn about z and a shift; the tool takes storage order.
    a = math.radians(0.5)
    t = np.array([[math.cos(a), -math.sin(a), 0, 0.01], [math.sin(a), math.cos(a), 0, -0.02],
                  [0, 0, 1, 0.005], [0, 0, 0, 1]])
    r = tolvane.distance(ref, mov, transform=t, max_distance=0.05)
    assert r.values.dtype == np.float32 and r.values.shape == (15000,)
    args = ["distance", ref, mov, "--transform", " ".join(repr(v) for v in t.T.flatten()),
            "--max-distance", "0.05"]
    out = tool(*args, "--csv", tmp_path / "d.csv")
    with open(tmp_path / "d.csv") as f:
        rows = list(csv.DictReader(f))
    expected = np.array([float(x["distance"]) if x["distance"] else np.nan for x in rows],
                        dtype=np.float32)
    np.testing.assert_array_equal(r.values, expected)  # NaN where the CSV is empty
    assert 0 < np.count_nonzero(np.isnan(r.values)) < 15000
    summary = json.loads(tool(*args, "--json").stdout)["summary"]
    assert list(r.summary.items()) == list(summary.items())
    assert r.max_distance == np.float32(0.05)


def test_distance_summary_by_hand():
    s = tolvane.distance_summary(np.array([np.nan, 1, 2, 3, 4], np.float32))
    assert (s["surfels"], s["with_distance"]) == (5, 4)
    assert s["mean"] == 2.5 and s["rms"] == math.sqrt(7.5) and s["minimum"] == 1
    assert s["standard_deviation"] == math.sqrt(1.25)
    assert s["p5"] == pytest.approx(1.15) and s["p50"] == 2.5 and s["p95"] == pytest.approx(3.85)
    assert tolvane.distance_summary(np.array([np.nan], np.float32))["mean"] is None


def test_phantom_to_dict_equals_the_tools_json(tool, pair, tmp_path):
    ref, _ = pair
    # The bare analyzer and the full pipeline; a turned and shifted scan with stray points.
    posed = tmp_path / "posed.ply"
    tolvane.generate_phantom(count=20000, noise=0.005, seed=3, stray=0.05,
                             rotation=(0, 0, 30), translation=(1, 2, 0)).write(posed)
    for scan, seed, extra in ((ref, 1, {"attempts": 1}), (ref, 7, {"cluster_limit": 5000}),
                              (posed, 2, {})):
        r = tolvane.analyze_phantom(scan, seed=seed, **extra)
        d = r.to_dict()
        options = [f"--{k.replace('_', '-')}={v}" for k, v in extra.items()]
        out = tool("phantom", scan, "--seed", seed, *options, "--json", check=False)
        assert out.returncode == (0 if r.passed else 3)
        j = json.loads(out.stdout)
        for k in ("initialization_duration_s", "overall_duration_s"):  # processor time
            assert d.pop(k) >= 0 and j.pop(k) >= 0
        assert list(d) == list(j) and d == j
    assert r.passed and r.aligned and r.stray_points > 0 and r.verdict_summary == "pass"
    assert r.display_points.shape == (40, 3) and r.plane_normals.shape == (7, 3)
    assert r.texts == d["texts"] and r.texts[0].startswith("Depth:")
    assert len(r.coloured) == 20000
    np.testing.assert_array_equal(r.corners, r.display_points[0:16:2])
    assert np.all(np.abs(r.width_deviation_um) < 50)


def test_phantom_of_no_phantom_fails_its_checks():
    rng = np.random.default_rng(4)
    xy = rng.uniform(-5, 5, (5000, 2))
    plane = tolvane.Collection.from_arrays(np.c_[xy, np.zeros(5000)],
                                           normals=np.tile([0, 0, -1.0], (5000, 1)))
    r = tolvane.analyze_phantom(plane, seed=1, attempts=2)
    assert not r.passed and r.verdict_summary.startswith("FAIL") and r.attempts == 2
    assert any(not c["pass"] for c in r.checks)
    with pytest.raises(ValueError, match="no normals"):
        tolvane.analyze_phantom(tolvane.Collection.from_arrays(np.zeros((10, 3))))
    with pytest.raises(ValueError, match="planes"):
        tolvane.analyze_phantom(tolvane.generate_phantom(count=1000), planes=3)
    with pytest.raises(ValueError, match="limit"):
        tolvane.analyze_phantom(tolvane.generate_phantom(count=1000), limits={"nope": 1})


def test_filter_list_equals_the_tools_filter(tool, tmp_path):
    a = random_arrays(3000, seed=11)
    tolvane.Collection.from_arrays(**a).write(tmp_path / "in.ply")
    steps = ["compensate", "classify=150", "discard-quality=0:0.2", "flip-normals",
             "scale=1,2,0.5", "discard-cheek", "colour-by-quality", "quality-to-one"]
    tool("filter", tmp_path / "in.ply", tmp_path / "out.ply", *steps)
    c = tolvane.read(tmp_path / "in.ply")
    tolvane.FilterList([tolvane.compensate(), tolvane.classify(150),
                        tolvane.discard_quality(0, 0.2), tolvane.flip_normals(),
                        tolvane.scale((1, 2, 0.5)), tolvane.discard_cheek(),
                        tolvane.colour_by_quality(), tolvane.quality_to_one()]).apply(c)
    expected = tolvane.read(tmp_path / "out.ply")
    assert 0 < len(c) < 3000 and len(c) == len(expected)
    for name in ("positions", "normal_codes", "colors", "quality", "tissue", "values"):
        np.testing.assert_array_equal(getattr(c, name), getattr(expected, name), err_msg=name)


def test_settings_read_and_write_the_tools_file(tool, own_settings):
    s = tolvane.settings
    s.open(own_settings)
    assert s.path == str(own_settings)
    assert s.as_dict()["GingivaQualityBeforeClassification"] == 0.5
    s.color_compensate = False
    s["colorcodedentity"] = 3
    s.gingiva_quality_before_classification = 0.25
    with pytest.raises(ValueError):
        s.color_coded_entity = "three"
    with pytest.raises(ValueError):
        s["NoSuchKey"] = 1
    s.save()
    listed = tool("settings", "list", "--file", own_settings).stdout
    assert "ColorCompensate=false" in listed and "ColorCodedEntity=3" in listed
    assert "GingivaQualityBeforeClassification=0.25" in listed
    assert not s.color_compensate and s.color_coded_entity == 3
