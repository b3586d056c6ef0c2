"""The record of what the add-on wrote in an export folder (kRecordName):
which of its entries count, and its text.

An entry counts only when it is, bare, a name the add-on itself writes: a
name the programs read or write or clips.json in the folder, a folder
aK-frames/ in which a clip file is converted, or a frame file, aniv00.3d or
data00.3d inside such a folder. Any other entry is ignored and said in a
WARNING, so that a record that came with a downloaded folder, or that
someone edited, cannot name anything outside the folder or beside these.

A file's entry carries its size and SHA-256 as the add-on wrote it: the
file is the add-on's only while its content is still that. Content rather
than the size and time of modification, because a folder that is copied or
unpacked keeps its content but not its times, a file touched or restored
keeps its times of no use, and a file system that keeps times to the second
or two cannot tell an edit made in that second. The size lets a file of
another size be told apart without reading it, and bounds the reading of
one that may be the add-on's.

An entry without them, as an earlier version of the add-on wrote every
entry, proves nothing: its file is never replaced or removed.

Nothing here touches the disk or Blender: it is tested with plain Python.
"""

import hashlib
import re

kRecordName = "anim3d-written.txt"
kRecordHeading = ("# Written by the anim3d Blender add-on, which replaces only the files listed here.\n"
                  "# Each file: its size in bytes and SHA-256 as the add-on wrote it, then its name; "
                  "each folder: its name and \"/\".\n")

# The most bytes of a record: far more than the entries of the largest clip
# set take (about 69,000 of 98 bytes at most).
kMaxRecordBytes = 16 << 20

# More than any file the add-on writes (the merged aniv00.3d holds at most
# 10,000,004 bytes); a larger one is not the add-on's.
kMaxFileBytes = 16 << 20

# The names frameconv and clipmerge read or write, and the clip set's index:
# anima000.obj .. anima999.obj, a1.3d .. a67.3d, aniv00.3d, data00.3d,
# clips.json.
kOutputName = re.compile(r"anima[0-9]{3}\.obj|a([1-9]|[1-5][0-9]|6[0-7])\.3d|aniv00\.3d|data00\.3d|clips\.json")
# The folders a1-frames .. a67-frames in which the clip files are converted,
# and what the add-on writes in them.
kFramesFolder = re.compile(r"a([1-9]|[1-5][0-9]|6[0-7])-frames")
kFramesFolderFile = re.compile(r"anima[0-9]{3}\.obj|aniv00\.3d|data00\.3d")

# A file's line: size, SHA-256, name.
kFileLine = re.compile(r"([0-9]{1,9}) ([0-9a-f]{64}) (.*)")

# How many ignored entries the report names one by one.
kMaxNamed = 10


def is_output_name(name):
    return kOutputName.fullmatch(name) is not None


def entry_fault(entry):
    """None when entry is a name the add-on writes (a folder's with a final
    "/"), else why it is not, as the end of "... lists 'ENTRY', which ..."."""
    if "\\" in entry:
        return "holds a backslash"
    if entry.startswith("/"):
        return "is an absolute path"
    if re.match(r"[A-Za-z]:", entry):
        return "names a drive"
    parts = entry.split("/")
    if ".." in parts:
        return "leads out of the folder"
    if len(parts) == 1:
        return None if kOutputName.fullmatch(entry) else "is not a name this add-on writes"
    if len(parts) > 2 or not kFramesFolder.fullmatch(parts[0]):
        return "has a separator other than the one of aK-frames/NAME"
    if parts[1] == "" or kFramesFolderFile.fullmatch(parts[1]):
        return None
    return "is not a name this add-on writes"


def parse_record(text):
    """The entries of a record's text that count, {entry: {(size, SHA-256)}}
    (an empty set where the entry gives none; a folder's entry never has
    one), and those that do not, [(entry, why they are ignored)], in the
    order of the text."""
    entries, ignored = {}, []
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        identity, entry = None, line
        found = kFileLine.fullmatch(line)
        if found and int(found.group(1)) <= kMaxFileBytes:
            identity, entry = (int(found.group(1)), found.group(2)), found.group(3)
        fault = entry_fault(entry)
        if fault:
            ignored.append((entry, f"{fault}: ignored"))
            continue
        identities = entries.setdefault(entry, set())
        if identity and not entry.endswith("/"):
            identities.add(identity)
    return entries, ignored


def record_text(files, folders):
    """The record of files {entry: (size, SHA-256)} and folders (entries
    ending in "/")."""
    lines = {entry: f"{size} {digest} {entry}\n" for entry, (size, digest) in files.items()}
    lines.update((entry, f"{entry}\n") for entry in folders)
    return kRecordHeading + "".join(lines[entry] for entry in sorted(lines))


def new_digest():
    return hashlib.sha256()


def shown(entry):
    """An entry as a report shows it: characters that do not print escaped,
    the middle of a long one left out."""
    text = "".join(c if c.isprintable() else repr(c)[1:-1] for c in entry)
    return text if len(text) <= 80 else text[:60] + "..." + text[-17:]


def ignored_reports(ignored):
    """The WARNINGs that name the entries of a record that were ignored or
    whose files were kept, [(entry, why, ending ": ignored" or ": kept")]:
    the first kMaxNamed one by one, the rest counted."""
    reports = [("WARNING", f"{kRecordName} lists '{shown(entry)}', which {why}")
               for entry, why in ignored[:kMaxNamed]]
    if len(ignored) > kMaxNamed:
        more = len(ignored) - kMaxNamed
        reports.append(("WARNING", f"{kRecordName} lists {more:,} more {'entry' if more == 1 else 'entries'} "
                                   "that this add-on ignored or whose files it kept"))
    return reports
