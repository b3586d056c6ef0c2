"""Export: the evaluated mesh of every frame of one take or of a clip set,
checked, scaled, written and converted."""

import os

import bpy
import numpy

from . import actions, clip_state, clips, folder, frames, programs
from .clips import counted




def chosen_objects(context, use_selection):
    """The mesh objects exported, in the order of their names, and the reports
    of what was left out. Refuses when there is nothing to export."""
    selected = sorted((o for o in context.selected_objects if o.type == "MESH"), key=lambda o: o.name)
    if use_selection:
        if not selected:
            raise frames.Refusal("Not exported: no mesh object is selected")
        return selected, []
    active = context.active_object
    if active is not None and active.type == "ARMATURE":
        deformed = sorted(o.name for o in context.scene.objects if o.type == "MESH" and any(
            m.type == "ARMATURE" and m.object == active for m in o.modifiers))
        raise frames.Refusal(
            f"Not exported: the active object {active.name} is an armature, not a mesh; "
            + (f"it deforms {', '.join(deformed)}: make one of them the active object, or select them "
               "and export with use_selection" if deformed else "it deforms no mesh"))
    if active is None or active.type != "MESH":
        raise frames.Refusal("Not exported: the active object is not a mesh")
    left_out = [o for o in selected if o != active]
    if not left_out:
        return [active], []
    return [active], [("WARNING", f"{counted(len(left_out), 'other selected mesh', 'other selected meshes')} "
                                  f"left out: only the active object {active.name} is exported "
                                  "(use_selection exports every selected mesh as one)")]


def mesh_array(mesh, attribute, items, name, dtype, width=1):
    """The values of the mesh's attribute (attribute.data's "value" or
    "vector") where Blender keeps them as one (since 3.5 "position", since
    3.6 ".corner_vert"), else the same values of each of items (name, as
    every Blender offers them): the attribute reads tens to a hundred times
    faster."""
    values = numpy.empty(len(items) * width, dtype=dtype)
    found = mesh.attributes.get(attribute)
    if found is not None:
        found.data.foreach_get("vector" if width > 1 else "value", values)
    else:
        items.foreach_get(name, values)
    return values


def evaluated_mesh(depsgraph, obj, space, triangulate):
    """The object's mesh at the current frame with its modifiers applied, in
    world space ('WORLD') or its own coordinates ('OBJECT'), in the files'
    axes (Y up, as Blender's own OBJ export writes them: x, z, -y), as a
    (vertices, 3) array of doubles; its faces, as the vertex of each corner
    and the first corner of each face; and, where triangulate, its triangles,
    a (triangles, 3) array of indices, turned over where the world matrix
    mirrors the mesh so that they face where Blender shows them (else
    None)."""
    evaluated = obj.evaluated_get(depsgraph)
    mesh = evaluated.to_mesh()
    try:
        coordinates = mesh_array(mesh, "position", mesh.vertices, "co", numpy.float32, 3).reshape(-1, 3)
        coordinates = coordinates.astype(numpy.float64)
        mirrored = False
        if space == "WORLD":
            matrix = numpy.array(evaluated.matrix_world, dtype=numpy.float64)
            coordinates = coordinates @ matrix[:3, :3].T + matrix[:3, 3]
            mirrored = numpy.linalg.det(matrix[:3, :3]) < 0
        corners = mesh_array(mesh, ".corner_vert", mesh.loops, "vertex_index", numpy.int32)
        starts = numpy.empty(len(mesh.polygons), dtype=numpy.int32)
        mesh.polygons.foreach_get("loop_start", starts)
        triangles = None
        if triangulate:
            mesh.calc_loop_triangles()
            triangles = numpy.empty(len(mesh.loop_triangles) * 3, dtype=numpy.int64)
            mesh.loop_triangles.foreach_get("vertices", triangles)
            triangles = triangles.reshape(-1, 3)[:, [0, 2, 1] if mirrored else [0, 1, 2]]
    finally:
        evaluated.to_mesh_clear()
    y_up = numpy.stack([coordinates[:, 0], coordinates[:, 2], -coordinates[:, 1]], axis=1)
    return y_up, (corners, starts), triangles


