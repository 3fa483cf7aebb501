"""Shared fixtures: the bundled data sets (data/ of the source tree, or CCAL_DATA_DIR)."""

import os
import pathlib

import numpy as np
import pytest

import ccal

SOURCE_DIR = pathlib.Path(os.environ.get("CCAL_SOURCE_DIR",
                                         pathlib.Path(__file__).resolve().parents[2]))
DATA_DIR = pathlib.Path(os.environ.get("CCAL_DATA_DIR", SOURCE_DIR / "data"))


@pytest.fixture(scope="session")
def data_dir():
    return DATA_DIR


_cache = {}


def load(name):
    """A bundled point-list file, loaded once per session."""
    if name not in _cache:
        _cache[name] = ccal.load_points(DATA_DIR / (name + ".json"))
    return _cache[name]


def pose_of(rows):
    """(3, 4) list of rows -> (R, t)."""
    a = np.asarray(rows, dtype=float)
    return a[:, :3], a[:, 3]


def truth_camera(camera_truth):
    """The CameraModel of a ground-truth area-scan camera of a data set."""
    intr = ccal.Intrinsics(camera_scale=tuple(camera_truth["cameraScale"]),
                           camera_skew=camera_truth["cameraSkew"],
                           camera_translation=tuple(camera_truth["cameraTranslation"]),
                           model={"eRadial": "radial", "eSineTan": "sine-tan",
                                  "eNoDistortion": "none"}[camera_truth["distModel"]],
                           lens_dist_params=camera_truth["lensDistParams"],
                           center_of_expansion=tuple(camera_truth["centerOfExpansion"]))
    return ccal.CameraModel(intr, np.asarray(camera_truth["pose"]))
