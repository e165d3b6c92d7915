"""Shared fixtures of the Python module's tests. ctest sets PYTHONPATH to the built package and
TOLVANE_TOOL to the built `tolvane` program; tests that compare with the tool are skipped
without it."""

import os
import subprocess

import numpy as np
import pytest


@pytest.fixture(scope="session")
def tool():
    path = os.environ.get("TOLVANE_TOOL")
    if not path or not os.path.exists(path):
        pytest.skip("TOLVANE_TOOL does not name the built tolvane program")

    def run(*args, check=True):
        env = dict(os.environ, TOLVANE_SETTINGS=os.environ.get("TOLVANE_SETTINGS", os.devnull))
        return subprocess.run([path, *map(str, args)], capture_output=True, text=True,
                              check=check, env=env)

    return run


@pytest.fixture(autouse=True)
def own_settings(tmp_path_factory, monkeypatch):
    """Every test uses a settings file of its own, never the user's."""
    path = tmp_path_factory.mktemp("settings") / "settings.ini"
    monkeypatch.setenv("TOLVANE_SETTINGS", str(path))
    return path


def random_arrays(n, seed):
    rng = np.random.default_rng(seed)
    normals = rng.normal(size=(n, 3))
    normals /= np.linalg.norm(normals, axis=1, keepdims=True)
    return {
        "positions": rng.uniform(-10, 10, size=(n, 3)).astype(np.float32),
        "normals": normals,
        "colors": rng.integers(0, 256, size=(n, 3), dtype=np.uint8),
        "quality": rng.uniform(0, 1, size=n).astype(np.float32),
        "tissue": rng.integers(0, 4, size=n, dtype=np.uint8),
        "boundary": rng.integers(0, 2, size=n).astype(bool),
        "values": rng.integers(0, 2**32, size=n, dtype=np.uint32),
    }
