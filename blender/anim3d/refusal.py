"""The one exception of the export's rules."""


class Refusal(Exception):
    """A reason not to export, said to the user; nothing has been written."""
