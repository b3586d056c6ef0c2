"""The record of what the add-on wrote, with plain Python, without Blender:
which entries count, and its text, old and new.

    python3 record_rules_test.py
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from rules_modules import load  # noqa: E402

_, clips, record = load("refusal", "clips", "record")

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


kAdds = "is not a name this add-on writes"
kSeparator = "has a separator other than the one of aK-frames/NAME"
kOut = "leads out of the folder"

# (entry, None where it counts, else why not)
kEntries = [
    ("aniv00.3d", None), ("data00.3d", None), ("clips.json", None), ("anima000.obj", None),
    ("anima999.obj", None), ("a1.3d", None), ("a67.3d", None), ("a1-frames/", None), ("a67-frames/", None),
    ("a12-frames/anima042.obj", None), ("a12-frames/aniv00.3d", None), ("a12-frames/data00.3d", None),
    ("a68.3d", kAdds), ("a0.3d", kAdds), ("a01.3d", kAdds), ("anima1000.obj", kAdds), ("ANIV00.3D", kAdds),
    ("aniv00.3d.", kAdds), ("aniv00.3d:stream", kAdds), ("thesis.docx", kAdds), ("a1-frames/clips.json", kAdds),
    ("a1-frames/a2.3d", kAdds), ("aniv00.3d\0", kAdds), ("anima\u0661\u0662\u0663.obj", kAdds),
    ("../../x", kOut), ("../scene.blend", kOut), ("../../../elsewhere/emptydir/", kOut),
    ("a1-frames/../aniv00.3d", kOut),
    ("linkdir/passwd", kSeparator), ("./aniv00.3d", kSeparator), ("a1-frames//anima000.obj", kSeparator),
    ("a1-frames/anima000.obj/", kSeparator), ("a1-frames/x/anima000.obj", kSeparator), ("a68-frames/", kSeparator),
    ("/etc/passwd", "is an absolute path"), ("C:/x", "names a drive"), ("c:aniv00.3d", "names a drive"),
    ("..\\x", "holds a backslash"), ("a1-frames\\anima000.obj", "holds a backslash"),
    ("\\\\server\\share\\aniv00.3d", "holds a backslash"),
]
for entry, fault in kEntries:
    check(record.entry_fault(entry) == fault, f"{entry!r}: {record.entry_fault(entry)}")
# Every clip file and folder a clip set can have counts, and none past it.
for number in range(1, clips.kMaxClips + 2):
    counts = number <= clips.kMaxClips
    for entry in (clips.clip_file_name(number), clips.frames_folder_name(number) + "/"):
        check((record.entry_fault(entry) is None) == counts, f"{entry}: {record.entry_fault(entry)}")

one, two = "7a" * 32, "e0" * 32
# (what, record text, entries that count, entries ignored)
kRecords = [
    ("an earlier version's: no identities", "# heading\naniv00.3d\na1-frames/\r\na1-frames/anima000.obj\n\n",
     {"aniv00.3d": set(), "a1-frames/": set(), "a1-frames/anima000.obj": set()}, []),
    ("sizes and SHA-256, one name twice", f"12 {one} aniv00.3d\n40 {two} aniv00.3d\n  3 {one} a2.3d  \n",
     {"aniv00.3d": {(12, one), (40, two)}, "a2.3d": {(3, one)}}, []),
    ("a folder's identity is none", f"0 {one} a3-frames/\n", {"a3-frames/": set()}, []),
    ("an identity does not make a name count", f"9 {one} ../../x\n9 {one} C:/x\n", {},
     [("../../x", f"{kOut}: ignored"), ("C:/x", "names a drive: ignored")]),
    ("no identity in another form", f"9 {one.upper()} aniv00.3d\n{record.kMaxFileBytes + 1} {one} a1.3d\n", {},
     [(f"9 {one.upper()} aniv00.3d", f"{kAdds}: ignored"),
      (f"{record.kMaxFileBytes + 1} {one} a1.3d", f"{kAdds}: ignored")]),
]
for what, text, entries, ignored in kRecords:
    check(record.parse_record(text) == (entries, ignored), f"{what}: {record.parse_record(text)}")

# What the add-on writes it reads back as it wrote it.
files = {"a1-frames/anima000.obj": (811, one), "aniv00.3d": (10000004, two), "clips.json": (0, one)}
text = record.record_text(files, ["a1-frames/"])
check(text.startswith(record.kRecordHeading) and text.index("a1-frames/\n") < text.index("a1-frames/anima000.obj"),
      f"record text: {text}")
check(record.parse_record(text) == ({entry: {identity} for entry, identity in files.items()} | {"a1-frames/": set()},
                                    []), f"read back: {record.parse_record(text)}")

# The report names ten entries, then counts the rest; what does not print is escaped.
for count, last in ((10, "'e9', which"), (11, "1 more entry that"), (12, "2 more entries that")):
    reports = record.ignored_reports([(f"e{i}", "why: ignored") for i in range(count)])
    check(len(reports) == min(count, 11) and all(level == "WARNING" for level, _ in reports)
          and last in reports[-1][1], f"{count} ignored: {reports[-1]}")
said = record.ignored_reports([("\x1b[2J" + "x" * 100, "why: ignored")])[0][1]
check(said.startswith("anim3d-written.txt lists '\\x1b[2J") and "..." in said and len(said) < 140, said)

for failure in failures:
    print("FAIL", failure)
checked = len(kEntries) + 2 * (clips.kMaxClips + 1) + len(kRecords) + 2 + 3 + 1
print(f"{checked - len(failures)} of {checked} passed")
sys.exit(1 if failures else 0)
