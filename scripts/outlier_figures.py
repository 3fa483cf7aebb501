#!/usr/bin/python3
"""The figures of docs/outliers.md: outlier rejection on a contaminated synthetic rig and on the
real stereo corners, the latter beside mrcal's own outlier rejection on the same corners.

    PYTHONPATH=<build>/python /usr/bin/python3 scripts/outlier_figures.py [--seeds N] [--no-mrcal]

Needs the Python module ccal (configure with -DCCAL_PYTHON=ON and build), numpy, and for the
comparison mrcal 2.2 (Debian: apt-get install mrcal; its Python module lives with Debian's
python3). Everything is printed as Markdown.
"""

import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

import numpy as np

import ccal

DATA = pathlib.Path(__file__).resolve().parents[1] / "data"


# ---- synthetic ---------------------------------------------------------------------------------

def contaminate(points, fraction, rng, low=3.0, high=20.0):
    """A copy of the file's placements with `fraction` of all points moved by low..high px in
    random directions; returns the copy and the moved set {(placement, camera, row)}."""
    index = [(j, c, i) for j, p in enumerate(points.placements)
             for c in range(len(p.points)) for i in range(len(p.points[c]))]
    chosen = rng.choice(len(index), size=int(round(fraction * len(index))), replace=False)
    moved = {index[k] for k in chosen}
    placements = []
    for j, p in enumerate(points.placements):
        rows = [a.copy() for a in p.points]
        placements.append(ccal.Placement(p.kind, rows, height=p.height, name=p.name,
                                         cameras=p.cameras))
    for (j, c, i) in moved:
        angle = rng.uniform(0.0, 2.0 * np.pi)
        length = rng.uniform(low, high)
        placements[j].points[c][i, 0:2] += length * np.array([np.cos(angle), np.sin(angle)])
    return placements, moved


def projections(rig, placements):
    """Every point's projection through a rig (placements as the rig's input), one array."""
    out = []
    iz = ia = 0
    for p in placements:
        if p.kind == "z-rotation":
            pose, iz = rig.z_rotation_poses[iz], iz + 1
        else:
            pose, ia = rig.arbitrary_poses[ia], ia + 1
        for c in range(len(p.points)):
            plate = p.plate(c)
            if len(plate):
                world = plate @ pose[:, :3].T + pose[:, 3]
                out.append(rig.cameras[c].project(world))
    return np.vstack(out)


def synthetic(seeds):
    points = ccal.load_points(DATA / "rig3-radial-noisy.json")
    clean = ccal.calibrate_rig(points)
    clean_projection = projections(clean, points.placements)
    total = sum(len(a) for p in points.placements for a in p.points)
    # The same scene without noise: the true projections, the scale of the fit's own error.
    exact = ccal.load_points(DATA / "rig3-radial-exact.json")
    truth = np.vstack([p.image(c) for p in exact.placements for c in range(len(p.points))
                       if len(p.points[c])])
    noise_error = np.sqrt(((clean_projection - truth) ** 2).sum(axis=1).mean())
    print("## Synthetic: data/rig3-radial-noisy.json (3 cameras, %d points, noise 0.1 px)\n"
          % total)
    print("2 %% of the points moved by 3-20 px in random directions (seed per row); "
          "projection shift: RMS over all points of |projection - projection of the fit on the "
          "clean set| (px). For scale: the fit on the clean set is %.4f px (RMS) from the true "
          "projections (data/rig3-radial-exact.json), the error the noise leaves.\n"
          % noise_error)
    header = ("| %s | moved | found | recall | good points flagged | rounds | inlier RMS (px) | "
              "shift, rejection (px) | shift, no rejection (px) | largest Δ/σ, rejection | "
              "largest Δ/σ, no rejection |\n|---|---|---|---|---|---|---|---|---|---|---|")

    def row(label, fraction, low, high, seed):
        rng = np.random.default_rng(seed)
        placements, moved = contaminate(points, fraction, rng, low, high)
        robust = ccal.calibrate_rig(placements, model="radial", reject_outliers=True)
        plain = ccal.calibrate_rig(placements, model="radial")
        flagged = {(j, c, i) for j, per in enumerate(robust.inliers)
                   for c, mask in enumerate(per) for i in np.flatnonzero(~mask)}
        found = len(flagged & moved)
        false = len(flagged - moved)

        def shift(rig):
            d = projections(rig, points.placements) - clean_projection
            return np.sqrt((d ** 2).sum(axis=1).mean())

        def in_sigmas(rig):
            # The largest |term − clean fit's term| / σ of the clean fit over every camera's
            # fx, fy, cx, cy and lens value.
            worst = 0.0
            for c, camera in enumerate(rig.cameras):
                mine, theirs = camera.intrinsics, clean.cameras[c].intrinsics
                sigma = clean.uncertainty.cameras[c]
                for name in ("fx", "fy", "cx", "cy"):
                    worst = max(worst, abs(getattr(mine, name) - getattr(theirs, name))
                                / sigma[name])
                lens = np.abs(np.asarray(mine.lens_dist_params) -
                              np.asarray(theirs.lens_dist_params)) / sigma["lens"]
                worst = max(worst, float(lens.max()))
            return worst

        print("| %s | %d | %d | %.1f %% | %d of %d (%.2f %%) | %d | %.4f | %.4f | %.4f | %.2f | %.1f |"
              % (label, len(moved), found, 100.0 * found / len(moved), false,
                 total - len(moved), 100.0 * false / (total - len(moved)),
                 robust.outlier_rounds, robust.inlier_rms_pooled, shift(robust), shift(plain),
                 in_sigmas(robust), in_sigmas(plain)))

    print(header % "seed")
    for seed in range(1, seeds + 1):
        row(str(seed), 0.02, 3.0, 20.0, seed)
    print("\nBeyond the target, seed 1: more outliers, and outliers too small to tell from the "
          "noise (the rule keeps every point within 4 sigma, here 0.4 px).\n")
    print(header % "moved points")
    for fraction, low, high in ((0.10, 3.0, 20.0), (0.02, 0.5, 1.0), (0.02, 0.2, 0.5)):
        row("%g %%, %g-%g px" % (100 * fraction, low, high), fraction, low, high, 1)
    print()