def evaluated_frame(context, objects, space, triangulate=True):
    """The exported objects at the current frame as one mesh: their vertices
    one object after the other, the faces and triangles (where triangulate)
    renumbered to match."""
    depsgraph = context.evaluated_depsgraph_get()
    parts = [evaluated_mesh(depsgraph, obj, space, triangulate) for obj in objects]
    if len(parts) == 1:
        return parts[0]
    offsets = numpy.cumsum([0] + [len(p[0]) for p in parts[:-1]])
    coordinates = numpy.concatenate([p[0] for p in parts])
    corners = numpy.concatenate([p[1][0] + o for p, o in zip(parts, offsets)])
    corner_offsets = numpy.cumsum([0] + [len(p[1][0]) for p in parts[:-1]])
    starts = numpy.concatenate([p[1][1] + o for p, o in zip(parts, corner_offsets)])
    triangles = numpy.concatenate([p[2] + o for p, o in zip(parts, offsets)]) if triangulate else None
    return coordinates, (corners, starts), triangles


def animated_targets(objects):
    """What an action can animate for the exported objects: the armatures that
    deform them, the objects themselves and their shape keys."""
    targets = []
    for obj in objects:
        for modifier in obj.modifiers:
            if modifier.type == "ARMATURE" and modifier.object and modifier.object not in targets:
                targets.append(modifier.object)
        targets.append(obj)
        if obj.data.shape_keys:
            targets.append(obj.data.shape_keys)
    return targets


def target_name(target):
    """How a report names a target: an object by its name, shape keys as
    those of the object whose mesh holds them."""
    if target.bl_rna.identifier == "Key":
        owner = next((o for o in bpy.data.objects if o.data == target.user), None)
        return f"the shape keys of {owner.name if owner else target.user.name}"
    return target.name


def played_bindings(owners):
    """{binding: [owner]} of what the owners play, as their action or in their
    NLA strips."""
    played = {}
    for owner in owners:
        animation = owner.animation_data
        if animation is None:
            continue
        for binding in [actions.playing(owner)] + [actions.strip_binding(strip)
                                                   for track in animation.nla_tracks for strip in track.strips]:
            if binding and binding[0] is not None and owner not in played.get(binding, []):
                played.setdefault(binding, []).append(owner)
    return played


def above(upper, lower):
    """True when moving upper moves lower: upper is lower's parent, or the
    armature that deforms it, or above one of those."""
    seen, pending = set(), [lower]
    while pending:
        obj = pending.pop()
        if obj in seen or obj.bl_rna.identifier == "Key":
            continue
        seen.add(obj)
        over = ([obj.parent] if obj.parent else []) + [m.object for m in obj.modifiers
                                                        if m.type == "ARMATURE" and m.object]
        if upper in over:
            return True
        pending += over
    return False


def made_for(binding, candidates):
    """The one of candidates (targets the binding fits, in the order of
    animated_targets) that a binding nothing plays was made for: the one its
    slot is named after, else the one on which the most of its curves (all,
    for an action made for it) drive a property. Of several alike, the one
    above the others (an armature over the mesh it deforms, a parent over
    its child), so that a move is never played twice; returns it and the
    others that were alike."""
    named = [t for t in candidates if actions.names(binding, t)]
    pool = named or candidates
    counts = [actions.resolving(binding, t) for t in pool]
    pool = [t for t, count in zip(pool, counts) if count == max(counts)]
    pool.sort(key=lambda t: -sum(above(t, other) for other in pool))
    return pool[0], pool[1:]


