"""What a clip is (ANIM3D_FRAMECONV, ANIM3D_CLIPMERGE, ANIM3D_INSPECT3D): each
clip of a set is exactly its action played alone, the scene is given back as
it was, which actions are clips and what the report says of the others, and
coordinates stored at their nearest step.

    blender -b --factory-startup --python-exit-code 1 --python actions_test.py
"""

import filecmp
import json
import os
import subprocess
import sys

import bpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from helpers import (animated_object, check, evaluated_coordinates, in_new_scene, kFaces, kMoves,  # noqa: E402
                     kVertices, mesh_object, new_scene, read_vertex_animation, run, unpack_vertex, y_up)


def keyed(owner, path, frames_values, action_name):
    """Keys owner's property path at each (frame, value) in the action
    action_name, made where there is none (keying alone may add a slot to an
    action the object's data plays)."""
    animation = owner.id_data.animation_data or owner.id_data.animation_data_create()
    if animation.action is None or animation.action.name != action_name:
        animation.action = bpy.data.actions.get(action_name) or bpy.data.actions.new(action_name)
    animation.action.use_fake_user = True
    for frame, value in frames_values:
        setattr(owner, path, value)
        owner.keyframe_insert(path, frame=frame)
    return animation.action


def two_bone_character(names):
    """kVertices deformed by Lower (the first six vertices) and Upper (the
    rest), with the actions of `names`: "full" keys both bones on frames 1
    to 5, "gesture" Upper alone on 1 to 4. The rig plays the first before
    the export, at frame 1."""
    body = mesh_object("Body", kVertices, kFaces)
    rig = bpy.data.objects.new("Rig", bpy.data.armatures.new("Rig"))
    bpy.context.scene.collection.objects.link(rig)
    bpy.context.view_layer.objects.active = rig
    bpy.ops.object.mode_set(mode="EDIT")
    for name, head, tail in (("Lower", (0.0, -2.0, 0.0), (0.0, 1.0, 0.0)), ("Upper", (0.0, 1.0, 0.0), (0.0, 6.0, 0.5))):
        bone = rig.data.edit_bones.new(name)
        bone.head, bone.tail = head, tail
    bpy.ops.object.mode_set(mode="OBJECT")
    body.vertex_groups.new(name="Lower").add(range(6), 1.0, "REPLACE")
    body.vertex_groups.new(name="Upper").add(range(6, len(kVertices)), 1.0, "REPLACE")
    body.modifiers.new("Rig", "ARMATURE").object = rig
    rig.animation_data_create()
    lower, upper = rig.pose.bones["Lower"], rig.pose.bones["Upper"]
    for bone in (lower, upper):
        bone.rotation_mode = "XYZ"
    for name in names:
        rig.animation_data.action = bpy.data.actions.new(name)
        rig.animation_data.action.use_fake_user = True
        if name == "full":
            keyed(lower, "location", [(1, (0.3, 0.0, -0.2)), (5, (1.1, 0.4, 0.6))], name)
            keyed(upper, "rotation_euler", [(1, (0.2, 0.0, 0.1)), (5, (-0.5, 0.3, 0.9))], name)
        else:
            keyed(upper, "rotation_euler", [(1, (0.0, 0.0, 0.0)), (4, (0.7, -0.4, 0.2))], name)
    rig.animation_data.action = bpy.data.actions[names[0]]
    bpy.context.view_layer.objects.active = body
    bpy.context.scene.frame_set(1)
    return body


def turning_stretch(names):
    """kVertices with shape keys Moved (keyed by "stretch", frames 1 to 4) and
    Other (0.5, keyed by nothing), and the object's own "turn" (frames 1 to
    6); each of `names` made and played before the export, at frame 1."""
    body = animated_object("Body", kVertices, kFaces, kMoves, 1, 4)
    keys = body.data.shape_keys
    keys.animation_data.action.name = "stretch"
    keys.animation_data.action.use_fake_user = True
    if "stretch" not in names:
        bpy.data.actions.remove(keys.animation_data.action)
        keys.key_blocks["Moved"].value = 0.0
    body.shape_key_add(name="Other", from_mix=False).value = 0.5
    for index, point in enumerate(keys.key_blocks["Other"].data):
        point.co = [c + 0.1 * (index % 3) for c in point.co]
    if "turn" in names:
        keyed(body, "rotation_euler", [(1, (0.0, 0.0, 0.0)), (6, (0.0, 0.0, 1.2))], "turn")
    bpy.context.scene.frame_set(1)
    return body


