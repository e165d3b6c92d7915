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

import json
import math
import os
import warnings
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
    """Reads a scan file into a new collection, as the tool reads its inputs: PLY point sets
    and meshes (ASCII or binary; vertex normals from the faces when the file has none), STL
    (binary or ASCII, coincident vertices merged) and OBJ (v, vn, f), told apart by content.

    Values the reader had to change to fit an attribute are reported as warnings (UserWarning).
    Raises OSError (FileNotFoundError, PermissionError, ...) when the file cannot be opened and
    ValueError, naming the file and the problem, when it is malformed.
    """
    path = os.fspath(path)
    with open(path, "rb"):
        pass  # the operating system's own error for a missing or unreadable file
    collection, notes = _tolvane._read(path)
    for note in notes:
        warnings.warn(f"{path}: {note}", stacklevel=2)
    return collection


def _collection(c: Union[Collection, PathLike]) -> Collection:
    return c if isinstance(c, Collection) else read(c)


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
    """The result of analyze_phantom(): the analyzer's numbers, the refined ones, the verdict
    and the geometry, all in the frame of the scan as passed.

    texts: the analyzer's four statistics texts (Depth, Shearing, Width, Height).
    passed, verdict_summary, checks, attempt, attempts: the verdict ("pass" or the first failing
    check), every check as a dict (name, value, limit, unit, minimum, pass), and which of the
    attempts that ran gave this result.
    mean_depth_mm, depth_mm (corners A to D), shearing_mm, width_mm, height_mm: the analyzer's
    quantities; the same with _deviation_um: deviations from the nominal phantom in µm.
    refined: the same quantities from the double-precision refit (dict as in to_dict()).
    plane_roles, plane_samples, plane_normals (P, 3), plane_refined_normals,
    plane_refined_points, plane_rms_residuals_mm: the fitted planes.
    corners (8, 3), refined_corners (8, 3): corners A to H. display_points (40, 3): the corners
    with their deviations magnified 100 times, then the frustum edges, read in pairs.
    rotation (3, 3), origin (3,): p_frame = rotation @ (p - origin) took the scan into the
    phantom's frame. coloured: the samples coloured by plane (value i + 1 for plane i).
    to_dict(): the object `tolvane phantom --json` prints.
    """

    def __init__(self, raw: Dict[str, Any]):
        self._json: str = raw["json"]
        d = self.to_dict()
        self.source: str = d["source"]
        self.samples: int = d["samples"]
        self.texts: List[str] = list(raw["texts"])
        v = d["verdict"]
        self.passed: bool = v["pass"]
        self.verdict_summary: str = v["summary"]
        self.checks: List[Dict[str, Any]] = v["checks"]
        self.attempt: int = v["attempt"]
        self.attempts: int = v["attempts"]
        self.mean_depth_mm = _number(d["depth"]["mean_mm"])
        self.depth_mm = _array(d["depth"]["at_corners_mm"])
        self.depth_deviation_um = _number(d["depth"]["deviation_um"])
        self.depth_deviation_percent = _number(d["depth"]["deviation_percent"])
        for q in ("shearing", "width", "height"):
            setattr(self, q + "_mm", _array(d[q]["mm"]))
            setattr(self, q + "_deviation_um", _array(d[q]["deviation_um"]))
        self.refined: Dict[str, Any] = d["refined"]
        self.aligned: bool = d["pipeline"]["aligned"]
        self.stray_points: int = d["pipeline"]["stray_points"]
        self.clustering_surfels: int = d["pipeline"]["clustering_surfels"]
        self.iterations: int = d["iterations"]
        self.initialization_duration_s = _number(d["initialization_duration_s"])
        self.overall_duration_s = _number(d["overall_duration_s"])
        self.plane_roles: List[str] = list(raw["plane_roles"])
        self.plane_samples: np.ndarray = raw["plane_samples"]
        self.plane_normals: np.ndarray = raw["plane_normals"]
        self.plane_refined_normals: np.ndarray = raw["plane_refined_normals"]
        self.plane_refined_points: np.ndarray = raw["plane_refined_points"]
        self.plane_rms_residuals_mm: np.ndarray = raw["plane_rms_residuals_mm"]
        self.corners: np.ndarray = raw["corners"]
        self.refined_corners: np.ndarray = raw["refined_corners"]
        self.display_points: np.ndarray = raw["display_points"]
        self.rotation: np.ndarray = raw["rotation"]
        self.origin: np.ndarray = raw["origin"]
        self.coloured: Optional[Collection] = raw["coloured"]

    def to_dict(self) -> Dict[str, Any]:
        """The object that `tolvane phantom --json` prints for the same scan and seed (the
        library's own JSON of the result, parsed): same keys, same order, same numbers."""
        return json.loads(self._json)

    def __repr__(self) -> str:
        return (f"<tolvane.PhantomResult {self.source}: {self.verdict_summary} (attempt "
                f"{self.attempt} of {self.attempts}); " + "; ".join(self.texts) + ">")


def _number(v: Optional[float]) -> float:
    return math.nan if v is None else float(v)


def _array(values: Sequence[Optional[float]]) -> np.ndarray:
    return np.array([_number(v) for v in values])


def analyze_phantom(scan: Union[Collection, PathLike, None] = None,
                    samples: Union[Collection, PathLike, None] = None,
                    seed: Optional[int] = None, planes: int = 7,
                    attempts: Optional[int] = None, align: bool = True, clean: bool = True,
                    cluster_limit: Optional[int] = None,
                    limits: Optional[Dict[str, float]] = None,
                    source: Optional[str] = None) -> PhantomResult:
    """Analyses a scan of the calibration phantom as `tolvane phantom` does: the analyzer
    (clustering onto `planes` planes, at least 7, outlier removal, corners, depth, shearing,
    width and height) inside the checks that say whether to trust it.

    scan, samples: collections or file paths with normals (samples default to scan); without
    scan the tool's built-in phantom (100,000 surfels, 0.005 mm noise, seed 1).
    seed: srand(seed) before the analysis, whose random restarts draw from rand(); without it
    the generator is used as found.
    attempts: analyzer runs at most until one passes its checks (1: the bare analyzer's one
    run; default the tool's, 8). align: turn the scan into the phantom's frame first (any
    pose). clean: leave stray points out of the clustering. cluster_limit: cluster on an evenly
    thinned copy of about one surfel in 25, at most this many (0: never thin; default the
    tool's, 200,000). limits: limits of the checks to change, by name (min_plane_share,
    residual_factor, residual_floor, max_depth_spread, max_angle_error, max_length_error,
    max_corner_fit_rms, min_orientation_margin, max_analyzer_drift; docs/phantom.md).
    source: the name in to_dict() (default: the path, or "collection").

    A scan that is no phantom gives a result whose `passed` is False (the tool's status 3),
    not an exception. Raises ValueError for a scan without normals or bad arguments, OSError for
    an unreadable file. Releases the GIL while it runs.
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
    if cluster_limit is not None and not 0 <= int(cluster_limit) <= 0xFFFFFFFF:
        raise ValueError("cluster_limit: expected 0..4294967295")
    raw = _tolvane._analyze_phantom(scan_c, samples_c, None if seed is None else int(seed),
                                    int(planes), None if attempts is None else int(attempts),
                                    bool(align), bool(clean),
                                    None if cluster_limit is None else int(cluster_limit),
                                    dict(limits or {}),
                                    source if source is not None else name)
    return PhantomResult(raw)


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
