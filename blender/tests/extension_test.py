"""The extension (Blender 4.2 and later): built and validated by this
Blender's own `--command extension` through `build.sh blender-extension`,
installed with `extension install-file` into the suite's own user folder,
enabled, and exporting with frameconv named in the add-on's preferences
alone.

Needs ANIM3D_BUILD_SCRIPT (build.sh), ANIM3D_FRAMECONV, and
BLENDER_USER_RESOURCES set to a folder of its own, where the extension is
installed.
"""

import os
import shutil
import subprocess
import sys
import tomllib
import zipfile

import bpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from helpers import check, mesh_object, read_vertex_animation, run  # noqa: E402


def test_extension_installs_and_exports(directory):
    blender = bpy.app.binary_path
    subprocess.run(["bash", os.environ["ANIM3D_BUILD_SCRIPT"], "blender-extension", directory, "2.5.1", blender],
                   check=True)
    package = os.path.join(directory, "anim3d-2.5.1-blender-extension.zip")
    with zipfile.ZipFile(package) as archive:
        names = archive.namelist()
        manifest = tomllib.loads(archive.read("blender_manifest.toml").decode("utf-8"))
    check("__init__.py" in names and not any("__pycache__" in name for name in names), f"package holds {names}")
    check((manifest["id"], manifest["version"], manifest["type"]) == ("anim3d", "2.5.1", "add-on"),
          f"manifest {manifest}")

    shutil.rmtree(os.environ["BLENDER_USER_RESOURCES"], ignore_errors=True)
    subprocess.run([blender, "--factory-startup", "--command", "extension", "install-file", "--repo", "user_default",
                    package], check=True)
    module = "bl_ext.user_default.anim3d"
    bpy.ops.preferences.addon_enable(module=module)
    loaded = sys.modules[module].__file__
    check(loaded.startswith(os.environ["BLENDER_USER_RESOURCES"]), f"the add-on enabled is {loaded}")

    # frameconv from the preference, with the environment variable unset.
    preferences = bpy.context.preferences.addons[module].preferences
    preferences.frameconv_path = os.environ.pop("ANIM3D_FRAMECONV")
    mesh_object("Triangle", [(1.0, 2.0, 3.0), (-4.0, 5.0, 6.0), (7.0, -8.0, 9.0)], [(0, 1, 2)])
    output = os.path.join(directory, "out")
    os.mkdir(output)
    result = bpy.ops.export_scene.anim3d(directory=output, frame_start=1, frame_end=2, scale=1.0)
    check(result == {"FINISHED"}, f"export ended {result}")
    # (1, 2, 3) in Y-up axes is (1, 3, -2).
    check(read_vertex_animation(os.path.join(output, "aniv00.3d"))[0][0] == 0xFE00C008, "first word")


run([test_extension_installs_and_exports])
