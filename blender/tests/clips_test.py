"""Clip sets end to end (ANIM3D_FRAMECONV, ANIM3D_CLIPMERGE, ANIM3D_INSPECT3D):
actions and markers merged at one scale, clips.json, a take split into parts,
the refusals, the folder's other files, mirrored and several meshes.

    blender -b --factory-startup --python-exit-code 1 --python clips_test.py
"""

import hashlib
import json
import os
import shutil
import sys
import time

import bpy
import numpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from helpers import (animated_object, check, evaluated_coordinates, in_new_scene, kFaces, kMoves,  # noqa: E402
                     kVertices, listing, mesh_object, new_scene, pack_vertex, read_mesh, read_vertex_animation, run,
                     turning_mesh, unpack_vertex, y_up)


def armature_character():
    """kVertices deformed by a one-bone armature with two actions of 7 and 5
    frames; "walk" is the armature's action before the export. A camera
    has an action of its own."""
    body = mesh_object("Body", kVertices, kFaces)
    rig = bpy.data.objects.new("Rig", bpy.data.armatures.new("Rig"))
    bpy.context.scene.collection.objects.link(rig)
    bpy.context.view_layer.objects.active = rig
    bpy.ops.object.mode_set(mode="EDIT")
    bone = rig.data.edit_bones.new("Bone")
    bone.head, bone.tail = (0.3, -0.2, 0.1), (0.3, -0.2, 2.1)
    bpy.ops.object.mode_set(mode="OBJECT")
    body.vertex_groups.new(name="Bone").add(range(len(kVertices)), 1.0, "REPLACE")
    body.modifiers.new("Rig", "ARMATURE").object = rig
    rig.animation_data_create()
    pose = rig.pose.bones["Bone"]
    pose.rotation_mode = "XYZ"
    for name, last, turn, lift in (("walk", 5, (0.4, -0.2, 0.9), (0.5, 0.0, 0.2)),
                                   ("jump", 7, (-0.3, 0.6, 0.1), (0.0, 1.5, -0.7))):
        rig.animation_data.action = bpy.data.actions.new(name)
        for frame, factor in ((1, 0.0), (last, 1.0)):
            pose.rotation_euler = [c * factor for c in turn]
            pose.location = [c * factor for c in lift]
            pose.keyframe_insert("rotation_euler", frame=frame)
            pose.keyframe_insert("location", frame=frame)
    # "jump" is kept by its fake user, as an action one switched away from is.
    bpy.data.actions["jump"].use_fake_user = True
    rig.animation_data.action = bpy.data.actions["walk"]
    # Another object's action fits the body's "location" too, but is not its clip.
    other = bpy.data.objects.new("Camera", None)
    bpy.context.scene.collection.objects.link(other)
    other.keyframe_insert("location", frame=1)
    other.animation_data.action.name = "pan"
    bpy.context.view_layer.objects.active = body
    return body, rig


def two_slot_mesh():
    """Where actions have slots: one action "sway" with a slot for the mesh's
    shape keys, which do not play it before the export, and one for a
    camera, which plays it. Only the shape keys' slot is a clip."""
    body = animated_object("Body", kVertices, kFaces, kMoves, 1, 6)
    keys = body.data.shape_keys
    sway = keys.animation_data.action
    sway.name = "sway"
    camera = bpy.data.objects.new("Camera", None)
    bpy.context.scene.collection.objects.link(camera)
    camera.animation_data_create()
    camera.animation_data.action = sway
    camera.animation_data.action_slot = sway.slots.new(id_type="OBJECT", name="Camera")
    camera.keyframe_insert("location", frame=3)
    keys.animation_data.action = None
    return body, keys


def marked_mesh():
    """An animated mesh with three markers, made out of order; the scene ends at 11."""
    obj = animated_object("Waving", kVertices, kFaces, kMoves, 1, 9)
    for name, frame in (("bow", 7), ("idle", 1), ("wave", 4)):
        bpy.context.scene.timeline_markers.new(name, frame=frame)
    bpy.context.scene.frame_end = 11
    return obj, None


def stored_words(obj, rig, name, frames, scale):
    if rig:
        rig.animation_data.action = bpy.data.actions[name]
    return [[pack_vertex(*(c * scale for c in y_up(p))) for p in evaluated_coordinates(obj, f)] for f in frames]


