"""The exported frames: their limits, the scale, the OBJ files and the files
an export plans to write.

Nothing here touches Blender; the coordinates come in as numpy arrays of
shape (vertices, 3), already in the files' Y-up axes.
"""

import math

import numpy

from . import clips
from .folder import temporary_path
from .refusal import Refusal

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


def extremes(coordinates):
    """The lowest and highest coordinate of each axis, (2, 3): whether every
    coordinate times a positive scale lies in range is decided by these
    alone, since multiplying and rounding keep the order of the values."""
    return numpy.stack([coordinates.min(axis=0), coordinates.max(axis=0)])


def within_range(coordinates, scale):
    """True when every coordinate times scale (positive), as the double
    frameconv reads back, is stored as a step within the range of its
    axis."""
    steps = nearest_steps(extremes(coordinates) * scale)
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
    coordinates = extremes(coordinates)
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


def _step_texts(axis, before, after):
    """Each step of the axis, from the lowest, as the frame files write it,
    between the bytes before and after: the step a quarter step farther from
    zero (0 stays 0), so that frameconv's truncation keeps exactly that step,
    in Python's shortest round-trip form, which frameconv's correctly rounded
    reader turns back into the very same double. Every value is a multiple
    of 1/32, exact in binary and in its shortest decimal form."""
    steps = numpy.arange(kLowestStep[axis], kHighestStep[axis] + 1, dtype=numpy.float64)
    positions = (steps + numpy.sign(steps) * 0.25) / kStepsPerUnit[axis]
    return _fixed_width([before + repr(p).encode("ascii") + after for p in positions.tolist()])


def _fixed_width(texts):
    """The byte strings as one array of the longest one's width, each padded
    with 0 bytes."""
    return numpy.array(texts, dtype=f"S{max(map(len, texts))}")


def _joined(tables, indices):
    """Line k holds tables[i][indices[k, i]] for each i, one after the
    other: the fixed-width pieces put side by side as bytes, the 0 bytes that
    pad them dropped. Python objects a piece would cost ten times the
    time."""
    pieces = [table[indices[:, i]].view(numpy.uint8).reshape(len(indices), table.itemsize)
              for i, table in enumerate(tables)]
    lines = numpy.concatenate(pieces, axis=1).ravel()
    return lines[lines != 0].tobytes()


# A vertex line is three look-ups: "v x ", "y " and "z\n" for its three steps.
kVertexTexts = [_step_texts(0, b"v ", b" "), _step_texts(1, b"", b" "), _step_texts(2, b"", b"\n")]


def vertex_text(scaled):
    """The "v x y z" lines of a frame of scaled coordinates, each coordinate
    written as _step_texts gives its nearest step. The coordinates must lie
    in range (within_range)."""
    return _joined(kVertexTexts, (nearest_steps(scaled) - kLowestStep).astype(numpy.intp))


def _index_texts(before, after):
    """Each vertex index a face may name, from 0, as the frame files write it
    (counted from 1), between the bytes before and after."""
    return _fixed_width([before + b"%d" % (index + 1) + after for index in range(kMaxVertices)])


# A face line is three look-ups: "f a ", "b " and "c\n" for its three indices.
kIndexTexts = [_index_texts(b"f ", b" "), _index_texts(b"", b" "), _index_texts(b"", b"\n")]


def triangle_text(triangles):
    """An "f a b c" line per triangle (0-based index triples, each below
    kMaxVertices)."""
    return _joined(kIndexTexts, triangles)


def obj_text(scaled, triangles):
    """One frame file: vertex_text and, given triangles, triangle_text; no
    other text, since frameconv takes any "v " or "f " in the file for a
    statement."""
    return vertex_text(scaled) + (triangle_text(triangles) if triangles is not None else b"")


def write_frame_files(place, frames, triangles):
    """Writes anima000.obj, anima001.obj, ... into the folder place
    (folder.Opened), the triangles in the first. Each file goes to its
    temporary (folder.temporary_path) first, created by
    place.create_exclusive; all are moved into place once all are written.
    frames holds the scaled coordinates; the files hold their
    vertex_text."""
    staged = []
    try:
        for index, coordinates in enumerate(frames):
            name = frame_name(index)
            descriptor = place.create_exclusive(temporary_path(name))
            staged.append(name)
            with open(descriptor, "wb") as file:
                file.write(obj_text(coordinates, triangles if index == 0 else None))
    except OSError:
        for name in staged:
            try:
                place.remove(temporary_path(name))
            except OSError:
                pass
        raise
    for name in staged:
        place.replace(temporary_path(name), name)


