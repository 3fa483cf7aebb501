"""The image tools from Python: detect on rendered chessboards, the export of a camera to OpenCV,
ROS and COLMAP text, undistortion, and the errors of bad input (the same code as the tool)."""

import struct
import zlib

import numpy as np
import pytest

import ccal

needs_images = pytest.mark.skipif(not ccal.images_available(), reason="built without OpenCV")


def write_png(path, gray):
    """An 8-bit grey PNG (no image library needed)."""
    height, width = gray.shape
    raw = b"".join(b"\x00" + gray[r].astype(np.uint8).tobytes() for r in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def chessboard(path, homography, columns=8, rows=5, size=(400, 300), samples=4):
    """A board of (columns + 1) x (rows + 1) squares seen through homography (plate -> pixels;
    plate origin at the first inner corner), white square at the first outer corner."""
    width, height = size
    v, u = np.mgrid[0:height, 0:width].astype(float)
    inverse = np.linalg.inv(homography)
    total = np.zeros((height, width))
    for a in range(samples):
        for b in range(samples):
            pu, pv = u + (a + 0.5) / samples - 0.5, v + (b + 0.5) / samples - 0.5
            x, y, w = (inverse[i, 0] * pu + inverse[i, 1] * pv + inverse[i, 2] for i in range(3))
            sx, sy = x / w + 1.0, y / w + 1.0
            inside = (sx >= 0) & (sy >= 0) & (sx < columns + 1) & (sy < rows + 1)
            white = (np.floor(sx) + np.floor(sy)) % 2 == 0
            total += np.where(inside & ~white, 30.0, 225.0)
    write_png(path, np.clip(np.round(total / samples ** 2), 0, 255))


HOMOGRAPHY = np.array([[30.0, 2.0, 90.0], [-1.5, 31.0, 80.0], [0.0005, 0.0003, 1.0]])


def truth(ids, columns=8):
    plate = np.column_stack([ids % columns, ids // columns, np.ones(len(ids))])
    image = plate @ HOMOGRAPHY.T
    return image[:, :2] / image[:, 2:]


@needs_images
def test_detect_pairs_cameras_and_feeds_the_calibration(tmp_path):
    for name in ("a01", "a02", "b01", "b02"):
        chessboard(tmp_path / (name + ".png"), HOMOGRAPHY)
    (tmp_path / "a03.png").write_text("not an image")
    one = ccal.detect_board(tmp_path / "a01.png", board="chessboard:8x5")
    assert one["found"] and one["image_size"] == (400, 300)
    error = np.linalg.norm(one["corners"] - truth(one["ids"].astype(int)), axis=1)
    assert error.max() < 0.2  # a sharp, coarsely sampled render; accuracy is the C++ test's

    result = ccal.detect({"a": sorted(tmp_path.glob("a*.png")), "b": sorted(tmp_path.glob("b*.png"))},
                         board="chessboard:8x5", square=25.0)
    assert [p.name for p in result.points.placements] == ["view01", "view02"]
    assert result.points.placements[0].kind == "z-rotation"
    skipped = [i for i in result.images if not i["readable"]]
    assert [i["path"].endswith("a03.png") for i in skipped] == [True]
    rows = result.points.placements[1].image(1)
    assert rows.shape == (40, 2)
    assert result.points.placements[1].plate(1)[9].tolist() == [25.0, 25.0, 0.0]


@needs_images
def test_bad_images_and_boards_raise_value_error(tmp_path):
    chessboard(tmp_path / "a1.png", HOMOGRAPHY)
    write_png(tmp_path / "b1.png", np.full((300, 400), 128))
    with pytest.raises(ValueError, match="camera b: the chessboard 8x5 was found in none"):
        ccal.detect({"a": [tmp_path / "a1.png"], "b": [tmp_path / "b1.png"]}, board="chessboard:8x5")
    with pytest.raises(ValueError, match="found in none"):
        ccal.detect([tmp_path / "a1.png"], board="chessboard:9x6")
    with pytest.raises(ValueError, match="board: expected"):
        ccal.detect([tmp_path / "a1.png"], board="hexagon:3x3")
    with pytest.raises(ValueError, match="cannot read"):
        ccal.undistort_image(ccal.Intrinsics.from_camera_matrix(300, 300, 200, 150),
                             tmp_path / "missing.png", tmp_path / "out.png")


def test_export_fits_opencv_and_refuses_a_misfit(tmp_path):
    pinhole = ccal.Intrinsics.from_camera_matrix(500.0, 502.0, 320.0, 240.0, model="none")
    fit = ccal.fit_opencv(pinhole, (640, 480))
    assert fit["max_error"] < 1e-9
    assert np.allclose(fit["camera_matrix"], [[500, 0, 320], [0, 502, 240], [0, 0, 1]])
    text = ccal.export_opencv(pinhole, (640, 480), path=tmp_path / "cam.yml", name="left")
    assert text.startswith("%YAML:1.0") and (tmp_path / "cam.yml").read_text() == text
    assert "plumb_bob" in ccal.export_ros(pinhole, (640, 480))
    colmap = ccal.export_colmap([pinhole, pinhole], (640, 480)).splitlines()
    assert colmap[-1].split()[:6] == ["2", "PINHOLE", "640", "480", "500.", "502."]

    barrel = ccal.Intrinsics.from_camera_matrix(400.0, 400.0, 320.0, 240.0, lens=[0.3],
                                                center_of_expansion=(0.02, 0.0))
    with pytest.raises(ValueError, match="disagrees with the calibration"):
        ccal.export_opencv(barrel, (640, 480), tolerance=0.001)
    assert "distortion_coefficients" in ccal.export_opencv(barrel, (640, 480), force=True)


@needs_images
def test_undistort_writes_an_image_of_the_same_size(tmp_path):
    chessboard(tmp_path / "in.png", HOMOGRAPHY)
    camera = ccal.Intrinsics.from_camera_matrix(300.0, 300.0, 200.0, 150.0, lens=[0.1])
    ccal.undistort_image(camera, tmp_path / "in.png", tmp_path / "out.png")
    found = ccal.detect_board(tmp_path / "out.png", board="chessboard:8x5")
    assert found["image_size"] == (400, 300)
