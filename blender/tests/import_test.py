"""Export, then import the conversion back (ANIM3D_FRAMECONV, ANIM3D_INSPECT3D):
the imported shape-key animation plays, frame by frame, the positions the
engine reads from aniv00.3d.

    blender -b --factory-startup --python-exit-code 1 --python import_test.py
"""

import os
import sys

import bpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from helpers import (animated_object, check, evaluated_coordinates, kFaces, kMoves, kVertices,  # noqa: E402
                     new_scene, read_vertex_animation, run, unpack_vertex)


def key_frames(shape_keys):
    """The scene frames at which the imported animation changes, in order."""
    action = shape_keys.animation_data.action
    return sorted({round(point.co[0], 3) for curve in action.fcurves for point in curve.keyframe_points})


def test_import_plays_the_stored_frames(directory):
    new_scene()
    animated_object("Animated", kVertices, kFaces, kMoves, 1, 7)
    result = bpy.ops.export_scene.anim3d(directory=directory, frame_start=1, frame_end=7, scale=3.3)
    check(result == {"FINISHED"}, f"export ended {result}")
    stored = read_vertex_animation(os.path.join(directory, "aniv00.3d"))

    new_scene()
    result = bpy.ops.import_scene.anim3d(directory=directory)
    check(result == {"FINISHED"}, f"import ended {result}")
    imported = [o for o in bpy.context.scene.objects if o.type == "MESH" and o.data.shape_keys]
    check(len(imported) == 1, f"imported {[o.name for o in bpy.context.scene.objects]}")
    obj = imported[0]
    frames = key_frames(obj.data.shape_keys)
    check(len(frames) == len(stored) == 7, f"{len(stored)} stored frames play at {frames}")
    for index, (frame, words) in enumerate(zip(frames, stored)):
        # The glTF importer turns the files' Y-up (x, y, z) into Blender's (x, -z, y).
        expected = [(x, -z, y) for x, y, z in map(unpack_vertex, words)]
        played = evaluated_coordinates(obj, int(frame))
        check(len(played) == len(expected), f"frame {index}: {len(played)} vertices")
        check(all(abs(p - e) < 1e-5 for a, b in zip(played, expected) for p, e in zip(a, b)),
              f"frame {index} at scene frame {frame}: plays {played}, stored {expected}")


run([test_import_plays_the_stored_frames])
