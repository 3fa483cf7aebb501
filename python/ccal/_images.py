"""From images to point lists, and from calibrations to other programs' camera files.

The same code as ``ccal-calibrate detect``, ``export`` and ``undistort`` (docs/images-to-calibration.md).
Boards are named "chessboard:COLSxROWS" or "charuco:COLSxROWS" (inner corners). Image points are
in pixels, OpenCV's convention (the centre of the top-left pixel is (0, 0)). Functions that read
or write images need a module built with OpenCV (``images_available()``).
"""

import os as _os

from . import _ccal
from ._points import parse_points


class Detection:
    """Result of detect: points (a PointFile, ready for calibrate_rig), text (the ccal-points/1
    file's JSON text) and images (one dict per image: camera, path, view, found, readable,
    reason, ids, corners)."""

    def __init__(self, text, images):
        self.text = text
        self.points = parse_points(text)
        self.images = images

    def save(self, path):
        with open(path, "w") as f:
            f.write(self.text)

    def __repr__(self):
        found = sum(1 for i in self.images if i["found"])
        return "Detection(%d of %d images, %d placements)" % (
            found, len(self.images), len(self.points.placements))


def images_available():
    """True when the module was built with OpenCV (detection, undistortion)."""
    return _ccal._images_available()


def detect_board(path, board="chessboard:9x6", square=1.0, marker=0.75, dictionary="4x4_50",
                 min_corners=6):
    """The board's corners in one image: a dict with found, readable, reason, image_size,
    ids (corner ids, row by row) and corners ((N, 2) pixels). marker is a fraction of square."""
    return _ccal._detect_board(_os.fspath(path), board, square, marker, dictionary, min_corners)


def detect(images, board="chessboard:9x6", square=1.0, marker=0.75, dictionary="4x4_50",
           min_corners=6, pairing="auto", world_view="", model="radial"):
    """Detects the board in the images of one camera (a list of paths) or of several (a dict
    {camera name: list of paths}) and returns a Detection. Views pair up across cameras by the
    number in the file names or, with pairing="order", by position. Raises ValueError for a
    camera without views, lists that cannot be paired, a bad board name."""
    if isinstance(images, dict):
        cameras = [(str(name), [_os.fspath(p) for p in paths]) for name, paths in images.items()]
    else:
        cameras = [("camera", [_os.fspath(p) for p in images])]
    text, outcomes = _ccal._detect_points(cameras, board, square, marker, dictionary, min_corners,
                                          pairing, world_view, model)
    return Detection(text, outcomes)


def fit_opencv(intrinsics, image_size, tolerance=0.05):
    """OpenCV's camera fitted to an Intrinsics over an image of image_size (width, height):
    a dict with camera_matrix (3, 3), distortion (5 or 8 coefficients), rms_error and max_error
    (pixels, the disagreement with ccal's model over the image)."""
    return _ccal._fit_opencv(intrinsics, tuple(image_size), tolerance)


def _export(fmt, intrinsics, image_size, path, name, tolerance, force):
    text = _ccal._export_camera(fmt, name, intrinsics, tuple(image_size), tolerance, force)
    if path is not None:
        with open(path, "w") as f:
            f.write(text)
    return text


def export_opencv(intrinsics, image_size, path=None, name="camera", tolerance=0.05, force=False):
    """The camera as cv::FileStorage YAML text (written to path when given). Raises ValueError
    when OpenCV's model disagrees with ccal's by more than tolerance pixels, unless force."""
    return _export("opencv", intrinsics, image_size, path, name, tolerance, force)


def export_ros(intrinsics, image_size, path=None, name="camera", tolerance=0.05, force=False):
    """The camera as ROS camera_info YAML text (plumb_bob or rational_polynomial)."""
    return _export("ros", intrinsics, image_size, path, name, tolerance, force)


def export_colmap(cameras, image_size, path=None, tolerance=0.05, force=False):
    """A list of Intrinsics as COLMAP cameras.txt text (camera ids from 1)."""
    text = _ccal._export_colmap(list(cameras), tuple(image_size), tolerance, force)
    if path is not None:
        with open(path, "w") as f:
            f.write(text)
    return text


def undistort_image(intrinsics, input, output):
    """Writes the image at input, undistorted into the pinhole of the camera's own focal lengths
    and principal point, to output. Raises ValueError for an unreadable input or unwritable
    output."""
    _ccal._undistort_image(intrinsics, _os.fspath(input), _os.fspath(output))