def action_takes(objects, frame_step):
    """One take per action that is a clip of the exported objects, in the
    order of their names: (name, frames, {target: binding}); and reports that
    name each action left out, with the reason, and each choice among
    targets an action fits alike.

    A binding (an action, or one slot of it) plays on the targets that play
    it now, and on no other target, since a target it fits but does not play
    would move twice: a mesh parented to the armature whose action keys its
    "location". A binding that nothing plays (a take kept with a fake user)
    plays on the one target it was made for (made_for). A binding that only
    objects not exported play is theirs: a camera's action that moves
    "location" fits the exported object too. An action that no one uses,
    not even a fake user, is never a clip: it is what a deleted object left
    behind."""
    targets = animated_targets(objects)
    ours = played_bindings(targets)
    others = played_bindings(o for o in list(bpy.data.objects) + list(bpy.data.shape_keys) if o not in targets)
    takes, left_out, chosen = [], [], []
    for action in sorted(bpy.data.actions, key=lambda a: a.name):
        if action.users == 0:
            left_out.append(f"'{action.name}' (no users: what a deleted object left behind)")
            continue
        fitting = {b: [t for t in targets if actions.resolving(b, t)] for b in actions.bindings(action)}
        driven, players = {}, set()
        for binding, fit in fitting.items():
            driven.update({t: binding for t in ours.get(binding, []) if t in fit})
        for binding, fit in fitting.items():
            free = [t for t in fit if t not in driven]
            if binding in ours or not free:
                continue
            if binding in others:
                players.update(o.name for o in others[binding])
                continue
            target, alike = made_for(binding, free)
            driven[target] = binding
            if alike:
                chosen.append(("INFO", f"'{action.name}' fits {target_name(target)} and "
                                       f"{', '.join(target_name(t) for t in alike)} alike, and nothing plays it: "
                                       f"it plays on {target_name(target)} alone"))
        if driven:
            first, last = (int(round(f)) for f in action.frame_range)
            takes.append((action.name, list(range(first, last + 1, frame_step)), driven))
        elif players:
            left_out.append(f"'{action.name}' (played by {', '.join(sorted(players))}, not by the exported objects)")
        else:
            left_out.append(f"'{action.name}' (animates none of {', '.join(target_name(t) for t in targets)})")
    if not takes:
        raise frames.Refusal("Not exported: no action animates "
                             + ", ".join(o.name for o in objects) + " or an armature that deforms it"
                             + (f"; left out: {', '.join(left_out)}" if left_out else ""))
    report = [("INFO", f"{counted(len(left_out), 'action')} left out: {', '.join(left_out)}")] if left_out else []
    return takes, report + chosen


def animated_parents(objects, targets):
    """The animated objects above the exported ones that are not exported
    themselves: they move the exported objects in every clip, but their
    actions are not clips."""
    found = []
    for obj in objects:
        parent = obj.parent
        while parent is not None:
            if parent not in targets and parent not in found and parent.animation_data and (
                    parent.animation_data.action or parent.animation_data.nla_tracks):
                found.append(parent)
            parent = parent.parent
    return found


def check_evaluated(context, objects):
    """Refuses exported objects, and armatures deforming them, that Blender
    does not evaluate (disabled in viewports, or in a collection that is):
    their modifiers would not run, and every frame would be the rest pose."""
    evaluated = {i.original for i in context.evaluated_depsgraph_get().ids if isinstance(i, bpy.types.Object)}
    idle = [t.name for t in animated_targets(objects) if isinstance(t, bpy.types.Object) and t not in evaluated]
    if idle:
        raise frames.Refusal(
            f"Not exported: {', '.join(idle)} {'is' if len(idle) == 1 else 'are'} disabled in viewports (or in a "
            "collection that is), so Blender does not evaluate "
            f"{'it' if len(idle) == 1 else 'them'}: every frame would be the rest pose, modifiers not run; enable "
            f"{'it' if len(idle) == 1 else 'them'} in viewports")


