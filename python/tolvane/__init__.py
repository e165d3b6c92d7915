"""Tolvane from Python: surfel collections as numpy arrays, the filters, signed distances
between scans and the calibration phantom analysis.

    >>> import numpy as np, tolvane
    >>> c = tolvane.Collection.from_arrays(np.zeros((3, 3), np.float32))
    >>> len(c), c.positions.shape
    (3, (3, 3))

Errors raise ValueError for bad input (a malformed file, a wrong array shape, a scan the
analysis cannot use), OSError for files that cannot be read or written, RuntimeError otherwise;
the message is the library's. Long computations (reading, writing, filters, distances, the
phantom analysis) release the GIL, so threads run them in parallel; phantom analyses share the
C library's random generator and run one at a time within a process (the batch module spreads
them over processes).

Run many scans on a Dask cluster with ``python3 -m tolvane.batch`` (see tolvane.batch).
"""

from __future__ import annotations

import os
from typing import Any, Dict, List, Optional, Sequence, Union

import numpy as np

from . import _tolvane
from ._tolvane import (
    Collection,
    Filter,
    FilterList,
    classify,
    color_by_quality,
    colour_by_quality,
    compensate,
    discard_cheek,
    distance_summary,
    discard_quality,
    flip_normals,
    generate_frames,
    generate_phantom,
    quality_to_one,
    scale,
)

__all__ = [
    "Collection", "Filter", "FilterList", "DistanceResult", "PhantomResult", "read", "distance",
    "distance_summary", "analyze_phantom", "generate_phantom", "generate_frames", "settings", "compensate",
    "classify", "quality_to_one", "discard_quality", "discard_cheek", "flip_normals", "scale",
    "colour_by_quality", "color_by_quality",
]

for _cls in (Collection, Filter, FilterList):
    _cls.__module__ = __name__

PathLike = Union[str, "os.PathLike[str]"]


def read(path: PathLike) -> Collection:
    """Reads a scan file into a new collection: PLY (ASCII or binary, as `tolvane` reads it).

    Raises OSError (FileNotFoundError, PermissionError, ...) when the file cannot be opened and
    ValueError, naming the file and the problem, when it is malformed.
    """
    path = os.fspath(path)
    with open(path, "rb"):
        pass  # the operating system's own error for a missing or unreadable file
    return _tolvane._read(path)


def _collection(c: Union[Collection, PathLike]) -> Collection:
    return c if isinstance(c, Collection) else read(c)


def _shortest(v: float) -> Optional[float]:
    """A float32 as the tool prints it: its shortest decimal form (None when not finite)."""
    v = np.float32(v)
    return float(repr(v)) if np.isfinite(v) else None


class DistanceResult:
    """The result of distance(): values, summary, max_distance and transform."""

    def __init__(self, values: np.ndarray, max_distance: float, transform: np.ndarray,
                 summary: Dict[str, Any]):
        #: float32 array, one signed distance per moving surfel in the files' unit, NaN where
        #: the surfel has no distance (no normal, or laterally beyond max_distance).
        self.values = values
        #: The lateral limit used (the given one, or twice the reference's surfel spacing).
        self.max_distance = max_distance
        #: The 4x4 transformation applied to the moving scan.
        self.transform = transform
        #: The "summary" object of `tolvane distance --json`: surfels, with_distance, mean,
        #: standard_deviation, rms, minimum, maximum, p5, p50, p95 (see distance_summary).
        self.summary = summary

    def __repr__(self) -> str:
        s = self.summary
        return (f"<tolvane.DistanceResult: {s['with_distance']} of {s['surfels']} surfels with a "
                f"distance, mean {s['mean']}, RMS {s['rms']}>")


def distance(reference: Union[Collection, PathLike], moving: Union[Collection, PathLike],
             transform: Optional[Any] = None,
             max_distance: Optional[float] = None,
             threads: Optional[int] = None) -> DistanceResult:
    """Signed distance of every surfel of `moving`, moved by `transform`, to the surface of
    `reference`: along the normal of the nearest reference surfel, positive on the side its
    normal points to, as `tolvane distance` measures it.

    reference, moving: collections or file paths; both need normals (ValueError otherwise).
    transform: 4x4 matrix acting on column vectors (translation in the last column); default
    identity. max_distance: largest lateral offset; default twice the reference's average
    surfel spacing. threads: threads that share the work (default one per core, as the
    tool); the result is the same for any count. Releases the GIL while it measures.
    """
    if threads is not None and not 1 <= int(threads) <= 1024:
        raise ValueError("threads: expected 1..1024")
    ref = _collection(reference)
    mov = _collection(moving)
    t = np.eye(4) if transform is None else np.asarray(transform, dtype=np.float64)
    values, used, summary = _tolvane._distance(ref, mov, t, max_distance,
                                               0 if threads is None else int(threads))
    return DistanceResult(values, float(used), t, summary)


