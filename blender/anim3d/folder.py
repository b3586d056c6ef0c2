"""The export folder: which names an export may replace or remove, and how
its files are created.

The add-on writes only into the folder the user chose, and replaces or
removes only a file it can prove it wrote there: each export keeps in the
record (record.py) the size and SHA-256 of every file it wrote, and a file
is the add-on's only while its content is still that. A name the programs
read or write that is there without that proof is the user's, and the
export refuses rather than touch it. Nothing is removed through a link:
where the platform can, each folder is opened without following one and
the names in it are reached through that descriptor. Nothing here touches
Blender.
"""

import contextlib
import errno
import os
import stat
import time

from . import record
from .record import is_output_name, kRecordName
from .refusal import Refusal

# The add-on's temporaries: a name of its own, as frameconv's NAME~frameconv-new,
# so that no file of the user's (clips.json.tmp) is taken for one.
kTemporaryEnding = "~anim3d-new"

kAdvice = "choose an empty folder or move it"

# Where a folder can be opened and the names in it reached through its descriptor.
kThroughDescriptors = ({os.open, os.stat, os.unlink, os.rmdir} <= os.supports_dir_fd
                       and hasattr(os, "O_NOFOLLOW") and hasattr(os, "O_DIRECTORY"))
kNoFollow = getattr(os, "O_NOFOLLOW", 0)
kReadFlags = os.O_RDONLY | kNoFollow | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_BINARY", 0)


def temporary_path(path):
    return path + kTemporaryEnding


def is_link(status):
    """True for a symbolic link, and on Windows for a junction or any other
    reparse point, which os.lstat shows as the folder it leads to."""
    return stat.S_ISLNK(status.st_mode) or bool(
        getattr(status, "st_file_attributes", 0) & stat.FILE_ATTRIBUTE_REPARSE_POINT)


def kind_of(status):
    if is_link(status):
        return "symbolic link"
    if stat.S_ISREG(status.st_mode):
        return "file"
    if stat.S_ISDIR(status.st_mode):
        return "folder"
    if stat.S_ISFIFO(status.st_mode):
        return "FIFO"
    if stat.S_ISSOCK(status.st_mode):
        return "socket"
    return "device"


def file_kind(path):
    """None when nothing is at path (not even a dangling link), "file" for a
    regular file, "folder" for a folder, else what it is instead."""
    try:
        return kind_of(os.lstat(path))
    except FileNotFoundError:
        return None


@contextlib.contextmanager
def opened_folder(directory, sub):
    """The folder directory/sub ("" for directory itself, which the user
    chose and which may be reached through a link) as (descriptor or None,
    path); a name in it is reached as at() gives it. None when sub is not a
    folder reached without a link: a link, anything else, or nothing."""
    path = os.path.join(directory, sub) if sub else directory
    if not kThroughDescriptors:
        # Windows: each part looked at, then reached by its path.
        try:
            status = os.lstat(path) if sub else os.stat(path)
        except OSError:
            status = None
        yield (None, path) if status and (not sub or not is_link(status)) and stat.S_ISDIR(status.st_mode) else None
        return
    flags = os.O_RDONLY | os.O_DIRECTORY | os.O_NONBLOCK
    descriptors = []
    try:
        try:
            descriptors.append(os.open(directory, flags))
            if sub:
                descriptors.append(os.open(sub, flags | os.O_NOFOLLOW, dir_fd=descriptors[0]))
        except OSError:
            yield None
            return
        yield descriptors[-1], path
    finally:
        for descriptor in descriptors:
            os.close(descriptor)


def at(place, name):
    """The arguments that reach name in an opened folder: (name, dir_fd)."""
    descriptor, path = place
    return (name, descriptor) if descriptor is not None else (os.path.join(path, name), None)


def status_at(place, name):
    target, descriptor = at(place, name)
    try:
        return os.stat(target, dir_fd=descriptor, follow_symlinks=False)
    except FileNotFoundError:
        return None