def marker_takes(scene, frame_step):
    """One take per timeline marker, in frame order: from the marker to the
    frame before the next one, the last to the scene's end frame. Refuses
    markers that would give two clips one name, or a clip none, and a clip
    without frames, saying why it has none."""
    markers = sorted(scene.timeline_markers, key=lambda m: (m.frame, m.name))
    if not markers:
        raise frames.Refusal("Not exported: the scene has no timeline markers")
    unnamed = [str(m.frame) for m in markers if not m.name.strip()]
    if unnamed:
        raise frames.Refusal(f"Not exported: the timeline {'marker' if len(unnamed) == 1 else 'markers'} at frame "
                             f"{', '.join(unnamed)} {'has' if len(unnamed) == 1 else 'have'} no name, and each clip "
                             "is named after its marker")
    frames_of = {}
    for marker in markers:
        frames_of.setdefault(marker.name, []).append(str(marker.frame))
    repeated = [f"'{name}' (frames {', '.join(at)})" for name, at in frames_of.items() if len(at) > 1]
    if repeated:
        raise frames.Refusal(f"Not exported: more than one timeline marker is named {', '.join(repeated)}, and each "
                             "clip needs a name of its own")
    takes = []
    for marker, following in zip(markers, markers[1:] + [None]):
        last = following.frame - 1 if following else scene.frame_end
        if last < marker.frame:
            why = (f"the next marker '{following.name}' is at the same frame" if following
                   else f"it starts at frame {marker.frame}, after the scene's end frame {scene.frame_end}")
            raise frames.Refusal(f"Not exported: clip '{marker.name}' has no frames: {why}")
        takes.append((marker.name, list(range(marker.frame, last + 1, frame_step)), None))
    return takes


def gather_takes(context, objects, space, takes, progress):
    """The coordinates of every frame of every take ([[frame array]]), the
    triangles of the first frame, and the lowest and highest coordinate of
    each axis over all frames (frames.extremes), which decide the scale and
    its range as all the coordinates would. Refuses
    a take whose vertex count or faces differ from the first frame's, naming
    the take and frame. An action's take plays from the state before the
    export, its action alone (clip_state.py). The scene is left as it was:
    at its frame, with every value, action, slot and mute."""
    scene = context.scene
    frame_before, subframe_before = scene.frame_current, scene.frame_subframe
    saved = clip_state.save(animated_targets(objects))
    gathered, first, extremes = [], None, []
    try:
        for name, take_frames, animation in takes:
            where = f" of clip '{name}'" if name is not None else ""
            if animation:
                clip_state.play_alone(saved, animation)
            coordinates = []
            for frame in take_frames:
                scene.frame_set(frame)
                frame_coordinates, faces, frame_triangles = evaluated_frame(context, objects, space, first is None)
                if first is None:
                    frames.check_first_frame(frame, len(frame_coordinates), len(frame_triangles))
                    if takes[0][0] is None:
                        frames.check_one_take(len(take_frames), len(frame_coordinates))
                    first = (frame, where, faces, frame_triangles, len(frame_coordinates))
                first_frame, first_where, first_faces, _, first_count = first
                if len(frame_coordinates) != first_count:
                    raise frames.Refusal(
                        f"Not exported: the vertex count changes at frame {frame}{where}: "
                        f"{len(frame_coordinates):,} vertices, where frame {first_frame}{first_where} has "
                        f"{first_count:,}")
                if not (numpy.array_equal(faces[0], first_faces[0]) and numpy.array_equal(faces[1], first_faces[1])):
                    raise frames.Refusal(f"Not exported: the faces change at frame {frame}{where}: they differ "
                                         f"from those of frame {first_frame}{first_where}")
                # The lowest and highest of each axis: NaN and infinities
                # show there, and all the scale's rules need of the frame.
                frame_extremes = frames.extremes(frame_coordinates)
                if not numpy.all(numpy.isfinite(frame_extremes)):
                    raise frames.Refusal(f"Not exported: frame {frame}{where} has a coordinate that is not a "
                                         "finite number")
                coordinates.append(frame_coordinates)
                extremes.append(frame_extremes)
                progress()
            gathered.append(coordinates)
    finally:
        # Values that no action keys hold what the clips left: they are given
        # back after the frame is.
        clip_state.restore(saved)
        scene.frame_set(frame_before, subframe=subframe_before)
        clip_state.restore(saved)
    return gathered, first[3], frames.extremes(numpy.concatenate(extremes))


def convert(frameconv, directory, inspect3d_preference):
    """Runs frameconv in directory (folder.Opened); the report of what it
    wrote, as inspect3d check finds it, with frameconv's closing message as
    frameconv wrote it where it printed one (not in a message box, as on
    Windows)."""
    line, failed = programs.closing_line(programs.run_program([frameconv], directory, programs.kConverterSeconds))
    if failed:
        return failed
    try:
        inspect3d = programs.find_program("inspect3d", "ANIM3D_INSPECT3D", inspect3d_preference)
        level, found = programs.checked_report(inspect3d, directory)
    except programs.ProgramError as error:
        level, found = "ERROR", f"the conversion cannot be checked: {error}"
    return programs.reported(level, line, found)