def imported_clips(directory):
    """Imports the set into a new scene; {clip action name: [stored frame as
    Blender positions]} for every frame of each clip action, played on the
    imported mesh."""
    new_scene()
    result = bpy.ops.import_scene.anim3d(directory=directory)
    check(result == {"FINISHED"}, f"import ended {result}")
    obj = next(o for o in bpy.context.scene.objects if o.type == "MESH")
    played = {}
    import anim3d.actions
    for action in bpy.data.actions:
        if action.use_frame_range:
            # Where actions have slots, each clip has one, for shape keys.
            check(not anim3d.actions.kSlotted or [s.target_id_type for s in action.slots] == ["KEY"],
                  f"{action.name}: slots {list(action.slots) if anim3d.actions.kSlotted else None}")
            obj.data.shape_keys.animation_data.action = action
            first, last = (int(f) for f in action.frame_range)
            played[action.name] = (first, [evaluated_coordinates(obj, f) for f in range(first, last + 1)])
    return played


def test_actions_and_markers_merge_at_one_scale(directory):
    # (what, scene, clips, frame_step, scale, the clips [(name, scene frames)])
    cases = [
        ("actions", armature_character, "ACTIONS", 1, 0.0, [("jump", range(1, 8)), ("walk", range(1, 6))]),
        ("markers", marked_mesh, "MARKERS", 1, 3.5, [("idle", range(1, 4)), ("wave", range(4, 7)),
                                                    ("bow", range(7, 12))]),
        ("markers, every 2nd frame", marked_mesh, "MARKERS", 2, 3.5,
         [("idle", [1, 3]), ("wave", [4, 6]), ("bow", [7, 9, 11])]),
    ]
    import anim3d.actions
    import anim3d.frames
    if anim3d.actions.kSlotted:
        cases.append(("two slots", two_slot_mesh, "ACTIONS", 1, 1.0, [("sway", range(1, 7))]))
    for what, make, mode, step, scale, expected in cases:
        new_scene()
        obj, rig = make()
        folder = os.path.join(directory, what)
        before = rig and anim3d.actions.playing(rig)
        result = bpy.ops.export_scene.anim3d(directory=folder, clips=mode, frame_step=step, scale=scale)
        check(result == {"FINISHED"}, f"{what}: export ended {result}")
        check(not rig or anim3d.actions.playing(rig) == before, f"{what}: the action played before not restored")
        with open(os.path.join(folder, "clips.json"), encoding="utf-8") as file:
            index = json.load(file)
        if scale == 0:
            # One automatic scale over every frame of every clip.
            sources = []
            for name, frames in expected:
                if rig:
                    rig.animation_data.action = bpy.data.actions[name]
                sources += [y_up(p) for f in frames for p in evaluated_coordinates(obj, f)]
            scale = anim3d.frames.automatic_scale(numpy.array(sources))
        words, first, clip_index = [], 0, []
        for number, (name, frames) in enumerate(expected, 1):
            words += stored_words(obj, rig, name, frames, scale)
            clip_index.append({"name": name, "files": [f"a{number}.3d"], "first_frame": first,
                               "frame_count": len(frames)})
            first += len(frames)
        check(index == {"scale": scale, "vertices": 11, "triangles": 8, "clips": clip_index}, f"{what}: {index}")
        check(read_vertex_animation(os.path.join(folder, "aniv00.3d")) == words, f"{what}: merged frames differ")
        check(read_mesh(os.path.join(folder, "data00.3d"))[0] == 11, f"{what}: data00.3d")

        played = imported_clips(folder)
        check(sorted(played) == sorted(name for name, _ in expected), f"{what}: actions {sorted(played)}")
        for clip in index["clips"]:
            start, positions = played[clip["name"]]
            stored = words[clip["first_frame"]:clip["first_frame"] + clip["frame_count"]]
            check(start == clip["first_frame"] and len(positions) == len(stored), f"{what}: {clip['name']} frames")
            for frame, (got, frame_words) in enumerate(zip(positions, stored)):
                want = [(x, -z, y) for x, y, z in map(unpack_vertex, frame_words)]
                check(all(abs(g - w) < 1e-5 for a, b in zip(got, want) for g, w in zip(a, b)),
                      f"{what}: {clip['name']} frame {frame} plays other positions")