def scene_state():
    """Every value, action, slot and mute an export could change, as text."""
    import anim3d.actions
    state = []
    for owner in list(bpy.data.objects) + list(bpy.data.shape_keys):
        animation = owner.animation_data
        binding = anim3d.actions.playing(owner) if animation else None
        state.append((owner.name, repr(binding), [t.mute for t in animation.nla_tracks] if animation else None))
        if owner.bl_rna.identifier == "Key":
            state.append([(b.name, b.value) for b in owner.key_blocks])
            continue
        bones = list(owner.pose.bones) if owner.pose else []
        for item in [owner] + bones:
            state.append([tuple(getattr(item, n)) for n in ("location", "rotation_euler", "rotation_quaternion",
                                                            "scale")])
    return state


def clip_words(folder, name):
    with open(os.path.join(folder, "clips.json"), encoding="utf-8") as file:
        clip = next(c for c in json.load(file)["clips"] if c["name"] == name)
    return read_vertex_animation(os.path.join(folder, "aniv00.3d"))[
        clip["first_frame"]:clip["first_frame"] + clip["frame_count"]]


def test_a_clip_is_its_action_alone(directory):
    # (what, the set's scene, the clip, the scene with that action alone, its frames)
    cases = [
        ("a one-bone gesture after a full-body clip", two_bone_character, ["full", "gesture"], "gesture",
         ["gesture"], (1, 4)),
        ("a stretch: the object's own turn stays still, Other stays at 0.5", turning_stretch, ["turn", "stretch"],
         "stretch", ["stretch"], (1, 4)),
        ("a turn: the shape keys stay as they were", turning_stretch, ["turn", "stretch"], "turn", ["turn"], (1, 6)),
    ]
    for what, make, names, clip, alone, (first, last) in cases:
        new_scene()
        make(names)
        before = scene_state()
        folder, again = os.path.join(directory, what, "set"), os.path.join(directory, what, "again")
        for out in (folder, again):
            result = bpy.ops.export_scene.anim3d(directory=out, clips="ACTIONS", scale=4.0)
            check(result == {"FINISHED"}, f"{what}: export ended {result}")
            check(scene_state() == before, f"{what}: the scene is not as it was")
        same = filecmp.cmpfiles(folder, again, sorted(n for n in os.listdir(folder) if n.endswith((".3d", ".json"))),
                                shallow=False)
        check(not same[1] and not same[2], f"{what}: a second export wrote other files: {same[1] + same[2]}")

        new_scene()
        make(alone)
        single = os.path.join(directory, what, "alone")
        result = bpy.ops.export_scene.anim3d(directory=single, frame_start=first, frame_end=last, scale=4.0)
        check(result == {"FINISHED"}, f"{what}: the action alone ended {result}")
        check(clip_words(folder, clip) == read_vertex_animation(os.path.join(single, "aniv00.3d")),
              f"{what}: clip '{clip}' is not its action played alone")