def file_identity(path):
    """What tells a file written anew from the one that was there: clipmerge
    moves a new file into place."""
    try:
        status = os.stat(path)
        return status.st_ino, status.st_mtime_ns, status.st_size
    except OSError:
        return None


def merge(clipmerge, directory, frame_count, bytes_per_frame):
    """Runs clipmerge in directory (folder.Opened); the report of whether it
    wrote an aniv00.3d that holds all frames, with its closing message as it
    wrote it where it printed one."""
    merged = os.path.join(directory.path, clips.kVertexAnimationName)
    before = file_identity(merged)
    line, failed = programs.closing_line(programs.run_program([clipmerge], directory, programs.kConverterSeconds),
                                         "clipmerge")
    if failed:
        return failed
    if clips.vertex_animation_header(merged) == (frame_count, bytes_per_frame) and file_identity(merged) != before:
        return programs.reported(
            "INFO", line, f"Conversion Complete (aniv00.3d holds the {frame_count:,} frames of all clips)")
    return programs.reported(
        "ERROR", line, f"Not merged: aniv00.3d does not hold the {frame_count:,} frames of the clips")


def export_clip_set(held, plan, takes, gathered, triangles, scale, programs_found, step):
    """Converts each part of each clip in its folder (folder.frames_folder),
    places the clip files, merges them and writes clips.json in the folder
    `held` (folder.Held); returns the reports. The clip files and data00.3d
    are placed only once every part is converted, so an export stopped
    before leaves the earlier set as it was."""
    frameconv, clipmerge, inspect3d_preference = programs_found
    reports, converted = [], []
    for (name, parts), take, (_, take_frames, animation) in zip(plan, gathered, takes):
        files = ", ".join(clips.clip_file_name(number) for number, _, _ in parts)
        drives = f" (playing on {' and '.join(target_name(t) for t in animation)})" if animation else ""
        reports.append(("INFO", f"Clip '{name}'{drives}: {counted(len(take), 'frame')} ({take_frames[0]} to "
                                f"{take_frames[-1]}) in {files}"))
        for number, first, count in parts:
            try:
                with folder.frames_folder(held, clips.frames_folder_name(number)) as place:
                    frames.write_frame_files(place, [f * scale for f in take[first:first + count]], triangles)
                    level, message = convert(frameconv, place, inspect3d_preference)
                    if level != "INFO":
                        reports.append((level, f"frameconv in {clips.frames_folder_name(number)}: {message}"))
                    if level == "ERROR":
                        return reports
                    for output, placed in [(clips.kVertexAnimationName, clips.clip_file_name(number))] + (
                            [(clips.kMeshName, clips.kMeshName)] if number == 1 else []):
                        converted.append((placed, f"{place.name}/{output}", place.read_back(output)))
            except folder.Replaced as replaced:
                return reports + [("ERROR", str(replaced))]
            step()
    for placed, output, data in converted:
        if data is None:
            return reports + [("ERROR", f"Not merged: {output} is no regular file")]
        held.root.write_file(placed, data)
    vertex_count = len(gathered[0][0])
    level, message = merge(clipmerge, held.root, sum(len(take) for take in gathered),
                           vertex_count * clips.kBytesPerVertex)
    if level != "ERROR":
        held.root.write_file(clips.kClipsName,
                             clips.clips_json(scale, vertex_count, len(triangles), plan).encode("utf-8"))
    step()
    return reports + [(level, f"clipmerge: {message}")] + folder.replaced_folders(held)


