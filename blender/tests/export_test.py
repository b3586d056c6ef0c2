"""The export operator end to end, with the built frameconv (ANIM3D_FRAMECONV):
the words and triangles it stores, the automatic scale, the refusals, and
the report that frameconv's closing message becomes.

    blender -b --factory-startup --python-exit-code 1 --python export_test.py
"""

import math
import os
import subprocess
import sys

import bpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from helpers import (animated_object, check, evaluated_coordinates, in_new_scene, kFaces, kMoves,  # noqa: E402
                     kVertices, listing, mesh_object, new_scene, pack_vertex, read_mesh, read_vertex_animation, run,
                     unpack_vertex, y_up)

def written_coordinates(directory, index):
    with open(os.path.join(directory, f"anima{index:03d}.obj"), encoding="ascii") as file:
        return [tuple(float(c) for c in line.split()[1:]) for line in file if line.startswith("v ")]


def test_fixed_scale_stores_the_evaluated_coordinates_and_triangles(directory):
    obj = animated_object("Animated", kVertices, kFaces, kMoves, 2, 8)
    directory = os.path.join(directory, "new folder")  # made by the export
    result = bpy.ops.export_scene.anim3d(directory=directory, frame_start=2, frame_end=8, scale=2.7)
    check(result == {"FINISHED"}, f"export ended {result}")

    # 2.7 is what the user typed, used as the double 2.7 (not its float32).
    frames = read_vertex_animation(os.path.join(directory, "aniv00.3d"))
    check(len(frames) == 7, f"{len(frames)} frames")
    for index, words in enumerate(frames):
        expected = [pack_vertex(*(c * 2.7 for c in y_up(p))) for p in evaluated_coordinates(obj, 2 + index)]
        check(words == expected, f"frame {index}: {[hex(w) for w in words]} != {[hex(w) for w in expected]}")
    check(frames[0] != frames[3], "the animation does not move")

    bpy.context.scene.frame_set(2)
    mesh = obj.evaluated_get(bpy.context.evaluated_depsgraph_get()).to_mesh()
    mesh.calc_loop_triangles()
    triangles = [tuple(t.vertices) for t in mesh.loop_triangles]
    obj.evaluated_get(bpy.context.evaluated_depsgraph_get()).to_mesh_clear()
    vertex_count, records = read_mesh(os.path.join(directory, "data00.3d"))
    check(vertex_count == 11, f"mesh file of {vertex_count} vertices")
    check(len(triangles) == 2 + 3 + 1 + 2, f"{len(triangles)} triangles in Blender")
    check(records == [t + (i + 1,) for i, t in enumerate(triangles)], f"triangle records {records}")

    # The frame files hold the statements and nothing else.
    for index in range(7):
        with open(os.path.join(directory, f"anima{index:03d}.obj"), encoding="ascii") as file:
            text = file.read()
        check(all(line[:2] in ("v ", "f ") for line in text.splitlines()), f"anima{index:03d}.obj: other lines")
        faces = len(triangles) if index == 0 else 0
        check(text.count("v ") == 11 and text.count("f ") == faces, f"anima{index:03d}.obj: other statements")


def three_digit_step(scale):
    return 10.0 ** (math.floor(math.log10(scale)) - 2)


def bound(value, axis):
    """How far a scaled coordinate may reach with its nearest step in range."""
    steps = 4.0 if axis == 2 else 8.0
    return ((1023.5 if axis < 2 else 511.5) if value > 0 else (1024.5 if axis < 2 else 512.5)) / steps


def check_automatic_scale(directory, obj, frame_count):
    result = bpy.ops.export_scene.anim3d(directory=directory, frame_start=1, frame_end=frame_count, scale=0.0)
    check(result == {"FINISHED"}, f"export ended {result}")
    scale = bpy.context.scene["anim3d_scale"]
    check(float(f"{scale:.3g}") == scale, f"scale {scale}: not three significant digits")
    sources = [[y_up(p) for p in evaluated_coordinates(obj, 1 + i)] for i in range(frame_count)]
    frames = read_vertex_animation(os.path.join(directory, "aniv00.3d"))
    fill = 0.0
    for index, (frame, words) in enumerate(zip(sources, frames)):
        for source, word in zip(frame, words):
            for axis, (c, stored) in enumerate(zip(source, unpack_vertex(word))):
                # The nearest step: half a step at most.
                check(abs(stored - c * scale) <= (0.125 if axis == 2 else 0.0625) + 1e-9,
                      f"frame {index}: {c} x {scale} stored as {stored}")
                fill = max(fill, abs(c * scale) / bound(c, axis))
    check(fill >= 0.99, f"scale {scale} fills {fill:.4f} of the range")
    # The next larger factor of three digits puts a coordinate out of range.
    larger = scale + three_digit_step(scale)
    check(any(abs(c * larger) >= bound(c, axis) for frame in sources for p in frame for axis, c in enumerate(p)),
          f"scale {larger} would still fit")
    return scale


