#!/usr/bin/python3
"""What OpenCV reaches on the real chessboard corners of data/, with one radial coefficient.

The rig and single-camera calibrations are compared against these figures (docs/benchmarks.md,
"Real data against OpenCV"; tests/multicam/real_data_test.cpp):

- a file with one camera: cv2.calibrateCamera;
- a file with two cameras: cv2.calibrateCamera per camera, then cv2.stereoCalibrateExtended
  started from those results and refining both cameras' intrinsics jointly with the relative
  pose and one plate pose per view (CALIB_USE_INTRINSIC_GUESS).

Distortion: k1 only (CALIB_FIX_K2 | CALIB_FIX_K3 | CALIB_ZERO_TANGENT_DIST); aspect ratio,
principal point and (zero) skew as OpenCV models them. Every corner of the file is used: the
few corners at the board's edge that lie several pixels off are kept, as in our calibration.

RMS figures are sqrt(sum |e|^2 / N) in pixels over the N corners of one camera (for the pair
also the joint figure OpenCV returns, over the corners of both cameras), with e the image
residual of the fitted model; the largest |e| is printed beside them where OpenCV returns the
plate poses (not for the joint fit of the pair).

Usage: /usr/bin/python3 bench/opencv_stereo_reference.py data/opencv-left.json data/opencv-stereo.json
Needs Debian's python3-opencv (apt-get install python3-opencv).
"""
import json
import sys

import cv2
import numpy as np

FLAGS = cv2.CALIB_FIX_K2 | cv2.CALIB_FIX_K3 | cv2.CALIB_ZERO_TANGENT_DIST
CRITERIA = (cv2.TERM_CRITERIA_COUNT + cv2.TERM_CRITERIA_EPS, 1000, 1e-15)


def views(data, camera):
    """Object and image points of every placement the camera saw (placement order)."""
    objects, images = [], []
    for placement in data["placements"]:
        rows = placement["points"][camera]
        if len(rows) < 4:
            continue
        objects.append(np.array([[r[2], r[3], r[4]] for r in rows], dtype=np.float64))
        images.append(np.array([[r[0], r[1]] for r in rows], dtype=np.float64))
    return objects, images


def residuals(objects, images, matrix, dist, rvecs, tvecs):
    """All image residual lengths of one camera."""
    out = []
    for obj, img, r, t in zip(objects, images, rvecs, tvecs):
        projected, _ = cv2.projectPoints(obj, r, t, matrix, dist)
        out.append(np.linalg.norm(projected.reshape(-1, 2) - img, axis=1))
    return np.concatenate(out)


def figures(name, e):
    print("  %-6s points=%d rms=%.10f max=%.4f" % (name, len(e), np.sqrt(np.mean(e * e)),
                                                   e.max()))


def calibrate(objects, images, size):
    rms, matrix, dist, rvecs, tvecs = cv2.calibrateCamera(
        [o.astype(np.float32) for o in objects], [i.astype(np.float32) for i in images], size,
        None, None, flags=FLAGS, criteria=CRITERIA)
    return rms, matrix, dist, rvecs, tvecs


def one_camera(path, data):
    camera = data["cameras"][0]
    objects, images = views(data, camera)
    rms, matrix, dist, rvecs, tvecs = calibrate(objects, images, tuple(data["image_size"]))
    print("%s: cv2.calibrateCamera, %d views" % (path, len(objects)))
    print("  camera matrix", matrix.tolist(), "k1 %.10f" % dist.ravel()[0])
    figures(camera, residuals(objects, images, matrix, dist, rvecs, tvecs))
    print("  returned rms %.10f" % rms)


def two_cameras(path, data):
    left, right = data["cameras"]
    size = tuple(data["image_size"])
    objects, images_left = views(data, left)
    objects_right, images_right = views(data, right)
    if len(objects) != len(objects_right):
        raise SystemExit("the two cameras must see the same placements")
    print("%s: per camera cv2.calibrateCamera, then cv2.stereoCalibrateExtended, %d views" %
          (path, len(objects)))
    single = {}
    for name, images in ((left, images_left), (right, images_right)):
        rms, matrix, dist, rvecs, tvecs = calibrate(objects, images, size)
        single[name] = (matrix, dist)
        print("  alone:", end="")
        figures(name, residuals(objects, images, matrix, dist, rvecs, tvecs))
    (m1, d1), (m2, d2) = single[left], single[right]
    # The relative pose starts from the identity; OpenCV initialises it from the per-view poses.
    r0 = np.eye(3)
    t0 = np.zeros((3, 1))
    result = cv2.stereoCalibrateExtended(
        [o.astype(np.float32) for o in objects], [i.astype(np.float32) for i in images_left],
        [i.astype(np.float32) for i in images_right], m1.copy(), d1.copy(), m2.copy(), d2.copy(),
        size, r0, t0, flags=FLAGS | cv2.CALIB_USE_INTRINSIC_GUESS, criteria=CRITERIA)
    rms, m1, d1, m2, d2, r, t, _, _, per_view = result
    print("  left  camera matrix", m1.tolist(), "k1 %.10f" % d1.ravel()[0])
    print("  right camera matrix", m2.tolist(), "k1 %.10f" % d2.ravel()[0])
    print("  relative pose R", r.tolist(), "T", t.ravel().tolist())
    # OpenCV 4.6 does not return the plate poses of the joint fit, only the RMS of every view
    # and camera; every view has the same number of corners, so the per-camera RMS is the
    # root of the mean of their squares.
    per_camera = np.sqrt(np.mean(np.asarray(per_view) ** 2, axis=0))
    print("  stereo: %-6s rms=%.10f" % (left, per_camera[0]))
    print("  stereo: %-6s rms=%.10f" % (right, per_camera[1]))
    print("  stereo: joint  rms=%.10f (returned)" % rms)


def main():
    print("opencv", cv2.__version__)
    for path in sys.argv[1:]:
        with open(path) as handle:
            data = json.load(handle)
        if len(data["cameras"]) == 1:
            one_camera(path, data)
        elif len(data["cameras"]) == 2:
            two_cameras(path, data)
        else:
            raise SystemExit("%s: one or two cameras expected" % path)


if __name__ == "__main__":
    main()