def test_a_long_take_is_split_into_parts(directory):
    # 2,025 vertices: 98 frames fit one conversion; 101 frames make a1.3d and a2.3d.
    bpy.ops.mesh.primitive_grid_add(x_subdivisions=44, y_subdivisions=44)
    obj = bpy.context.active_object
    obj.location = (0.0, 0.0, 0.0)
    obj.keyframe_insert("location", frame=1)
    obj.location = (1.5, -2.5, 0.75)
    obj.keyframe_insert("location", frame=101)
    bpy.context.scene.timeline_markers.new("take", frame=1)
    bpy.context.scene.frame_end = 101
    result = bpy.ops.export_scene.anim3d(directory=directory, clips="MARKERS", scale=1.0)
    check(result == {"FINISHED"}, f"export ended {result}")
    with open(os.path.join(directory, "clips.json"), encoding="utf-8") as file:
        clip = json.load(file)["clips"]
    check(clip == [{"name": "take", "files": ["a1.3d", "a2.3d"], "first_frame": 0, "frame_count": 101}], f"{clip}")
    check([len(read_vertex_animation(os.path.join(directory, n))) for n in ("a1.3d", "a2.3d")] == [98, 3], "parts")
    merged = read_vertex_animation(os.path.join(directory, "aniv00.3d"))
    for frame in (0, 97, 98, 100):
        world = [tuple(c + d for c, d in zip(p, obj.matrix_world.translation)) for p in
                 evaluated_coordinates(obj, 1 + frame)]
        expected = [pack_vertex(*y_up(p)) for p in world]
        check(merged[frame] == expected, f"merged frame {frame}")


def test_refusals_write_nothing(directory):
    def many_markers():
        animated_object("Many", kVertices, kFaces, kMoves, 1, 68)
        for frame in range(1, 69):
            bpy.context.scene.timeline_markers.new(f"m{frame}", frame=frame)
        bpy.context.scene.frame_end = 68

    def changing_clip():
        # A reversed Build modifier takes the mesh apart from frame 4, where clip 'wave' begins.
        obj, _ = marked_mesh()
        build = obj.modifiers.new("Build", "BUILD")
        build.use_reverse, build.frame_start, build.frame_duration = True, 3, 4

    def markers(*marks):
        def make():
            marked_mesh()
            bpy.context.scene.timeline_markers.clear()
            for name, frame in marks:
                bpy.context.scene.timeline_markers.new(name, frame=frame)
        return make

    cases = [
        ("past 67 clips", many_markers, "MARKERS", "clip 'm68' would be a68.3d, past the 67 clip files"),
        ("two markers of one name", markers(("walk", 1), ("run", 4), ("walk", 7)), "MARKERS",
         "more than one timeline marker is named 'walk' (frames 1, 7), and each clip needs a name of its own"),
        ("a marker without a name", markers(("walk", 1), ("", 4)), "MARKERS",
         "the timeline marker at frame 4 has no name, and each clip is named after its marker"),
        ("a marker after the scene's end", markers(("walk", 1), ("late", 30)), "MARKERS",
         "clip 'late' has no frames: it starts at frame 30, after the scene's end frame 11"),
        ("no markers", lambda: animated_object("A", kVertices, kFaces, kMoves, 1, 3), "MARKERS",
         "the scene has no timeline markers"),
        ("a clip that changes the mesh", changing_clip, "MARKERS",
         "the vertex count changes at frame 4 of clip 'wave': 8 vertices, where frame 1 of clip 'idle' has 11"),
        ("no clipmerge", lambda: marked_mesh(), "MARKERS", "clipmerge not found: ANIM3D_CLIPMERGE"),
    ]
    clipmerge = os.environ["ANIM3D_CLIPMERGE"]
    for what, make, mode, expected in cases:
        new_scene()
        make()
        if what == "no clipmerge":
            os.environ["ANIM3D_CLIPMERGE"] = os.path.join(directory, "missing")
        try:
            bpy.ops.export_scene.anim3d(directory=directory, clips=mode, scale=1.0)
            raise AssertionError(f"{what}: exported")
        except RuntimeError as error:
            check(expected in str(error), f"{what}: {error}")
        finally:
            os.environ["ANIM3D_CLIPMERGE"] = clipmerge
        check(listing(directory) == [], f"{what}: written {listing(directory)}")


def signed_volume(directory):
    """The signed volume of the stored first frame: positive when its
    triangles face outward."""
    positions = [unpack_vertex(w) for w in read_vertex_animation(os.path.join(directory, "aniv00.3d"))[0]]
    volume = 0.0
    for a, b, c, _ in read_mesh(os.path.join(directory, "data00.3d"))[1]:
        (ax, ay, az), (bx, by, bz), (cx, cy, cz) = positions[a], positions[b], positions[c]
        volume += (ax * (by * cz - bz * cy) - ay * (bx * cz - bz * cx) + az * (bx * cy - by * cx)) / 6.0
    return volume


