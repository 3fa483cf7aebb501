"""Every calibration kind on the bundled data: exact sets recover the truth, noisy and real sets
give residuals of the size of their noise."""

import numpy as np
import pytest

import ccal
from conftest import load, truth_camera


def world_points(f, camera=0):
    """Image points and world points of an area-scan set (plate points carried by the true
    plate -> world poses), with the plate views the single-camera driver takes."""
    image, world, views = [], [], []
    for placement, truth in zip(f.placements, f.ground_truth["placements"]):
        pose = np.asarray(truth["pose"])
        plate = placement.plate(camera)
        image.append(placement.image(camera))
        world.append(plate @ pose[:, :3].T + pose[:, 3])
        views.append((placement.image(camera), plate, pose))
    return np.vstack(image), np.vstack(world), views


def sample_world(n=50):
    """Points spread over the plate area, at a few depths."""
    rng = np.random.default_rng(7)
    return np.column_stack([rng.uniform(0, 190, n), rng.uniform(0, 140, n),
                            rng.uniform(-20, 80, n)])


class TestSingleCamera:
    def test_exact_set_recovers_the_true_projection(self):
        f = load("single-none-exact")
        image, world, views = world_points(f)
        result = ccal.calibrate_camera(image, world, model="none", views=views)
        truth = truth_camera(f.ground_truth["cameras"][0])
        probe = sample_world()
        assert np.abs(result.camera.project(probe) - truth.project(probe)).max() < 1e-6
        assert result.rms < 1e-6 and result.max_error < 1e-6
        focal = f.ground_truth["cameras"][0]["derived"]["focal_px"]
        assert result.camera.intrinsics.fx == pytest.approx(focal[0], rel=1e-9)
        assert result.camera.intrinsics.fy == pytest.approx(focal[1], rel=1e-9)
        assert result.residuals.shape == (len(image),)

    def test_weights_of_zero_remove_points(self):
        f = load("single-none-exact")
        image, world, _ = world_points(f)
        spoiled = image.copy()
        spoiled[:10] += 50.0
        weights = np.ones(len(image))
        weights[:10] = 0.0
        result = ccal.calibrate_camera(spoiled, world, weights=weights, model="none")
        truth = truth_camera(f.ground_truth["cameras"][0])
        assert np.abs(result.camera.project(world[10:]) - truth.project(world[10:])).max() < 1e-5


class TestPlanar:
    def test_real_chessboard_views(self):
        f = load("opencv-left")
        views = [(p.image(0), p.plate(0)) for p in f.placements]
        result = ccal.calibrate_planar(views, model="radial")
        assert result.rms_per_view.shape == (len(views),)
        # Real corners, one radial coefficient: a fraction of a pixel, one view near 1.2 px.
        assert 0.05 < np.median(result.rms_per_view) < 0.5 and result.rms_per_view.max() < 2.0
        assert np.all(result.max_per_view >= result.rms_per_view)
        t = result.transform
        assert t.model == "radial" and 400 < t.fx < 700 and 400 < t.fy < 700
        # The world is the first view's plate: its points map back to their images.
        image = views[0][0]
        predicted = t.inverse_map(views[0][1][:, :2])
        assert np.sqrt(((predicted - image) ** 2).sum(axis=1).mean()) == pytest.approx(
            result.rms_per_view[0], rel=1e-6)


