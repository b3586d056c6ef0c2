"""The release zip: written by `build.sh blender-addon`, installed and enabled
as Preferences > Add-ons > Install does, and exporting with frameconv named
in the add-on's preferences alone.

Needs ANIM3D_BUILD_SCRIPT (build.sh), ANIM3D_FRAMECONV, and
BLENDER_USER_SCRIPTS set to a folder of its own, where the add-on is
installed.
"""

import ast
import os
import shutil
import subprocess
import sys
import zipfile

import bpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from helpers import check, mesh_object, read_vertex_animation, run  # noqa: E402


def bl_info_of(source):
    for node in ast.parse(source).body:
        if isinstance(node, ast.Assign) and getattr(node.targets[0], "id", "") == "bl_info":
            return ast.literal_eval(node.value)
    raise AssertionError("no bl_info in anim3d/__init__.py")


def test_zip_installs_and_exports(directory):
    subprocess.run(["bash", os.environ["ANIM3D_BUILD_SCRIPT"], "blender-addon", directory, "2.5.1"], check=True)
    zip_path = os.path.join(directory, "anim3d-2.5.1-blender-addon.zip")
    with zipfile.ZipFile(zip_path) as archive:
        names = archive.namelist()
        check(all(name.startswith("anim3d/") and "__pycache__" not in name for name in names), f"zip holds {names}")
        info = bl_info_of(archive.read("anim3d/__init__.py").decode("utf-8"))
    check(info["version"] == (2, 5, 1) and info["category"] == "Import-Export", f"bl_info {info}")

    scripts = os.environ["BLENDER_USER_SCRIPTS"]
    shutil.rmtree(scripts, ignore_errors=True)
    bpy.ops.preferences.addon_install(filepath=zip_path)
    check(os.path.isfile(os.path.join(scripts, "addons", "anim3d", "__init__.py")), "not installed")
    bpy.ops.preferences.addon_enable(module="anim3d")
    loaded = sys.modules["anim3d"].__file__
    check(loaded.startswith(scripts), f"the add-on enabled is {loaded}")

    # frameconv from the preference, with the environment variable unset.
    preferences = bpy.context.preferences.addons["anim3d"].preferences
    preferences.frameconv_path = os.environ.pop("ANIM3D_FRAMECONV")
    mesh_object("Triangle", [(1.0, 2.0, 3.0), (-4.0, 5.0, 6.0), (7.0, -8.0, 9.0)], [(0, 1, 2)])
    output = os.path.join(directory, "out")
    os.mkdir(output)
    result = bpy.ops.export_scene.anim3d(directory=output, frame_start=1, frame_end=2, scale=1.0)
    check(result == {"FINISHED"}, f"export ended {result}")
    # (1, 2, 3) in Y-up axes is (1, 3, -2).
    check(read_vertex_animation(os.path.join(output, "aniv00.3d"))[0][0] == 0xFE00C008, "first word")


run([test_zip_installs_and_exports])
