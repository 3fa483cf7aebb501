"""ccal: camera calibration for machine vision.

Arrays are numpy float64: image points (N, 2) in pixels, plate or world points (N, 3) (or (N, 2)
on a plate's plane), weights (N,), rigid transforms (3, 4) [R | t]. Lens models are "radial",
"sine-tan" and "none"; telecentric cameras have "telecentric".

Calibrations (each takes ``progress=callable(fraction)``; Ctrl-C stops it with KeyboardInterrupt):

- calibrate_camera: one area-scan camera from 2D-3D points (non-coplanar world points);
- calibrate_planar: one camera from planar views of a plate;
- calibrate_rig / estimate_rig_pose: camera rigs from plate placements (point-list files);
- calibrate_telecentric: telecentric cameras from plate poses (flows 1, 2, 3);
- calibrate_line_scan / align_to_scanner_motion: line-scan cameras.

Results are CameraModel, CalibratedTransform (map / inverse_map of whole arrays) and small result
classes; save_transforms / load_transforms write and read calibration files (those of
ccal-calibrate --archive); detect / export_opencv / undistort_image and friends go from images to
point lists and from results to OpenCV, ROS and COLMAP (ccal._images); failures raise the exception classes of ccal._errors (ccal.Error and its tree).
docs/python.md has the details and examples.
"""

import os as _os

import numpy as _np

from . import _ccal
from ._ccal import (CalibratedTransform, CameraModel, Intrinsics, LineScanOptions,
                    LineScanTransform, TelecentricOptions, align_to_scanner_motion,
                    rethrow_stored_error)
from ._errors import *  # noqa: F401,F403  (the exception tree)
from ._errors import __all__ as _error_names
from ._points import Placement, PointFile, load_points, parse_points
from ._images import (Detection, detect, detect_board, export_colmap, export_opencv, export_ros,
                      fit_opencv, images_available, undistort_image)

__version__ = "0.1.0"


# ---- result classes ----------------------------------------------------------------------------

def _fmt(value):
    if isinstance(value, _np.ndarray):
        if value.ndim == 1 and value.size <= 8:
            return "[" + ", ".join("%.6g" % v for v in value) + "]"
        return "array(shape=%s)" % (value.shape,)
    if isinstance(value, float):
        return "%.6g" % value
    if isinstance(value, list) and len(value) > 4:
        return "[%d items]" % len(value)
    return repr(value)


class _Result:
    _fields = ()

    def __repr__(self):
        return "%s(%s)" % (type(self).__name__,
                           ", ".join("%s=%s" % (f, _fmt(getattr(self, f))) for f in self._fields))


class CameraCalibration(_Result):
    """Result of calibrate_camera: the camera (CameraModel) and its image residuals in pixels
    (residuals[i] = |image[i] - camera.project(world[i])|, rms weighted, max_error)."""

    _fields = ("camera", "rms", "max_error")

    def __init__(self, camera, residuals, weights):
        self.camera = camera
        self.residuals = residuals
        total = float(weights.sum())
        self.rms = float(_np.sqrt((weights * residuals ** 2).sum() / total)) if total > 0 else 0.0
        self.max_error = float(residuals.max()) if residuals.size else 0.0

    def transform(self):
        return self.camera.transform()


class PlanarCalibration(_Result):
    """Result of calibrate_planar: transform (world = the first view's plate), per-view RMS and
    largest residual in pixels."""

    _fields = ("transform", "rms_per_view", "max_per_view")

    def __init__(self, transform, rms, largest):
        self.transform, self.rms_per_view, self.max_per_view = transform, rms, largest


class RigCalibration(_Result):
    """Result of calibrate_rig and estimate_rig_pose. cameras[c]: CameraModel (pose world ->
    camera c); z_rotation_poses[j], arbitrary_poses[j]: (3, 4) plate -> world; per-camera RMS and
    largest residual (pixels) over the Z-rotation and the arbitrary placements.

    uncertainty (when asked for): sigma, sigma_estimated, points, parameters, rank,
    rank_deficient; cameras[c], a dict of standard deviations (fx, fy, cx, cy, skew in pixels,
    focal: the focal lengths the data determine, fx·s0 and fy·s0 with s0 the sine-tangent
    slope at the centre (1 for the other models),
    lens and centre_of_expansion arrays, rotation_deg and translation arrays of the pose);
    z_rotation_placements and arbitrary_placements, (n, 6) arrays of σ (rotation in degrees,
    translation); warnings, a list of dicts (kind, camera, placement, value, limit, message);
    covariance over the solver's parameters; relative_pose(source, target) -> dict of σ
    (rotation_deg, translation) of camera target's pose relative to camera source's;
    projection(camera, points, distance=0) -> dict of
    rms (N,), covariance (N, 2, 2) and ellipse (N, 3: major, minor, angle); map(camera,
    columns=32, rows=24, distance=0) -> (rows, columns) RMS radii over the image (needs the
    image size of a PointFile). Infinite values: not determined by the data.

    With reject_outliers=True also (None otherwise): inliers[j][c], a bool array per placement
    (input order) and camera, True where the final solve used the point; dropped_views, the
    (placement, camera) views left with too few inliers; rejected (count), outlier_rounds,
    outlier_capped, sigma (px per coordinate), inlier_rms / all_rms per camera and
    inlier_rms_pooled / all_rms_pooled (docs/outliers.md)."""

    _fields = ("cameras", "rms_z_rotation", "max_z_rotation", "rms_arbitrary", "max_arbitrary")
    inliers = dropped_views = rejected = outlier_rounds = outlier_capped = sigma = None
    inlier_rms = all_rms = inlier_rms_pooled = all_rms_pooled = None

    def __init__(self, raw):
        for key, value in raw.items():
            setattr(self, key, value)

    def transforms(self):
        """One CalibratedTransform per camera: image of camera c <-> world plane Z = 0."""
        return [camera.transform() for camera in self.cameras]