def test_mirrored_objects_face_outward(directory):
    # A box 2 x 3 x 4 (volume 24) away from the origin, mirrored on no, one, two and three axes.
    for mirror in ((1, 1, 1), (-1, 1, 1), (1, -1, -1), (-1, -1, -1)):
        new_scene()
        bpy.ops.mesh.primitive_cube_add(location=(1.5, -2.5, 3.5))
        obj = bpy.context.active_object
        obj.scale = [m * s for m, s in zip(mirror, (1.0, 1.5, 2.0))]
        folder = os.path.join(directory, str(mirror))
        bpy.ops.export_scene.anim3d(directory=folder, frame_start=1, frame_end=1, scale=2.0)
        volume = signed_volume(folder)
        check(abs(volume - 24 * 8) < 1e-6, f"mirrored {mirror}: signed volume {volume}")


def test_the_folder_keeps_what_the_add_on_did_not_write(directory):
    outside = os.path.join(directory, "outside.txt")
    # (what, name, made in the export folder, error or None: exported, the link's target kept)
    cases = [
        ("a user's frame file", "anima050.obj", "file", "holds anima050.obj, which this add-on did not write"),
        ("a user's clip", "a3.3d", "file", "holds a3.3d, which this add-on did not write"),
        ("a user's conversion", "aniv00.3d", "file", "holds aniv00.3d, which this add-on did not write"),
        ("a FIFO at a frame name", "anima002.obj", "fifo", "anima002.obj in"),
        ("a folder at an output name", "data00.3d", "folder", "data00.3d in"),
        ("a link at a temporary name", "anima001.obj~anim3d-new", "link", None),
        ("a user's file at a name ending .tmp", "anim3d-written.txt.tmp", "file", None),
    ]
    for what, name, kind, error in cases:
        new_scene()
        animated_object("Animated", kVertices, kFaces, kMoves, 1, 5)
        folder = os.path.join(directory, what)
        os.makedirs(folder)
        path = os.path.join(folder, name)
        with open(outside, "w", encoding="ascii") as file:
            file.write("the user's\n")
        if kind == "file":
            with open(path, "w", encoding="ascii") as file:
                file.write("the user's\n")
        elif kind == "fifo":
            os.mkfifo(path)
        elif kind == "folder":
            os.mkdir(path)
        else:
            os.symlink(outside, path)
        try:
            result = bpy.ops.export_scene.anim3d(directory=folder, frame_start=1, frame_end=5, scale=1.0)
            check(error is None and result == {"FINISHED"}, f"{what}: exported")
        except RuntimeError as refusal:
            check(error is not None and error in str(refusal) and "choose an empty folder or move it" in str(refusal),
                  f"{what}: {refusal}")
            check(listing(folder) == [name], f"{what}: written {listing(folder)}")
        with open(outside, encoding="ascii") as file:
            check(file.read() == "the user's\n", f"{what}: the file outside changed")
        if kind == "file":
            with open(path, encoding="ascii") as file:
                check(file.read() == "the user's\n", f"{what}: {name} changed")

    # The add-on's own files are replaced, and what a longer export left
    # removed, as the report says. (frames exported, the report's words)
    import anim3d.export
    new_scene()
    obj = animated_object("Animated", kVertices, kFaces, kMoves, 1, 9)
    folder = os.path.join(directory, "again")
    for last, removed in ((9, None), (4, "Removed 5 files that an earlier export wrote and this one does not"),
                          (3, "Removed 1 file that"), (3, None)):
        reports, _ = anim3d.export.export(bpy.context, [obj], folder, "NONE", 1, last, 1, 1.0)
        said = [message for level, message in reports if message.startswith("Removed")]
        check(said == [] if removed is None else len(said) == 1 and said[0].startswith(removed),
              f"export of {last} frames: {said}")
    frames = [n for n in listing(folder) if n.startswith("anima")]
    check(frames == [f"anima00{i}.obj" for i in range(3)], f"frame files {frames}")
    check(len(read_vertex_animation(os.path.join(folder, "aniv00.3d"))) == 3, "the last export's frames")

    # A clip set of three clips, then of two, in the same folder: the third
    # clip's file, which clipmerge would join, and its folder are gone.
    new_scene()
    marked_mesh()
    folder = os.path.join(directory, "set again")
    bpy.ops.export_scene.anim3d(directory=folder, clips="MARKERS", scale=1.0)
    markers = bpy.context.scene.timeline_markers
    markers.remove(markers["bow"])
    with open(os.path.join(folder, "clips.json.tmp"), "w", encoding="ascii") as file:
        file.write("the user's\n")
    result = bpy.ops.export_scene.anim3d(directory=folder, clips="MARKERS", scale=1.0)
    check(result == {"FINISHED"}, f"second set ended {result}")
    check(listing(folder) == ["a1-frames", "a1.3d", "a2-frames", "a2.3d", "anim3d-written.txt", "aniv00.3d",
                              "clips.json", "clips.json.tmp", "data00.3d"], f"the second set left {listing(folder)}")
    check(len(read_vertex_animation(os.path.join(folder, "aniv00.3d"))) == 3 + 8, "the second set's frames")


