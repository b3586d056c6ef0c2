"""The exported frames: their limits, the automatic scale and the OBJ files.

Nothing here touches Blender; the coordinates come in as numpy arrays of
shape (vertices, 3), already in the files' Y-up axes.
"""

import math

import numpy

from .folder import temporary_path
from .refusal import Refusal  # noqa: F401 (frames.Refusal for the callers)

# The limits of frameconv and of the files it writes: refused before anything
# is written, since beyond them frameconv would leave part of the mesh out.
# The vertex store (200,000 packed vertices, all frames together) and the
# frame files anima000.obj to anima999.obj are clips.py's, where a clip set
# is split by them.
from .clips import kMaxFrames, kMaxPackedVertices  # noqa: E402,F401
kMaxVertices = 10000  # the first-frame vertex pass reads at most 10,000 "v "
kMaxTriangles = 10000  # the triangle pass reads at most 10,000 "f "

# The packed word keeps x and y in steps of 1/8 (11 bits, -1024..1023) and z
# in steps of 1/4 (10 bits, -512..511): frameconv truncates value x 8 (x 4)
# toward zero. The frame files hold each scaled coordinate as the multiple of
# its step nearest to it, moved a quarter step away from zero, so that
# frameconv's truncation keeps exactly that multiple: no coordinate is off by
# more than half a step, and none is pulled toward the origin.
kStepsPerUnit = numpy.array([8.0, 8.0, 4.0])
kLowestStep = numpy.array([-1024, -1024, -512])
kHighestStep = numpy.array([1023, 1023, 511])
# The scaled coordinates whose nearest steps lie in range are those strictly
# within these bounds (half a step past the last step on each side).
kAbove = (kHighestStep + 0.5) / kStepsPerUnit
kBelow = (kLowestStep - 0.5) / kStepsPerUnit


def nearest_steps(scaled):
    """The step each scaled coordinate is stored as: the nearest one (a tie to
    the even step), as a float array."""
    return numpy.rint(scaled * kStepsPerUnit)


def stored_positions(scaled):
    """The coordinates the frame files hold for the scaled ones: each nearest
    step, a quarter step farther from zero (0 stays 0). Every value is a
    multiple of 1/32, exact in binary and in its shortest decimal form."""
    steps = nearest_steps(scaled)
    return (steps + numpy.sign(steps) * 0.25) / kStepsPerUnit


def within_range(coordinates, scale):
    """True when every coordinate times scale, as the double frameconv reads
    back, is stored as a step within the range of its axis."""
    steps = nearest_steps(coordinates * scale)
    return bool(numpy.all(steps <= kHighestStep) and numpy.all(steps >= kLowestStep))


def automatic_scale(coordinates):
    """The export scale for the Y-up coordinates of all frames: the largest
    factor of three significant digits by which every coordinate can be
    multiplied with its nearest step in range: a positive value times the
    factor must stay below 127.9375 for x and y and 127.875 for z, a negative
    one above -128.0625 and -128.125 (see kAbove, kBelow). inspect3d check
    suggests scales for frames that frameconv truncates, whose bounds lie half
    a step farther out.

    The ideal factor (the smallest bound / coordinate ratio) is rounded down
    to three significant digits, then moved by single steps of the third
    digit until it is the largest one the actual products keep within range,
    so that a ratio computed a little off in floating point, or a ratio that
    is itself of three digits (the bound reached exactly, which is out), still
    gives the right factor. Returns None when every coordinate is 0."""
    bounds = numpy.where(coordinates > 0, kAbove, kBelow)
    nonzero = coordinates != 0
    if not numpy.any(nonzero):
        return None
    ideal = float(numpy.min(bounds[nonzero] / coordinates[nonzero]))
    if not math.isfinite(ideal):
        raise Refusal("Not exported: the model is too small to scale (every coordinate is almost 0)")

    exponent = math.floor(math.log10(ideal)) - 2
    digits = min(max(math.floor(ideal / 10.0**exponent), 100), 999)

    def factor(d, e):
        return float(f"{d}e{e}")

    def up(d, e):
        return (100, e + 1) if d == 999 else (d + 1, e)

    def down(d, e):
        return (999, e - 1) if d == 100 else (d - 1, e)

    while within_range(coordinates, factor(*up(digits, exponent))):
        digits, exponent = up(digits, exponent)
    while not within_range(coordinates, factor(digits, exponent)):
        digits, exponent = down(digits, exponent)
    return factor(digits, exponent)


def frame_name(index):
    return f"anima{index:03d}.obj"


def obj_text(coordinates, triangles):
    """One frame file: a "v x y z" line per vertex and, given triangles (0-based
    index triples), an "f a b c" line per triangle; no other text, since
    frameconv takes any "v " or "f " in the file for a statement. Each
    coordinate is written in Python's shortest round-trip form, which
    frameconv's correctly rounded reader turns back into the very same double,
    so the stored word is the one the coordinate itself gives."""
    lines = [f"v {x!r} {y!r} {z!r}\n" for x, y, z in coordinates.tolist()]
    if triangles is not None:
        lines += [f"f {a + 1} {b + 1} {c + 1}\n" for a, b, c in triangles.tolist()]
    return "".join(lines)


def write_frame_files(place, frames, triangles):
    """Writes anima000.obj, anima001.obj, ... into the folder place
    (folder.Opened), the triangles in the first. Each file goes to its
    temporary (folder.temporary_path) first, created by
    place.create_exclusive; all are moved into place once all are written.
    frames holds the scaled coordinates; the files hold their
    stored_positions."""
    staged = []
    try:
        for index, coordinates in enumerate(frames):
            name = frame_name(index)
            descriptor = place.create_exclusive(temporary_path(name))
            staged.append(name)
            with open(descriptor, "w", encoding="ascii", newline="\n") as file:
                file.write(obj_text(stored_positions(coordinates), triangles if index == 0 else None))
    except OSError:
        for name in staged:
            try:
                place.remove(temporary_path(name))
            except OSError:
                pass
        raise
    for name in staged:
        place.replace(temporary_path(name), name)