def kind_at(place, name):
    """file_kind of name in an opened folder."""
    status = status_at(place, name)
    return status and kind_of(status)


def identity_at(place, name, sizes=None):
    """(size, SHA-256, (device, inode)) of the regular file name in an opened
    folder, read without following a link and without waiting on a FIFO;
    None when it is no regular file, is larger than any file the add-on
    writes, or (sizes given) is of none of those sizes."""
    status = status_at(place, name)
    if (status is None or is_link(status) or not stat.S_ISREG(status.st_mode)
            or status.st_size > record.kMaxFileBytes or (sizes is not None and status.st_size not in sizes)):
        return None
    target, descriptor = at(place, name)
    try:
        opened = os.open(target, kReadFlags, dir_fd=descriptor)
    except OSError:
        return None  # gone, or made a link, since it was looked at
    with os.fdopen(opened, "rb") as file:
        opened = os.fstat(file.fileno())
        if not stat.S_ISREG(opened.st_mode) or (opened.st_dev, opened.st_ino) != (status.st_dev, status.st_ino):
            return None
        digest, size = record.new_digest(), 0
        while size <= record.kMaxFileBytes:
            block = file.read(1 << 20)
            if not block:
                return size, digest.hexdigest(), (status.st_dev, status.st_ino)
            digest.update(block)
            size += len(block)
    return None


def split(entry):
    """(folder, name) of a record entry: ("", name) in the folder itself."""
    sub, _, name = entry.rpartition("/")
    return sub, name


class Held:
    """The folder as one export holds it: the record as the export found it,
    what it proved, what it removed, and what it has to say about the
    record."""

    def __init__(self, directory):
        self.directory = directory
        self.lock = None
        self.entries, self.said = {}, []
        self.proofs = {}  # entry: (device, inode) of the file proven to be the add-on's, or None
        self.removed = set()


# How long an export waits for the folder while another run writes there, as
# frameconv and clipmerge do, and how often it tries again meanwhile.
kLockWaitSeconds = 60
kLockPollSeconds = 0.02
# Where Windows keeps the lock: a file of the programs' own, removed when the
# last process that has it open closes it.
kWindowsLockName = "anim3d~lock"