def identity(data):
    """A record's identity of a file holding data: its size and SHA-256."""
    return f"{len(data)} {hashlib.sha256(data).hexdigest()}"


def snapshot(base):
    """Every file, folder and link under base, without following links: {path:
    content, "folder" or the link's target}."""
    found = {}
    for root, folders, files in os.walk(base):
        for name in folders + files:
            path = os.path.join(root, name)
            if os.path.islink(path):
                found[path] = ("link", os.readlink(path))
            elif os.path.isdir(path):
                found[path] = "folder"
            else:
                with open(path, "rb") as file:
                    found[path] = file.read()
    return found


def test_planted_records_touch_nothing_of_the_users(directory):
    # The export folder is BASE/home/project/out, among the user's files;
    # each row's record and files are planted there before a one-take export.
    written = b"v 1 2 3\n"
    # (what, the record's lines, more of the user's files in out, the reports (level, words) or the refusal's)
    cases = [
        ("out of the folder", ["../../x", "../scene.blend", "../../../elsewhere/emptydir/"], {},
         [("WARNING", "lists '../../x', which leads out of the folder: ignored"),
          ("WARNING", "'../scene.blend', which leads out"),
          ("WARNING", "'../../../elsewhere/emptydir/', which leads")]),
        ("through a linked folder", ["linkdir/passwd"], {},
         [("WARNING", "'linkdir/passwd', which has a separator other than the one of aK-frames/NAME: ignored")]),
        ("a drive", ["C:/x"], {}, [("WARNING", "'C:/x', which names a drive: ignored")]),
        ("a backslash", ["..\\x"], {}, [("WARNING", "'..\\x', which holds a backslash: ignored")]),
        ("a clip folder that is a link, the identity right", [f"{identity(written)} a1-frames/anima000.obj"], {},
         [("WARNING", "'a1-frames/anima000.obj', which leads through a link: ignored")]),
        ("the user's aniv00.3d, listed bare", ["aniv00.3d"], {"aniv00.3d": b"the user's"},
         [("ERROR", "holds aniv00.3d, which anim3d-written.txt lists without its size and SHA-256")]),
        ("the user's anima000.obj, listed with other content", [f"{identity(written)} anima000.obj"],
         {"anima000.obj": b"the user's"}, [("ERROR", "holds anima000.obj, which this add-on did not write")]),
        ("a stale identity in a clip folder this export leaves", [f"{identity(written)} a2-frames/anima000.obj",
                                                                  "a2-frames/"],
         {"a2-frames/anima000.obj": b"the user's"},
         [("WARNING", "'a2-frames/anima000.obj', which changed since this add-on wrote it: kept")]),
    ]
    import anim3d.export
    for number, (what, lines, files, expected) in enumerate(cases):
        base = os.path.join(directory, str(number))
        out = os.path.join(base, "home", "project", "out")
        planted = {"home/x": b"x", "home/project/scene.blend": b"blend", "etc/passwd": b"root",
                   "etc/anima000.obj": written, "home/project/out/C:/x": b"C", "home/project/out/..\\x": b"x"}
        planted.update((f"home/project/out/{name}", data) for name, data in files.items())
        for name, data in planted.items():
            os.makedirs(os.path.dirname(os.path.join(base, name)), exist_ok=True)
            with open(os.path.join(base, name), "wb") as file:
                file.write(data)
        os.makedirs(os.path.join(base, "elsewhere", "emptydir"))
        os.symlink(os.path.join(base, "etc"), os.path.join(out, "linkdir"))
        os.symlink(os.path.join(base, "etc"), os.path.join(out, "a1-frames"))
        with open(os.path.join(out, "anim3d-written.txt"), "w", encoding="utf-8") as file:
            file.write("".join(line + "\n" for line in lines))
        before = snapshot(base)

        new_scene()
        obj = animated_object("Animated", kVertices, kFaces, kMoves, 1, 3)
        try:
            reports, _ = anim3d.export.export(bpy.context, [obj], out, "NONE", 1, 3, 1, 1.0)
        except anim3d.frames.Refusal as refusal:
            reports = [("ERROR", str(refusal))]
        after = snapshot(base)
        changed = [path for path, was in before.items() if after.get(path) != was and
                   not path.endswith("anim3d-written.txt")]
        check(changed == [], f"{what}: changed {changed}")
        for level, words in expected:
            check(any(said == level and words in message for said, message in reports), f"{what}: {reports}")


