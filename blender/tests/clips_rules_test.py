"""The clip set's rules with plain Python, without Blender: how clips are
split into clip files within clipmerge's limits, and clips.json.

    python3 clips_rules_test.py
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rules_modules import load  # noqa: E402

refusal, clips = load("refusal", "clips")
Refusal = refusal.Refusal

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


# (what, clips [(name, frames)], vertices, parts of each clip [(number, first, count)] or the refusal's words)
kPlans = [
    ("whole clips numbered in order", [("walk", 40), ("run", 7)], 342, [[(1, 0, 40)], [(2, 0, 7)]]),
    # 200,000 // 2,001 = 99 frames a conversion.
    ("a long take split by packed vertices", [("take", 250)], 2001, [[(1, 0, 99), (2, 99, 99), (3, 198, 52)]]),
    ("a small mesh split at 1,000 frames", [("idle", 1001), ("wave", 3)], 5,
     [[(1, 0, 1000), (2, 1000, 1)], [(3, 0, 3)]]),
    # From a22.3d on, 500,000 bytes: 41 frames of 3,001 vertices (12,004 bytes), where a21.3d takes 66.
    ("the short clip files hold less", [(f"c{i}", 1) for i in range(20)] + [("long", 66), ("late", 66)], 3001,
     [[(i + 1, 0, 1)] for i in range(20)] + [[(21, 0, 66)], [(22, 0, 41), (23, 41, 25)]]),
    ("67 clips fit", [(f"c{i}", 1) for i in range(67)], 11, [[(i + 1, 0, 1)] for i in range(67)]),
    ("68 clips do not", [(f"c{i}", 1) for i in range(68)], 11, "clip 'c67' would be a68.3d, past the 67"),
    ("a split past 67 clip files", [(f"c{i}", 1) for i in range(66)] + [("long", 199)], 1001,
     "clip 'long' would be a68.3d"),
    # 5 clips of 1,000 frames of 1,000 vertices: 800,000 bytes a conversion, 4,000,000 a clip.
    ("past 10,000,000 bytes", [(f"c{i}", 1000) for i in range(3)], 1000,
     "with clip 'c2' the frames of all clips take 12,000,000 bytes, more than the 10,000,000"),
    ("past 65,535 frames", [("a", 60000), ("b", 5536)], 1, "with clip 'b' all clips have 65,536 frames"),
    ("a clip without frames", [("a", 3), ("empty", 0)], 11, "clip 'empty' has no frames"),
]

for what, clip_list, vertex_count, expected in kPlans:
    try:
        plan = clips.plan_parts(clip_list, vertex_count)
        check(plan == [(name, parts) for (name, _), parts in zip(clip_list, expected)] if isinstance(expected, list)
              else False, f"{what}: {plan if not isinstance(expected, list) else 'planned otherwise'}")
        for _, parts in plan:
            for number, _, count in parts:
                check(count * vertex_count <= clips.kMaxPackedVertices and count <= clips.kMaxFrames
                      and count * vertex_count * 4 <= clips.clip_limit_bytes(number), f"{what}: a{number}.3d too big")
    except Refusal as refusal:
        check(isinstance(expected, str) and str(refusal).startswith("Not exported: ") and expected in str(refusal),
              f"{what}: refused: {refusal}")

# clips.json, exactly in the shape an engine script reads.
kClipsJson = [
    ("two clips, the second split", (2.37, 342, 679, [("walk", [(1, 0, 40)]), ("run", [(2, 0, 99), (3, 99, 4)])]),
     '{"scale": 2.37, "vertices": 342, "triangles": 679, "clips": [{"name": "walk", "files": ["a1.3d"], '
     '"first_frame": 0, "frame_count": 40}, {"name": "run", "files": ["a2.3d", "a3.3d"], "first_frame": 40, '
     '"frame_count": 103}]}\n'),
]
for what, arguments, expected in kClipsJson:
    text = clips.clips_json(*arguments)
    check(text == expected, f"{what}: {text}")

for failure in failures:
    print("FAIL", failure)
print(f"{len(kPlans) + len(kClipsJson) - len(failures)} of {len(kPlans) + len(kClipsJson)} passed")
sys.exit(1 if failures else 0)
