"""Exception classes of the ccal package.

The library reports every failure as a typed exception; each becomes an instance of the class
below that mirrors its C++ class, in a tree of the same shape::

    Error                                   tkException (every failure of the library)
    ├── Singular                            tkMathError::Singular
    ├── BadPointer                          tkBadPointer
    ├── InvariantFailure                    tkInvariantFailure
    ├── ProcedureFailure                    tkProcedureFailure (error_number is the status)
    ├── Aborted                             tkAttention::Aborted
    ├── ArchiveUnknownVersion, ArchiveCorrupt, ArchiveCannotStore, ArchiveIOFailure
    │                                       tkArchive::UnknownVersion, Corrupt, CannotStore, IOFailure
    └── <family>                            <Scope>::Errors, e.g. LineScanCalibrationError
        └── <family>.<Leaf>                 <Scope>::<Leaf>, e.g. LineScanCalibrationError.BadParams

So ``except ccal.Error`` catches everything, ``except ccal.LineScanCalibrationError`` a family
and ``except ccal.LineScanCalibrationError.BadParams`` one failure. Every instance carries
``message`` (the library's text), ``error_number`` (the library's constant) and
``library_class`` (the qualified C++ class name).

Malformed point-list files raise PointFileError (a ValueError); wrong array shapes and unknown
names raise ValueError before the library is called.
"""

__all__ = [
    "Error", "Singular", "BadPointer", "InvariantFailure", "ProcedureFailure", "Aborted",
    "ArchiveUnknownVersion", "ArchiveCorrupt", "ArchiveCannotStore", "ArchiveIOFailure",
    "LineScanTransformError", "LineScanCalibrationError", "TelecentricCalibrationError",
    "TelecentricExtrinsicsError", "MulticameraCalibrationError", "PointFileError",
]


class Error(Exception):
    """A failure reported by the library (tkException)."""

    __module__ = "ccal"

    library_class = "tkException"
    error_number = None

    def __init__(self, message, error_number=None, library_class=None):
        super().__init__(message)
        self.message = message
        if error_number is not None:
            self.error_number = error_number
        if library_class is not None:
            self.library_class = library_class

    def __str__(self):
        if self.error_number is None:
            return self.message
        return "%s (error 0x%08X)" % (self.message, self.error_number & 0xFFFFFFFF)


def _leaf(name, base, library_class, error_number, doc):
    cls = type(name, (base,), {"__doc__": doc, "library_class": library_class,
                               "error_number": error_number, "__module__": "ccal"})
    return cls


Singular = _leaf("Singular", Error, "tkMathError::Singular", 0x10000100,
                 "A matrix or system is singular or too ill-conditioned (degenerate data).")
BadPointer = _leaf("BadPointer", Error, "tkBadPointer", 0x10000101,
                   "A pointer argument is null or of the wrong kind.")
InvariantFailure = _leaf("InvariantFailure", Error, "tkInvariantFailure", 0x10000102,
                         "A condition the library relies on does not hold (e.g. a non-finite "
                         "coordinate, no Z-rotation placement).")
ArchiveUnknownVersion = _leaf("ArchiveUnknownVersion", Error, "tkArchive::UnknownVersion",
                              0x10000103, "An archive holds a version that cannot be read.")
ArchiveCorrupt = _leaf("ArchiveCorrupt", Error, "tkArchive::Corrupt", 0x10000104,
                       "An archive is truncated, malformed or holds another class.")
ArchiveCannotStore = _leaf("ArchiveCannotStore", Error, "tkArchive::CannotStore", 0x10000105,
                           "A value cannot be written in the archive encoding.")
ArchiveIOFailure = _leaf("ArchiveIOFailure", Error, "tkArchive::IOFailure", 0x10000106,
                         "An archive file cannot be opened, read or written.")
ProcedureFailure = _leaf("ProcedureFailure", Error, "tkProcedureFailure", None,
                         "A failure status of the procedural layer; error_number is the status.")
Aborted = _leaf("Aborted", Error, "tkAttention::Aborted", 0x10000200,
                "The computation was stopped at the caller's request.")


def _family(name, scope, leaves, doc):
    family = _leaf(name, Error, scope + "::Errors", None, doc)
    for leaf, number in leaves:
        cls = _leaf(leaf, family, scope + "::" + leaf, number,
                    "%s of %s (error 0x%08X)." % (leaf, name, number))
        cls.__qualname__ = name + "." + leaf
        setattr(family, leaf, cls)
    return family


LineScanTransformError = _family(
    "LineScanTransformError", "tk2XformLineScanDefs",
    [("InsufficientPoints", 0x1000AA00), ("BadParams", 0x1000AA01)],
    "Failures of the line-scan transform.")
LineScanCalibrationError = _family(
    "LineScanCalibrationError", "tkCalibrateLineScanCameraDefs",
    [("BadParams", 0x1000B400), ("InsufficientPoints", 0x1000B401)],
    "Failures of line-scan camera calibration.")
TelecentricCalibrationError = _family(
    "TelecentricCalibrationError", "tkCalibrateTelecentricCameraDefs",
    [("BadParams", 0x1000B600), ("InsufficientPoses", 0x1000B601)],
    "Failures of telecentric camera calibration.")
TelecentricExtrinsicsError = _family(
    "TelecentricExtrinsicsError", "tk_TelecentricCalibrationDefs",
    [("BadParams", 0x1000AE40), ("TooFewCorrespondences", 0x1000AE41)],
    "Failures of the telecentric extrinsics solver (closed-form and known-intrinsics flows).")
MulticameraCalibrationError = _family(
    "MulticameraCalibrationError", "tk_MulticameraCalibrationDefs",
    [("BadParams", 0x1000AE80), ("NotImplemented", 0x1000AE81),
     ("TooFewCorrespondences", 0x1000AE82)],
    "Failures of rig calibration and rig pose estimation.")


class PointFileError(ValueError):
    """A point-list file cannot be read or does not follow the ccal-points/1 format."""

    __module__ = "ccal"


def _classes():
    found = {}
    pending = [Error]
    while pending:
        cls = pending.pop()
        found[cls.library_class] = cls
        pending.extend(cls.__subclasses__())
    return found


_BY_LIBRARY_CLASS = _classes()


def from_library(library_class, message, error_number):
    """The Python exception for a library exception (called by the extension)."""
    cls = _BY_LIBRARY_CLASS.get(library_class, Error)
    return cls(message, error_number, library_class)


def point_file_error(message):
    return PointFileError(message)
