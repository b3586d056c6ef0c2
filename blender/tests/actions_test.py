"""What a clip is (ANIM3D_FRAMECONV, ANIM3D_CLIPMERGE, ANIM3D_INSPECT3D): each
clip of a set is exactly its action played alone, on rigs built here and on
the rigged models of assimp-testmodels (ANIM3D_TEST_MODELS); the scene is
given back as it was, which actions are clips and what the report says of
the others, and coordinates stored at their nearest step.

    blender -b --factory-startup --python-exit-code 1 --python actions_test.py
"""

import filecmp
import json
import os
import subprocess
import sys

import bpy
import numpy

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


def model(name):
    path = os.path.join(os.environ["ANIM3D_TEST_MODELS"], name)
    check(os.path.isfile(path), f"no {path}: install assimp-testmodels (tools/setup.sh test), then configure again")
    return path


def imported(kind, name):
    """Imports a model of assimp-testmodels; None where this Blender's importer
    cannot (its reason printed)."""
    if kind == "gltf" and "bool" not in numpy.__dict__:
        numpy.bool = numpy.bool_  # the glTF importer of Blender 3.4 still names numpy.bool
    importer = {"fbx": "import_scene.fbx", "gltf": "import_scene.gltf", "dae": "wm.collada_import",
                "bvh": "import_anim.bvh"}[kind]
    group, operator = importer.split(".")
    if not hasattr(getattr(bpy.ops, group), operator) or getattr(getattr(bpy.ops, group), operator).poll is None:
        print(f"SKIP {name}: Blender {bpy.app.version_string} has no {importer}")
        return None
    try:
        getattr(getattr(bpy.ops, group), operator)(filepath=model(name))
    except (RuntimeError, AttributeError) as error:
        said = [line for line in str(error).splitlines() if line.strip() and not line.startswith("Location")]
        print(f"SKIP {name}: Blender {bpy.app.version_string}'s {importer} fails: {said[-1] if said else error}")
        return None
    return True


def rig_model(kind, name, mesh_name):
    """The model, its mesh the active object; None where it cannot be imported."""
    def make():
        if imported(kind, name) is None:
            return None
        body = bpy.data.objects[mesh_name]
        bpy.context.view_layer.objects.active = body
        return body
    return make


def bvh_body():
    """The armature of a motion capture (BVH: bones only) with a mesh bound to
    it: a triangle at the head of each bone, moved by that bone alone. The
    action is cut to its first 60 frames."""
    if imported("bvh", "01_01.bvh") is None:
        return None
    rig = next(o for o in bpy.data.objects if o.type == "ARMATURE")
    rig.animation_data.action.use_frame_range = True
    rig.animation_data.action.frame_start, rig.animation_data.action.frame_end = 1, 60
    bones = list(rig.data.bones)
    vertices, faces = [], []
    for index, bone in enumerate(bones):
        x, y, z = rig.matrix_world @ bone.head_local
        vertices += [(x, y, z), (x + 0.3, y + 0.1 * (index % 3), z), (x, y + 0.2, z + 0.4)]
        faces.append((3 * index, 3 * index + 1, 3 * index + 2))
    body = mesh_object("Body", vertices, faces)
    for index, bone in enumerate(bones):
        body.vertex_groups.new(name=bone.name).add([3 * index, 3 * index + 1, 3 * index + 2], 1.0, "REPLACE")
    body.modifiers.new("Rig", "ARMATURE").object = rig
    return body


def rig_of_its_own(played):
    """two_bone_character, its actions "walk" (both bones and the rig's own
    location and turn, frames 1 to 6) and "lean" (the rig's own rotation
    alone, frames 1 to 4, its slot named after no object: an action the rig
    and the mesh fit alike). The rig
    plays `played` (None: nothing, every action a take kept by its fake
    user)."""
    def make():
        body = two_bone_character(["walk"])
        rig = bpy.data.objects["Rig"]
        body.parent = rig
        keyed(rig, "location", [(1, (0.0, 0.0, 0.0)), (6, (0.0, 3.1, 0.4))], "walk")
        keyed(rig, "rotation_euler", [(1, (0.0, 0.0, 0.0)), (6, (0.0, 0.0, 0.6))], "walk")
        keyed(rig.pose.bones["Upper"], "rotation_euler", [(1, (0.0, 0.0, 0.0)), (6, (0.4, 0.2, -0.3))], "walk")
        rig.animation_data.action = None
        lean = keyed(rig, "rotation_euler", [(1, (0.0, 0.0, 0.0)), (4, (0.3, -0.2, 0.0))], "lean")
        for slot in getattr(lean, "slots", []):
            slot.name_display = "Mannequin"  # a take made before the rig was renamed: its slot names no target
        rig.animation_data.action = bpy.data.actions.get(played) if played else None
        rig.rotation_euler = (0.0, 0.0, 0.0)
        bpy.context.view_layer.objects.active = body
        bpy.context.scene.frame_set(1)
        return body
    return make


