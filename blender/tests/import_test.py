"""Export, then import the conversion back (ANIM3D_FRAMECONV, ANIM3D_INSPECT3D):
the imported shape-key animation plays, stored frame N at scene frame N at
any frame rate, the positions the engine reads from aniv00.3d; a range of
stored frames, and the first 1,000 of a longer conversion.

    blender -b --factory-startup --python-exit-code 1 --python import_test.py
"""

import json
import os
import struct
import sys

import bpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from helpers import (animated_object, check, evaluated_coordinates, in_new_scene, kFaces, kMoves,  # noqa: E402
                     kVertices, mesh_object, new_scene, pack_vertex, read_vertex_animation, run, unpack_vertex)


def played_matches(obj, frame, words):
    # The glTF importer turns the files' Y-up (x, y, z) into Blender's (x, -z, y).
    expected = [(x, -z, y) for x, y, z in map(unpack_vertex, words)]
    played = evaluated_coordinates(obj, frame)
    return len(played) == len(expected) and all(
        abs(p - e) < 1e-5 for a, b in zip(played, expected) for p, e in zip(a, b))


def imported_object():
    imported = [o for o in bpy.context.scene.objects if o.type == "MESH" and o.data.shape_keys]
    check(len(imported) == 1, f"imported {[o.name for o in bpy.context.scene.objects]}")
    return imported[0]


def test_import_plays_stored_frame_n_at_scene_frame_n(directory):
    animated_object("Animated", kVertices, kFaces, kMoves, 1, 7)
    result = bpy.ops.export_scene.anim3d(directory=directory, frame_start=1, frame_end=7, scale=3.3)
    check(result == {"FINISHED"}, f"export ended {result}")
    stored = read_vertex_animation(os.path.join(directory, "aniv00.3d"))
    check(len(stored) == 7 and stored[0] != stored[3], "the export")

    # (frames a second as fps / fps_base, stored frames asked for, the scene's frames then)
    cases = [
        (30, 1.001, {}, (0, 6)),
        (24, 1.001, {}, (0, 6)),
        (60, 1.001, {}, (0, 6)),
        (25, 1.0, {"frame_first": 2, "frame_last": 5}, (2, 5)),
        (30, 1.0, {"frame_first": 4}, (4, 6)),
    ]
    for fps, fps_base, frames, (first, last) in cases:
        what = f"{fps}/{fps_base} {frames}"
        new_scene()
        bpy.context.scene.render.fps, bpy.context.scene.render.fps_base = fps, fps_base
        result = bpy.ops.import_scene.anim3d(directory=directory, **frames)
        check(result == {"FINISHED"}, f"{what}: import ended {result}")
        scene = bpy.context.scene
        check((scene.frame_start, scene.frame_end) == (first, last),
              f"{what}: scene frames {scene.frame_start} to {scene.frame_end}")
        obj = imported_object()
        for frame in range(first, last + 1):
            check(played_matches(obj, frame, stored[frame]), f"{what}: scene frame {frame} plays another frame")


def test_a_long_conversion_imports_its_first_thousand_frames(directory):
    import anim3d.conversion_import
    mesh_object("Triangle", [(1.0, 2.0, 3.0), (-4.0, 5.0, 6.5), (7.0, -8.0, 9.0)], [(0, 1, 2)])
    result = bpy.ops.export_scene.anim3d(directory=directory, frame_start=1, frame_end=1, scale=1.0)
    check(result == {"FINISHED"}, f"export ended {result}")
    # 1,001 frames of 3 vertices, each frame moved along x by its number in steps of 1/8.
    stored = [[pack_vertex(-100.0 + frame / 8.0 + v, 3.0 * v, -v) for v in range(3)] for frame in range(1001)]
    with open(os.path.join(directory, "aniv00.3d"), "wb") as file:
        file.write(struct.pack("<HH", 1001, 12) + b"".join(struct.pack("<3I", *words) for words in stored))
    clips = [("most", 0, 999), ("last", 999, 1), ("past", 1000, 1)]
    with open(os.path.join(directory, "clips.json"), "w", encoding="utf-8") as file:
        json.dump({"scale": 1.0, "vertices": 3, "triangles": 1, "clips": [
            {"name": n, "files": [f"a{i}.3d"], "first_frame": f, "frame_count": c}
            for i, (n, f, c) in enumerate(clips, 1)]}, file)

    # (stored frames asked for, the scene's frames then, the warnings, the clips imported)
    cases = [
        ({}, (0, 999), ["aniv00.3d holds 1,001 frames, more than the 1,000 one import takes: imported frames 0 to "
                        "999 (frame_first and frame_last choose others)",
                        "Not imported: clip 'past', outside the stored frames imported, 0 to 999"],
         "2 clips as actions: most, last"),
        ({"frame_first": 999}, (999, 1000),
         ["Not imported: clip 'most', outside the stored frames imported, 999 to 1000"], "2 clips as actions: last, past"),
        ({"frame_first": 0, "frame_last": 5}, (0, 5),
         ["Not imported: clips 'last', 'past', outside the stored frames imported, 0 to 5"],
         "1 clip as an action: most"),
    ]
    for frames, (first, last), warnings, imported in cases:
        new_scene()
        reports = anim3d.conversion_import.import_conversion(
            bpy.context, directory, "", frames.get("frame_first"), frames.get("frame_last"))
        said = [message for level, message in reports if level == "WARNING"]
        check(said == warnings and ("INFO", imported) in reports, f"{frames}: {reports}")
        scene = bpy.context.scene
        check((scene.frame_start, scene.frame_end) == (first, last), f"{frames}: scene frames {scene.frame_start} "
                                                                     f"to {scene.frame_end}")
        obj = imported_object()
        for frame in sorted({first, min(first + 1, last), last}):
            check(played_matches(obj, frame, stored[frame]), f"{frames}: scene frame {frame} plays another frame")


run([in_new_scene(t) for t in (
    test_import_plays_stored_frame_n_at_scene_frame_n,
    test_a_long_conversion_imports_its_first_thousand_frames,
)])
