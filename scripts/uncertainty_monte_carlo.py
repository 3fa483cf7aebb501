#!/usr/bin/python3
"""Predicted standard deviations against the spread of re-calibrations on fresh noise.

For each generated set (radial and sine-tan, one camera and a rig of three): the image points are
replaced by the ground truth's projections plus Gaussian noise of the set's σ, and the set is
calibrated (calibrate_rig: the rig calibration refined on the image residuals) RUNS times. The
spread (standard deviation over the runs) of camera 0's terms and the RMS distance of its
re-projections (mrcal's definition, calibration_uncertainty.h: the ray through the pixel under the
truth, mapped into every placement's plate frame through the truth, back through the re-solved
rig, averaged, projected) from the pixel are set beside what the uncertainty of one calibration
on a noisy copy predicts with the set's σ given.

Terms: fx and cx under the radial model; under sine-tan, whose data fix no scale of the linear
map against the lens values p0 and p2, the terms the data determine: the focal length fx·s0
(s0 = p0/p1 + p2/p3), the centre of expansion x and the lens value p1. Then k or p3, camera 0's
rotation (rotation vector of R·R_truthᵀ, x component, degrees; the world frame is placement 0's
plate), for a rig camera 1's pose relative to camera 0 (rotation x, translation x), and the
projection uncertainty at the image centre and at a point a tenth of the image
in from the top-left corner, at the distance of camera 0 from the world origin.

Usage: PYTHONPATH=build/python /usr/bin/python3 scripts/uncertainty_monte_carlo.py [RUNS [SET...]]
"""
import copy
import sys

import numpy as np

import ccal

SETS = ["single-radial-noisy", "rig3-radial-noisy", "single-sinetan-noisy", "rig3-sinetan-noisy"]


def rotation_vector_deg(R):
    return 0.5 * np.degrees(np.array([R[2, 1] - R[1, 2], R[0, 2] - R[2, 0], R[1, 0] - R[0, 1]]))


def truth_camera(t):
    intr = ccal.Intrinsics(camera_scale=tuple(t["cameraScale"]), camera_skew=t["cameraSkew"],
                           camera_translation=tuple(t["cameraTranslation"]),
                           model={"eRadial": "radial", "eSineTan": "sine-tan",
                                  "eNoDistortion": "none"}[t["distModel"]],
                           lens_dist_params=t["lensDistParams"],
                           center_of_expansion=tuple(t["centerOfExpansion"]))
    return ccal.CameraModel(intr, np.asarray(t["pose"]))


def terms(camera):
    i = camera.intrinsics
    lens = list(i.lens_dist_params)
    if i.model == "sine-tan":
        s0 = lens[0] / lens[1] + lens[2] / lens[3]
        values = [i.fx * s0, i.center_of_expansion[0], lens[1], lens[3]]
    else:
        values = [i.fx, i.cx, lens[0] if lens else 0.0, 0.0]
    return values


def predicted_terms(u, model):
    c = u.cameras[0]
    if model == "sine-tan":
        return [c["focal"][0], c["centre_of_expansion"][0], c["lens"][1], c["lens"][3]]
    return [c["fx"], c["cx"], c["lens"][0] if len(c["lens"]) else 0.0, 0.0]


def pose(rows):
    a = np.asarray(rows, dtype=float)
    return a[:, :3], a[:, 3]


def reprojection(truth_cams, truth_poses, result, seen, pixel, d):
    """mrcal's re-projection of pixel of camera 0 at depth d through the re-solved rig."""
    m = truth_cams[0].intrinsics.to_z1(np.array([pixel]))[0]
    ray = np.array([m[0] * d, m[1] * d, d])
    Rc0, tc0 = pose(truth_cams[0].pose)
    Rc, tc = pose(result.cameras[0].pose)
    poses = result.z_rotation_poses + result.arbitrary_poses
    total = np.zeros(3)
    for j in seen:
        Rp0, tp0 = pose(truth_poses[j])
        Rp, tp = pose(poses[j])
        world = Rc0.T @ (ray - tc0)
        plate = Rp0.T @ (world - tp0)
        total += Rc @ (Rp @ plate + tp) + tc
    pc = total / len(seen)
    world = Rc.T @ (pc - tc)
    return result.cameras[0].project(world[None, :])[0]


