"""Finding frameconv, clipmerge and inspect3d, and running them.

The add-on converts nothing itself: frameconv writes the .3d files and
inspect3d reads them back, so what Blender exports is exactly what the tools
make of it.
"""

import contextlib
import json
import os
import shutil
import subprocess

kAddonDirectory = os.path.dirname(os.path.abspath(__file__))

# Long enough for the largest conversion (1,000 frame files), short enough
# that a program that hangs does not hold Blender for ever.
kRunSeconds = 600

# On Windows the converters end by showing a message box that waits for the
# user, so no time limit can tell a hang from a late OK.
kConverterSeconds = None if os.name == "nt" else kRunSeconds


class ProgramError(Exception):
    """A program that cannot be found or run; the message says which and why."""


def is_program(path):
    return os.path.isfile(path) and os.access(path, os.X_OK)


def find_program(name, environment_variable, preference):
    """The path of the program `name`: the environment variable if set, else
    the add-on preference if set, else the program in the add-on's folder,
    else on PATH. A variable or preference that names no program is an error
    of its own rather than a reason to look elsewhere, so that a mistyped path
    is not silently replaced by another program."""
    value = os.environ.get(environment_variable, "")
    if value:
        if is_program(value):
            return value
        raise ProgramError(f"{name} not found: {environment_variable} is {value}, which is not a program")
    if preference:
        if is_program(preference):
            return preference
        raise ProgramError(
            f"{name} not found: the add-on preference {name}_path is {preference}, which is not a program")
    beside = shutil.which(name, path=kAddonDirectory)
    if beside:
        return beside
    on_path = shutil.which(name)
    if on_path:
        return on_path
    raise ProgramError(
        f"{name} not found: {environment_variable} is not set, the add-on preference {name}_path is empty, "
        f"and there is no {name} in the add-on's folder {kAddonDirectory} nor on PATH"
    )


# The environment variable that names the folder's lock a program is handed:
# frameconv and clipmerge take it as their own when it is the lock of the
# folder they run in (see docs/output-files.md).
kHandedLockVariable = "ANIM3D_FOLDER_LOCK"


# Where the system names each open descriptor of a process as a link to what
# it has open (Linux).
kOwnDescriptors = "/proc/self/fd"


@contextlib.contextmanager
def in_folder(directory):
    """The arguments of subprocess.run that start a program in directory: a
    path, or a folder the export holds open (folder.Opened). The program then
    runs in that very folder, never found again by its path where the
    platform can (the child changes into the open descriptor before it
    starts the program), and is handed the folder's lock the export holds
    there: on POSIX the descriptor of the locked folder, on Windows the
    handle of its anim3d~lock, inherited and named in kHandedLockVariable.
    No other program is handed any."""
    if isinstance(directory, str):
        yield {"cwd": directory}
        return
    environment = {name: value for name, value in os.environ.items() if name != kHandedLockVariable}
    options = {"env": environment}
    passed = ()
    if directory.descriptor is not None and os.path.isdir(kOwnDescriptors):
        # The child's own descriptor of the folder, by the link the system
        # keeps to the open folder itself: no path is looked up again, and the
        # child starts without a copy of Blender's memory (no preexec_fn).
        passed = (directory.descriptor,)
        options["cwd"] = f"{kOwnDescriptors}/{directory.descriptor}"
    elif directory.descriptor is not None:
        descriptor = directory.descriptor
        options["preexec_fn"] = lambda: os.fchdir(descriptor)
    else:
        options["cwd"] = directory.path
    options["pass_fds"] = passed
    if directory.lock is None:
        yield options
        return
    if os.name != "nt":
        environment[kHandedLockVariable] = str(directory.lock)
        options["pass_fds"] = passed + (directory.lock,)
        yield options
        return
    import msvcrt
    handle = msvcrt.get_osfhandle(directory.lock)
    environment[kHandedLockVariable] = str(handle)
    # Only this handle is inherited, and only while the program starts.
    options["startupinfo"] = subprocess.STARTUPINFO(lpAttributeList={"handle_list": [handle]})
    os.set_handle_inheritable(handle, True)
    try:
        yield options
    finally:
        os.set_handle_inheritable(handle, False)


