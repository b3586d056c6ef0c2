"""The export folder: which names an export may replace, and how its files
are created.

The add-on writes only into the folder the user chose and replaces or
removes only what an earlier export of the add-on wrote there: each export
keeps the list of what it wrote in kRecordName. A name the programs read or
write that is there without being on that list is the user's, and the export
refuses rather than touch it. Nothing here touches Blender.
"""

import os
import re
import stat

from .refusal import Refusal

kRecordName = "anim3d-written.txt"
kRecordHeading = "# Written by the anim3d Blender add-on, which replaces only the files listed here.\n"

# The names frameconv and clipmerge read or write, and the clip set's index:
# anima000.obj .. anima999.obj, a1.3d .. a67.3d, aniv00.3d, data00.3d,
# clips.json.
kOutputName = re.compile(r"anima[0-9]{3}\.obj|a([1-9]|[1-5][0-9]|6[0-7])\.3d|aniv00\.3d|data00\.3d|clips\.json")


def is_output_name(name):
    return kOutputName.fullmatch(name) is not None


def read_record(directory):
    """The relative paths (with "/") that earlier exports wrote in directory;
    empty when there is no record. Refuses a record that is not a regular
    file rather than wait on it."""
    path = os.path.join(directory, kRecordName)
    kind = file_kind(path)
    if kind not in (None, "file"):
        raise Refusal(f"Not exported: {kRecordName} in {directory} is a {kind}, not a regular file: "
                      "choose an empty folder or move it")
    try:
        with open(path, encoding="utf-8") as file:
            return {line.strip() for line in file if line.strip() and not line.startswith("#")}
    except FileNotFoundError:
        return set()


def write_record(directory, paths):
    write_file(os.path.join(directory, kRecordName),
               (kRecordHeading + "".join(f"{path}\n" for path in sorted(paths))).encode("utf-8"))


def file_kind(path):
    """None when nothing is at path (not even a dangling link), "file" for a
    regular file, "folder" for a folder, else what it is instead."""
    try:
        mode = os.lstat(path).st_mode
    except FileNotFoundError:
        return None
    if stat.S_ISREG(mode):
        return "file"
    if stat.S_ISDIR(mode):
        return "folder"
    if stat.S_ISLNK(mode):
        return "symbolic link"
    if stat.S_ISFIFO(mode):
        return "FIFO"
    if stat.S_ISSOCK(mode):
        return "socket"
    return "device"


def check_folder(directory, folders, planned, record):
    """Refuses (Refusal) to export into directory when a name the export would
    read or write there is not a regular file, or is one of the programs'
    names (is_output_name) that the record does not list. folders are the
    relative names of the subfolders the export converts in ("" for the
    folder itself); planned the relative paths it writes. Never opens
    anything, so a FIFO cannot block it."""
    advice = "choose an empty folder or move it"
    for folder in folders:
        if folder:
            kind = file_kind(os.path.join(directory, folder))
            if kind is None:
                continue
            if kind != "folder":
                raise Refusal(f"Not exported: {folder} in {directory} is a {kind}, where the export "
                              f"converts in a folder of that name: {advice}")
            if folder + "/" not in record:
                raise Refusal(f"Not exported: {directory} holds a folder {folder} that this add-on did not "
                              f"write: {advice}")
        path = os.path.join(directory, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            relative = f"{folder}/{name}" if folder else name
            if not (is_output_name(name) or relative in planned):
                continue
            kind = file_kind(os.path.join(path, name))
            if kind != "file":
                raise Refusal(f"Not exported: {relative} in {directory} is a {kind}, not a regular file: {advice}")
            if relative not in record:
                raise Refusal(f"Not exported: {directory} holds {relative}, which this add-on did not write: "
                              f"{advice}")


def remove_stale(directory, record, planned):
    """Removes what an earlier export wrote that this one does not (frame files
    and clips of a longer export, which the programs would read as more),
    then the emptied subfolders. Only names on the record are touched."""
    for path in sorted(record - planned, reverse=True):
        full = os.path.join(directory, *path.rstrip("/").split("/"))
        if path.endswith("/"):
            try:
                os.rmdir(full)
            except OSError:
                pass  # something else is in it: the user's, kept
        elif file_kind(full) == "file":
            os.remove(full)


def create_exclusive(path):
    """A new file at path, open for writing (a file descriptor), never opened
    through a link: whatever an interrupted run left at that name is removed
    first (unlink removes a link, not what it points to), then the name is
    created exclusively, without following links where the platform can."""
    if os.path.lexists(path):
        os.unlink(path)
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_NOFOLLOW", 0) | getattr(os, "O_BINARY", 0)
    return os.open(path, flags, 0o666)


def write_file(path, data):
    """Writes data to path.tmp, created by create_exclusive, and moves it over
    path when complete."""
    temporary = path + ".tmp"
    descriptor = create_exclusive(temporary)
    try:
        with os.fdopen(descriptor, "wb") as file:
            file.write(data)
    except OSError:
        os.remove(temporary)
        raise
    os.replace(temporary, path)