def test_automatic_scale_of_a_far_too_small_model(directory):
    # Largest: Blender x 0.0043 at the last frame, positive (file x).
    small = [(0.0031, -0.0007, 0.0012), (-0.0011, 0.0022, -0.0019), (0.0005, 0.0009, 0.0028)]
    moves = [(0.0012, 0.0, 0.0), (0.0, -0.0003, 0.0), (0.0, 0.0, 0.0)]
    obj = animated_object("Small", small, [(0, 1, 2)], moves, 1, 3)
    scale = check_automatic_scale(directory, obj, 3)
    check(1000 < scale < 100000, f"scale {scale}")


def test_automatic_scale_of_a_far_too_large_model(directory):
    # Largest: Blender y 5321.7, which is file z -5321.7, the bound -128.25.
    large = [(1200.5, 5321.7, -800.0), (-3100.2, -900.4, 2500.9), (2900.0, -4700.1, -3000.3), (40.0, 60.0, 80.0)]
    moves = [(0.0, 0.0, 0.0), (-200.0, 0.0, 100.0), (0.0, 0.0, 0.0), (10.0, 20.0, 30.0)]
    obj = animated_object("Large", large, [(0, 1, 2), (0, 2, 3)], moves, 1, 4)
    scale = check_automatic_scale(directory, obj, 4)
    check(0.001 < scale < 0.1, f"scale {scale}")


def build_modifier_object():
    """A grid that a reversed Build modifier starts taking apart at frame 4."""
    obj = mesh_object("Built", [(x, y, 0.0) for y in range(4) for x in range(4)],
                      [(y * 4 + x, y * 4 + x + 1, y * 4 + x + 5, y * 4 + x + 4) for y in range(3) for x in range(3)])
    build = obj.modifiers.new("Build", "BUILD")
    build.use_reverse = True
    build.frame_start = 3
    build.frame_duration = 4
    return obj


def grid_object(side):
    bpy.ops.mesh.primitive_grid_add(x_subdivisions=side - 1, y_subdivisions=side - 1)
    return bpy.context.active_object


def disabled_object():
    obj = animated_object("Hidden", kVertices, kFaces, kMoves, 1, 3)
    obj.hide_viewport = True
    return obj


def test_refusals_write_nothing(directory):
    one_to = {"frame_start": 1, "frame_end": 2, "scale": 1.0}
    cases = [
        ("vertex count change", build_modifier_object, dict(one_to, frame_end=7), {},
         "the vertex count changes at frame 4"),
        ("frames", lambda: mesh_object("M", kVertices, kFaces), dict(one_to, frame_end=1001), {}, "1001 frames"),
        ("vertices", lambda: grid_object(101), dict(one_to, frame_end=1), {}, "10,201 vertices"),
        ("triangles", lambda: grid_object(100), dict(one_to, frame_end=1), {}, "19,602 triangles"),
        ("packed vertices", lambda: grid_object(50), dict(one_to, frame_end=81), {},
         "202,500 packed vertices, more than the 200,000 of all frames together: at most 80 frames of this mesh fit"),
        ("no frameconv", lambda: mesh_object("M", kVertices, kFaces), one_to,
         {"ANIM3D_FRAMECONV": os.path.join(directory, "missing")}, "frameconv not found: ANIM3D_FRAMECONV"),
        # kVertices and kMoves reach x = -5.9 - 3.3 = -9.2: 13.9 x 9.2 = 127.88.
        ("a scale that does not fit", lambda: animated_object("A", kVertices, kFaces, kMoves, 1, 7),
         dict(one_to, frame_end=7, scale=200.0), {},
         "at scale 200 a coordinate lies outside the stored range; the largest scale that fits is 13.9"),
        ("disabled in viewports", disabled_object, one_to, {}, "Hidden is disabled in viewports"),
        ("a relative folder in an unsaved file", lambda: mesh_object("M", kVertices, kFaces),
         dict(one_to, directory="//out"), {}, "//out is relative to the .blend file, which is not saved yet"),
    ]
    for name, make, options, environment, expected in cases:
        new_scene()
        make()
        saved = {key: os.environ.get(key) for key in environment}
        os.environ.update(environment)
        try:
            bpy.ops.export_scene.anim3d(**dict({"directory": directory}, **options))
            raise AssertionError(f"{name}: exported")
        except RuntimeError as error:
            check(expected in str(error), f"{name}: {error}")
        finally:
            for key, value in saved.items():
                if value is None:
                    del os.environ[key]
                else:
                    os.environ[key] = value
        check(listing(directory) == [] and not os.path.exists("out"), f"{name}: written {listing(directory)}")
        check("anim3d_scale" not in bpy.context.scene, f"{name}: the scale is remembered")