def test_selected_meshes_and_what_is_left_out(directory):
    import anim3d.export
    triangle = [(1.0, 2.0, 3.0), (-4.0, 5.0, 6.5), (7.0, -8.0, 9.0)]
    # Made in this order, exported in the order of their names.
    second = mesh_object("B", [(x + 0.5, y, z) for x, y, z in triangle], [(0, 1, 2)])
    first = mesh_object("A", kVertices, kFaces)
    rig = bpy.data.objects.new("Rig", bpy.data.armatures.new("Rig"))
    bpy.context.scene.collection.objects.link(rig)
    for obj in (first, second):
        obj.select_set(True)
    second.modifiers.new("Rig", "ARMATURE").object = rig
    result = bpy.ops.export_scene.anim3d(directory=directory, frame_start=1, frame_end=1, use_selection=True,
                                         scale=1.0)
    check(result == {"FINISHED"}, f"export ended {result}")
    words = read_vertex_animation(os.path.join(directory, "aniv00.3d"))[0]
    positions = evaluated_coordinates(first, 1) + evaluated_coordinates(second, 1)
    check(words == [pack_vertex(*y_up(p)) for p in positions], "not A's vertices, then B's")
    check(read_mesh(os.path.join(directory, "data00.3d"))[1][-1][:3] == (11, 12, 13), "B's triangle not renumbered")

    # (what, active object, the words of the report or refusal)
    cases = [
        ("the active one alone", first, "1 other selected mesh left out: only the active object A is exported"),
        ("an armature", rig, "the active object Rig is an armature, not a mesh; it deforms B"),
    ]
    for what, active, expected in cases:
        bpy.context.view_layer.objects.active = active
        try:
            _, reports = anim3d.export.chosen_objects(bpy.context, False)
            said = " ".join(message for _, message in reports)
        except anim3d.frames.Refusal as refusal:
            said = str(refusal)
        check(expected in said, f"{what}: {said}")


def test_merge_message_sets_the_report_level(directory):
    # A quiet clipmerge prints nothing and exits with status 1, as on Windows,
    # where the closing message is a message box. The merged header decides
    # every level, whatever the words.
    import anim3d.export
    clipmerge = os.environ["ANIM3D_CLIPMERGE"]
    programs = {"quiet": f"'{clipmerge}' >/dev/null\nexit 1\n", "quiet, nothing written": "exit 1\n",
                "says complete, nothing written": "echo 'Conversion Complete: Conversion Complete'\nexit 1\n"}
    cases = [
        ("quiet", "INFO", "clipmerge: Conversion Complete (aniv00.3d holds the 11 frames of all clips)"),
        ("quiet, nothing written", "ERROR",
         "clipmerge: Not merged: aniv00.3d does not hold the 11 frames of the clips"),
        ("says complete, nothing written", "ERROR", "clipmerge: Conversion Complete: Conversion Complete (Not "
                                                    "merged: aniv00.3d does not hold the 11 frames of the clips)"),
    ]
    for what, level, message in cases:
        new_scene()
        obj, _ = marked_mesh()
        path = os.path.join(directory, what.replace(", ", "-").replace(" ", "-"))
        with open(path, "w", encoding="ascii") as file:
            file.write("#!/bin/sh\n" + programs[what])
        os.chmod(path, 0o755)
        os.environ["ANIM3D_CLIPMERGE"] = path
        try:
            reports, _ = anim3d.export.export(bpy.context, [obj], os.path.join(directory, f"out {what}"), "MARKERS",
                                              requested_scale=1.0)
        finally:
            os.environ["ANIM3D_CLIPMERGE"] = clipmerge
        check(reports[-1] == (level, message), f"{what}: {reports[-1]}")


