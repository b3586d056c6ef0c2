"""The add-on's clip-set export beside Blender's own OBJ exporter, on one scene
in one run: a grid of 5,151 vertices deformed by a four-bone armature with
ten actions of 48 frames (480 frames in all, 20 clip files). Prints each
export's median time and the ratio of the add-on's to Blender's.

    ANIM3D_FRAMECONV=... ANIM3D_CLIPMERGE=... ANIM3D_INSPECT3D=... \\
        blender -b --factory-startup --python bench/blender_export.py [-- RUNS [--profile]]

With --profile, the add-on's export runs once more under cProfile and its
20 most costly functions (by their own time and cumulative) are printed.
"""

import math
import os
import shutil
import statistics
import sys
import tempfile
import time

import bpy

kBlenderDirectory = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "blender")
kActionCount, kFramesPerAction = 10, 48


def arguments():
    given = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    runs = int(next((a for a in given if a.isdigit()), "5"))
    return runs, "--profile" in given


def scene():
    """The grid, its armature and the actions, the grid the active object; the
    armature plays the first action."""
    bpy.ops.wm.read_factory_settings(use_empty=True)
    bpy.ops.mesh.primitive_grid_add(x_subdivisions=50, y_subdivisions=100, size=8.0)
    grid = bpy.context.active_object
    rig = bpy.data.objects.new("Rig", bpy.data.armatures.new("Rig"))
    bpy.context.scene.collection.objects.link(rig)
    bpy.context.view_layer.objects.active = rig
    bpy.ops.object.mode_set(mode="EDIT")
    names = [f"Bone{i}" for i in range(4)]
    for i, name in enumerate(names):
        bone = rig.data.edit_bones.new(name)
        bone.head, bone.tail = (0.0, -4.0 + 2.0 * i, 0.0), (0.0, -2.0 + 2.0 * i, 0.0)
    bpy.ops.object.mode_set(mode="OBJECT")
    groups = [grid.vertex_groups.new(name=name) for name in names]
    for vertex in grid.data.vertices:
        position = (vertex.co.y + 4.0) / 2.0
        for i, group in enumerate(groups):
            weight = max(0.0, 1.0 - abs(position - i - 0.5))
            if weight > 0:
                group.add([vertex.index], weight, "REPLACE")
    grid.modifiers.new("Rig", "ARMATURE").object = rig
    rig.animation_data_create()
    for a in range(kActionCount):
        action = bpy.data.actions.new(f"take{a:02d}")
        action.use_fake_user = True
        rig.animation_data.action = action
        for i, name in enumerate(names):
            bone = rig.pose.bones[name]
            bone.rotation_mode = "XYZ"
            for frame in (1, kFramesPerAction // 2, kFramesPerAction):
                phase = frame / kFramesPerAction * math.pi * (a + 1) / 3
                bone.rotation_euler = (0.3 * math.sin(phase + i), 0.2 * math.cos(phase * 1.3 + i), 0.1 * (a % 3))
                bone.location = (0.05 * a, 0.0, 0.1 * math.sin(phase))
                bone.keyframe_insert("rotation_euler", frame=frame)
                bone.keyframe_insert("location", frame=frame)
    rig.animation_data.action = bpy.data.actions["take00"]
    bpy.context.view_layer.objects.active = grid
    grid.select_set(True)
    return grid


def timed(exports, runs):
    """The median time of each export over runs, the exports taking turns so
    that a change in load falls on all alike."""
    times = [[] for _ in exports]
    for _ in range(runs):
        for run, kept in zip(exports, times):
            start = time.perf_counter()
            run()
            kept.append(time.perf_counter() - start)
    return [statistics.median(t) for t in times]


def main():
    runs, profile = arguments()
    sys.path.insert(0, kBlenderDirectory)
    import anim3d.export
    grid = scene()
    work = tempfile.mkdtemp(prefix="anim3d-bench-")
    total_frames = kActionCount * kFramesPerAction

    def addon():
        folder = os.path.join(work, "clips")
        shutil.rmtree(folder, ignore_errors=True)
        reports, _ = anim3d.export.export(bpy.context, [grid], folder, "ACTIONS", requested_scale=0)
        failed = [message for level, message in reports if level == "ERROR"]
        if failed:
            raise SystemExit(f"the add-on's export failed: {failed}")

    def blender_obj():
        folder = os.path.join(work, "obj")
        shutil.rmtree(folder, ignore_errors=True)
        os.mkdir(folder)
        bpy.ops.wm.obj_export(filepath=os.path.join(folder, "frame.obj"), export_animation=True, start_frame=1,
                              end_frame=total_frames, export_selected_objects=True, export_uv=False,
                              export_normals=False, export_materials=False)
        written = len(os.listdir(folder))
        if written != total_frames:
            raise SystemExit(f"wm.obj_export wrote {written} files, not {total_frames}")

    try:
        addon()
        blender_obj()  # once each first, so that both find the files and caches warm
        ours, theirs = timed([addon, blender_obj], runs)
        print(f"Blender {bpy.app.version_string}: {total_frames} frames of {len(grid.data.vertices):,} vertices, "
              f"{kActionCount} actions, median of {runs} runs")
        print(f"  add-on clip-set export  {ours:7.3f} s")
        print(f"  wm.obj_export           {theirs:7.3f} s")
        print(f"  ratio                   {ours / theirs:7.2f}")
        if profile:
            import cProfile
            import pstats
            profiler = cProfile.Profile()
            profiler.runcall(addon)
            for order in ("tottime", "cumulative"):
                pstats.Stats(profiler).sort_stats(order).print_stats(20)
    finally:
        shutil.rmtree(work, ignore_errors=True)


main()
