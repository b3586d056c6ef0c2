"""What the add-on's tests share: the add-on loaded from the source tree, the
packed word and the .3d files decoded here from their documented layout
(docs/file-formats.md), and a runner that ends Blender with exit status 1 on
a failed check."""

import os
import struct
import sys
import tempfile
import traceback

import bpy

kAddonParent = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def field(value, bits):
    """The low `bits` bits of the integer value, as the packed word keeps them."""
    return value & ((1 << bits) - 1)


def pack_vertex(x, y, z):
    """The word the add-on stores for a scaled position: the nearest step of
    each coordinate (a tie to the even one), x * 8, y * 8 and z * 4, in 11, 11
    and 10 bits from the lowest."""
    return field(round(x * 8.0), 11) | field(round(y * 8.0), 11) << 11 | field(round(z * 4.0), 10) << 22


def signed(value, bits):
    return value - (1 << bits) if value >= 1 << (bits - 1) else value


def unpack_vertex(word):
    """The position the engine reads back from a packed word."""
    return (signed(word & 0x7FF, 11) / 8.0, signed(word >> 11 & 0x7FF, 11) / 8.0, signed(word >> 22, 10) / 4.0)


def read_vertex_animation(path):
    """aniv00.3d as a list of frames, each a list of packed words."""
    with open(path, "rb") as file:
        data = file.read()
    frame_count, bytes_per_frame = struct.unpack_from("<HH", data, 0)
    check(len(data) == 4 + frame_count * bytes_per_frame, f"{path}: {len(data)} bytes for its header")
    count = bytes_per_frame // 4
    words = struct.unpack_from(f"<{frame_count * count}I", data, 4)
    return [list(words[i * count:(i + 1) * count]) for i in range(frame_count)]


def read_mesh(path):
    """data00.3d as (vertices per frame, [(a, b, c, cycle byte)]), the three
    unfilled records after the triangles checked to be there."""
    with open(path, "rb") as file:
        data = file.read()
    triangle_count, vertex_count = struct.unpack_from("<HH", data, 0)
    check(len(data) == 48 + 16 * (triangle_count + 3), f"{path}: {len(data)} bytes for {triangle_count} triangles")
    records = [struct.unpack_from("<HHHBB", data, 48 + 16 * i) for i in range(triangle_count)]
    return vertex_count, [(a, b, c, cycle) for a, b, c, _, cycle in records]


def evaluated_coordinates(obj, frame):
    """The object's evaluated vertex positions at frame (its transform is the
    identity in these tests), as Blender gives them."""
    bpy.context.scene.frame_set(frame)
    evaluated = obj.evaluated_get(bpy.context.evaluated_depsgraph_get())
    mesh = evaluated.to_mesh()
    positions = [tuple(float(c) for c in v.co) for v in mesh.vertices]
    evaluated.to_mesh_clear()
    return positions


def y_up(position):
    x, y, z = position
    return (x, z, -y)


def new_scene():
    """An empty scene with the operators of the add-on in this source tree
    registered (imported only here, so that a test of the installed add-on
    gets that one)."""
    bpy.ops.wm.read_factory_settings(use_empty=True)
    if not hasattr(bpy.types, "EXPORT_SCENE_OT_anim3d"):
        if kAddonParent not in sys.path:
            sys.path.insert(0, kAddonParent)
        import anim3d
        anim3d.register()


def mesh_object(name, vertices, faces):
    mesh = bpy.data.meshes.new(name)
    mesh.from_pydata(vertices, [], faces)
    mesh.update()
    obj = bpy.data.objects.new(name, mesh)
    bpy.context.scene.collection.objects.link(obj)
    bpy.context.view_layer.objects.active = obj
    return obj


# 11 vertices, a different value on each axis, and faces of 4, 5, 3 and 4
# corners, so that the triangulation shows.
kVertices = [(1.3, -2.1, 0.7), (3.9, -1.7, 1.1), (4.4, 2.6, -0.3), (0.6, 3.3, 0.2), (6.1, 5.2, -1.9),
             (3.5, 7.7, -2.4), (-0.8, 6.0, 0.9), (-3.4, 4.1, 2.8), (-2.2, 0.4, 3.6), (-5.9, -1.3, 1.7),
             (-4.6, -3.8, -0.6)]
kFaces = [(0, 1, 2, 3), (3, 2, 4, 5, 6), (6, 7, 3), (7, 8, 9, 10)]
kMoves = [(0.5, 0.25, -1.5), (-2.0, 1.0, 0.3), (0.1, -3.2, 2.2), (4.0, 0.0, -0.7), (-1.1, 2.9, 0.6),
          (0.0, -0.4, 3.1), (2.6, 1.8, -2.5), (-0.9, -2.2, 0.8), (1.7, 0.6, -1.2), (-3.3, 0.2, 0.4),
          (0.8, 3.7, -3.0)]


def animated_object(name, vertices, faces, moves, first, last):
    """A mesh whose vertices move by `moves` between frames first and last, by
    a keyframed shape key (eased, so every frame differs)."""
    obj = mesh_object(name, vertices, faces)
    obj.shape_key_add(name="Basis")
    moved = obj.shape_key_add(name="Moved")
    for point, (vertex, move) in zip(moved.data, zip(vertices, moves)):
        point.co = [c + m for c, m in zip(vertex, move)]
    for frame, value in ((first, 0.0), (last, 1.0)):
        moved.value = value
        moved.keyframe_insert("value", frame=frame)
    return obj


def turning_mesh(*markers):
    """kVertices animated over frames 1 to 20, the scene's range, with the
    timeline markers (name, frame) given."""
    animated_object("Turning", kVertices, kFaces, kMoves, 1, 20)
    for name, frame in markers:
        bpy.context.scene.timeline_markers.new(name, frame=frame)
    bpy.context.scene.frame_end = 20


def exports_with_frameconv_from_preferences(directory, module):
    """The installed add-on `module` exports a triangle into directory/out with
    frameconv named in its preferences alone, the environment variable
    unset."""
    preferences = bpy.context.preferences.addons[module].preferences
    preferences.frameconv_path = os.environ.pop("ANIM3D_FRAMECONV")
    mesh_object("Triangle", [(1.0, 2.0, 3.0), (-4.0, 5.0, 6.0), (7.0, -8.0, 9.0)], [(0, 1, 2)])
    output = os.path.join(directory, "out")
    os.mkdir(output)
    result = bpy.ops.export_scene.anim3d(directory=output, frame_start=1, frame_end=2, scale=1.0)
    check(result == {"FINISHED"}, f"export ended {result}")
    # (1, 2, 3) in Y-up axes is (1, 3, -2).
    check(read_vertex_animation(os.path.join(output, "aniv00.3d"))[0][0] == 0xFE00C008, "first word")


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def listing(directory):
    return sorted(os.listdir(directory))


def in_new_scene(test):
    """The test, run in a new scene."""
    def wrapped(directory):
        new_scene()
        test(directory)
    wrapped.__name__ = test.__name__
    return wrapped


def run(tests):
    """Runs each test in a fresh temporary directory; exits Blender with status
    1 when any fails."""
    failed = []
    for test in tests:
        with tempfile.TemporaryDirectory(prefix="anim3d-test-") as directory:
            try:
                test(directory)
                print(f"PASS {test.__name__}")
            except Exception:
                traceback.print_exc()
                print(f"FAIL {test.__name__}")
                failed.append(test.__name__)
    print(f"Blender {bpy.app.version_string}: {len(tests) - len(failed)} of {len(tests)} passed")
    sys.stdout.flush()
    if failed:
        sys.exit(1)