class TelecentricCalibration(_Result):
    """Result of calibrate_telecentric: transform (model "telecentric") and per-pose RMS and
    largest residual in pixels."""

    _fields = ("transform", "rms_per_pose", "max_per_pose")

    def __init__(self, transform, rms, largest):
        self.transform, self.rms_per_pose, self.max_per_pose = transform, rms, largest


class LineScanCalibration(_Result):
    """Result of calibrate_line_scan: transform (holding a LineScanTransform: map image (u, v)
    -> plate (X, Y)), RMS and largest image residual in pixels."""

    _fields = ("transform", "rms", "max_residual")

    def __init__(self, transform, rms, largest):
        self.transform, self.rms, self.max_residual = transform, rms, largest


# ---- calibrations ------------------------------------------------------------------------------

def calibrate_camera(image, world, weights=None, model="radial", views=None, progress=None):
    """Calibrates one area-scan camera from image points (N, 2) of world points (N, 3) that do
    not all lie on one plane. views: optional plate views [(image, plate, pose[, weights])]
    with pose the (3, 4) plate -> world transform; they give the planar estimate that competes
    for the start (the rig calibration always passes them). Returns CameraCalibration."""
    image = _np.asarray(image, dtype=float)
    world = _np.asarray(world, dtype=float)
    view_list = [(v[0], v[1], v[2], v[3] if len(v) > 3 else None) for v in (views or [])]
    camera = _ccal._calibrate_camera(image, world, weights, model, view_list, progress)
    w = _np.ones(len(image)) if weights is None else _np.asarray(weights, dtype=float)
    residuals = _np.linalg.norm(image - camera.project(world), axis=1) if len(image) else \
        _np.zeros(0)
    return CameraCalibration(camera, residuals, w)


def calibrate_planar(views, model="radial", progress=None):
    """Calibrates one camera from planar views [(image (N, 2), plate (N, 2 or 3))] of a plate
    (z = 0 on the plate). Returns PlanarCalibration."""
    transform, rms, largest = _ccal._calibrate_planar([(v[0], v[1]) for v in views], model,
                                                      progress)
    return PlanarCalibration(transform, rms, largest)


def _rig_placements(data):
    placements = data.placements if isinstance(data, PointFile) else list(data)
    out = []
    for p in placements:
        height = p.height if p.height is not None else 0.0
        out.append((p.kind, height, [p._view(c) for c in range(len(p.points))]))
    return out


def calibrate_rig(data, model=None, progress=None, image_refinement=True, uncertainty=True,
                  sigma=0.0, reject_outliers=False):
    """Calibrates a rig of cameras from plate placements: a PointFile of kind "area-scan" or a
    list of Placement objects (the first Z-rotation placement is the world frame). model
    defaults to the file's distortion model ("radial" for a list). image_refinement (default on)
    refines the calibration on the image residuals themselves (docs/image-refinement.md); False
    keeps the calibration's own fit. uncertainty (default on) adds RigCalibration.uncertainty
    (docs/uncertainty.md), with the noise σ in pixels given or, at 0, estimated.
    reject_outliers: solve again with weight 0 on the points that do not fit (docs/outliers.md);
    the uncertainty is then that of the inliers. Returns RigCalibration."""
    if model is None:
        model = getattr(data, "distortion_model", None) or "radial"
    return RigCalibration(_ccal._calibrate_rig(model, _rig_placements(data), progress,
                                               bool(image_refinement), bool(uncertainty),
                                               _image_size(data), float(sigma),
                                               bool(reject_outliers)))


def estimate_rig_pose(intrinsics, data, progress=None, image_refinement=True, uncertainty=True,
                      sigma=0.0, reject_outliers=False):
    """Poses of a rig whose intrinsic models (one Intrinsics per camera) are known, from the
    placements of data (as calibrate_rig); image_refinement, uncertainty, sigma and
    reject_outliers as in calibrate_rig (the intrinsic models held). Returns RigCalibration."""
    return RigCalibration(_ccal._estimate_rig_pose(list(intrinsics), _rig_placements(data),
                                                   progress, bool(image_refinement),
                                                   bool(uncertainty), _image_size(data),
                                                   float(sigma), bool(reject_outliers)))