def clip_set_of(folder):
    """The clip names of the set in folder, checked to be one export's whole
    set: clips.json names clip files that are all there, no other clip file
    is, each holds the frames clips.json gives it, aniv00.3d is their frames
    one after the other, and data00.3d is of the same mesh."""
    with open(os.path.join(folder, "clips.json"), encoding="utf-8") as file:
        index = json.load(file)
    named = [name for clip in index["clips"] for name in clip["files"]]
    present = sorted(n for n in listing(folder) if n.startswith("a") and n.endswith(".3d") and n != "aniv00.3d")
    check(present == sorted(named), f"clip files {present}, clips.json names {named}")
    frames, first = [], 0
    for clip in index["clips"]:
        clip_frames = [f for name in clip["files"] for f in read_vertex_animation(os.path.join(folder, name))]
        check(clip["first_frame"] == first and clip["frame_count"] == len(clip_frames), f"clip {clip}")
        frames += clip_frames
        first += len(clip_frames)
    check(read_vertex_animation(os.path.join(folder, "aniv00.3d")) == frames, "aniv00.3d is not the clips")
    check(read_mesh(os.path.join(folder, "data00.3d"))[0] == index["vertices"] == len(frames[0]), "data00.3d")
    return [clip["name"] for clip in index["clips"]]


# The second export, in a Blender of its own: it says whether it found the
# folder locked, then exports a set of 2 clips into it and says how that ended.
kSecondExport = """
import fcntl, os, sys
sys.dont_write_bytecode = True  # as in the suites: no byte code beside the sources
import bpy
sys.path.insert(0, {tests!r})
from helpers import new_scene, turning_mesh
folder, probe, result = sys.argv[sys.argv.index("--") + 1:]
descriptor = os.open(folder, os.O_RDONLY)
try:
    fcntl.flock(descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
    said = "free"
except BlockingIOError:
    said = "held"
os.close(descriptor)
with open(probe + "~", "w") as file:
    file.write(said)
os.replace(probe + "~", probe)
new_scene()
turning_mesh(("step", 1), ("turn", 11))
try:
    said = str(bpy.ops.export_scene.anim3d(directory=folder, clips="MARKERS", scale=1.0))
except RuntimeError as error:
    said = str(error)
with open(result + "~", "w") as file:
    file.write(said)
os.replace(result + "~", result)
"""

# The other process, played by a wrapper around the real program at a known
# moment, once: $1 the real program, $2 what it does, $3 the folder outside,
# $4 the mark that it has played, $5 the Blender that makes the second export
# and $6 its script.
kNeighbour = """#!/bin/sh
real=$1 play=$2 outside=$3 played=$4 blender=$5 script=$6
here=$(pwd -P)
if [ ! -e "$played" ]; then
  case "$play:${here##*/}" in
    next:a1-frames) : >"$played"; ln -s "$outside" ../a2-frames ;;
    this:a1-frames) : >"$played"; mv ../a1-frames ../a1-frames.aside && ln -s "$outside" ../a1-frames ;;
    late:*) : >"$played"; mv a1-frames a1-frames.aside && ln -s "$outside" a1-frames ;;
    second:*)
      : >"$played"
      # The second export is no child of this one: it inherits neither the lock nor its name.
      ( eval "exec ${ANIM3D_FOLDER_LOCK:-9}<&-"; unset ANIM3D_FOLDER_LOCK
        exec "$blender" -b --factory-startup --python "$script" -- "$here" "$played.probe" "$played.result" \
          >"$played.log" 2>&1 ) &
      waited=0
      while [ ! -e "$played.probe" ] && [ $waited -lt 1200 ]; do sleep 0.1; waited=$((waited + 1)); done ;;
  esac
fi
exec "$real"
"""


