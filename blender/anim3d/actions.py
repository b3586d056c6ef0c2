"""How the running Blender spells actions, the one place that knows.

Since Blender 4.4 an action holds slots, and each slot's F-curves live in a
channel bag of a keyframe strip of a layer; a data-block plays an action
through one of its slots (AnimData.action_slot). Blender 5.0 removed the
legacy spelling (Action.fcurves, Action.id_root), under which an action is
one list of F-curves for one kind of data-block. Which one applies is chosen
by what the running Blender offers, never by its version number.

A binding is what plays on a target: (action, slot), the slot None where
actions have no slots.
"""

import bpy

try:
    from bpy_extras import anim_utils
except ImportError:  # only Blender's own Python has bpy_extras
    anim_utils = None

kSlotted = "slots" in bpy.types.Action.bl_rna.properties


def _id_type(target):
    """The kind of data-block as actions name it: the targets exported are
    objects and shape keys."""
    return "KEY" if target.bl_rna.identifier == "Key" else "OBJECT"


def _channelbag(action, slot):
    """The slot's channel bag, or None where it has no curves yet."""
    if anim_utils is not None and hasattr(anim_utils, "action_get_channelbag_for_slot"):
        return anim_utils.action_get_channelbag_for_slot(action, slot)
    for layer in action.layers:
        for strip in layer.strips:
            for bag in strip.channelbags:
                if bag.slot == slot:
                    return bag
    return None


def curves(action, slot):
    """The F-curves the binding (action, slot) plays."""
    if not kSlotted:
        return list(action.fcurves)
    bag = _channelbag(action, slot)
    return list(bag.fcurves) if bag else []


def all_curves(action):
    """Every F-curve of the action, of all its slots."""
    if not kSlotted:
        return list(action.fcurves)
    return [curve for layer in action.layers for strip in layer.strips
            for bag in strip.channelbags for curve in bag.fcurves]


def bindings(action):
    """Every binding the action offers: one per slot, or the one action where
    actions have no slots."""
    return [(action, slot) for slot in action.slots] if kSlotted else [(action, None)]


def resolving(binding, target):
    """How many of the binding's F-curves drive a property the target has;
    0 where the binding is for another kind of data-block."""
    action, slot = binding
    kind = action.id_root if not kSlotted else slot.target_id_type
    if kind not in (_id_type(target), "UNSPECIFIED"):
        return 0
    count = 0
    for curve in curves(action, slot):
        try:
            target.path_resolve(curve.data_path, False)
            count += 1
        except ValueError:
            pass
    return count


def names(binding, target):
    """True when the binding's slot is named after the target, as Blender
    names a slot after the data-block it was made for; never where actions
    have no slots."""
    slot = binding[1]
    return slot is not None and slot.name_display == target.name


def playing(target):
    """The binding the target plays now, or None."""
    animation = target.animation_data
    if animation is None or animation.action is None:
        return None
    return animation.action, (animation.action_slot if kSlotted else None)


def strip_binding(strip):
    """The binding an NLA strip plays."""
    return strip.action, (strip.action_slot if kSlotted else None)


def play(target, binding):
    """Makes the target play the binding, or nothing (None); returns what it
    played before, for a later play(target, that)."""
    before = playing(target)
    if binding is None:
        if target.animation_data is not None:
            target.animation_data.action = None
        return before
    action, slot = binding
    if target.animation_data is None:
        target.animation_data_create()
    target.animation_data.action = action
    if kSlotted and slot is not None:
        target.animation_data.action_slot = slot
    return before


def new_action(name, target):
    """A new action for the target's kind of data-block, with a slot named
    after it where actions have slots; returns (action, the F-curve
    collection its keys go into)."""
    action = bpy.data.actions.new(name)
    if not kSlotted:
        action.id_root = _id_type(target)
        return action, action.fcurves
    slot = action.slots.new(id_type=_id_type(target), name=target.name)
    if anim_utils is not None and hasattr(anim_utils, "action_ensure_channelbag_for_slot"):
        bag = anim_utils.action_ensure_channelbag_for_slot(action, slot)
    else:
        bag = action.layers.new("Layer").strips.new(type="KEYFRAME").channelbags.new(slot)
    return action, bag.fcurves