def test_which_actions_are_clips(directory):
    import anim3d.export

    def left_behind():
        body = turning_stretch(["stretch"])
        prop = bpy.data.objects.new("Prop", None)
        bpy.context.scene.collection.objects.link(prop)
        keyed(prop, "location", [(1, (0.0, 0.0, 0.0)), (9, (40.0, 0.0, 0.0))], "slide")
        bpy.data.actions["slide"].use_fake_user = False
        bpy.data.objects.remove(prop)
        return body

    def shared():
        body = turning_stretch(["stretch"])
        twin = animated_object("Twin", kVertices, kFaces, kMoves, 1, 2)
        bpy.data.actions.remove(twin.data.shape_keys.animation_data.action)
        import anim3d.actions
        anim3d.actions.play(twin.data.shape_keys, anim3d.actions.playing(body.data.shape_keys))
        camera = bpy.data.objects.new("Camera", None)
        bpy.context.scene.collection.objects.link(camera)
        keyed(camera, "location", [(1, (0.0, 0.0, 0.0)), (3, (1.0, 2.0, 3.0))], "pan")
        bpy.context.view_layer.objects.active = body
        return body

    def under_a_moving_root():
        body = turning_stretch(["stretch"])
        root = bpy.data.objects.new("Root", None)
        bpy.context.scene.collection.objects.link(root)
        keyed(root, "location", [(1, (0.0, 0.0, 0.0)), (3, (0.0, 1.0, 0.0))], "drift")
        body.parent = root
        return body

    # (what, scene, clips, what the report says of the actions)
    cases = [
        ("an action a deleted prop left", left_behind, ["stretch"],
         ["1 action left out: 'slide' (no users: what a deleted object left behind)",
          "Clip 'stretch' (playing on the shape keys of Body): "]),
        ("an action another mesh plays too", shared, ["stretch"],
         ["1 action left out: 'pan' (played by Camera, not by the exported objects)",
          "Clip 'stretch' (playing on the shape keys of Body): "]),
        ("a parent animated but not exported", under_a_moving_root, ["stretch"],
         ["1 action left out: 'drift' (played by Root, not by the exported objects)",
          "Root, above the exported objects, is animated but not exported: its actions are no clips"]),
    ]
    for what, make, clips, said in cases:
        new_scene()
        body = make()
        folder = os.path.join(directory, what)
        reports, _ = anim3d.export.export(bpy.context, [body], folder, "ACTIONS", requested_scale=4.0)
        with open(os.path.join(folder, "clips.json"), encoding="utf-8") as file:
            check([c["name"] for c in json.load(file)["clips"]] == clips, f"{what}: clips {reports}")
        for line in said:
            check(any(message.startswith(line) for _, message in reports), f"{what}: no '{line}' in {reports}")


def test_coordinates_round_to_the_nearest_step(directory):
    # 900 vertices spread over many steps, none on a step.
    bpy.ops.mesh.primitive_grid_add(x_subdivisions=29, y_subdivisions=29, size=7.3)
    obj = bpy.context.active_object
    for index, vertex in enumerate(obj.data.vertices):
        vertex.co.z = ((index * 7919) % 1000) / 123.4 - 4.0
    scale = 3.7
    result = bpy.ops.export_scene.anim3d(directory=directory, frame_start=1, frame_end=1, scale=scale)
    check(result == {"FINISHED"}, f"export ended {result}")
    sources = [y_up(p) for p in evaluated_coordinates(obj, 1)]
    stored = [unpack_vertex(w) for w in read_vertex_animation(os.path.join(directory, "aniv00.3d"))[0]]
    for axis, step in enumerate((0.125, 0.125, 0.25)):
        errors = [(s[axis] - c[axis] * scale) / step for c, s in zip(sources, stored)]
        worst, mean = max(abs(e) for e in errors), sum(errors) / len(errors)
        check(worst <= 0.5 + 1e-9, f"axis {axis}: an error of {worst:.3f} steps")
        check(abs(mean) < 0.05, f"axis {axis}: a mean error of {mean:.3f} steps")
    # The frame files hold the rounded positions, and check compares with them.
    checked = subprocess.run([os.environ["ANIM3D_INSPECT3D"], "check"], cwd=directory, capture_output=True,
                             text=True)
    check(checked.returncode == 0 and "result: ok" in checked.stdout, f"check: {checked.stdout}")


run([in_new_scene(t) for t in (
    test_a_clip_is_its_action_alone,
    test_which_actions_are_clips,
    test_coordinates_round_to_the_nearest_step,
)])