def test_a_neighbour_at_work_meanwhile_changes_nothing_outside(directory):
    # Another process at a known moment of an export (a set of 3 clips, or
    # one take) into a folder that holds an earlier export's set: (what, the
    # earlier set, the program the other process waits for, what it does,
    # the ERROR's words or None, the set left, the export's clips). An export
    # stopped before its clips are placed leaves the earlier set as it was;
    # one whose folder is replaced later leaves its own, whole; the second
    # export, which waits, leaves its own.
    one = lambda: turning_mesh(("step", 1))  # noqa: E731
    cases = [
        ("a link planted at a2-frames while frameconv converts in a1-frames", one, "frameconv", "next",
         "a2-frames in", ["step"], "MARKERS"),
        ("a1-frames replaced by a link while frameconv converts in it", one, "frameconv", "this",
         "a1-frames in", ["step"], "MARKERS"),
        ("a1-frames replaced by a link while clipmerge runs", one, "clipmerge", "late",
         "a1-frames in", ["idle", "wave", "bow"], "MARKERS"),
        ("a second export started while clipmerge runs", marked_mesh, "clipmerge", "second", None,
         ["step", "turn"], "MARKERS"),
        ("a second export started while frameconv converts one take", marked_mesh, "frameconv", "second", None,
         ["step", "turn"], "NONE"),
    ]
    tests = os.path.dirname(os.path.abspath(__file__))
    wrapper, script = os.path.join(directory, "neighbour"), os.path.join(directory, "second.py")
    with open(wrapper, "w", encoding="ascii") as file:
        file.write(kNeighbour)
    os.chmod(wrapper, 0o755)
    with open(script, "w", encoding="ascii") as file:
        file.write(kSecondExport.format(tests=tests))
    for number, (what, earlier, program, play, error, left, clips) in enumerate(cases):
        base = os.path.join(directory, str(number))
        folder, outside, played = (os.path.join(base, name) for name in ("out", "outside", "played"))
        os.makedirs(outside)
        for name in ("aniv00.3d", "data00.3d"):
            with open(os.path.join(outside, name), "wb") as file:
                file.write(b"the user's " + name.encode())
        before = snapshot(outside)
        new_scene()
        earlier()
        check(bpy.ops.export_scene.anim3d(directory=folder, clips="MARKERS", scale=1.0) == {"FINISHED"},
              f"{what}: the earlier export")
        outputs = {name: snapshot(folder)[os.path.join(folder, name)]
                   for name in ("a1.3d", "aniv00.3d", "data00.3d", "clips.json")}
        variable = f"ANIM3D_{program.upper()}"
        real = os.environ[variable]
        neighbour = os.path.join(base, f"{program}-neighbour")
        with open(neighbour, "w", encoding="ascii") as file:
            file.write(f"#!/bin/sh\nexec '{wrapper}' '{real}' {play} '{outside}' '{played}' "
                       f"'{bpy.app.binary_path}' '{script}'\n")
        os.chmod(neighbour, 0o755)
        new_scene()
        marked_mesh()
        os.environ[variable] = neighbour
        try:
            said = str(bpy.ops.export_scene.anim3d(directory=folder, clips=clips, frame_start=1, frame_end=11,
                                                   scale=1.0))
        except RuntimeError as refusal:
            said = str(refusal)
        finally:
            os.environ[variable] = real
        check(os.path.exists(played), f"{what}: the neighbour never came")
        if error:
            check(error in said and "was replaced or removed while the export ran" in said, f"{what}: {said}")
            now = snapshot(folder)
            kept = all(now[os.path.join(folder, name)] == data for name, data in outputs.items())
            check(kept == (left != ["idle", "wave", "bow"]), f"{what}: the earlier outputs kept: {kept}")
        else:
            check(said == "{'FINISHED'}", f"{what}: the first export ended {said}")
            for _ in range(1800):
                if os.path.exists(played + ".result"):
                    break
                time.sleep(0.1)
            if not os.path.exists(played + ".result"):
                with open(played + ".log", encoding="utf-8", errors="replace") as file:
                    raise AssertionError(f"{what}: the second export never ended; it said:\n{file.read()}")
            with open(played + ".probe", encoding="ascii") as file:
                check(file.read() == "held", f"{what}: the second export found the folder free")
            with open(played + ".result", encoding="ascii") as file:
                result = file.read()
            check(result == "{'FINISHED'}", f"{what}: the second export ended {result}")
        check(snapshot(outside) == before, f"{what}: the folder outside changed")
        check(clip_set_of(folder) == left, f"{what}: the set left is not {left}")
        # The neighbour's doings gone, the next export works.
        for name in ("a1-frames", "a2-frames"):
            if os.path.islink(os.path.join(folder, name)):
                os.unlink(os.path.join(folder, name))
        shutil.rmtree(os.path.join(folder, "a1-frames.aside"), ignore_errors=True)
        new_scene()
        marked_mesh()
        check(bpy.ops.export_scene.anim3d(directory=folder, clips="MARKERS", scale=1.0) == {"FINISHED"},
              f"{what}: the next export")
        check(clip_set_of(folder) == ["idle", "wave", "bow"], f"{what}: the next export's set")


run([in_new_scene(t) for t in (
    test_actions_and_markers_merge_at_one_scale,
    test_a_long_take_is_split_into_parts,
    test_refusals_write_nothing,
    test_mirrored_objects_face_outward,
    test_the_folder_keeps_what_the_add_on_did_not_write,
    test_planted_records_touch_nothing_of_the_users,
    test_selected_meshes_and_what_is_left_out,
    test_merge_message_sets_the_report_level,
    test_a_neighbour_at_work_meanwhile_changes_nothing_outside,
)])
