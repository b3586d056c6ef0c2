"""The export folder: which names an export may replace or remove, and how
its files are created.

The add-on writes only into the folder the user chose, and replaces or
removes only a file it can prove it wrote there: each export keeps in the
record (record.py) the size and SHA-256 of every file it wrote, and a file
is the add-on's only while its content is still that. A name the programs
read or write that is there without that proof is the user's, and the
export refuses rather than touch it. Nothing is removed through a link:
where the platform can, each folder is opened without following one and
the names in it are reached through that descriptor.

An export holds its folder from its check to its record: the folder's lock
(take_folder_lock) is never given up meanwhile, and frameconv and clipmerge,
which take the same lock, run under it as it is handed down to them
(programs.py). The folders aK-frames it converts in are reached only through
what it opened (Opened): each is the folder it made itself or the one the
record proved, and one that is replaced while the export runs stops it
(Replaced), with nothing written, converted or read through what took its
place. Nothing here touches Blender.
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
    """The folder as one export holds it: its lock and the folder itself held
    open (root, an Opened), the record as the export found it, what it
    proved, what it removed, and what it has to say about the record."""

    def __init__(self, directory):
        self.directory = directory
        self.lock = None
        self.root = None
        self.entries, self.said = {}, []
        self.proofs = {}  # entry: (device, inode) of the file proven to be the add-on's, or None
        self.folders = {}  # aK-frames found at the check, which the record proves: (device, inode)
        self.removed = set()


class Replaced(Exception):
    """A folder the export converts in that something else took the place of
    while it ran; the message names it."""

    def __init__(self, held, sub):
        super().__init__(f"Not exported: {sub} in {held.directory} was replaced or removed while the export ran "
                         "(a link, or a folder this export did not make, may stand there): nothing more is written, "
                         "converted or read there")


def replaced_folders(held):
    """The ERRORs that name each folder aK-frames the export converted in
    that no longer stands where it was, replaced after its clip was read
    back: nothing was written or read through what took its place, but the
    user is told."""
    reports = []
    for sub, identity in sorted(held.folders.items()):
        try:
            status = standing(held, sub)
        except OSError:
            status = None
        if status is None or is_link(status) or (status.st_dev, status.st_ino) != identity:
            reports.append(("ERROR", f"{sub} in {held.directory} was replaced or removed while the export ran, "
                                     "after its clip was converted: the clip set was written, but see what stands "
                                     "there now"))
    return reports


# Windows: a folder's handle that does not follow a reparse point, and that
# shares no delete, so that the folder can be neither moved nor replaced while
# it is open (CreateFileW's access, sharing and flags).
kReadAttributes = 0x80
kShareReadWrite = 0x1 | 0x2
kOpenExisting = 3
kOpenFolderFlags = 0x02000000 | 0x00200000  # FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT


class Opened:
    """A folder the export writes, converts and reads in, held open while it
    works there: where the platform can, its descriptor, through which every
    name in it is reached (dir_fd) and which a program runs in; on Windows a
    handle that keeps it in its place, its path then used. lock is the
    folder's lock that a program run in it is handed (programs.py), where the
    export holds this folder's: the chosen folder's."""

    def __init__(self, path, descriptor=None, lock=None, owned=None, check=None):
        self.path, self.descriptor, self.lock = path, descriptor, lock
        self.name = os.path.basename(path)
        self.owned = owned  # the descriptor to close, where it is not the lock's
        self.check = check  # raises Replaced when the folder no longer stands where it was opened

    def at(self, name):
        return at((self.descriptor, self.path), name)

    def create_exclusive(self, name):
        """A new file name in the folder, open for writing (a file
        descriptor), never opened through a link: whatever an interrupted run
        left at that name is removed first (unlink removes a link, not what
        it points to), then the name is created exclusively, without
        following links where the platform can."""
        target, descriptor = self.at(name)
        try:
            os.unlink(target, dir_fd=descriptor)
        except FileNotFoundError:
            pass
        flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | kNoFollow | getattr(os, "O_BINARY", 0)
        return os.open(target, flags, 0o666, dir_fd=descriptor)

    def replace(self, source, name):
        (source, descriptor), (name, _) = self.at(source), self.at(name)
        os.replace(source, name, src_dir_fd=descriptor, dst_dir_fd=descriptor)

    def remove(self, name):
        target, descriptor = self.at(name)
        os.unlink(target, dir_fd=descriptor)

    def write_file(self, name, data):
        """Writes data to the temporary of name, created by create_exclusive,
        and moves it over name when complete."""
        temporary = temporary_path(name)
        descriptor = self.create_exclusive(temporary)
        try:
            with os.fdopen(descriptor, "wb") as file:
                file.write(data)
        except OSError:
            self.remove(temporary)
            raise
        self.replace(temporary, name)

    def read_back(self, name):
        """The bytes of the regular file name that a program wrote in the
        folder, read through what the export opened, once the folder is found
        still in its place; None when it is no regular file."""
        if self.check:
            self.check()
        target, descriptor = self.at(name)
        try:
            opened = os.open(target, kReadFlags, dir_fd=descriptor)
        except OSError:
            return None
        with os.fdopen(opened, "rb") as file:
            if not stat.S_ISREG(os.fstat(file.fileno()).st_mode):
                return None
            return file.read(record.kMaxFileBytes + 1)

    def close(self):
        if self.owned is not None:
            os.close(self.owned)
            self.owned = None


def open_root(directory, lock):
    """The chosen folder as the export holds it (Opened), its lock handed to
    the programs run in it. Where the platform can, one descriptor is both:
    the flock of the open folder is the lock."""
    if not kThroughDescriptors:
        return Opened(directory, lock=lock)
    if lock is not None:
        return Opened(directory, lock, lock=lock)
    descriptor = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    return Opened(directory, descriptor, owned=descriptor)


def folder_identity(place):
    """(device, inode) of an opened folder (opened_folder's place), found as
    frames_folder finds it again."""
    descriptor, path = place
    if descriptor is not None:
        status = os.fstat(descriptor)
        return status.st_dev, status.st_ino
    descriptor = open_windows_folder(path)
    try:
        status = os.fstat(descriptor)
    finally:
        os.close(descriptor)
    return status.st_dev, status.st_ino


def open_windows_folder(path):
    """A descriptor of the folder path that holds it in its place (Windows):
    its handle opened without following a reparse point and without delete
    sharing."""
    import _winapi
    import msvcrt
    handle = _winapi.CreateFile(path, kReadAttributes, kShareReadWrite, _winapi.NULL, kOpenExisting,
                                kOpenFolderFlags, _winapi.NULL)
    return msvcrt.open_osfhandle(handle, os.O_RDONLY)


def reach(held, sub):
    """A descriptor of the folder sub of the chosen one, opened without
    following a link (O_DIRECTORY | O_NOFOLLOW), or on Windows as
    open_windows_folder opens it."""
    if kThroughDescriptors:
        return os.open(sub, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW | os.O_NONBLOCK,
                       dir_fd=held.root.descriptor)
    return open_windows_folder(os.path.join(held.root.path, sub))


def standing(held, sub):
    """The status of what stands at sub in the chosen folder, a link itself
    and not what it leads to."""
    if kThroughDescriptors:
        return os.stat(sub, dir_fd=held.root.descriptor, follow_symlinks=False)
    descriptor = reach(held, sub)
    try:
        return os.fstat(descriptor)
    finally:
        os.close(descriptor)


@contextlib.contextmanager
def frames_folder(held, sub):
    """The folder sub (aK-frames) of the chosen one, Opened, for as long as the
    export works in it: the folder the record proved at the check, or else
    one it makes itself now, which it finds empty; either by its device and
    inode, which held.folders keeps for replaced_folders. Opened without
    following a link (reach); on Windows a reparse point is refused. Raises
    Replaced when sub is anything else."""
    root, proven = held.root, held.folders.get(sub)
    path = os.path.join(root.path, sub)
    made = proven is None
    try:
        if made:
            target, descriptor = root.at(sub)
            os.mkdir(target, dir_fd=descriptor)
            status = standing(held, sub)
            proven = (status.st_dev, status.st_ino)
        opened = reach(held, sub)
    except OSError:
        raise Replaced(held, sub) from None
    try:
        status = os.fstat(opened)
        identity = (status.st_dev, status.st_ino)
        if (is_link(status) or not stat.S_ISDIR(status.st_mode) or identity != proven
                or (made and os.listdir(opened if kThroughDescriptors else path))):
            raise Replaced(held, sub)
        held.folders[sub] = identity

        def check():
            try:
                now = standing(held, sub)
            except OSError:
                raise Replaced(held, sub) from None
            if is_link(now) or (now.st_dev, now.st_ino) != identity:
                raise Replaced(held, sub)

        yield Opened(path, opened if kThroughDescriptors else None, check=check)
    finally:
        os.close(opened)


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
            descriptor = os.open(directory, os.O_RDONLY | getattr(os, "O_DIRECTORY", 0))

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


def release(held):
    """Gives the folder back: closes what the export held open, and the lock."""
    if held.root is not None:
        held.root.close()
    release_folder_lock(held.lock)


def begin_export(directory, folders, planned):
    """Takes the folder and checks it (check_folder); returns it Held, or
    refuses (Refusal) with nothing written or held. The lock is held until
    end_export: frameconv and clipmerge run under it (Opened.lock)."""
    held = Held(directory)
    held.lock = take_folder_lock(directory)
    try:
        held.root = open_root(directory, held.lock)
        held.entries, held.said = read_record(directory)
        check_folder(held, folders, planned)
    except BaseException:
        release(held)
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
        held.root.write_file(kRecordName, record.record_text(files, folders).encode("utf-8"))
    finally:
        release(held)


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
            if folder:
                held.folders[folder] = folder_identity(place)
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
