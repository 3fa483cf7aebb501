#!/usr/bin/python3
"""Cross-check of the projection uncertainty: two calibrations of one camera on disjoint halves of
100 generated views, their projections compared over the image against what their predicted
uncertainties allow.

The camera is the ground truth of data/single-radial-noisy.json (2448 x 2048 px, radial). 100
views of its 20 x 15 plate are generated around the set's own placements (each turned by up to
15 degrees about a random axis and moved by up to 20 plate units, kept only when every point
lands at least 20 px inside the image), their image points given Gaussian noise of 0.1 px. Views
0-49 and 50-99 are calibrated apart (calibrate_rig, radial, refined on the image residuals; the
first view of each half is its world frame). On a grid over the image each pixel q is unprojected
by calibration A to a ray, turned by the rotation that best aligns the two cameras' frames (fitted
over the grid: the two calibrations' camera frames are each only known up to their own small
rotation, as in mrcal's projection differences), and projected by calibration B: d(q) is the
difference to q. Against it the sum C = C_A + C_B of the two predicted projection covariances at q
(calibration_uncertainty.h, rays at infinity): the share of grid points with dᵀC⁻¹d <= 5.99 (the
95 % quantile of a chi-square with two degrees of freedom), and with |d| <= 2·√trace C.

Usage: PYTHONPATH=build/python /usr/bin/python3 scripts/uncertainty_split_halves.py [SEED]
"""
import json
import pathlib
import sys

import numpy as np
from scipy.optimize import least_squares
from scipy.spatial.transform import Rotation

import ccal

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from uncertainty_monte_carlo import truth_camera  # noqa: E402

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"
VIEWS, SIGMA, MARGIN = 100, 0.1, 20.0


def generate(rng):
    raw = json.loads((DATA / "single-radial-noisy.json").read_text())
    truth = raw["ground_truth"]
    camera = truth_camera(truth["cameras"][0])
    width, height = raw["image_size"]
    plate = np.array([row[2:5] for row in raw["placements"][0]["points"]["cam0"]], dtype=float)
    bases = [np.asarray(p["pose"], dtype=float) for p in truth["placements"]]
    views = []
    while len(views) < VIEWS:
        base = bases[len(views) % len(bases)]
        turn = Rotation.from_rotvec(rng.normal(size=3) / np.sqrt(3.0) *
                                    np.radians(rng.uniform(0.0, 15.0))).as_matrix()
        R = turn @ base[:, :3]
        t = base[:, 3] + rng.uniform(-20.0, 20.0, size=3)
        image = camera.project(plate @ R.T + t)
        if not (np.all(image >= MARGIN) and np.all(image[:, 0] <= width - MARGIN) and
                np.all(image[:, 1] <= height - MARGIN)):
            continue
        views.append(image + rng.normal(scale=SIGMA, size=image.shape))
    return plate, views, (width, height)


def calibrate(plate, views):
    placements = [ccal.Placement.from_arrays("z-rotation" if k == 0 else "arbitrary",
                                             [(image, plate)], height=0.0 if k == 0 else None)
                  for k, image in enumerate(views)]
    return ccal.calibrate_rig(placements, model="radial")


def main():
    seed = int(sys.argv[1]) if len(sys.argv) > 1 else 1
    rng = np.random.default_rng(seed)
    plate, views, (width, height) = generate(rng)
    a = calibrate(plate, views[:VIEWS // 2])
    b = calibrate(plate, views[VIEWS // 2:])
    u, v = np.meshgrid(np.linspace(0.05 * width, 0.95 * width, 24),
                       np.linspace(0.05 * height, 0.95 * height, 20))
    grid = np.column_stack([u.ravel(), v.ravel()])
    rays = np.column_stack([a.cameras[0].intrinsics.to_z1(grid), np.ones(len(grid))])

    def difference(rotvec):
        turned = rays @ Rotation.from_rotvec(rotvec).as_matrix().T
        return b.cameras[0].intrinsics.to_image(turned[:, :2] / turned[:, 2:3]) - grid

    fit = least_squares(lambda r: difference(r).ravel(), np.zeros(3))
    covariance = (a.uncertainty.projection(0, grid)["covariance"] +
                  b.uncertainty.projection(0, grid)["covariance"])
    print("seed %d: %d grid points over %d x %d px; calibrations on views 0-49 and 50-99"
          % (seed, len(grid), width, height))
    print("aligning rotation %.4f mrad" % (1e3 * np.linalg.norm(fit.x)))
    for label, rotvec in (("aligned", fit.x), ("not aligned", np.zeros(3))):
        d = difference(rotvec)
        mahalanobis = np.einsum("ni,nij,nj->n", d, np.linalg.inv(covariance), d)
        radius = np.sqrt(np.trace(covariance, axis1=1, axis2=2))
        length = np.linalg.norm(d, axis=1)
        print("%s: |d| RMS %.4f px, largest %.4f px; predicted RMS radius (combined) median "
              "%.4f px; within the 95 %% ellipse %.1f %% of grid points; |d| <= 2 sigma "
              "combined %.1f %%" % (label, np.sqrt((length ** 2).mean()), length.max(),
                                    np.median(radius), 100.0 * (mahalanobis <= 5.99).mean(),
                                    100.0 * (length <= 2.0 * radius).mean()))


if __name__ == "__main__":
    main()
