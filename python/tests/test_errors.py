"""The library's exception families arrive as Python classes of the same shape, with message and
error number; bad input is refused before the library is called."""

import struct

import numpy as np
import pytest

import ccal
from conftest import load


def text(value):
    data = value.encode()
    return struct.pack("<I", len(data)) + data


def stored(name, body):
    """A failure stored through a tkPersistent*: registered name, then the fields."""
    return text(name) + body


WITH_STRING = b"\0\0"  # tkExceptionWithString and tkException version bytes

FAMILY_LEAVES = [
    (ccal.LineScanTransformError, "tk2XformLineScanDefs",
     [("InsufficientPoints", 0x1000AA00), ("BadParams", 0x1000AA01)]),
    (ccal.LineScanCalibrationError, "tkCalibrateLineScanCameraDefs",
     [("BadParams", 0x1000B400), ("InsufficientPoints", 0x1000B401)]),
    (ccal.TelecentricCalibrationError, "tkCalibrateTelecentricCameraDefs",
     [("BadParams", 0x1000B600), ("InsufficientPoses", 0x1000B601)]),
    (ccal.TelecentricExtrinsicsError, "tk_TelecentricCalibrationDefs",
     [("BadParams", 0x1000AE40), ("TooFewCorrespondences", 0x1000AE41)]),
    (ccal.MulticameraCalibrationError, "tk_MulticameraCalibrationDefs",
     [("BadParams", 0x1000AE80), ("NotImplemented", 0x1000AE81),
      ("TooFewCorrespondences", 0x1000AE82)]),
]


class TestMapping:
    @pytest.mark.parametrize("family,scope,leaves", FAMILY_LEAVES,
                             ids=[f[1] for f in FAMILY_LEAVES])
    def test_every_family_leaf(self, family, scope, leaves):
        for leaf, number in leaves:
            data = stored(scope + "::" + leaf, b"\0\0" + WITH_STRING + text("what failed"))
            with pytest.raises(getattr(family, leaf)) as info:
                ccal.rethrow_stored_error(data)
            error = info.value
            assert isinstance(error, family) and isinstance(error, ccal.Error)
            assert error.error_number == number
            assert error.message == "what failed"
            assert error.library_class == scope + "::" + leaf
            assert "0x%08X" % number in str(error)
            # Leaves of other families are not caught by this family.
            assert not any(isinstance(error, f) for f, _, _ in FAMILY_LEAVES if f is not family)

    def test_core_exceptions(self):
        cases = [
            ("tkMathError::Singular", b"\0\0", ccal.Singular, 0x10000100),
            ("tkBadPointer", b"\0" + WITH_STRING + text("p"), ccal.BadPointer, 0x10000101),
            ("tkInvariantFailure", b"\0" + WITH_STRING + text("x"), ccal.InvariantFailure,
             0x10000102),
            ("tkArchive::UnknownVersion",
             b"\0" + WITH_STRING + text("") + text("somewhere") + struct.pack("<i", 7),
             ccal.ArchiveUnknownVersion, 0x10000103),
            ("tkArchive::Corrupt", b"\0" + WITH_STRING + text("c"), ccal.ArchiveCorrupt,
             0x10000104),
            ("tkArchive::CannotStore", b"\0" + WITH_STRING + text("s"), ccal.ArchiveCannotStore,
             0x10000105),
            ("tkArchive::IOFailure", b"\0" + WITH_STRING + text("f"), ccal.ArchiveIOFailure,
             0x10000106),
            ("tkProcedureFailure", b"\0" + WITH_STRING + text("") + struct.pack("<i", -5),
             ccal.ProcedureFailure, -5),
        ]
        for name, body, cls, number in cases:
            with pytest.raises(cls) as info:
                ccal.rethrow_stored_error(stored(name, body))
            assert info.value.error_number == number and info.value.library_class == name
            assert type(info.value).__mro__[1] is ccal.Error

    def test_the_tree(self):
        assert issubclass(ccal.Error, Exception) and not issubclass(ccal.Error, ValueError)
        assert ccal.LineScanCalibrationError.BadParams.__qualname__ == \
            "LineScanCalibrationError.BadParams"
        assert ccal.LineScanCalibrationError.BadParams is not ccal.LineScanTransformError.BadParams
        assert issubclass(ccal.PointFileError, ValueError)

    def test_stored_data_that_is_no_failure(self):
        with pytest.raises(ccal.ArchiveCorrupt):
            ccal.rethrow_stored_error(text("NoSuchClass"))
        lst = ccal.calibrate_line_scan(load("linescan-exact")).transform.line_scan
        with pytest.raises(ValueError):
            ccal.rethrow_stored_error(lst.to_bytes())


