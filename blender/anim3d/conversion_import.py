"""Import: a conversion's aniv00.3d and data00.3d back into Blender.

inspect3d writes them as one binary glTF file (the first frame as the mesh,
every later frame as a morph target, played by an animation of step
weights), which Blender's own glTF importer turns into a mesh with one
shape key per frame.
"""

import os
import tempfile

import bpy
import numpy

from . import programs

kGltfName = "conversion.glb"


def allow_numpy_bool():
    """Blender 3.4's glTF importer still uses numpy.bool, an alias of bool that
    numpy 1.24 removed; put it back where it is missing."""
    if not hasattr(numpy, "bool"):
        numpy.bool = bool


def import_conversion(directory, inspect3d_preference):
    """Imports the conversion in directory; returns the reports [(level,
    message)]. Raises programs.ProgramError when inspect3d cannot be run or
    cannot read the files."""
    inspect3d = programs.find_program("inspect3d", "ANIM3D_INSPECT3D", inspect3d_preference)
    with tempfile.TemporaryDirectory(prefix="anim3d-") as scratch:
        gltf = os.path.join(scratch, kGltfName)
        process = programs.run_program([inspect3d, "gltf", "--out", gltf], directory)
        if process.returncode != 0 or not os.path.isfile(gltf):
            detail = process.stderr.strip() or process.stdout.strip()
            raise programs.ProgramError(
                f"inspect3d gltf ended with exit status {process.returncode}" + (f": {detail}" if detail else ""))
        allow_numpy_bool()
        bpy.ops.import_scene.gltf(filepath=gltf)
    reports = [("INFO", f"Imported the conversion in {directory}")]
    said = process.stdout.strip()
    if said:
        reports.append(("INFO", f"inspect3d: {said}"))
    return reports