class TestRig:
    def test_three_camera_exact_rig(self):
        f = load("rig3-radial-exact")
        result = ccal.calibrate_rig(f)
        assert len(result.cameras) == 3
        probe = sample_world()
        for camera, truth in zip(result.cameras, f.ground_truth["cameras"]):
            expected = truth_camera(truth).project(probe)
            assert np.abs(camera.project(probe) - expected).max() < 1e-6
        assert result.rms_z_rotation.max() < 1e-8 and result.rms_arbitrary.max() < 1e-8
        assert np.allclose(result.z_rotation_poses[0], np.eye(3, 4), atol=1e-15)
        for pose, truth in zip(result.z_rotation_poses + result.arbitrary_poses,
                               [p for p in f.ground_truth["placements"]
                                if p["kind"] == "z-rotation"] +
                               [p for p in f.ground_truth["placements"]
                                if p["kind"] == "arbitrary"]):
            assert np.abs(pose - np.asarray(truth["pose"])).max() < 1e-6

    def test_real_stereo_set_and_list_of_placements(self):
        f = load("opencv-left")
        result = ccal.calibrate_rig(f)  # the file's model: radial
        # The same data given as Placement objects.
        placements = [ccal.Placement.from_arrays(p.kind, [(p.image(0), p.plate(0))],
                                                 height=p.height) for p in f.placements]
        again = ccal.calibrate_rig(placements, model="radial")
        assert np.array_equal(result.cameras[0].pose, again.cameras[0].pose)
        assert 0.1 < result.rms_z_rotation[0] < 1.0
        transform = result.transforms()[0]
        assert transform.model == "radial" and transform.fx == pytest.approx(
            result.cameras[0].intrinsics.fx, rel=1e-12)

    def test_image_refinement_and_uncertainty(self):
        f = load("opencv-stereo")
        refined = ccal.calibrate_rig(f)
        plain = ccal.calibrate_rig(f, image_refinement=False, uncertainty=False)
        assert not hasattr(plain, "uncertainty")
        assert refined.rms_arbitrary[0] < plain.rms_arbitrary[0]
        u = refined.uncertainty
        assert u.rank == u.parameters and not u.rank_deficient
        assert 0.5 < u.cameras[0]["fx"] < 1.0 and u.cameras[0]["lens"].shape == (1,)
        assert u.arbitrary_placements.shape == (12, 6)
        assert [w["kind"] for w in u.warnings] == ["view-rms", "view-rms"]
        p = u.projection(0, np.array([[320.0, 240.0], [0.0, 0.0]]))
        assert p["covariance"].shape == (2, 2, 2) and p["rms"][0] < p["rms"][1]
        assert np.allclose(p["rms"] ** 2, p["covariance"][:, 0, 0] + p["covariance"][:, 1, 1])
        grid = u.map(1, columns=8, rows=6)
        assert grid.shape == (6, 8) and np.all(grid > 0)
        with pytest.raises(ccal.Error):
            u.projection(0, np.array([[700.0, 10.0]]))  # outside the image

    def test_pose_of_a_rig_with_known_intrinsics(self):
        f = load("rig3-radial-exact")
        intrinsics = [truth_camera(c).intrinsics for c in f.ground_truth["cameras"]]
        result = ccal.estimate_rig_pose(intrinsics, f)
        for camera, truth in zip(result.cameras, f.ground_truth["cameras"]):
            assert np.abs(camera.pose - np.asarray(truth["pose"])).max() < 1e-6
        assert result.rms_z_rotation.max() < 1e-8 and result.max_arbitrary.max() < 1e-7

    def test_outlier_rejection_masks_and_figures(self):
        f = load("opencv-stereo")
        before = [a.copy() for p in f.placements for a in p.points]
        plain = ccal.calibrate_rig(f)
        assert plain.inliers is None
        result = ccal.calibrate_rig(f, reject_outliers=True)
        assert all(np.array_equal(a, b) for a, b in
                   zip(before, [a for p in f.placements for a in p.points]))
        assert len(result.inliers) == len(f.placements)
        for per_camera, placement in zip(result.inliers, f.placements):
            for mask, rows in zip(per_camera, placement.points):
                assert mask.dtype == bool and mask.shape == (len(rows),)
        view02 = [p.name for p in f.placements].index("view02")
        for mask in result.inliers[view02]:  # the board's edge column i = 0
            assert not mask[0::9].any()
        flagged = sum(int((~m).sum()) for per in result.inliers for m in per)
        assert flagged == result.rejected > 10 and result.dropped_views == []
        assert result.inlier_rms_pooled < 0.5 * result.all_rms_pooled
        assert result.inlier_rms.shape == (2,) and (result.inlier_rms < result.all_rms).all()
        assert not result.outlier_capped and result.sigma > 0
        # The pose with known intrinsics takes the option as well.
        pose = ccal.estimate_rig_pose([c.intrinsics for c in result.cameras], f,
                                      reject_outliers=True)
        assert pose.rejected > 10


class TestTelecentric:
    @pytest.mark.parametrize("flow,as_arrays", [(1, False), (2, False), (2, True)])
    def test_exact_set(self, flow, as_arrays):
        f = load("telecentric-exact")
        truth = f.ground_truth["cameras"][0]
        if as_arrays:
            views = [(p.image(0), p.plate(0)[:, :2]) for p in f.placements]
            result = ccal.calibrate_telecentric(views, [p.pose for p in f.placements], flow=flow)
        else:
            result = ccal.calibrate_telecentric(f, flow=flow)
        t = result.transform
        assert t.model == "telecentric"
        assert (t.fx, t.fy) == pytest.approx(tuple(truth["scale"]), rel=1e-9)
        assert t.skew == pytest.approx(truth["skew"], abs=1e-9)
        assert result.rms_per_pose.shape == (4,) and result.max_per_pose.max() < 1e-8

    def test_known_intrinsics_and_camera_height(self):
        f = load("telecentric-noisy")
        first = ccal.calibrate_telecentric(f, flow=1)
        assert np.all(np.abs(first.rms_per_pose - 0.1 * np.sqrt(2)) < 0.02)
        known = ccal.calibrate_telecentric(f, flow=3, intrinsic=first.transform,
                                           camera_height=250.0)
        assert known.transform.fx == first.transform.fx
        # t.z = +-height, the sign following R(2, 2).
        assert known.transform.pose[2, 3] == pytest.approx(250.0 * np.sign(known.transform.pose[2, 2]))
        assert np.all(known.rms_per_pose < 0.2)


class TestLineScan:
    def test_exact_set_recovers_the_camera(self):
        f = load("linescan-exact")
        truth = f.ground_truth
        result = ccal.calibrate_line_scan(f)  # the file's distance_to_target
        lens = result.transform.line_scan.lens
        for key in ("offset", "scale", "k1", "k2"):
            name = {"offset": "u0", "scale": "f"}.get(key, key)
            assert lens[name] == pytest.approx(truth["lens"][key], rel=1e-8, abs=1e-10)
        assert result.rms < 1e-9
        p = f.placements[0]
        assert np.abs(result.transform.map(p.image(0)) - p.plate(0)[:, :2]).max() < 1e-8

    def test_noisy_set_and_alignment(self):
        f = load("linescan-noisy")
        p = f.placements[0]
        result = ccal.calibrate_line_scan(p.image(0), p.plate(0)[:, :2])
        assert 0.1 < result.rms < 0.5
        aligned = ccal.align_to_scanner_motion(result.transform)
        direct = ccal.calibrate_line_scan(p.image(0), p.plate(0)[:, :2], align_y_to_motion=True)
        image = p.image(0)
        assert np.abs(aligned.map(image) - direct.transform.map(image)).max() < 1e-9
        # The client frame is only turned: distances between mapped points are kept.
        a, b = result.transform.map(image), aligned.map(image)
        da = np.linalg.norm(a[1:] - a[0], axis=1)
        db = np.linalg.norm(b[1:] - b[0], axis=1)
        assert np.abs(da - db).max() < 1e-9
        motion = aligned.line_scan.scanner_motion
        assert abs(motion[0]) < 1e-12 and motion[1] > 0
