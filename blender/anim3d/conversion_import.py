"""Import: a conversion's aniv00.3d and data00.3d back into Blender.

inspect3d writes them as one binary glTF file (the first frame as the mesh,
every later frame as a morph target, played by an animation of step
weights), which Blender's own glTF importer turns into a mesh with one
shape key per frame. Stored frame N plays at scene frame N; where clips.json
is beside the files, each clip becomes an action of its own.
"""

import os
import tempfile
import warnings

import bpy
import numpy

from . import actions, clips, folder, programs

kGltfName = "conversion.glb"

kMaxImportedFrames = 1000  # what one glTF file of inspect3d holds


def allow_numpy_bool():
    """Blender 3.4's glTF importer still uses numpy.bool, an alias of bool that
    numpy 1.24 removed; put it back where it is missing. (Asking for it warns
    that numpy.bool will one day be numpy's own type: not news here.)"""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", FutureWarning)
        missing = not hasattr(numpy, "bool")
    if missing:
        numpy.bool = bool


def import_range(frame_count, frame_first, frame_last):
    """The stored frames to import, (first, last), or None for all, and a
    WARNING when a conversion of more frames than one import takes was given
    no range. frame_count is None where the header cannot be read (inspect3d
    then says why)."""
    if frame_first is None and frame_last is None:
        if frame_count is None or frame_count <= kMaxImportedFrames:
            return None, None
        return (0, kMaxImportedFrames - 1), (
            "WARNING", f"aniv00.3d holds {frame_count:,} frames, more than the {kMaxImportedFrames:,} one import "
                       f"takes: imported frames 0 to {kMaxImportedFrames - 1} (frame_first and frame_last choose "
                       "others)")
    first = frame_first or 0
    if frame_last is None:
        frame_last = first + kMaxImportedFrames - 1
        if frame_count is not None:
            frame_last = min(frame_last, frame_count - 1)
    return (first, frame_last), None


def imported_mesh(before):
    objects = [o for o in bpy.context.scene.objects if o not in before and o.type == "MESH"]
    return objects[0] if objects else None


def place_frames(action, first):
    """Moves every key of the imported action to a whole frame, stored frame N
    at scene frame N: the importer turns the file's seconds into frames with
    the frame rate in single precision, so a key can land a hair away."""
    for curve in actions.all_curves(action):
        for point in curve.keyframe_points:
            frame = round(point.co[0]) + first
            shift = frame - point.co[0]
            point.co[0] = frame
            point.handle_left[0] += shift
            point.handle_right[0] += shift
        curve.update()


def clip_actions(action, keys, clip_table, first, last):
    """One action per clip for the shape keys `keys`, named after the clip,
    holding the keys of its stored frames (those imported); returns their
    names, and those of the clips that lie wholly outside the frames
    imported."""
    names, left_out = [], []
    # Each curve's keys, read once as arrays: a long conversion has a curve
    # per frame, each with a key per frame.
    source = []
    for curve in actions.all_curves(action):
        count = len(curve.keyframe_points)
        points = numpy.empty(count * 2)
        curve.keyframe_points.foreach_get("co", points)
        interpolations = numpy.empty(count, dtype=numpy.int32)
        curve.keyframe_points.foreach_get("interpolation", interpolations)
        source.append((curve.data_path, curve.array_index, points.reshape(-1, 2), interpolations))
    for name, clip_first, frame_count in clip_table:
        start, end = max(clip_first, first), min(clip_first + frame_count - 1, last)
        if start > end:
            left_out.append(name)
            continue
        clip, clip_curves = actions.new_action(name, keys)
        for data_path, index, points, interpolations in source:
            copy = clip_curves.new(data_path, index=index)
            kept = (points[:, 0] >= start) & (points[:, 0] <= end)
            copy.keyframe_points.add(int(numpy.count_nonzero(kept)))
            copy.keyframe_points.foreach_set("co", points[kept].ravel())
            copy.keyframe_points.foreach_set("interpolation", interpolations[kept])
            copy.update()
        clip.use_frame_range = True
        clip.frame_start, clip.frame_end = start, end
        clip.use_fake_user = True
        names.append(clip.name)
    return names, left_out


