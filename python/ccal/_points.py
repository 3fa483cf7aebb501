"""Point-list files (format "ccal-points/1", see the data format notes) as Python objects."""

import json

import numpy as np

from . import _ccal

__all__ = ["PointFile", "Placement", "load_points", "parse_points"]


class Placement:
    """One plate placement: its kind, height or pose, and per camera an (N, 6) array of rows
    (u, v, X, Y, Z, w). image(c), plate(c) and weights(c) take a camera index or name."""

    def __init__(self, kind, points, height=None, pose=None, name="", cameras=None,
                 distance_to_target=None):
        self.name = name
        self.kind = kind
        self.height = height
        self.pose = None if pose is None else np.asarray(pose, dtype=float)
        self.distance_to_target = distance_to_target
        self.points = [np.asarray(p, dtype=float).reshape(-1, 6) for p in points]
        self.cameras = list(cameras) if cameras is not None else [str(i) for i in
                                                                  range(len(self.points))]

    @classmethod
    def from_arrays(cls, kind, views, height=None, pose=None, name=""):
        """A placement from (image, plate[, weights]) per camera: image (N, 2), plate (N, 3) or
        (N, 2)."""
        rows = []
        for view in views:
            image = np.asarray(view[0], dtype=float).reshape(-1, 2)
            plate = np.asarray(view[1], dtype=float)
            plate = plate.reshape(len(image), -1) if plate.size else np.zeros((0, 3))
            if plate.shape[1] == 2:
                plate = np.column_stack([plate, np.zeros(len(plate))])
            weights = (np.ones(len(image)) if len(view) < 3 or view[2] is None
                       else np.asarray(view[2], dtype=float))
            rows.append(np.column_stack([image, plate, weights]))
        return cls(kind, rows, height=height, pose=pose, name=name)

    def _index(self, camera):
        return self.cameras.index(camera) if isinstance(camera, str) else int(camera)

    def image(self, camera=0):
        """Image points (N, 2), pixels."""
        return self.points[self._index(camera)][:, 0:2]

    def plate(self, camera=0):
        """Plate points (N, 3) in the plate's own frame."""
        return self.points[self._index(camera)][:, 2:5]

    def weights(self, camera=0):
        return self.points[self._index(camera)][:, 5]

    def _view(self, camera):
        return (self.image(camera), self.plate(camera), self.weights(camera))

    def __repr__(self):
        counts = ", ".join("%s: %d" % (c, len(p)) for c, p in zip(self.cameras, self.points))
        extra = ""
        if self.kind == "z-rotation":
            extra = ", height=%g" % self.height
        return "Placement(%r, kind=%r%s, points={%s})" % (self.name, self.kind, extra, counts)


class PointFile:
    """A loaded point-list file: kind ("area-scan", "telecentric", "line-scan"),
    distortion_model, cameras, image_size, placements and ground_truth (a dict or None)."""

    def __init__(self, raw):
        self.description = raw["description"]
        self.kind = raw["kind"]
        self.distortion_model = raw["distortion_model"]
        self.cameras = list(raw["cameras"])
        self.image_size = raw["image_size"]
        self.placements = [
            Placement(p["kind"], p["points"], height=p["height"], pose=p["pose"], name=p["name"],
                      cameras=self.cameras, distance_to_target=p["distance_to_target"])
            for p in raw["placements"]]
        text = raw["ground_truth_json"]
        self.ground_truth = json.loads(text) if text else None

    def __repr__(self):
        return "PointFile(kind=%r, model=%r, cameras=%r, placements=%d, points=%d)" % (
            self.kind, self.distortion_model, self.cameras, len(self.placements),
            sum(len(a) for p in self.placements for a in p.points))


def load_points(path):
    """Reads a point-list file. Raises PointFileError naming the place of a fault."""
    return PointFile(_ccal._load_points(str(path)))


def parse_points(text):
    """Parses a point-list file from its JSON text."""
    return PointFile(_ccal._parse_points(text))
