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
from helpers import check, exports_with_frameconv_from_preferences, run  # noqa: E402


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

    exports_with_frameconv_from_preferences(directory, module)


run([test_extension_installs_and_exports])
