"""Import: a conversion's aniv00.3d and data00.3d back into Blender.

inspect3d writes them as one binary glTF file (the first frame as the mesh,
every later frame as a morph target, played by an animation of step
weights), which Blender's own glTF importer turns into a mesh with one
shape key per frame.
"""

import os
import tempfile
import warnings

import bpy
import numpy

from . import programs

kGltfName = "conversion.glb"


def allow_numpy_bool():
    """Blender 3.4's glTF importer still uses numpy.bool, an alias of bool that
    numpy 1.24 removed; put it back where it is missing. (Asking for it warns
    that numpy.bool will one day be numpy's own type: not news here.)"""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", FutureWarning)
        missing = not hasattr(numpy, "bool")
    if missing:
        numpy.bool = bool


def import_conversion(context, directory, inspect3d_preference):
    """Imports the conversion in directory; returns the reports [(level,
    message)]. Raises programs.ProgramError when inspect3d cannot be run or
    cannot read the files. The glTF animation runs at the scene's frame rate,
    so that each stored frame lands on one scene frame."""
    inspect3d = programs.find_program("inspect3d", "ANIM3D_INSPECT3D", inspect3d_preference)
    render = context.scene.render
    fps = f"{render.fps / render.fps_base:.6f}"
    with tempfile.TemporaryDirectory(prefix="anim3d-") as scratch:
        gltf = os.path.join(scratch, kGltfName)
        process = programs.run_program([inspect3d, "gltf", "--out", gltf, "--fps", fps], directory)
        said = process.stderr.strip()
        # Exit status 1: written, but with triangles left out (said on stderr).
        if process.returncode not in (0, 1) or not os.path.isfile(gltf):
            raise programs.ProgramError(
                f"inspect3d gltf ended with exit status {process.returncode}" + (f": {said}" if said else ""))
        allow_numpy_bool()
        bpy.ops.import_scene.gltf(filepath=gltf)
    # inspect3d says "wrote FILE: what it holds"; the temporary file is gone.
    reports = [("INFO", f"Imported {directory}: {process.stdout.strip().partition(': ')[2]}")]
    if process.returncode == 1:
        reports.append(("WARNING", said or "inspect3d gltf found problems"))
    return reports
