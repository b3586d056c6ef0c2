"""The state a clip plays from, and the scene given back as it was.

A clip is its action alone: before each clip, every target of the set (the
exported objects, their shape keys, the armatures that deform them) goes
back to the values it had before the export, its pose bones to rest, and
plays nothing but the clip's action, its NLA tracks muted. What the action
keys then moves; nothing a clip before it left behind does. After the
export, every value, action, slot and mute is given back.
"""

from . import actions

# The transform channels of an object and of a pose bone.
kTransforms = ("location", "rotation_euler", "rotation_quaternion", "rotation_axis_angle", "scale")
kRest = {"location": (0.0, 0.0, 0.0), "rotation_euler": (0.0, 0.0, 0.0),
         "rotation_quaternion": (1.0, 0.0, 0.0, 0.0), "rotation_axis_angle": (0.0, 0.0, 1.0, 0.0),
         "scale": (1.0, 1.0, 1.0)}


def _is_key(target):
    return target.bl_rna.identifier == "Key"


def _values(target):
    """The target's animatable values an export may change: (owner, name,
    value) for its shape-key values, or its transform and those of its
    pose bones."""
    if _is_key(target):
        places = [(block, "value") for block in target.key_blocks]
    else:
        places = [(target, name) for name in kTransforms]
        if target.pose:
            places += [(bone, name) for bone in target.pose.bones for name in kTransforms]
    return [(owner, name, _copy(getattr(owner, name))) for owner, name in places]


def _copy(value):
    return value if isinstance(value, float) else tuple(value)


def save(targets):
    """What the export may change on each target, for play_alone and restore."""
    saved = []
    for target in targets:
        animation = target.animation_data
        mutes = [track.mute for track in animation.nla_tracks] if animation else []
        saved.append((target, _values(target), animation is not None, actions.playing(target), mutes))
    return saved


def play_alone(saved, bindings):
    """Sets every saved target back to its values before the export, its pose
    bones to rest, its NLA tracks muted, playing nothing but its binding in
    `bindings` ({target: binding}), if any. A frame_set after this evaluates
    the clip alone."""
    for other, values, _, _, _ in saved:
        for owner, name, value in values:
            setattr(owner, name, value)
        if not _is_key(other) and other.pose:
            for bone in other.pose.bones:
                for name, value in kRest.items():
                    setattr(bone, name, value)
        if other.animation_data:
            for track in other.animation_data.nla_tracks:
                track.mute = True
        actions.play(other, bindings.get(other))


def restore(saved):
    """Gives each target back its action and slot, its NLA mutes and its
    values, or no animation data where it had none."""
    for target, values, had_animation, binding, mutes in saved:
        if had_animation:
            actions.play(target, binding)
            for track, mute in zip(target.animation_data.nla_tracks, mutes):
                track.mute = mute
        elif target.animation_data:
            target.animation_data_clear()
        for owner, name, value in values:
            setattr(owner, name, value)
