"""The add-on's automatic scale against the table of export-scale cases that
inspect3d's own tests check its suggested export scale by, so that the two
agree (the add-on's where the table gives it as "rounded": its frame files
hold nearest steps, which frameconv keeps). It needs numpy, so it runs in Blender's Python:

    blender -b --factory-startup --python-exit-code 1 --python export_scale_test.py
or, where python3 has numpy,
    python3 export_scale_test.py
"""

import importlib.util
import json
import os
import sys
import types

import numpy

kTests = os.path.dirname(os.path.abspath(__file__))
kAddon = os.path.join(os.path.dirname(kTests), "anim3d")
kCases = os.environ.get("ANIM3D_EXPORT_SCALE_CASES") or os.path.join(
    os.path.dirname(os.path.dirname(kTests)), "tests", "export_scale_cases.json")

# The rules' modules alone: the package's __init__ needs Blender's operators.
package = types.ModuleType("anim3d")
package.__path__ = [kAddon]
sys.modules["anim3d"] = package
for module in ("refusal", "clips", "frames"):
    found = importlib.util.spec_from_file_location(f"anim3d.{module}", os.path.join(kAddon, f"{module}.py"))
    sys.modules[f"anim3d.{module}"] = importlib.util.module_from_spec(found)
    found.loader.exec_module(sys.modules[f"anim3d.{module}"])
frames = sys.modules["anim3d.frames"]

with open(kCases, encoding="utf-8") as table:
    cases = json.load(table)["cases"]

failures = []
for case in cases:
    # The two corners hold each axis' smallest and largest coordinate, all the
    # rule looks at.
    coordinates = numpy.array([case["low"], case["high"]], dtype=numpy.float64)
    got = frames.automatic_scale(coordinates)
    expected = case.get("rounded", case["scale"])
    expected = None if expected is None else float(expected)
    if got != expected:
        failures.append(f"{case['why']}: automatic_scale gives {got}, the table {expected}")

for failure in failures:
    print("FAILED:", failure)
print(f"{len(cases) - len(failures)} of {len(cases)} export-scale cases agree")
sys.exit(1 if failures else 0)