def check_first_frame(frame, vertex_count, triangle_count):
    if vertex_count == 0:
        raise Refusal(f"Not exported: the mesh has no vertices at frame {frame}")
    if vertex_count > kMaxVertices:
        raise Refusal(
            f"Not exported: {vertex_count:,} vertices at frame {frame}, more than the "
            f"{kMaxVertices:,} a frame may have")
    if triangle_count > kMaxTriangles:
        raise Refusal(
            f"Not exported: {triangle_count:,} triangles at frame {frame}, more than the "
            f"{kMaxTriangles:,} the mesh file may have")


def check_one_take(frame_count, vertex_count):
    """Refuses a single take that one conversion cannot hold, saying how many
    frames of this mesh fit."""
    fit = (f"at most {clips.frames_that_fit(vertex_count):,} frames of this mesh fit one conversion; "
           "clips='MARKERS' or 'ACTIONS' splits a take into parts")
    if frame_count > kMaxFrames:
        raise Refusal(f"Not exported: {frame_count} frames, more than the {kMaxFrames:,} frame "
                             f"files anima000.obj to anima999.obj: {fit}")
    if vertex_count * frame_count > kMaxPackedVertices:
        raise Refusal(
            f"Not exported: {frame_count} frames of {vertex_count:,} vertices make "
            f"{vertex_count * frame_count:,} packed vertices, more than the "
            f"{kMaxPackedVertices:,} of all frames together: {fit}")


def choose_scale(coordinates, requested):
    """The factor the coordinates are multiplied by: the automatic scale for
    0, else the requested one. Blender keeps the property in single
    precision, so it is taken as the shortest decimal that single-precision
    value stands for: the number the user typed (numpy's own shortest form,
    the same text in every numpy, not its printing of a value)."""
    if requested == 0:
        automatic = automatic_scale(coordinates)
        return 1.0 if automatic is None else automatic
    return float(numpy.format_float_scientific(numpy.float32(requested), unique=True))


def coarse_step_warning(coordinates, scale):
    """A WARNING when one step of the files (1/8 in x and y) is more than 1 %
    of the model's largest extent at this scale, with the automatic scale and,
    for a model whose centre lies farther from the origin than its extent,
    the space that keeps it near the origin; else None."""
    low, high = coordinates.min(axis=0), coordinates.max(axis=0)
    extent = float(numpy.max(high - low))
    step = 0.125 / scale
    if extent == 0 or step <= 0.01 * extent:
        return None
    automatic = automatic_scale(coordinates)
    message = (f"At scale {scale:.6g} one step is {step:.3g} units, {100 * step / extent:.2g} % of the model's "
               f"largest extent {extent:.4g}: its automatic scale is {automatic:.6g} (scale=0)")
    distance = float(numpy.linalg.norm((low + high) / 2))
    if distance > extent:
        message += (f"; its centre lies {distance:.4g} units from the origin, and space='OBJECT' exports it in "
                    "its own coordinates")
    return "WARNING", message


def frame_names(count, subfolder=""):
    prefix = f"{subfolder}/" if subfolder else ""
    return [prefix + frame_name(i) for i in range(count)]


def planned_files(plan, frame_count):
    """The folders an export converts in ("" for the chosen one) and the
    relative paths it writes: one take of frame_count frames (plan None), or
    the clip files of plan, each converted in a folder of its own."""
    outputs = {clips.kVertexAnimationName, clips.kMeshName}
    if plan is None:
        return [""], set(frame_names(frame_count)) | outputs
    folders, planned = [""], outputs | {clips.kClipsName}
    for _, parts in plan:
        for number, _, count in parts:
            sub = clips.frames_folder_name(number)
            folders.append(sub)
            planned |= {clips.clip_file_name(number), sub + "/"} | {f"{sub}/{name}" for name in outputs}
            planned |= set(frame_names(count, sub))
    return folders, planned