def take_folder_lock(directory):
    """Takes the lock that keeps the runs in the folder apart, the one
    frameconv and clipmerge take: flock on the folder itself (POSIX), or the
    first byte of its file anim3d~lock (Windows). Waits while another
    process holds it, up to kLockWaitSeconds, then refuses (Refusal). The
    system gives it back when Blender ends, however it ends. None where no
    lock can be had (a file system without locks): the export goes on, as
    the programs do."""
    try:
        if os.name == "nt":
            import msvcrt
            descriptor = os.open(os.path.join(directory, kWindowsLockName),
                                 os.O_RDWR | os.O_CREAT | os.O_TEMPORARY | os.O_BINARY | os.O_NOINHERIT)

            def attempt():
                msvcrt.locking(descriptor, msvcrt.LK_NBLCK, 1)
        else:
            import fcntl
            descriptor = os.open(directory, os.O_RDONLY)

            def attempt():
                fcntl.flock(descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        return None
    deadline = time.monotonic() + kLockWaitSeconds
    while True:
        try:
            attempt()
            return descriptor
        except OSError as error:
            held = error.errno in (errno.EWOULDBLOCK, errno.EAGAIN, errno.EACCES, getattr(errno, "EDEADLOCK", 0))
            if not held or time.monotonic() >= deadline:
                os.close(descriptor)
                if not held:
                    return None
                raise Refusal(f"Not exported: cannot write aniv00.3d in {directory}: another export or run of "
                              f"frameconv or clipmerge has been writing there for {kLockWaitSeconds} s")
            time.sleep(kLockPollSeconds)


def release_folder_lock(lock):
    """Gives back what take_folder_lock took."""
    if lock is not None:
        os.close(lock)


@contextlib.contextmanager
def programs_run_in(held):
    """Gives the folder's lock up while frameconv or clipmerge runs in the
    folder itself, since each takes it for its own run, and takes it again
    afterwards."""
    release_folder_lock(held.lock)
    held.lock = None
    try:
        yield
    finally:
        held.lock = take_folder_lock(held.directory)


def begin_export(directory, folders, planned):
    """Takes the folder and checks it (check_folder); returns it Held, or
    refuses (Refusal) with nothing written or held."""
    held = Held(directory)
    held.lock = take_folder_lock(directory)
    try:
        held.entries, held.said = read_record(directory)
        check_folder(held, folders, planned)
    except BaseException:
        release_folder_lock(held.lock)
        raise
    return held


def end_export(held, planned):
    """Writes the record of what the folder now holds of the export's files
    (planned, and those of the earlier record that are still the add-on's
    because something stopped their removal), and gives the folder back."""
    try:
        files, folders = {}, [entry for entry in planned if entry.endswith("/")]
        kept = [entry for entry, identities in held.entries.items()
                if identities and entry not in planned and entry not in held.removed]
        by_folder = {}
        for entry in [entry for entry in planned if not entry.endswith("/")] + kept:
            by_folder.setdefault(split(entry)[0], []).append(entry)
        for sub, entries in by_folder.items():
            with opened_folder(held.directory, sub) as place:
                if place is None:
                    continue
                for entry in entries:
                    found = identity_at(place, split(entry)[1])
                    if found and (entry in planned or found[:2] in held.entries[entry]):
                        files[entry] = found[:2]
        with opened_folder(held.directory, "") as place:
            folders = [entry for entry in folders if place and kind_at(place, entry[:-1]) == "folder"]
        write_record(held.directory, files, folders)
    finally:
        release_folder_lock(held.lock)


def read_record(directory):
    """The entries of the record that count and those ignored (record.parse_record);
    none when there is no record. Refuses a record that is not a regular file
    or is larger than any the add-on writes, rather than wait on it or read
    it all."""
    path = os.path.join(directory, kRecordName)
    kind = file_kind(path)
    if kind is None:
        return {}, []
    if kind != "file":
        raise Refusal(f"Not exported: {kRecordName} in {directory} is a {kind}, not a regular file: {kAdvice}")
    with os.fdopen(os.open(path, kReadFlags), "rb") as file:
        data = file.read(record.kMaxRecordBytes + 1)
    if len(data) > record.kMaxRecordBytes:
        raise Refusal(f"Not exported: {kRecordName} in {directory} is larger than any this add-on writes: "
                      f"{kAdvice}")
    return record.parse_record(data.decode("utf-8", errors="replace"))


def write_record(directory, files, folders):
    write_file(os.path.join(directory, kRecordName), record.record_text(files, folders).encode("utf-8"))


def prove(held, place, entry):
    """True when the file of entry, in the opened folder place, is one the
    add-on wrote: its size and SHA-256 are among those its entry keeps."""
    if entry not in held.proofs:
        identities = held.entries.get(entry)
        found = identities and identity_at(place, split(entry)[1], {size for size, _ in identities})
        held.proofs[entry] = found[2] if found and found[:2] in identities else None
    return held.proofs[entry] is not None


def check_folder(held, folders, planned):
    """Refuses (Refusal) to export into the folder when a name the export
    would read or write there is not a regular file, or is one of the
    programs' names (is_output_name) whose file the record does not prove
    the add-on's. folders are the relative names of the subfolders the export
    converts in ("" for the folder itself); planned the relative paths it
    writes. Opens only regular files, so a FIFO cannot block it."""
    directory = held.directory
    for folder in folders:
        if folder:
            kind = file_kind(os.path.join(directory, folder))
            if kind is None:
                continue
            if kind != "folder":
                raise Refusal(f"Not exported: {folder} in {directory} is a {kind}, where the export "
                              f"converts in a folder of that name: {kAdvice}")
            if folder + "/" not in held.entries:
                raise Refusal(f"Not exported: {directory} holds a folder {folder} that this add-on did not "
                              f"write: {kAdvice}")
        with opened_folder(directory, folder) as place:
            if place is None:
                continue
            for name in sorted(os.listdir(place[1] if place[0] is None else place[0])):
                relative = f"{folder}/{name}" if folder else name
                if not (is_output_name(name) or relative in planned):
                    continue
                kind = kind_at(place, name)
                if kind != "file":
                    raise Refusal(f"Not exported: {relative} in {directory} is a {kind}, not a regular file: "
                                  f"{kAdvice}")
                if prove(held, place, relative):
                    continue
                if held.entries.get(relative) == set():
                    raise Refusal(f"Not exported: {directory} holds {relative}, which {kRecordName} lists without "
                                  f"its size and SHA-256 (as an earlier version of this add-on wrote it), so it may "
                                  f"be yours: {kAdvice}")
                raise Refusal(f"Not exported: {directory} holds {relative}, which this add-on did not write: "
                              f"{kAdvice}")


def remove_stale(held, planned):
    """Removes what an earlier export wrote that this one does not (frame files
    and clips of a longer export, which the programs would read as more),
    where the record proves it the add-on's, then each folder aK-frames it
    lists that is now empty. Returns how many files it removed, and the WARNINGs
    about the record: its entries ignored and the files it lists but that
    were kept."""
    stale = sorted((entry for entry in held.entries if entry not in planned), reverse=True)
    by_folder = {}
    for entry in stale:
        if not entry.endswith("/"):
            by_folder.setdefault(split(entry)[0], []).append(entry)
    for sub, entries in by_folder.items():
        with opened_folder(held.directory, sub) as place:
            for entry in entries:
                remove_proven(held, place, entry)
    removed_files = len(held.removed)
    with opened_folder(held.directory, "") as place:
        for entry in stale:
            kind = kind_at(place, entry[:-1]) if entry.endswith("/") and place else None
            if kind == "folder":
                target, descriptor = at(place, entry[:-1])
                try:
                    os.rmdir(target, dir_fd=descriptor)
                    held.removed.add(entry)
                except OSError:
                    pass  # something else is in it: the user's, kept
            elif kind:
                held.said.append((entry, f"is a {kind}, not a folder this add-on wrote: kept"))
    return removed_files, record.ignored_reports(held.said)


def remove_proven(held, place, entry):
    """Removes the file of a stale entry when it is proven the add-on's and
    still the file that was proven; says why it is kept where it is there but
    not the add-on's."""
    sub, name = split(entry)
    if place is None:
        if file_kind(os.path.join(held.directory, sub)) == "symbolic link":
            held.said.append((entry, "leads through a link: ignored"))
        return
    status = status_at(place, name)
    if status is None:
        return
    if not prove(held, place, entry):
        kind = kind_of(status)
        held.said.append((entry, f"is a {kind}, not a file this add-on wrote: kept" if kind != "file" else
                            "changed since this add-on wrote it: kept" if held.entries[entry] else
                            "gives no size and SHA-256 (as an earlier version of this add-on wrote it): kept"))
        return
    if (status.st_dev, status.st_ino) != held.proofs[entry]:
        return  # replaced since it was proven
    target, descriptor = at(place, name)
    os.unlink(target, dir_fd=descriptor)
    held.removed.add(entry)


def create_exclusive(path):
    """A new file at path, open for writing (a file descriptor), never opened
    through a link: whatever an interrupted run left at that name is removed
    first (unlink removes a link, not what it points to), then the name is
    created exclusively, without following links where the platform can."""
    if os.path.lexists(path):
        os.unlink(path)
    flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | kNoFollow | getattr(os, "O_BINARY", 0)
    return os.open(path, flags, 0o666)


def write_file(path, data):
    """Writes data to the temporary of path, created by create_exclusive, and
    moves it over path when complete."""
    temporary = temporary_path(path)
    descriptor = create_exclusive(temporary)
    try:
        with os.fdopen(descriptor, "wb") as file:
            file.write(data)
    except OSError:
        os.remove(temporary)
        raise
    os.replace(temporary, path)