class PhantomResult:
    """The result of analyze_phantom().

    texts: the analyzer's four statistics texts (Depth, Shearing, Width, Height).
    depth_mm (4, corners A to D), mean_depth_mm, shearing_mm, width_mm, height_mm (4 each) and
    their deviations from the nominal phantom in µm (depth_deviation_um, ...).
    plane_normals (P, 3), plane_samples (P,), plane_roles: the fitted planes.
    display_points (40, 3): corners A to H with their magnified deviations, then the frustum
    edges, read in pairs. coloured: the samples coloured by plane (value i + 1 for plane i).
    to_dict(): the object `tolvane phantom --json` prints.
    """

    def __init__(self, raw: Dict[str, Any], source: str):
        self.source = source
        self.texts: List[str] = list(raw["texts"])
        self.samples: int = int(raw["samples"])
        self.mean_depth_mm = float(raw["mean_depth_mm"])
        self.depth_mm: np.ndarray = raw["depth_mm"]
        self.depth_deviation_um = float(raw["depth_deviation_um"])
        self.depth_deviation_percent = float(raw["depth_deviation_percent"])
        for q in ("shearing", "width", "height"):
            setattr(self, q + "_mm", raw[q + "_mm"])
            setattr(self, q + "_deviation_um", raw[q + "_deviation_um"])
            setattr(self, "nominal_" + q + "_mm", raw["nominal_" + q + "_mm"])
        self.nominal_depth_mm = float(raw["nominal_depth_mm"])
        self.plane_normals: np.ndarray = raw["plane_normals"]
        self.plane_samples: np.ndarray = raw["plane_samples"]
        self.plane_roles: List[str] = list(raw["plane_roles"])
        self.display_points: np.ndarray = raw["display_points"]
        self.iterations = int(raw["iterations"])
        self.initialization_duration_s = float(raw["initialization_duration_s"])
        self.overall_duration_s = float(raw["overall_duration_s"])
        self.coloured: Collection = raw["coloured"]

    @property
    def corners(self) -> np.ndarray:
        """(8, 3) corners A to H (display points 0, 2, ..., 14)."""
        return self.display_points[0:16:2]

    def to_dict(self) -> Dict[str, Any]:
        """The object that `tolvane phantom --json` prints for the same scan and seed, with the
        same keys, in the same order, and the same numbers (floats in their shortest form)."""
        def four(a: np.ndarray) -> List[Optional[float]]:
            return [_shortest(v) for v in a]

        def lengths(q: str) -> Dict[str, Any]:
            return {"mm": four(getattr(self, q + "_mm")),
                    "nominal_mm": four(getattr(self, "nominal_" + q + "_mm")),
                    "deviation_um": four(getattr(self, q + "_deviation_um"))}

        return {
            "source": self.source,
            "samples": self.samples,
            "texts": list(self.texts),
            "depth": {"mean_mm": _shortest(self.mean_depth_mm),
                      "at_corners_mm": four(self.depth_mm),
                      "nominal_mm": _shortest(self.nominal_depth_mm),
                      "deviation_um": _shortest(self.depth_deviation_um),
                      "deviation_percent": _shortest(self.depth_deviation_percent)},
            "shearing": lengths("shearing"),
            "width": lengths("width"),
            "height": lengths("height"),
            "planes": [{"role": role, "samples": int(n), "normal": four(normal)}
                       for role, n, normal in zip(self.plane_roles, self.plane_samples,
                                                  self.plane_normals)],
            "iterations": self.iterations,
            "initialization_duration_s": _shortest(self.initialization_duration_s),
            "overall_duration_s": _shortest(self.overall_duration_s),
            "display_points": [four(p) for p in self.display_points],
        }

    def __repr__(self) -> str:
        return f"<tolvane.PhantomResult {self.source}: " + "; ".join(self.texts) + ">"


