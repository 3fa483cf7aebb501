"""Camera models and transforms: conventional terms against the library's, whole-array mappings
and their round trips, and the archive forms."""

import os
import subprocess

import numpy as np
import pytest

import ccal
from conftest import load, truth_camera


def grid(x0, x1, y0, y1, n=12):
    xs, ys = np.meshgrid(np.linspace(x0, x1, n), np.linspace(y0, y1, n))
    return np.column_stack([xs.ravel(), ys.ravel()])


def look_down_pose(height=500.0, tilt=0.2):
    """World -> camera: a camera above the plate looking down, tilted about x."""
    c, s = np.cos(tilt), np.sin(tilt)
    r = np.array([[1, 0, 0], [0, -c, -s], [0, s, -c]], dtype=float)
    centre = np.array([50.0, -40.0, height])
    return np.column_stack([r, -r @ centre])


@pytest.fixture(scope="module")
def radial_camera():
    return truth_camera(load("single-radial-exact").ground_truth["cameras"][0])


class TestIntrinsics:
    def test_conventional_terms_invert_the_library_map(self, radial_camera):
        intr = radial_camera.intrinsics
        k = intr.camera_matrix
        sx, sy = intr.camera_scale
        l = np.array([[sx, intr.camera_skew], [0, sy]])
        assert np.allclose(k[:2, :2] @ l, np.eye(2), atol=1e-12)
        assert np.allclose(k[:2, :2] @ intr.camera_translation + k[:2, 2], 0, atol=1e-9)
        assert (intr.fx, intr.fy, intr.cx, intr.cy) == (k[0, 0], k[1, 1], k[0, 2], k[1, 2])
        derived = load("single-radial-exact").ground_truth["cameras"][0]["derived"]
        assert np.allclose(k, derived["camera_matrix_from_L_inverse"], rtol=1e-12)

    def test_from_camera_matrix_round_trip_and_mappings(self):
        intr = ccal.Intrinsics.from_camera_matrix(800.0, 810.0, 320.0, 240.0, skew=0.5,
                                                  model="radial", lens=[0.05])
        assert (intr.fx, intr.fy, intr.cx, intr.cy, intr.skew) == pytest.approx(
            (800.0, 810.0, 320.0, 240.0, 0.5), rel=1e-14)
        image = grid(0, 640, 0, 480)
        z1 = intr.to_z1(image)
        assert np.abs(intr.to_image(z1) - image).max() < 1e-9
        # Without distortion the position at Z = 1 is K^-1 of the pixel.
        plain = ccal.Intrinsics.from_camera_matrix(800.0, 810.0, 320.0, 240.0, model="none")
        assert plain.to_z1([320.0 + 80.0, 240.0]) == pytest.approx([0.1, 0.0])
        assert "fx=800" in repr(plain) and "model='none'" in repr(plain)

    def test_lens_list_must_fit_the_model(self):
        with pytest.raises(ValueError, match="takes 4 values"):
            ccal.Intrinsics(model="sine-tan", lens_dist_params=[1.0])
        with pytest.raises(ValueError, match="unknown lens model"):
            ccal.Intrinsics(model="fisheye")


class TestCalibratedTransform:
    def test_pinhole_projection_matches_the_formula(self):
        pose = look_down_pose()
        t = ccal.CalibratedTransform(1000.0, 1000.0, 640.0, 480.0, pose=pose)
        plane = grid(0, 100, 0, 80)
        pc = np.column_stack([plane, np.zeros(len(plane))]) @ pose[:, :3].T + pose[:, 3]
        expected = 1000.0 * pc[:, :2] / pc[:, 2:3] + [640.0, 480.0]
        assert np.abs(t.inverse_map(plane) - expected).max() < 1e-9
        assert np.array_equal(t.pose, pose) and t.camera_matrix[0, 2] == 640.0

    @pytest.mark.parametrize("model,distortion", [
        ("none", []), ("radial", [-0.2, 0.01, -0.02]), ("sine-tan", [1.0, 1.0, 0.1, 0.9, 0, 0])])
    def test_map_and_inverse_map_round_trip(self, model, distortion):
        t = ccal.CalibratedTransform(1200.0, 1190.0, 640.0, 500.0, skew=0.3, model=model,
                                     distortion=distortion, pose=look_down_pose())
        plane = grid(-50, 150, -50, 120, n=30)
        image = t.inverse_map(plane)
        assert image.shape == plane.shape
        assert np.abs(t.map(image) - plane).max() < 1e-8
        assert np.abs(t.inverse_map(t.map(image)) - image).max() < 1e-8

    def test_shapes(self, radial_camera):
        t = radial_camera.transform()
        one = t.map([1000.0, 900.0])
        assert one.shape == (2,)
        assert np.array_equal(t.map([[1000.0, 900.0]])[0], one)
        assert t.map(np.zeros((0, 2))).shape == (0, 2)
        assert t.map([]).shape == (0, 2)
        with pytest.raises(ValueError, match=r"shape \(N, 2\)"):
            t.map(np.zeros((4, 3)))
        with pytest.raises(ValueError):
            t.inverse_map("not points")

    def test_camera_model_agrees_with_its_transform(self, radial_camera):
        t = radial_camera.transform()
        plane = grid(0, 190, 0, 140)
        world = np.column_stack([plane, np.zeros(len(plane))])
        assert np.abs(radial_camera.project(world) - t.inverse_map(plane)).max() < 1e-9
        back = radial_camera.image_to_plane(radial_camera.project(world))
        assert np.abs(back - world).max() < 1e-8
        assert t.intrinsics.fx == pytest.approx(radial_camera.intrinsics.fx, rel=1e-14)

    def test_sine_tan_point_no_ray_reaches(self):
        t = ccal.CalibratedTransform(100.0, 100.0, 0.0, 0.0, model="sine-tan",
                                     distortion=[0.1, 2.0, 0.1, 1.0, 0, 0])
        with pytest.raises(ccal.ProcedureFailure):
            t.map([[1e6, 0.0]])


