"""Export: the evaluated mesh of every frame, checked, scaled and converted."""

import os

import numpy

from . import frames, programs


def evaluated_frame(context, obj):
    """The active object's mesh at the current frame with its modifiers
    applied, in world space and in the files' axes (Y up, as Blender's own
    OBJ export writes them: x, z, -y), as a (vertices, 3) array of doubles;
    and the triangles of its faces as a (triangles, 3) array of indices."""
    depsgraph = context.evaluated_depsgraph_get()
    evaluated = obj.evaluated_get(depsgraph)
    mesh = evaluated.to_mesh()
    try:
        local = numpy.empty(len(mesh.vertices) * 3, dtype=numpy.float32)
        mesh.vertices.foreach_get("co", local)
        matrix = numpy.array(evaluated.matrix_world, dtype=numpy.float64)
        world = local.reshape(-1, 3).astype(numpy.float64) @ matrix[:3, :3].T + matrix[:3, 3]
        mesh.calc_loop_triangles()
        triangles = numpy.empty(len(mesh.loop_triangles) * 3, dtype=numpy.int64)
        mesh.loop_triangles.foreach_get("vertices", triangles)
    finally:
        evaluated.to_mesh_clear()
    y_up = numpy.stack([world[:, 0], world[:, 2], -world[:, 1]], axis=1)
    return y_up, triangles.reshape(-1, 3)


def gather_frames(context, obj, frame_start, frame_end):
    """The coordinates of frames frame_start to frame_end and the triangles of
    the first, refusing (frames.Refusal) what frameconv or its files cannot
    hold. The scene is left at the frame it was on."""
    frame_count = frame_end - frame_start + 1
    if frame_count < 1:
        raise frames.Refusal(f"Not exported: the last frame {frame_end} comes before the first frame {frame_start}")
    if frame_count > frames.kMaxFrames:
        raise frames.Refusal(
            f"Not exported: {frame_count} frames, more than the {frames.kMaxFrames:,} frame files "
            "anima000.obj to anima999.obj")

    scene = context.scene
    frame_before, subframe_before = scene.frame_current, scene.frame_subframe
    coordinates = []
    try:
        for frame in range(frame_start, frame_end + 1):
            scene.frame_set(frame)
            frame_coordinates, frame_triangles = evaluated_frame(context, obj)
            vertex_count = len(frame_coordinates)
            if frame == frame_start:
                check_first_frame(frame, vertex_count, len(frame_triangles), frame_count)
                triangles = frame_triangles
            elif vertex_count != len(coordinates[0]):
                raise frames.Refusal(
                    f"Not exported: the vertex count changes at frame {frame}: {vertex_count} vertices, "
                    f"where frame {frame_start} has {len(coordinates[0])}")
            if not numpy.all(numpy.isfinite(frame_coordinates)):
                raise frames.Refusal(f"Not exported: frame {frame} has a coordinate that is not a finite number")
            coordinates.append(frame_coordinates)
    finally:
        scene.frame_set(frame_before, subframe=subframe_before)
    return coordinates, triangles


def check_first_frame(frame, vertex_count, triangle_count, frame_count):
    if vertex_count == 0:
        raise frames.Refusal(f"Not exported: the mesh has no vertices at frame {frame}")
    if vertex_count > frames.kMaxVertices:
        raise frames.Refusal(
            f"Not exported: {vertex_count:,} vertices at frame {frame}, more than the "
            f"{frames.kMaxVertices:,} a frame may have")
    if triangle_count > frames.kMaxTriangles:
        raise frames.Refusal(
            f"Not exported: {triangle_count:,} triangles at frame {frame}, more than the "
            f"{frames.kMaxTriangles:,} the mesh file may have")
    if vertex_count * frame_count > frames.kMaxPackedVertices:
        raise frames.Refusal(
            f"Not exported: {frame_count} frames of {vertex_count:,} vertices make "
            f"{vertex_count * frame_count:,} packed vertices, more than the "
            f"{frames.kMaxPackedVertices:,} of all frames together")


def choose_scale(coordinates, requested):
    """The factor the coordinates are multiplied by: the automatic scale for
    0, else the requested one. Blender keeps the property in single
    precision, so it is taken as the shortest decimal that single-precision
    value stands for: the number the user typed."""
    if requested == 0:
        automatic = frames.automatic_scale(numpy.concatenate(coordinates))
        return 1.0 if automatic is None else automatic
    return float(repr(numpy.float32(requested)))


def counted(count, singular, plural=None):
    return f"{count:,} {singular if count == 1 else plural or singular + 's'}"


def export(context, obj, directory, frame_start, frame_end, requested_scale, frameconv_preference,
           inspect3d_preference=""):
    """The whole export; returns the reports [(level, message)]. Raises
    frames.Refusal or programs.ProgramError before anything is written.
    Where frameconv shows its closing message in a message box (Windows),
    inspect3d check says how the conversion went."""
    frameconv = programs.find_program("frameconv", "ANIM3D_FRAMECONV", frameconv_preference)
    coordinates, triangles = gather_frames(context, obj, frame_start, frame_end)
    scale = choose_scale(coordinates, requested_scale)
    scaled = [frame * scale for frame in coordinates]
    if not all(numpy.all(numpy.isfinite(frame)) for frame in scaled):
        raise frames.Refusal(f"Not exported: at scale {scale:g} a coordinate is too large for a number")
    os.makedirs(directory, exist_ok=True)
    frames.write_frame_files(directory, scaled, triangles)
    summary = (f"{counted(len(scaled), 'frame')} of {counted(len(scaled[0]), 'vertex', 'vertices')} and "
               f"{counted(len(triangles), 'triangle')} at scale {scale:.6g}"
               + (" (automatic)" if requested_scale == 0 else ""))
    process = programs.run_program([frameconv], directory)
    report = programs.closing_report(process)
    if report is None:
        try:
            inspect3d = programs.find_program("inspect3d", "ANIM3D_INSPECT3D", inspect3d_preference)
            report = programs.checked_report(inspect3d, directory)
        except programs.ProgramError as error:
            report = ("ERROR", f"the closing message was shown in a message box, and the conversion "
                               f"cannot be checked: {error}")
    level, message = report
    return [("INFO", f"Exported {summary}"), (level, f"frameconv: {message}")]