def export(context, objects, directory, mode="NONE", frame_start=1, frame_end=250, frame_step=1,
           requested_scale=1.0, space="WORLD", preferences=None, progress=None):
    """The whole export of objects (mesh objects, exported as one) into
    directory; returns (reports [(level, message)], the scale used). Refuses
    (frames.Refusal) or fails (programs.ProgramError) before anything is
    written when the export cannot be made. mode 'NONE' is one take of
    frame_start to frame_end; 'ACTIONS' and 'MARKERS' a clip set, merged by
    clipmerge. preferences: the programs' paths from the add-on's
    preferences, by name; progress(done, total) is told how far it got."""
    preferences = preferences or {}
    frameconv = programs.find_program("frameconv", "ANIM3D_FRAMECONV", preferences.get("frameconv", ""))
    check_evaluated(context, objects)
    clipmerge, said = None, []
    if mode == "NONE":
        if frame_end < frame_start:
            raise frames.Refusal(
                f"Not exported: the last frame {frame_end} comes before the first frame {frame_start}")
        takes = [(None, list(range(frame_start, frame_end + 1, frame_step)), None)]
    else:
        clipmerge = programs.find_program("clipmerge", "ANIM3D_CLIPMERGE", preferences.get("clipmerge", ""))
        if mode == "ACTIONS":
            takes, said = action_takes(objects, frame_step)
            parents = animated_parents(objects, animated_targets(objects))
            if parents:
                said.append(("WARNING", f"{', '.join(p.name for p in parents)}, above the exported objects, "
                                        f"{'is' if len(parents) == 1 else 'are'} animated but not exported: "
                                        f"{'its' if len(parents) == 1 else 'their'} actions are no clips, and "
                                        "every clip plays with them as the scene does"))
        else:
            takes = marker_takes(context.scene, frame_step)

    # Evaluate every frame of every take, then convert each part and merge.
    done, total = [0], [sum(len(t[1]) for t in takes) + 1]

    def step():
        done[0] += 1
        if progress:
            progress(done[0], total[0])

    gathered, triangles, bounds = gather_takes(context, objects, space, takes, step)
    scale = frames.choose_scale(bounds, requested_scale)
    if not numpy.all(numpy.isfinite(bounds * scale)):
        raise frames.Refusal(f"Not exported: at scale {scale:g} a coordinate is too large for a number")
    if not frames.within_range(bounds, scale):
        largest = frames.automatic_scale(bounds)
        raise frames.Refusal(f"Not exported: at scale {scale:.6g} a coordinate lies outside the stored range; "
                             f"the largest scale that fits is {largest:.6g} (scale=0 chooses it)")
    vertex_count = len(gathered[0][0])
    plan = None if mode == "NONE" else clips.plan_parts([(t[0], len(t[1])) for t in takes], vertex_count)
    total[0] += sum(len(parts) for _, parts in plan) if plan else 0

    # What the export will write, checked against the folder before anything is.
    folders, planned = frames.planned_files(plan, len(gathered[0]))
    os.makedirs(directory, exist_ok=True)

    summary = (f"{counted(vertex_count, 'vertex', 'vertices')} and {counted(len(triangles), 'triangle')} at scale "
               f"{scale:.6g}" + (" (automatic)" if requested_scale == 0 else "") + f" into {directory}")
    warning = said + [report for report in [frames.coarse_step_warning(bounds, scale)] if report]
    held = folder.begin_export(directory, folders, planned)
    try:
        removed, kept = folder.remove_stale(held, planned)
        if removed:
            kept.append(("INFO", f"Removed {counted(removed, 'file')} that an earlier export wrote and this one does "
                                 "not"))
        warning += kept
        if plan is None:
            frames.write_frame_files(held.root, [f * scale for f in gathered[0]], triangles)
            level, message = convert(frameconv, held.root, preferences.get("inspect3d", ""))
            step()
            reports = [("INFO", f"Exported {counted(len(gathered[0]), 'frame')} of {summary}")] + warning
            return reports + [(level, f"frameconv: {message}")], scale
        reports = [("INFO", f"Exported {counted(len(plan), 'clip')} in "
                            f"{counted(sum(len(p) for _, p in plan), 'clip file')} of {summary}")] + warning
        return reports + export_clip_set(held, plan, takes, gathered, triangles, scale,
                                         (frameconv, clipmerge, preferences.get("inspect3d", "")), step), scale
    finally:
        folder.end_export(held, planned)
