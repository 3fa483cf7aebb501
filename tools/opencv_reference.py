#!/usr/bin/python3
"""Reference RMS of OpenCV's calibrateCamera on a point-list file, one camera.

The planar calibration of the library is checked against this figure: with the radial model
(one coefficient plus the centre of expansion and skew) its RMS image residual must not exceed
OpenCV's with one radial coefficient on the same points.

Usage: /usr/bin/python3 tools/opencv_reference.py data/opencv-left.json [camera-name]

Prints the RMS in pixels, sqrt(sum |e|^2 / N) over all N points, which is what
cv2.calibrateCamera returns. Needs Debian's python3-opencv.
"""
import json
import sys

import cv2
import numpy as np


def main():
    path = sys.argv[1]
    with open(path) as handle:
        data = json.load(handle)
    camera = sys.argv[2] if len(sys.argv) > 2 else data["cameras"][0]
    object_points, image_points = [], []
    for placement in data["placements"]:
        rows = placement["points"][camera]
        if len(rows) < 4:
            continue
        object_points.append(np.array([[r[2], r[3], 0.0] for r in rows], dtype=np.float32))
        image_points.append(np.array([[r[0], r[1]] for r in rows], dtype=np.float32))
    width, height = data["image_size"]
    flags = cv2.CALIB_FIX_K2 | cv2.CALIB_FIX_K3 | cv2.CALIB_ZERO_TANGENT_DIST
    criteria = (cv2.TERM_CRITERIA_COUNT + cv2.TERM_CRITERIA_EPS, 1000, 1e-15)
    rms, matrix, dist, _, _ = cv2.calibrateCamera(
        object_points, image_points, (width, height), None, None, flags=flags, criteria=criteria)
    print("opencv %s views=%d points=%d" % (cv2.__version__, len(object_points),
                                           sum(len(p) for p in object_points)))
    print("camera matrix", matrix.tolist())
    print("k1", float(dist.ravel()[0]))
    print("rms %.10f" % rms)


if __name__ == "__main__":
    main()