def run_program(arguments, directory, timeout=kRunSeconds):
    """Runs the program with arguments in directory (a path, or a folder.Opened:
    see in_folder) and returns the completed process, its output as text;
    timeout None waits as long as it runs."""
    try:
        with in_folder(directory) as options:
            return subprocess.run(
                arguments, stdin=subprocess.DEVNULL, capture_output=True,
                text=True, errors="replace", timeout=timeout, **options)
    except subprocess.TimeoutExpired:
        raise ProgramError(f"{arguments[0]} did not finish within {timeout} s") from None
    except OSError as error:
        raise ProgramError(f"Cannot run {arguments[0]}: {error.strerror}") from None
    except subprocess.SubprocessError:
        # The child could not change into the folder's descriptor.
        raise ProgramError(f"Cannot run {arguments[0]} in {getattr(directory, 'path', directory)}") from None


def closing_line(process, name="frameconv"):
    """The closing message frameconv (or clipmerge, `name`) printed, as it
    wrote it ("text: caption", its last line), or None where it printed none,
    as on Windows, where the message is a message box that only the user
    reads; and an ERROR report where the run did not end as the programs
    end, with exit status 1, else None. What the run did is read from its
    files (checked_report, the merged header), never from these words."""
    lines = [line for line in process.stdout.splitlines() if line.strip()]
    line = lines[-1] if lines else None
    if process.returncode == 1:
        return line, None
    said = process.stderr.strip().splitlines()
    detail = line or (said[-1] if said else None)
    return line, ("ERROR", f"{name} ended with exit status {process.returncode}" + (f": {detail}" if detail else ""))


def reported(level, line, found):
    """The report of a run whose level what it wrote decides (`found` says
    what that is): the program's closing line as it wrote it, where it
    printed one, with `found` beside it for an ERROR; else `found`."""
    if not line:
        return level, found
    return level, line if level != "ERROR" else f"{line} ({found})"


# The problems of `inspect3d check --json` that frameconv's "Conversion
# Complete, but ..." covers: a conversion that stored something other than the
# model, or left part of it out, but is complete.
kCoveredProblems = ("wrapped_coordinates", "face_indices_out_of_range", "vertices_not_read_as_written",
                    "faces_not_read_in_full", "faces_past_the_limit", "frames_with_more_vertices",
                    "frames_longer_than_read")


def json_object(stdout):
    """The JSON object a program printed (inspect3d's --json), or None where it
    printed none (it ended before it had one to print)."""
    try:
        result = json.loads(stdout)
    except ValueError:
        return None
    return result if isinstance(result, dict) else None


def checked_report(inspect3d, directory):
    """The report of a conversion: inspect3d check compares the files in
    directory with the frame files they were made from. INFO when they hold the frames, WARNING when
    they are complete but hold wrapped coordinates or face indices out of
    range or leave out part of the frames, ERROR otherwise (not written, or
    written from other frames)."""
    process = run_program([inspect3d, "check", "--json"], directory)
    checked = json_object(process.stdout) if process.returncode in (0, 1) else None
    result = checked.get("result", "") if checked else ""
    if process.returncode == 0 and checked and checked.get("ok"):
        return "INFO", "Conversion Complete (inspect3d check: ok)"
    problems = checked.get("problems", []) if checked else []
    if process.returncode == 1 and problems and all(p.get("problem") in kCoveredProblems for p in problems):
        return "WARNING", f"Conversion Complete, but inspect3d check found {result}"
    said = process.stderr.strip().splitlines()
    return "ERROR", ("Not converted: inspect3d check "
                     + (f"found {result}" if result else
                        f"ended with exit status {process.returncode}" + (f": {said[-1]}" if said else "")))