class TestLineScanTransform:
    def test_fit_inverse_and_local_linear_map(self):
        p = load("linescan-exact").placements[0]
        image, plate = p.image(0), p.plate(0)[:, :2]
        t, rms, largest = ccal.LineScanTransform.fit(image, plate)
        assert t.w2i and rms < 1e-9 and largest < 1e-8
        assert np.abs(t.map(plate) - image).max() < 1e-8
        assert np.abs(t.inverse().map(image) - plate).max() < 1e-8
        a = t.linear_xform((50.0, 30.0))
        h = 1e-4
        d = [(t.map([50.0 + h * e[0], 30.0 + h * e[1]]) - t.map([50.0 - h * e[0],
                                                                30.0 - h * e[1]])) / (2 * h)
             for e in ((1, 0), (0, 1))]
        assert np.allclose(a[:, :2], np.column_stack(d), rtol=1e-6)
        assert not t.is_linear


class TestArchives:
    def test_calibration_files_round_trip(self, radial_camera, tmp_path):
        area = radial_camera.transform()
        line = ccal.calibrate_line_scan(load("linescan-exact")).transform
        assert ccal.CalibratedTransform.from_bytes(area.to_bytes()) == area
        path = tmp_path / "cameras.ccal"
        ccal.save_transforms(path, [area, line])
        loaded = ccal.load_transforms(path)
        assert len(loaded) == 2 and loaded[0] == area
        assert loaded[1].is_line_scan and loaded[1].line_scan == line.line_scan
        image = load("linescan-exact").placements[0].image(0)
        assert np.abs(loaded[1].map(image) - line.map(image)).max() < 1e-9
        assert ccal.CalibratedTransform.load(path, camera=1).is_line_scan
        with pytest.raises(ValueError, match="no camera 2"):
            ccal.CalibratedTransform.load(path, camera=2)
        area.save(path)
        assert ccal.load_transforms(path) == [area]
        lst = line.line_scan
        assert ccal.LineScanTransform.from_bytes(lst.to_bytes()) == lst
        # The library's persistent form starts with the registered class name.
        assert lst.to_bytes()[4:20] == b"tk2XformLineScan"

    def test_options_round_trip(self):
        options = ccal.LineScanOptions(distance=120.0, align_y_to_motion=True)
        assert ccal.LineScanOptions.from_bytes(options.to_bytes()) == options
        assert options.to_bytes()[0] == 0  # version byte
        tele = ccal.TelecentricOptions(camera_height=-3.5)
        assert ccal.TelecentricOptions.from_bytes(tele.to_bytes()).camera_height == -3.5
        with pytest.raises(ccal.LineScanCalibrationError.BadParams):
            ccal.LineScanOptions(distance=-1.0)

    def test_damaged_archives_raise_typed_errors(self, radial_camera, tmp_path):
        data = radial_camera.transform().to_bytes()
        for cut in range(len(data)):
            with pytest.raises(ccal.ArchiveCorrupt):
                ccal.CalibratedTransform.from_bytes(data[:cut])
        with pytest.raises(ccal.ArchiveCorrupt):
            ccal.CalibratedTransform.from_bytes(data + b"\0")
        with pytest.raises(ccal.ArchiveUnknownVersion):
            ccal.CalibratedTransform.from_bytes(b"\x01" + data[1:])
        # A camera matrix of zeros (fx, fy after the version and kind bytes) is no camera.
        with pytest.raises(ccal.Singular):
            ccal.CalibratedTransform.from_bytes(data[:2] + bytes(16) + data[18:])
        with pytest.raises(ccal.ArchiveCorrupt):
            ccal.LineScanTransform.from_bytes(data)
        path = tmp_path / "cut.ccal"
        path.write_bytes(b"\x02\0\0\0" + data)
        with pytest.raises(ccal.ArchiveCorrupt):
            ccal.load_transforms(path)


@pytest.mark.skipif("CCAL_CALIBRATE" not in os.environ, reason="ccal-calibrate is not built")
class TestCommandLineTool:
    """Calibration files of the module and of ccal-calibrate are one format."""

    def run(self, *args):
        return subprocess.run([os.environ["CCAL_CALIBRATE"], *map(str, args)], check=True,
                              capture_output=True, text=True).stdout

    def test_each_reads_what_the_other_wrote(self, tmp_path, data_dir):
        cli = tmp_path / "cli.ccal"
        self.run(data_dir / "single-radial-exact.json", "--archive", cli)
        (transform,) = ccal.load_transforms(cli)
        u, v, x, y = map(float, self.run("map", "--archive", cli, 700.5, 450.25).split()[:4])
        assert np.allclose(transform.map([700.5, 450.25]), [x, y], rtol=1e-9, atol=1e-9)

        ours = tmp_path / "python.ccal"
        line = ccal.calibrate_line_scan(load("linescan-exact")).transform
        ccal.save_transforms(ours, [transform, line])
        x, y = map(float, self.run("map", "--archive", ours, "--camera", 1, 700.5,
                                   450.25).split()[2:4])
        assert np.allclose(line.map([700.5, 450.25]), [x, y], rtol=1e-9, atol=1e-9)
