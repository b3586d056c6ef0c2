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
from helpers import check, exports_with_frameconv_from_preferences, run  # noqa: E402


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

    exports_with_frameconv_from_preferences(directory, "anim3d")


run([test_zip_installs_and_exports])