def analyze_phantom(scan: Union[Collection, PathLike, None] = None,
                    samples: Union[Collection, PathLike, None] = None,
                    seed: Optional[int] = None, planes: int = 7,
                    source: Optional[str] = None) -> PhantomResult:
    """Analyses a scan of the calibration phantom as `tolvane phantom` does: clusters `scan`
    onto `planes` planes (at least 7), assigns the samples (`samples`, or else `scan`) to them,
    removes outliers, finds the corners and measures depth, shearing, width and height.

    scan, samples: collections or file paths with normals; without scan the tool's built-in
    phantom (100,000 surfels, 0.005 mm noise, seed 1). seed: srand(seed) before the analysis,
    whose random restarts draw from rand(); without it the generator is used as found.
    source: the name in to_dict() (default: the path, or "collection").
    Raises ValueError when the scan cannot be analysed. Releases the GIL while it runs.
    """
    if scan is None:
        if samples is not None:
            raise ValueError("samples needs a scan")
        scan_c = generate_phantom(count=100000, noise=0.005, seed=1)
        name = "built-in synthetic phantom"
    else:
        scan_c = _collection(scan)
        name = "collection" if isinstance(scan, Collection) else os.fspath(scan)
    samples_c = scan_c if samples is None else _collection(samples)
    if seed is not None and not 0 <= int(seed) <= 0xFFFFFFFF:
        raise ValueError("seed: expected 0..4294967295")
    raw = _tolvane._analyze_phantom(scan_c, samples_c, None if seed is None else int(seed),
                                    int(planes))
    return PhantomResult(raw, source if source is not None else name)


class Settings:
    """The seven persistent settings of section "Tolvane", in the tool's settings file:
    TOLVANE_SETTINGS, else $XDG_CONFIG_HOME/tolvane/settings.ini, else
    ~/.config/tolvane/settings.ini (opened on first use; open() names another file).

    Read and write them as attributes (settings.color_compensate = False) or by key in any
    letter case (settings["ColorCompensate"]). A value changes memory only; save() writes the
    changed values to the file atomically. Bad values raise ValueError and change nothing.
    One thread at a time.
    """

    _names = {
        "analyze_phantom_interactively": "AnalyzePhantomInteractively",
        "color_compensate": "ColorCompensate",
        "quality_from_color": "QualityFromColor",
        "tooth_tissue_before_sequential_registration": "ToothTissueBeforeSequentialRegistration",
        "train_tooth_tissue_at_start": "TrainToothTissueAtStart",
        "gingiva_quality_before_classification": "GingivaQualityBeforeClassification",
        "color_coded_entity": "ColorCodedEntity",
    }

    def open(self, path: Optional[PathLike] = None) -> None:
        """Uses the settings file at path (default: the tool's file, see the class)."""
        _tolvane._settings_open("" if path is None else os.fspath(path))

    @property
    def path(self) -> str:
        """The settings file in use."""
        return _tolvane._settings_path()

    def save(self) -> None:
        """Writes the changed values to the file atomically (OSError when it cannot)."""
        _tolvane._settings_save()

    def keys(self) -> List[str]:
        """The seven keys, in their order."""
        return list(_tolvane._settings_keys())

    @staticmethod
    def _parse(key: str, text: str) -> Union[bool, float, int]:
        if text in ("true", "false"):
            return text == "true"
        return float(text) if key == "GingivaQualityBeforeClassification" else int(text)

    def __getitem__(self, key: str) -> Union[bool, float, int]:
        text = _tolvane._settings_get(key)
        return self._parse(self._key(key), text)

    def __setitem__(self, key: str, value: Union[bool, float, int, str]) -> None:
        if isinstance(value, bool):
            text = "true" if value else "false"
        elif isinstance(value, (int, float, np.integer, np.floating)):
            text = repr(float(value)) if isinstance(value, (float, np.floating)) else str(value)
        elif isinstance(value, str):
            text = value
        else:
            raise ValueError(f"bad value {value!r} for {key}")
        _tolvane._settings_set(key, text)

    def _key(self, key: str) -> str:
        for k in self.keys():
            if k.lower() == key.lower():
                return k
        raise ValueError(f"unknown setting '{key}'")

    def as_dict(self) -> Dict[str, Union[bool, float, int]]:
        """Every setting by key."""
        return {k: self[k] for k in self.keys()}

    def __getattr__(self, name: str) -> Union[bool, float, int]:
        if name in Settings._names:
            return self[Settings._names[name]]
        raise AttributeError(name)

    def __setattr__(self, name: str, value: Union[bool, float, int]) -> None:
        if name not in Settings._names:
            raise AttributeError(f"no setting {name}")
        self[Settings._names[name]] = value

    def __repr__(self) -> str:
        return f"<tolvane.settings {self.path}: {self.as_dict()}>"


#: The persistent settings (see Settings).
settings = Settings()