def run_set(name, runs, rng):
    f = ccal.load_points("data/%s.json" % name)
    truth = f.ground_truth
    sigma = truth["noise_sigma_px"]
    cams = [truth_camera(c) for c in truth["cameras"]]
    by_name = {p["name"]: p for p in truth["placements"]}
    # Placement order of the rig result: Z-rotation placements, then arbitrary ones.
    ordered = [p for p in f.placements if p.kind == "z-rotation"] + \
              [p for p in f.placements if p.kind != "z-rotation"]
    truth_poses = [by_name[p.name]["pose"] for p in ordered]
    seen = [j for j, p in enumerate(ordered) if len(p.points[0])]
    model = f.distortion_model

    def noisy():
        g = copy.deepcopy(f)
        for p in g.placements:
            R, t = pose(by_name[p.name]["pose"])
            for c, rows in enumerate(p.points):
                if len(rows) == 0:
                    continue
                world = rows[:, 2:5] @ R.T + t
                rows[:, 0:2] = cams[c].project(world) + rng.normal(0.0, sigma, (len(rows), 2))
        return g

    w, h = f.image_size
    centre = (0.5 * (w - 1), 0.5 * (h - 1))
    corner = (0.1 * w, 0.1 * h)
    d = float(np.linalg.norm(pose(cams[0].pose)[1]))
    first = ccal.calibrate_rig(noisy(), sigma=sigma)
    u = first.uncertainty
    rig = len(cams) > 1
    predicted = predicted_terms(u, model) + [u.cameras[0]["rotation_deg"][0]] + \
        ([u.relative_pose(0, 1)["rotation_deg"][0], u.relative_pose(0, 1)["translation"][0]]
         if rig else []) + \
        list(u.projection(0, np.array([centre, corner]), distance=d)["rms"])
    samples, offsets = [], []
    R0 = pose(cams[0].pose)[0]
    for _ in range(runs):
        r = ccal.calibrate_rig(noisy(), uncertainty=False)
        R = pose(r.cameras[0].pose)[0]
        sample = terms(r.cameras[0]) + [rotation_vector_deg(R @ R0.T)[0]]
        if rig:
            # Camera 1 relative to camera 0: T1·T0⁻¹ against the truth's.
            Ra, ta = pose(r.cameras[0].pose)
            Rb, tb = pose(r.cameras[1].pose)
            Rt0, tt0 = pose(cams[0].pose)
            Rt1, tt1 = pose(cams[1].pose)
            Rrel, trel = Rb @ Ra.T, tb - Rb @ Ra.T @ ta
            Rrel0 = Rt1 @ Rt0.T
            sample += [rotation_vector_deg(Rrel @ Rrel0.T)[0], trel[0]]
        samples.append(sample)
        offsets.append([np.sum((reprojection(cams, truth_poses, r, seen, q, d) - q) ** 2)
                        for q in (centre, corner)])
    spread = list(np.std(np.array(samples), axis=0, ddof=1)) + \
        list(np.sqrt(np.mean(np.array(offsets), axis=0)))
    labels = (["fx·s0", "COE x", "p1", "p3"] if model == "sine-tan" else ["fx", "cx", "k", None]) + \
        ["camera 0 rotation x (deg)"] + \
        (["camera 1 from camera 0: rotation x (deg)", "camera 1 from camera 0: translation x"]
         if rig else []) + \
        ["projection at the centre (px)",
         "projection near a corner (px)"]
    print("\n%s (σ = %g px, %d re-solves)\n" % (name, sigma, runs))
    print("| term | predicted σ | spread | spread / predicted |")
    print("|---|---|---|---|")
    for label, p, s in zip(labels, predicted, spread):
        if label is None:
            continue
        print("| %s | %.4g | %.4g | %.3f |" % (label, p, s, s / p))


def main():
    runs = int(sys.argv[1]) if len(sys.argv) > 1 else 200
    names = sys.argv[2:] or SETS
    rng = np.random.default_rng(2026)
    for name in names:
        run_set(name, runs, rng)


if __name__ == "__main__":
    main()