class TestRaisedByCalls:
    """Failures provoked through the API land in the documented classes: a status of the
    procedural layer with its number, each telecentric overload's family, and the checks of the
    wrappers. Which entry point raises what for which bad input: the point-list table of the C++
    tests (tests/reliability)."""

    def test_line_scan(self):
        image = load("linescan-exact").placements[0].image(0).copy()
        plate = load("linescan-exact").placements[0].plate(0)[:, :2]
        image[3, 0] = np.nan
        with pytest.raises(ccal.ProcedureFailure) as info:
            ccal.calibrate_line_scan(image, plate)
        assert info.value.error_number & 0xFFFFFFFF == 0x80001003

    def test_telecentric(self):
        f = load("telecentric-exact")
        with pytest.raises(ccal.TelecentricCalibrationError.InsufficientPoses):
            ccal.calibrate_telecentric([(f.placements[0].image(0), f.placements[0].plate(0))],
                                       [f.placements[0].pose], flow=1)
        with pytest.raises(ccal.TelecentricExtrinsicsError.BadParams):
            ccal.calibrate_telecentric([(f.placements[0].image(0), f.placements[0].plate(0))],
                                       [f.placements[0].pose], flow=2)
        same = [f.placements[0]] * 2
        with pytest.raises(ccal.Singular):
            ccal.calibrate_telecentric([p._view(0) for p in same], [p.pose for p in same],
                                       flow=1)
        with pytest.raises(ValueError, match="flow 3 needs"):
            ccal.calibrate_telecentric(f, flow=3)

    def test_argument_checks(self):
        with pytest.raises(ValueError, match="differ in number"):
            ccal.calibrate_camera(np.zeros((10, 2)), np.zeros((9, 3)))
        with pytest.raises(ValueError, match=r"shape \(N, 3\)"):
            ccal.calibrate_camera(np.zeros((10, 2)), np.zeros((10, 2)))
        with pytest.raises(ValueError, match="expected 10 weights"):
            ccal.calibrate_camera(np.zeros((10, 2)), np.zeros((10, 3)), weights=[1.0])
        with pytest.raises(ValueError, match="unknown lens model"):
            ccal.calibrate_planar([], model="fisheye")
        with pytest.raises(ValueError, match="one view per camera"):
            ccal.calibrate_rig([ccal.Placement("z-rotation", [np.zeros((0, 6))], height=0),
                                ccal.Placement("arbitrary", [np.zeros((0, 6))] * 2)])


class TestPointFiles:
    def test_loaded_file(self):
        f = load("rig3-radial-exact")
        assert f.kind == "area-scan" and f.distortion_model == "radial"
        assert f.cameras == ["cam0", "cam1", "cam2"]
        p = f.placements[0]
        assert p.kind == "z-rotation" and p.height == 0.0
        assert p.image("cam1").shape[1] == 2 and p.plate(1).shape[1] == 3
        assert np.all(p.weights(0) == 1.0)
        assert f.ground_truth["cameras"][0]["distModel"] == "eRadial"
        assert "cameras=['cam0', 'cam1', 'cam2']" in repr(f)

    def test_faults_name_their_place(self, tmp_path):
        with pytest.raises(ccal.PointFileError, match="cannot read"):
            ccal.load_points(tmp_path / "missing.json")
        with pytest.raises(ccal.PointFileError, match="not valid JSON"):
            ccal.parse_points("{")
        bad = ('{"format": "ccal-points/1", "kind": "line-scan", "cameras": ["c"],'
               ' "placements": [{"points": {"c": [[1, 2, 3]]}}]}')
        with pytest.raises(ccal.PointFileError, match=r"placements\[0\].points.c\[0\]"):
            ccal.parse_points(bad)
