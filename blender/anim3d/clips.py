"""A clip set: how its clips are split into the conversions frameconv makes
and numbered as the clip files clipmerge joins, and the clips.json that
tells an engine script where each clip begins.

Nothing here touches Blender or numpy: it is tested with plain Python.
"""

import json
import struct

from .refusal import Refusal

# What one conversion holds: frameconv's vertex store, all frames together,
# and the frame files anima000.obj to anima999.obj.
kMaxPackedVertices = 200000
kMaxFrames = 1000

# What clipmerge joins: a1.3d .. a67.3d; the frame data of a1.3d .. a21.3d up
# to 1,500,000 bytes each, of the rest up to 500,000; 10,000,000 bytes and
# 65,535 frames in all (the header's 16-bit count).
kMaxClips = 67
kLongClipCount = 21
kLongClipBytes = 1500000
kShortClipBytes = 500000
kMergeBytes = 10000000
kMaxMergedFrames = 65535

kBytesPerVertex = 4  # one packed word
kClipsName = "clips.json"
kVertexAnimationName = "aniv00.3d"
kMeshName = "data00.3d"


def counted(count, singular, plural=None):
    """The count and its noun, as reports say it: "1 frame", "1,000 frames"."""
    return f"{count:,} {singular if count == 1 else plural or singular + 's'}"


def clip_file_name(number):
    return f"a{number}.3d"


def frames_folder_name(number):
    """The folder in which clip file `number` is converted."""
    return f"a{number}-frames"


def clip_limit_bytes(number):
    return kLongClipBytes if number <= kLongClipCount else kShortClipBytes


def frames_that_fit(vertex_count):
    """The most frames of a mesh of vertex_count vertices that one conversion
    holds."""
    return min(kMaxFrames, kMaxPackedVertices // vertex_count)


def plan_parts(clips, vertex_count):
    """Splits each clip, given as (name, frame count), into consecutive parts
    that one conversion holds and that fit the clip file each becomes.
    Returns [(name, [(clip number, first frame within the clip, frame
    count)])], the clip numbers 1, 2, ... in order. Refuses (Refusal), naming
    the clip and the limit, a set that clipmerge cannot join."""
    frame_bytes = vertex_count * kBytesPerVertex
    plan, number, total_bytes, total_frames = [], 0, 0, 0
    for name, frame_count in clips:
        if frame_count < 1:
            raise Refusal(f"Not exported: clip '{name}' has no frames")
        parts, done = [], 0
        while done < frame_count:
            number += 1
            if number > kMaxClips:
                raise Refusal(f"Not exported: clip '{name}' would be {clip_file_name(number)}, past the "
                              f"{kMaxClips} clip files a1.3d to a{kMaxClips}.3d that clipmerge joins")
            count = min(frame_count - done, frames_that_fit(vertex_count), clip_limit_bytes(number) // frame_bytes)
            parts.append((number, done, count))
            done += count
            total_bytes += count * frame_bytes
            total_frames += count
        if total_bytes > kMergeBytes:
            raise Refusal(f"Not exported: with clip '{name}' the frames of all clips take {total_bytes:,} bytes, "
                          f"more than the {kMergeBytes:,} that clipmerge joins")
        if total_frames > kMaxMergedFrames:
            raise Refusal(f"Not exported: with clip '{name}' all clips have {total_frames:,} frames, more than "
                          f"the {kMaxMergedFrames:,} one file can count")
        plan.append((name, parts))
    return plan


def clips_json(scale, vertex_count, triangle_count, plan):
    """The text of clips.json: the scale, the mesh, and for each clip its files
    and where its frames begin in the merged aniv00.3d (counted from 0)."""
    clips, first = [], 0
    for name, parts in plan:
        count = sum(part[2] for part in parts)
        clips.append({"name": name, "files": [clip_file_name(part[0]) for part in parts],
                      "first_frame": first, "frame_count": count})
        first += count
    return json.dumps({"scale": scale, "vertices": vertex_count, "triangles": triangle_count,
                       "clips": clips}) + "\n"


def read_clips_json(path):
    """[(name, first frame, frame count)] of a clips.json, or None when there
    is none or it is not of that shape."""
    try:
        with open(path, encoding="utf-8") as file:
            clips = json.load(file)["clips"]
        return [(str(clip["name"]), int(clip["first_frame"]), int(clip["frame_count"])) for clip in clips]
    except (OSError, ValueError, KeyError, TypeError):
        return None


def vertex_animation_header(path):
    """(frame count, bytes per frame) of a vertex animation file whose size is
    exactly its header and the frames it announces, else None."""
    try:
        with open(path, "rb") as file:
            data = file.read(4)
            file.seek(0, 2)
            size = file.tell()
    except OSError:
        return None
    if len(data) < 4:
        return None
    frame_count, bytes_per_frame = struct.unpack("<HH", data)
    return (frame_count, bytes_per_frame) if size == 4 + frame_count * bytes_per_frame else None