def written(summary):
    """What inspect3d gltf's summary (--json) says it wrote, in words: "frames
    0 to 23, 24 frames of 50 vertices, 96 triangles, 24 frames a second"."""
    frames = [(a["first_frame"], a["last_frame"]) for a in summary.get("animations", [])]
    span = (f"frame {frames[0][0]}" if frames and frames[0][0] == frames[-1][1] else
            f"frames {frames[0][0]} to {frames[-1][1]}") if frames else "no frames"
    return (f"{span}, {clips.counted(summary['frames'], 'frame')} of "
            f"{clips.counted(summary['vertices'], 'vertex', 'vertices')}, "
            f"{clips.counted(summary['triangles'], 'triangle')}, {summary['fps']:g} frames a second")


def import_conversion(context, directory, inspect3d_preference, frame_first=None, frame_last=None):
    """Imports the conversion in directory, stored frames frame_first to
    frame_last (None: from 0, to the last); returns the reports [(level,
    message)]. Raises programs.ProgramError when inspect3d cannot be run or
    cannot read the files. Stored frame N plays at scene frame N, at any
    frame rate: the importer counts frames at scene.render.fps a second
    (whatever fps_base says), so that is the rate inspect3d writes; the
    scene's frame range becomes the imported frames."""
    inspect3d = programs.find_program("inspect3d", "ANIM3D_INSPECT3D", inspect3d_preference)
    for name in (clips.kVertexAnimationName, clips.kMeshName, clips.kClipsName):
        kind = folder.file_kind(os.path.join(directory, name))
        if kind not in (None, "file"):
            raise programs.ProgramError(f"Not imported: {name} in {directory} is a {kind}, not a regular file")
    header = clips.vertex_animation_header(os.path.join(directory, clips.kVertexAnimationName))
    frame_range, warning = import_range(header and header[0], frame_first, frame_last)
    scene = context.scene
    # The frames always by number, as one take that clip_actions divides, and
    # positions in the file's units as floats: the mesh holds the positions
    # the engine reads, with no scale on the object.
    arguments = ["gltf", "--float", "--json", "--fps", str(scene.render.fps)]
    if frame_range:
        arguments += ["--frames", f"{frame_range[0]}-{frame_range[1]}"]
    elif header and header[0] > 0:
        arguments += ["--frames", f"0-{header[0] - 1}"]
    before = set(scene.objects)
    with tempfile.TemporaryDirectory(prefix="anim3d-") as scratch:
        gltf = os.path.join(scratch, kGltfName)
        process = programs.run_program([inspect3d] + arguments + ["--out", gltf], directory)
        said = process.stderr.strip()
        # Exit status 1: written, but with triangles left out (said on stderr).
        if process.returncode not in (0, 1) or not os.path.isfile(gltf):
            raise programs.ProgramError(
                f"inspect3d gltf ended with exit status {process.returncode}" + (f": {said}" if said else ""))
        summary = programs.json_object(process.stdout)
        if summary is None:
            raise programs.ProgramError("inspect3d gltf printed no summary of what it wrote")
        allow_numpy_bool()
        bpy.ops.import_scene.gltf(filepath=gltf)
    reports = [("INFO", f"Imported {directory}: {written(summary)}")]
    if warning:
        reports.append(warning)
    if process.returncode == 1:
        reports.append(("WARNING", said or "inspect3d gltf found problems"))

    first = frame_range[0] if frame_range else 0
    last = frame_range[1] if frame_range else (header[0] - 1 if header else first)
    obj = imported_mesh(before)
    keys = obj.data.shape_keys if obj else None
    action = keys.animation_data.action if keys and keys.animation_data else None
    if action:
        place_frames(action, first)
    # Set in this order, since Blender moves the other end to keep start <= end.
    scene.frame_end = max(first, last)
    scene.frame_start = first
    scene.frame_end = max(first, last)
    clip_table = clips.read_clips_json(os.path.join(directory, clips.kClipsName))
    if action and clip_table:
        names, left_out = clip_actions(action, keys, clip_table, first, last)
        if names:
            reports.append(("INFO", f"{len(names)} {'clip as an action' if len(names) == 1 else 'clips as actions'}: "
                                    f"{', '.join(names)}"))
        if left_out:
            reports.append(("WARNING", f"Not imported: {'clip' if len(left_out) == 1 else 'clips'} "
                                       f"{', '.join(repr(n) for n in left_out)}, outside the stored frames imported, "
                                       f"{first} to {last}"))
    return reports