def _image_size(data):
    size = getattr(data, "image_size", None)
    return tuple(size) if size else None


def calibrate_telecentric(data, poses=None, flow=1, camera_height=None, intrinsic=None,
                          progress=None):
    """Calibrates a telecentric camera from a plate seen in known poses.

    data: a PointFile of kind "telecentric" (camera 0; each placement carries its pose), or a
    list of views [(image (N, 2), plate (N, 2 or 3)[, weights])] with poses the list of (3, 4)
    plate -> home transforms. flow 1: the refined calibration (weights are not used); flow 2:
    weighted closed form; flow 3: known intrinsic part (intrinsic: a CalibratedTransform whose
    K is used). camera_height fixes the unobservable Z translation. Returns
    TelecentricCalibration."""
    if isinstance(data, PointFile):
        views = [p._view(0) for p in data.placements]
        poses = [p.pose for p in data.placements] if poses is None else poses
    else:
        views = [(v[0], v[1], v[2] if len(v) > 2 else None) for v in data]
    if poses is None:
        raise ValueError("poses: one (3, 4) plate -> home transform per view is needed")
    transform, rms, largest = _ccal._calibrate_telecentric(
        int(flow), views, list(poses), camera_height, intrinsic, progress)
    return TelecentricCalibration(transform, rms, largest)


def calibrate_line_scan(data, plate=None, distance=None, align_y_to_motion=False,
                        progress=None):
    """Calibrates a line-scan camera from one view of a plate: data is the image points (N, 2)
    (u pixels, v scan line) with plate the plate points (N, 2), or a PointFile of kind
    "line-scan" (its first placement; distance defaults to the file's distance_to_target).
    distance: camera-to-target distance (None: default scale convention). Returns
    LineScanCalibration."""
    if isinstance(data, PointFile):
        placement = data.placements[0]
        image, plate = placement.image(0), placement.plate(0)[:, :2]
        if distance is None:
            distance = placement.distance_to_target
    else:
        image = data
        if plate is None:
            raise ValueError("plate: the plate points are needed")
    transform, rms, largest = _ccal._calibrate_line_scan(image, plate, distance,
                                                         bool(align_y_to_motion), progress)
    return LineScanCalibration(transform, rms, largest)


# ---- archives ----------------------------------------------------------------------------------

def save_transforms(path, transforms):
    """Writes a calibration file: the calibrated transforms of a set of cameras, in order, in the
    archive form that ccal-calibrate --archive writes and ccal-calibrate map reads."""
    data = _ccal._store_transforms(list(transforms))
    with open(_os.fspath(path), "wb") as f:
        f.write(data)


def load_transforms(path):
    """Reads a calibration file (save_transforms, ccal-calibrate --archive): a list of
    CalibratedTransform, one per camera."""
    with open(_os.fspath(path), "rb") as f:
        return _ccal._load_transforms(f.read())


def _save_transform(self, path):
    """Writes a calibration file holding this one transform (see save_transforms)."""
    save_transforms(path, [self])


def _load_transform(cls, path, camera=0):
    """Reads camera `camera` of a calibration file (see load_transforms)."""
    transforms = load_transforms(path)
    if not 0 <= camera < len(transforms):
        raise ValueError("%s holds %d camera(s), no camera %d" % (_os.fspath(path),
                                                                  len(transforms), camera))
    return transforms[camera]


def _save(self, path):
    """Writes the archive form (to_bytes()) to a file."""
    with open(_os.fspath(path), "wb") as f:
        f.write(self.to_bytes())


def _load(cls, path):
    """Reads an object written by save()."""
    with open(_os.fspath(path), "rb") as f:
        return cls.from_bytes(f.read())


CalibratedTransform.save = _save_transform
CalibratedTransform.load = classmethod(_load_transform)
for _cls in (LineScanTransform, LineScanOptions, TelecentricOptions):
    _cls.save = _save
    _cls.load = classmethod(_load)
for _cls in (CalibratedTransform, LineScanTransform, LineScanOptions, TelecentricOptions,
             CameraModel, Intrinsics):
    _cls.__module__ = "ccal"
del _cls

__all__ = [
    "CalibratedTransform", "CameraModel", "Intrinsics", "LineScanOptions", "LineScanTransform",
    "TelecentricOptions", "Placement", "PointFile", "load_points", "parse_points",
    "calibrate_camera", "calibrate_planar", "calibrate_rig", "estimate_rig_pose",
    "calibrate_telecentric", "calibrate_line_scan", "align_to_scanner_motion",
    "rethrow_stored_error", "save_transforms", "load_transforms", "CameraCalibration", "PlanarCalibration", "RigCalibration",
    "TelecentricCalibration", "LineScanCalibration", "Detection", "detect", "detect_board",
    "export_colmap", "export_opencv", "export_ros", "fit_opencv", "images_available",
    "undistort_image",
] + list(_error_names)