def test_one_run_at_a_time_in_a_folder(directory):
    # Another process holds the folder's lock, as frameconv holds it for its
    # run: the export waits, and refuses when the wait runs out, writing
    # nothing. (what, how long the lock is held, how long the export waits)
    import fcntl
    import anim3d.folder
    cases = [("released in time", 1, 30.0, None),
             ("held past the wait", 30, 0.5, "cannot write aniv00.3d in")]
    wait = anim3d.folder.kLockWaitSeconds
    for what, held_seconds, wait_seconds, refused in cases:
        new_scene()
        animated_object("A", kVertices, kFaces, kMoves, 1, 3)
        folder = os.path.join(directory, what.replace(" ", "-"))
        os.mkdir(folder)
        holder = subprocess.Popen(["flock", folder, "sleep", str(held_seconds)])
        descriptor = os.open(folder, os.O_RDONLY)
        try:
            while True:  # until the holder has it
                try:
                    fcntl.flock(descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
                    fcntl.flock(descriptor, fcntl.LOCK_UN)
                except OSError:
                    break
            anim3d.folder.kLockWaitSeconds = wait_seconds
            try:
                result = bpy.ops.export_scene.anim3d(directory=folder, frame_start=1, frame_end=3, scale=1.0)
                check(refused is None and result == {"FINISHED"}, f"{what}: ended {result}")
            except RuntimeError as error:
                check(refused is not None and refused in str(error) and listing(folder) == [], f"{what}: {error}")
        finally:
            anim3d.folder.kLockWaitSeconds = wait
            os.close(descriptor)
            holder.kill()
            holder.wait()


def script(directory, name, text):
    path = os.path.join(directory, name)
    with open(path, "w", encoding="ascii") as file:
        file.write("#!/bin/sh\n" + text)
    os.chmod(path, 0o755)
    return path


def test_closing_message_sets_the_report_level(directory):
    # A frameconv that first moves the first vertex of anima000.obj out of
    # range, as a hand-edited frame could: its report says so.
    # A quiet frameconv runs, exits with status 1 and prints nothing, as on
    # Windows, where the closing message is a message box. A blocked one
    # writes nothing and says so. inspect3d check decides every level.
    frameconv = os.environ["ANIM3D_FRAMECONV"]
    programs = {
        "real": frameconv,
        "quiet": script(directory, "quiet", f"'{frameconv}' >/dev/null\nexit 1\n"),
        "wrapping": script(directory, "wrapping", f"sed -i '1s/.*/v 200 0 0/' anima000.obj\nexec '{frameconv}'\n"),
        "quiet, wrapping": script(directory, "quiet-wrapping",
                                  f"sed -i '1s/.*/v 200 0 0/' anima000.obj\n'{frameconv}' >/dev/null\nexit 1\n"),
        "blocked": script(directory, "blocked", "echo 'Conversion Error: Cannot write aniv00.3d'\nexit 1\n"),
        "quiet, blocked": script(directory, "quiet-blocked", "exit 1\n"),
        "boasting": script(directory, "boasting", "echo 'Conversion Complete: Conversion Complete'\nexit 1\n"),
    }
    cases = [
        ("in range", "real", 1.0, "INFO", "frameconv: Conversion Complete: Conversion Complete"),
        ("wrapped", "wrapping", 1.0, "WARNING", "frameconv: Conversion Complete, but 1 coordinate"),
        ("output blocked", "blocked", 1.0, "ERROR", "frameconv: Conversion Error: Cannot write aniv00.3d"),
        ("quiet, in range", "quiet", 1.0, "INFO", "frameconv: Conversion Complete (inspect3d check: ok)"),
        ("quiet, wrapped", "quiet, wrapping", 1.0, "WARNING",
         "frameconv: Conversion Complete, but inspect3d check found 1 wrapped coordinate"),
        ("quiet, output blocked", "quiet, blocked", 1.0, "ERROR", "frameconv: Not converted: inspect3d check "),
        # What the files hold decides, not the words.
        ("says complete, wrote nothing", "boasting", 1.0, "ERROR",
         "frameconv: Conversion Complete: Conversion Complete (Not converted: inspect3d check "),
    ]
    import anim3d.export
    for name, program, scale, level, start in cases:
        new_scene()
        obj = animated_object("Animated", kVertices, kFaces, kMoves, 1, 7)
        folder = os.path.join(directory, name)
        os.environ["ANIM3D_FRAMECONV"] = programs[program]
        try:
            reports, _ = anim3d.export.export(bpy.context, [obj], folder, "NONE", 1, 7, 1, scale)
            check(reports[-1][0] == level and reports[-1][1].startswith(start), f"{name}: {reports}")
            # The operator ends FINISHED, or on an ERROR report raises it here.
            try:
                result = bpy.ops.export_scene.anim3d(directory=folder, frame_start=1, frame_end=7, scale=scale)
            except RuntimeError as error:
                result = {"CANCELLED"}
                check(start in str(error), f"{name}: {error}")
            check(result == ({"CANCELLED"} if level == "ERROR" else {"FINISHED"}), f"{name}: ended {result}")
        finally:
            os.environ["ANIM3D_FRAMECONV"] = frameconv


def box(location, size):
    """A box object at location of the given size (x, y, z) about its origin,
    whose corners move by a sixteenth of it from frame 1 to 3."""
    half = [s / 2 for s in size]
    corners = [tuple(h * sx for h, sx in zip(half, signs))
               for signs in ((-1, -1, -1), (1, -1, -1), (1, 1, -1), (-1, 1, -1), (-1, -1, 1), (1, -1, 1), (1, 1, 1))]
    faces = [(0, 3, 2, 1), (0, 1, 5, 4), (1, 2, 6, 5), (4, 5, 6)]
    obj = animated_object("Box", corners, faces, [tuple(s / 16 for s in size)] * 7, 1, 3)
    obj.location = location
    return obj


def test_coarse_steps_are_warned_of_and_the_scale_is_kept(directory):
    import anim3d.export
    # (what, where the box is, its size, space, scale, the warning or None)
    cases = [
        ("far from the origin", (1000.0, -3.0, 2.0), (8.0, 5.0, 3.0), "WORLD", 0.0,
         "At scale 0.127 one step is 0.984 units, 12 % of the model's largest extent 8.5: its automatic scale is "
         "0.127 (scale=0); its centre lies 1000 units from the origin, and space='OBJECT' exports it in its own "
         "coordinates"),
        ("far, in its own coordinates", (1000.0, -3.0, 2.0), (8.0, 5.0, 3.0), "OBJECT", 0.0, None),
        ("near, at scale 1", (1.0, -3.0, 2.0), (8.0, 5.0, 3.0), "WORLD", 1.0,
         "At scale 1 one step is 0.125 units, 1.5 % of the model's largest extent 8.5: its automatic scale is 23.2 "
         "(scale=0)"),
    ]
    for what, location, size, space, scale, warning in cases:
        new_scene()
        obj = box(location, size)
        reports, _ = anim3d.export.export(bpy.context, [obj], os.path.join(directory, what), "NONE", 1, 3, 1,
                                          scale, space)
        said = [message for level, message in reports if level == "WARNING" and not message.startswith("frameconv")]
        check(said == ([warning] if warning else []), f"{what}: {said}")

    # The scale last used is offered again: by the operator, when none is given.
    new_scene()
    obj = box((1.0, -3.0, 2.0), (8.0, 5.0, 3.0))
    first, second = os.path.join(directory, "first"), os.path.join(directory, "second")
    bpy.ops.export_scene.anim3d(directory=first, frame_start=1, frame_end=3, scale=0.0)
    bpy.ops.export_scene.anim3d(directory=second, frame_start=1, frame_end=3)
    check(bpy.context.scene["anim3d_scale"] == 23.2, f"kept {bpy.context.scene['anim3d_scale']}")
    check(written_coordinates(first, 2) == written_coordinates(second, 2), "the second export at another scale")


run([in_new_scene(t) for t in (
    test_fixed_scale_stores_the_evaluated_coordinates_and_triangles,
    test_automatic_scale_of_a_far_too_small_model,
    test_automatic_scale_of_a_far_too_large_model,
    test_refusals_write_nothing,
    test_closing_message_sets_the_report_level,
    test_one_run_at_a_time_in_a_folder,
    test_coarse_steps_are_warned_of_and_the_scale_is_kept,
)])
