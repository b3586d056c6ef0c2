"""The add-on's modules that never import bpy, loaded without the package's
__init__, which needs Blender."""

import importlib.util
import os
import sys
import types

kAddon = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "anim3d")


def load(*modules):
    """The modules named, in that order (each after those it imports)."""
    package = types.ModuleType("anim3d")
    package.__path__ = [kAddon]
    sys.modules["anim3d"] = package
    for module in modules:
        found = importlib.util.spec_from_file_location(f"anim3d.{module}", os.path.join(kAddon, f"{module}.py"))
        sys.modules[f"anim3d.{module}"] = importlib.util.module_from_spec(found)
        found.loader.exec_module(sys.modules[f"anim3d.{module}"])
    return [sys.modules[f"anim3d.{module}"] for module in modules]
