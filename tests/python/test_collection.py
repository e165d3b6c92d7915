"""Collections: numpy round trips through files, views that share memory, errors."""

import gc

import numpy as np
import pytest

import tolvane
from conftest import random_arrays


def assert_same(c, a):
    np.testing.assert_array_equal(c.positions, a["positions"])
    np.testing.assert_array_equal(c.colors, a["colors"])
    np.testing.assert_array_equal(c.quality, a["quality"])
    np.testing.assert_array_equal(c.tissue, a["tissue"])
    np.testing.assert_array_equal(c.boundary, a["boundary"])
    np.testing.assert_array_equal(c.values, a["values"])


@pytest.mark.parametrize("ascii", [False, True])
def test_numpy_to_file_and_back_keeps_every_value(tmp_path, ascii):
    a = random_arrays(500, seed=7)
    c = tolvane.Collection.from_arrays(**a)
    assert len(c) == 500 and c.has_normals
    assert_same(c, a)
    # Normals are quantized to the 16-bit code: within the code's covering radius.
    cosines = np.sum(c.normals * a["normals"], axis=1)
    assert np.all(cosines > np.cos(np.radians(0.7)))
    path = tmp_path / "c.ply"
    c.write(path, ascii=ascii)
    back = tolvane.read(path)
    assert_same(back, a)
    np.testing.assert_array_equal(back.normal_codes, c.normal_codes)
    np.testing.assert_array_equal(back.normals, c.normals)
    assert "500 surfels" in repr(back)


def test_meshes_are_read_and_extra_properties_are_written(tmp_path):
    # One square of two triangles as OBJ (the other formats are the reader's own tests): four
    # vertices with normals from the faces.
    obj = tmp_path / "square.obj"
    obj.write_text("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3\nf 1 3 4\n")
    c = tolvane.read(obj)
    assert len(c) == 4 and c.has_normals
    np.testing.assert_allclose(c.normals, np.tile([0, 0, 1], (4, 1)), atol=0.02)
    d = np.array([0.5, np.nan, -1, 2], np.float32)
    c.write(tmp_path / "extra.ply", ascii=True, extra={"scalar_distance": d})
    text = (tmp_path / "extra.ply").read_text()
    assert "property float scalar_distance" in text
    with pytest.raises(ValueError, match="extra"):
        c.write(tmp_path / "bad.ply", extra={"scalar_distance": d[:2]})


def test_float64_positions_and_defaults():
    p = np.array([[0.1, 0.2, 0.3], [1.0, 2.0, 3.0]])
    c = tolvane.Collection.from_arrays(p)
    np.testing.assert_array_equal(c.positions, p.astype(np.float32))
    assert not c.has_normals
    np.testing.assert_array_equal(c.normals, np.zeros((2, 3), np.float32))
    np.testing.assert_array_equal(c.quality, [1, 1])
    np.testing.assert_array_equal(c.tissue, [0, 0])
    assert len(tolvane.Collection.from_arrays(np.zeros((0, 3)))) == 0


def test_views_share_memory_and_keep_the_collection_alive(tmp_path):
    a = random_arrays(100, seed=3)
    c = tolvane.Collection.from_arrays(**a)
    for name in ("positions", "colors", "quality", "values", "normal_codes", "flags"):
        v = getattr(c, name)
        assert v.base is c, name
        assert np.shares_memory(v, getattr(c, name)), name
    assert not c.positions.flags.writeable
    # A write through a view is the collection's: a new view and the written file show it.
    colors = c.colors
    colors[5] = (1, 2, 3)
    c.quality[6] = 0.25
    np.testing.assert_array_equal(c.colors[5], (1, 2, 3))
    c.write(tmp_path / "v.ply")
    back = tolvane.read(tmp_path / "v.ply")
    np.testing.assert_array_equal(back.colors[5], (1, 2, 3))
    assert back.quality[6] == np.float32(0.25)
    # The views outlive the name of their collection.
    positions = c.positions
    del c, colors
    gc.collect()
    np.testing.assert_array_equal(positions, a["positions"])


def test_views_survive_a_filter_that_removes_surfels():
    a = random_arrays(1000, seed=5)
    c = tolvane.Collection.from_arrays(**a)
    before = c.positions
    tolvane.discard_quality(0.0, 0.5).apply(c)
    kept = a["quality"] > 0.5
    assert len(c) == int(kept.sum())
    np.testing.assert_array_equal(c.positions, a["positions"][kept])
    np.testing.assert_array_equal(before, a["positions"])  # old surfels, still valid memory


def test_missing_files_and_malformed_input(tmp_path):
    with pytest.raises(FileNotFoundError):
        tolvane.read(tmp_path / "missing.ply")
    with pytest.raises(IsADirectoryError):
        tolvane.read(tmp_path)
    bad = tmp_path / "bad.ply"
    bad.write_bytes(b"ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\n"
                    b"property float y\nproperty float z\nend_header\n0 0 0\n1 1\n")
    with pytest.raises(ValueError) as e:
        tolvane.read(bad)
    assert "bad.ply" in str(e.value)
    assert e.value.function and e.value.line > 0
    with pytest.raises(OSError):
        tolvane.Collection.from_arrays(np.zeros((1, 3))).write(tmp_path / "no" / "dir.ply")
    with pytest.raises(ValueError, match="positions"):
        tolvane.Collection.from_arrays(np.zeros((4, 2)))
    with pytest.raises(ValueError, match="not finite"):
        tolvane.Collection.from_arrays(np.array([[0, np.nan, 0]]))
    with pytest.raises(ValueError, match="tissue"):
        tolvane.Collection.from_arrays(np.zeros((2, 3)), tissue=np.array([0, 4]))
    with pytest.raises(ValueError, match="colors"):
        tolvane.Collection.from_arrays(np.zeros((2, 3)), colors=np.zeros((3, 3), np.uint8))
    with pytest.raises(ValueError, match="no normals"):
        tolvane.distance(tolvane.Collection.from_arrays(np.zeros((2, 3))),
                         tolvane.Collection.from_arrays(np.zeros((2, 3))))