def world_steps(obj, frame, scale):
    """The object's evaluated vertices at frame in world space, Y up, times
    scale, in steps of each axis."""
    bpy.context.scene.frame_set(frame)
    evaluated = obj.evaluated_get(bpy.context.evaluated_depsgraph_get())
    mesh = evaluated.to_mesh()
    positions = numpy.array([tuple(evaluated.matrix_world @ v.co) for v in mesh.vertices])
    evaluated.to_mesh_clear()
    return numpy.stack([positions[:, 0], positions[:, 2], -positions[:, 1]], axis=1) * scale * [8.0, 8.0, 4.0]


def played_alone(make, clip, owner):
    """A new scene of make() in which owner plays the action clip alone, from
    rest: nothing else plays, its NLA tracks muted, its pose bones at rest."""
    import anim3d.actions
    new_scene()
    body = make()
    action = bpy.data.actions[clip]
    for other in bpy.data.objects:
        if other.animation_data:
            other.animation_data.action = None
            for track in other.animation_data.nla_tracks:
                track.mute = True
        for bone in (other.pose.bones if other.pose else []):
            bone.matrix_basis.identity()
    target = bpy.data.objects[owner]
    anim3d.actions.play(target, next(b for b in anim3d.actions.bindings(action)
                                     if anim3d.actions.resolving(b, target)))
    return body


def test_a_clip_on_a_rig_is_its_action_alone(directory):
    import anim3d.export
    # (what, scene, {clip: the object it plays on}, a report line)
    cases = [
        ("FBX huesitos: bones and the armature's own transform", rig_model("fbx", "huesitos.fbx", "Cylinder"),
         {"Armature|Armature|Action": "Armature"}, None),
        ("FBX animation_with_skeleton", rig_model("fbx", "animation_with_skeleton.fbx", "Cube"),
         {"Armature|Armature|ArmatureAction": "Armature"}, None),
        ("glTF simple_skin", rig_model("gltf", "simple_skin.gltf", "Mesh_0"), {None: "Armature"}, None),
        ("Collada library_animation_clips", rig_model("dae", "library_animation_clips.dae", "Cube"),
         {"ArmatureAction": "Armature"}, None),
        ("BVH 01_01, a mesh bound to it", bvh_body, {"01_01": "01_01"}, None),
        ("a rig keying its own object and bones", rig_of_its_own("walk"), {"walk": "Rig", "lean": "Rig"},
         "'lean' fits Rig and Body alike, and nothing plays it: it plays on Rig alone"),
        ("stored takes with fake users, nothing playing", rig_of_its_own(None), {"walk": "Rig", "lean": "Rig"},
         "'lean' fits Rig and Body alike, and nothing plays it: it plays on Rig alone"),
    ]
    for what, make, owners, said in cases:
        new_scene()
        body = make()
        if body is None:
            continue
        folder = os.path.join(directory, what)
        reports, scale = anim3d.export.export(bpy.context, [body], folder, "ACTIONS", requested_scale=0)
        check(not [m for level, m in reports if level == "ERROR"], f"{what}: {reports}")
        with open(os.path.join(folder, "clips.json"), encoding="utf-8") as file:
            clips = json.load(file)["clips"]
        if None in owners:  # an action named by its importer, which differs between Blenders
            owners = {clips[0]["name"]: owners[None]}
        check(sorted(c["name"] for c in clips) == sorted(owners), f"{what}: clips {[c['name'] for c in clips]}")
        if said:
            check(("INFO", said) in reports, f"{what}: no '{said}' in {reports}")
        merged = read_vertex_animation(os.path.join(folder, "aniv00.3d"))
        worst, frame_count = 0.0, 0
        for clip in clips:
            name, owner = clip["name"], owners[clip["name"]]
            check(any(m.startswith(f"Clip '{name}' (playing on {owner}): ") for _, m in reports),
                  f"{what}: clip '{name}' does not play on {owner} alone: {reports}")
            body = played_alone(make, name, owner)
            first, last = (int(round(f)) for f in bpy.data.actions[name].frame_range)
            check(clip["frame_count"] == last - first + 1, f"{what}: clip '{name}' has {clip['frame_count']} frames")
            for index, frame in enumerate(range(first, last + 1)):
                stored = numpy.array([unpack_vertex(w) for w in merged[clip["first_frame"] + index]]) * [8, 8, 4]
                worst = max(worst, float(numpy.max(numpy.abs(stored - world_steps(body, frame, scale)))))
            frame_count += clip["frame_count"]
            if len(clips) == 1:
                _, alone = anim3d.export.export(bpy.context, [body], os.path.join(folder, "alone"), "NONE", first,
                                                last, requested_scale=0)
                check(alone == scale, f"{what}: the set's automatic scale {scale}, the action alone's {alone}")
        print(f"{what}: {len(clips)} clips, {frame_count} frames, worst error {worst:.3f} steps")
        check(worst <= 0.5 + 1e-6, f"{what}: a coordinate {worst:.3f} steps from its action played alone")


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
    test_a_clip_on_a_rig_is_its_action_alone,
    test_which_actions_are_clips,
    test_coordinates_round_to_the_nearest_step,
)])
