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


def _resolves(curve_list, target):
    for curve in curve_list:
        try:
            target.path_resolve(curve.data_path, False)
            return True
        except ValueError:
            pass
    return False


def playing(target):
    """The binding the target plays now, or None."""
    animation = target.animation_data
    if animation is None or animation.action is None:
        return None
    return animation.action, (animation.action_slot if kSlotted else None)


def strip_binding(strip):
    """The binding an NLA strip plays."""
    return strip.action, (strip.action_slot if kSlotted else None)


def binding_for(action, target):
    """The binding by which the action animates the target, or None when it
    does not: one of its curves for the target's kind of data-block drives a
    property the target has. Of several slots that would, the one the target
    plays now, else the one named after it, else the first."""
    if not kSlotted:
        if action.id_root == _id_type(target) and _resolves(action.fcurves, target):
            return action, None
        return None
    fitting = [slot for slot in action.slots
               if slot.target_id_type in (_id_type(target), "UNSPECIFIED") and _resolves(curves(action, slot), target)]
    if not fitting:
        return None
    now = playing(target)
    return action, next((s for s in fitting if now == (action, s)),
                        next((s for s in fitting if s.name_display == target.name), fitting[0]))


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
