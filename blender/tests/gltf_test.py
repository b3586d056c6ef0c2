"""inspect3d gltf's files in Blender's own glTF import (ANIM3D_INSPECT3D): a
clip set comes in as one action per clip, named after it (the importer names
an action CLIP, or CLIP_OBJECT before Blender's actions had slots, and its
NLA track CLIP), with a key per frame of the clip, and each key plays the positions the engine reads from its frame; in
the engine's integers (KHR_mesh_quantization, which the importer of every
Blender tested reads) and in floats (--float).

    blender -b --factory-startup --python-exit-code 1 --python gltf_test.py
"""

import json
import os
import struct
import subprocess
import sys

import bpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from helpers import check, new_scene, pack_vertex, run, unpack_vertex  # noqa: E402

# (name, first frame, frame count): with gaps between them, one of a single frame.
kClips = [("walk", 0, 9), ("jump", 11, 1), ("run", 14, 16)]
kFrameCount = 30
kVertexCount = 7


def frame_words(frame):
    """Vertex i of `frame`: vertices 2 and 5 move, the others stay."""
    words = []
    for i in range(kVertexCount):
        moves = frame if i in (2, 5) else 0
        words.append(pack_vertex(1.5 * i - 4 + moves * 0.375, 2.25 - i + moves * 0.125, 0.5 * i - moves * 0.25))
    return words


def write_conversion(directory):
    frames = [frame_words(f) for f in range(kFrameCount)]
    with open(os.path.join(directory, "aniv00.3d"), "wb") as file:
        file.write(struct.pack("<HH", kFrameCount, kVertexCount * 4))
        for words in frames:
            file.write(struct.pack(f"<{kVertexCount}I", *words))
    triangles = [(0, 1, 2), (0, 2, 3), (3, 4, 5), (4, 6, 5)]
    header = struct.pack("<HHHHIIIIIIIIII", len(triangles), kVertexCount, 0, 1, 0x00010000, 0, 0, 0x01000000,
                         0x7F800000, 0x3F800000, 0x00010000, 0, 0, 0)
    records = b"".join(struct.pack("<HHHBB8B", a, b, c, 1, n + 1, 0, 0x80, 0, 0x94, 2, 0x80, 0, 0)
                       for n, (a, b, c) in enumerate(triangles))
    with open(os.path.join(directory, "data00.3d"), "wb") as file:
        file.write(header + records + bytes(48))
    clips = [{"name": name, "first_frame": first, "frame_count": count} for name, first, count in kClips]
    with open(os.path.join(directory, "clips.json"), "w", encoding="utf-8") as file:
        json.dump({"clips": clips}, file)
    return frames


def import_gltf(path):
    # Blender 3.4's importer still uses numpy.bool, which numpy 1.24 removed.
    import numpy
    if "bool" not in numpy.__dict__:
        numpy.bool = bool
    bpy.ops.import_scene.gltf(filepath=path)


def played(obj, curves, key):
    """The object's world positions at key `key` of `curves`: the basis plus
    each shape key by the weight its curve has there."""
    keys = obj.data.shape_keys.key_blocks
    basis = [v.co.copy() for v in keys[0].data]
    positions = [co.copy() for co in basis]
    for curve in curves:
        weight = curve.keyframe_points[key].co[1]
        block = obj.data.shape_keys.path_resolve(curve.data_path.rsplit(".", 1)[0])
        for i, point in enumerate(block.data):
            positions[i] += weight * (point.co - basis[i])
    return [tuple(obj.matrix_world @ co) for co in positions]


def test_a_clip_set_comes_in_as_its_clips(directory):
    frames = write_conversion(directory)
    for encoding in ([], ["--float"]):
        new_scene()
        import anim3d.actions
        bpy.context.scene.render.fps = 30
        out = os.path.join(directory, "out.glb")
        process = subprocess.run([os.environ["ANIM3D_INSPECT3D"], "gltf", "--fps", "30", "--out", out] + encoding,
                                 cwd=directory, capture_output=True, text=True)
        check(process.returncode == 0, f"{encoding}: inspect3d gltf: {process.returncode} {process.stderr}")
        import_gltf(out)
        meshes = [o for o in bpy.context.scene.objects if o.type == "MESH"]
        check(len(meshes) == 1, f"{encoding}: imported {[o.name for o in bpy.context.scene.objects]}")
        obj = meshes[0]
        bpy.context.view_layer.update()
        tracks = {track.name: track for track in obj.data.shape_keys.animation_data.nla_tracks}
        check(sorted(tracks) == sorted(name for name, _, _ in kClips), f"{encoding}: tracks {sorted(tracks)}")
        check(len(bpy.data.actions) == len(kClips), f"{encoding}: actions {[a.name for a in bpy.data.actions]}")
        for name, first, count in kClips:
            action = tracks[name].strips[0].action
            check(action.name in (name, f"{name}_{obj.name}"), f"{encoding}: {name}'s action is {action.name}")
            curves = anim3d.actions.all_curves(action)
            check(curves and all(len(c.keyframe_points) == count for c in curves),
                  f"{encoding}: {name}: keys {sorted({len(c.keyframe_points) for c in curves})}, not {count}")
            for key in range(count):
                # The importer's Y-up (x, y, z) in Blender's Z-up is (x, -z, y).
                expected = [(x, -z, y) for x, y, z in map(unpack_vertex, frames[first + key])]
                got = played(obj, curves, key)
                check(all(abs(g - e) < 1e-5 for a, b in zip(got, expected) for g, e in zip(a, b)),
                      f"{encoding}: {name} key {key} plays {got}, not frame {first + key}: {expected}")


run([test_a_clip_set_comes_in_as_its_clips])
