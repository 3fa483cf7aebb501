#!/usr/bin/python3
"""Standard deviations of the intrinsics of one real camera: ccal against OpenCV.

ccal: calibrate_rig on the point file (radial model, refined on the image residuals), its
uncertainty with σ² = Σ|r|² / (2N − k) (N points, 2N coordinates, k parameters).
OpenCV 4.6: cv2.calibrateCameraExtended with one radial coefficient on the same corners
(CALIB_FIX_K2 | CALIB_FIX_K3 | CALIB_ZERO_TANGENT_DIST, as bench/opencv_stereo_reference.py),
whose stdDeviationsIntrinsics use σ² = Σ|r|² / (N − k) with N counting points, not coordinates.
Both are printed as returned and converted to the other's convention (the factor
√((N − k) / (2N − k)) and its inverse, each with its own k), in the markdown of
docs/uncertainty.md.

Usage: PYTHONPATH=build/python /usr/bin/python3 scripts/uncertainty_opencv.py [data/opencv-left.json]
Needs Debian's python3-opencv and the ccal module of a build (CCAL_PYTHON=ON).
"""
import json
import sys

import cv2
import numpy as np

import ccal

FLAGS = cv2.CALIB_FIX_K2 | cv2.CALIB_FIX_K3 | cv2.CALIB_ZERO_TANGENT_DIST
CRITERIA = (cv2.TERM_CRITERIA_COUNT + cv2.TERM_CRITERIA_EPS, 1000, 1e-15)


def opencv(data):
    camera = data["cameras"][0]
    objects, images = [], []
    for placement in data["placements"]:
        rows = placement["points"][camera]
        objects.append(np.array([[r[2], r[3], r[4]] for r in rows], dtype=np.float32))
        images.append(np.array([[r[0], r[1]] for r in rows], dtype=np.float32))
    rms, matrix, dist, _, _, std, _, _ = cv2.calibrateCameraExtended(
        objects, images, tuple(data["image_size"]), None, None, flags=FLAGS, criteria=CRITERIA)
    points = sum(len(o) for o in objects)
    # fx, fy, cx, cy, k1, the plate poses (the fixed values are not counted).
    k = 5 + 6 * len(objects)
    return {"fx": matrix[0, 0], "fy": matrix[1, 1], "cx": matrix[0, 2], "cy": matrix[1, 2],
            "std": std.ravel()[:4], "rms": rms, "points": points, "k": k}


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "data/opencv-left.json"
    data = json.load(open(path))
    cv = opencv(data)
    result = ccal.calibrate_rig(ccal.load_points(path))
    u = result.uncertainty
    ours = u.cameras[0]
    n, k = u.points, u.rank
    ours_std = np.array([ours["fx"], ours["fy"], ours["cx"], ours["cy"]])
    # ccal's σ in OpenCV's convention and OpenCV's in ccal's.
    ours_as_cv = ours_std * np.sqrt((2 * n - k) / (n - k))
    cv_as_ours = cv["std"] * np.sqrt((cv["points"] - cv["k"]) / (2 * cv["points"] - cv["k"]))
    print("%s: %d points; ccal k = %d, σ = %.4f px; OpenCV k = %d, RMS %.4f px"
          % (path, n, k, u.sigma, cv["k"], cv["rms"]))
    print()
    print("| term | ccal σ (2N − k) | ccal σ as OpenCV (N − k) | OpenCV σ (N − k) "
          "| OpenCV σ as ccal (2N − k) | ratio ccal / OpenCV (same convention) |")
    print("|---|---|---|---|---|---|")
    for i, name in enumerate(["fx", "fy", "cx", "cy"]):
        print("| %s | %.4f | %.4f | %.4f | %.4f | %.3f |"
              % (name, ours_std[i], ours_as_cv[i], cv["std"][i], cv_as_ours[i],
                 ours_std[i] / cv_as_ours[i]))


if __name__ == "__main__":
    main()