# ---- real: ours beside mrcal -------------------------------------------------------------------

def ours_real(points):
    rig = ccal.calibrate_rig(points, reject_outliers=True)
    rejected = {(points.cameras[c], points.placements[j].name, int(i))
                for j, per in enumerate(rig.inliers) for c, mask in enumerate(per)
                for i in np.flatnonzero(~mask)}
    return rig, rejected


def mrcal_real(points, width=9, height=6):
    """mrcal-calibrate-cameras (OPENCV5, its defaults, outlier rejection on) on the corners:
    rejected corners and per-point inlier RMS per camera and pooled."""
    import mrcal  # Debian's python3-mrcal
    work = tempfile.mkdtemp(prefix="ccal-mrcal-")
    try:
        with open(os.path.join(work, "corners.vnl"), "w") as f:
            f.write("# filename x y level\n")
            for p in points.placements:
                for c, name in enumerate(points.cameras):
                    assert len(p.points[c]) == width * height
                    for u, v in p.image(c):
                        f.write("%s-%s.jpg %.9f %.9f 0\n" % (name, p.name, u, v))
        w, h = (int(round(x)) for x in points.image_size)
        subprocess.run(["mrcal-calibrate-cameras", "--corners-cache", "corners.vnl",
                        "--lensmodel", "LENSMODEL_OPENCV5", "--focal", "500",
                        "--imagersize", str(w), str(h), "--object-spacing", "1",
                        "--object-width-n", str(width), "--object-height-n", str(height)]
                       + ["%s-*.jpg" % name for name in points.cameras],
                       cwd=work, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        model = mrcal.cameramodel(os.path.join(work, "camera-0.cameramodel"))
        inputs = model.optimization_inputs()
        rejected = set()
        for k, path in enumerate(inputs["imagepaths"]):
            camera, view = os.path.splitext(os.path.basename(path))[0].split("-", 1)
            weights = inputs["observations_board"][k, :, :, 2].ravel()
            rejected |= {(camera, view, int(i)) for i in np.flatnonzero(weights < 0)}
        rms = []
        squares = []
        for c in range(len(points.cameras)):
            r = mrcal.residuals_chessboard(inputs, i_cam=c)
            squares.append((r ** 2).sum(axis=1))
            rms.append(np.sqrt(squares[-1].mean()))
        pooled = np.sqrt(np.concatenate(squares).mean())
        return rejected, rms, pooled
    finally:
        shutil.rmtree(work, ignore_errors=True)


def fit_with_mask(points, rejected):
    """Per-point RMS (left, right, pooled) of ccal's fit with weight 0 on the rejected corners,
    over the other corners."""
    placements = []
    for p in points.placements:
        rows = [a.copy() for a in p.points]
        for c, name in enumerate(points.cameras):
            for i in range(len(rows[c])):
                if (name, p.name, i) in rejected:
                    rows[c][i, 5] = 0.0
        placements.append(ccal.Placement(p.kind, rows, height=p.height, name=p.name,
                                         cameras=p.cameras))
    rig = ccal.calibrate_rig(placements, model="radial")
    per_camera = []
    for c in range(len(points.cameras)):
        iz = ia = 0
        squares = []
        for p in placements:
            if p.kind == "z-rotation":
                pose, iz = rig.z_rotation_poses[iz], iz + 1
            else:
                pose, ia = rig.arbitrary_poses[ia], ia + 1
            keep = p.weights(c) > 0
            world = p.plate(c)[keep] @ pose[:, :3].T + pose[:, 3]
            squares.append(((p.image(c)[keep] - rig.cameras[c].project(world)) ** 2).sum(axis=1))
        per_camera.append(np.concatenate(squares))
    rms = [np.sqrt(r.mean()) for r in per_camera]
    return rms[0], rms[1], np.sqrt(np.concatenate(per_camera).mean())


def describe(corners):
    if not corners:
        return "none"
    groups = {}
    for camera, view, row in sorted(corners):
        groups.setdefault((camera, view), []).append(row)
    return "; ".join("%s %s: %s" % (camera, view, " ".join(str(r) for r in rows))
                     for (camera, view), rows in groups.items())


def real(with_mrcal):
    points = ccal.load_points(DATA / "opencv-stereo.json")
    rig, ours = ours_real(points)
    total = sum(len(a) for p in points.placements for a in p.points)
    print("## Real: data/opencv-stereo.json (%d corners)\n" % total)
    print("Rows are corner indices k of a camera's list in a view (corner (k mod 9, k div 9) "
          "of the board). RMS per point, pixels.\n")
    print("| | rejected | inlier RMS left | inlier RMS right | inlier RMS pooled | RMS all points |")
    print("|---|---|---|---|---|---|")
    print("| ccal, radial (1 coefficient), %d further solves | %d | %.4f | %.4f | %.4f | %.4f |" % (
        rig.outlier_rounds, len(ours), rig.inlier_rms[0], rig.inlier_rms[1],
        rig.inlier_rms_pooled, rig.all_rms_pooled))
    sine_tan = ccal.calibrate_rig(points, model="sine-tan", reject_outliers=True)
    print("| ccal, sine-tan (4 parameters), %d further solves | %d | %.4f | %.4f | %.4f | %.4f |" % (
        sine_tan.outlier_rounds, sine_tan.rejected, sine_tan.inlier_rms[0],
        sine_tan.inlier_rms[1], sine_tan.inlier_rms_pooled, sine_tan.all_rms_pooled))
    if not with_mrcal:
        print()
        print("ccal rejects: %s\n" % describe(ours))
        return
    theirs, rms, pooled = mrcal_real(points)
    print("| mrcal 2.2, OPENCV5 (5 coefficients), board warp | %d | %.4f | %.4f | %.4f | |" % (
        len(theirs), rms[0], rms[1], pooled))
    masked = fit_with_mask(points, theirs)
    print("| ccal, radial, no rejection, weight 0 on mrcal's rejected corners | %d | %.4f | %.4f "
          "| %.4f | |" % ((len(theirs),) + masked))
    print()
    print("- both reject (%d): %s" % (len(ours & theirs), describe(ours & theirs)))
    print("- only ccal (%d): %s" % (len(ours - theirs), describe(ours - theirs)))
    print("- only mrcal (%d): %s" % (len(theirs - ours), describe(theirs - ours)))
    column = {x for x in theirs if x[1] == "view02" and x[2] % 9 == 0}
    missed = column - ours
    print("- view02, column i = 0: mrcal rejects %d corners, ccal rejects all of them: %s" % (
        len(column), "yes" if not missed else "no, misses " + describe(missed)))
    print("- pooled inlier RMS: ccal / mrcal = %.3f" % (rig.inlier_rms_pooled / pooled))
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seeds", type=int, default=5, help="synthetic runs (default 5)")
    parser.add_argument("--no-mrcal", action="store_true", help="skip the mrcal comparison")
    args = parser.parse_args()
    with_mrcal = not args.no_mrcal
    if with_mrcal and shutil.which("mrcal-calibrate-cameras") is None:
        print("mrcal-calibrate-cameras not found: comparison skipped", file=sys.stderr)
        with_mrcal = False
    synthetic(args.seeds)
    real(with_mrcal)


if __name__ == "__main__":
    main()
