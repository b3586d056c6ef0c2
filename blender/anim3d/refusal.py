"""The one exception of the add-on's rules, and the system's errors said as
one."""

import contextlib
import os


class Refusal(Exception):
    """A reason not to export or import, said to the user: a rule the scene
    or the folder breaks, before anything is written; or what the system
    refused while the add-on wrote or read (os_errors_said)."""


@contextlib.contextmanager
def os_errors_said(what):
    """Turns an OSError raised within into a Refusal that says `what` and the
    system's reason: "Not exported: cannot write in DIR: aniv00.3d: No space
    left on device"."""
    try:
        yield
    except OSError as error:
        name = f"{os.path.basename(error.filename)}: " if error.filename else ""
        raise Refusal(f"{what}: {name}{error.strerror or error}") from error
