"""anim3d: export an animated mesh to aniv00.3d and data00.3d with frameconv,
and import a conversion back with inspect3d."""

bl_info = {
    "name": "anim3d vertex animation",
    "author": "anim3d",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "File > Export > anim3d vertex animation; File > Import > anim3d conversion",
    "description": "Export an animated mesh as packed vertex animation (aniv00.3d, data00.3d) "
                   "with frameconv, and import a conversion back with inspect3d",
    "category": "Import-Export",
}

import bpy
from bpy.props import BoolProperty, FloatProperty, IntProperty, StringProperty

from . import conversion_import, export, frames, programs


class Anim3dPreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    frameconv_path: StringProperty(
        name="frameconv",
        description="The frameconv program (ANIM3D_FRAMECONV, when set, takes precedence; "
                    "empty: the add-on's folder, then PATH)",
        subtype="FILE_PATH")
    inspect3d_path: StringProperty(
        name="inspect3d",
        description="The inspect3d program (ANIM3D_INSPECT3D, when set, takes precedence; "
                    "empty: the add-on's folder, then PATH)",
        subtype="FILE_PATH")

    def draw(self, context):
        self.layout.prop(self, "frameconv_path")
        self.layout.prop(self, "inspect3d_path")


def preference(context, name):
    """An add-on preference as an absolute path, or "" when not set (or when
    the add-on was registered without being enabled, as the tests do)."""
    addon = context.preferences.addons.get(__package__)
    value = getattr(addon.preferences, name, "") if addon else ""
    return bpy.path.abspath(value) if value else ""


def give_reports(operator, reports):
    """Passes the reports on to Blender; FINISHED unless one is an ERROR."""
    for level, message in reports:
        operator.report({level}, message)
    return {"CANCELLED"} if any(level == "ERROR" for level, _ in reports) else {"FINISHED"}


class ExportAnim3d(bpy.types.Operator):
    """Export the active mesh object's animation, modifiers applied, as aniv00.3d and data00.3d"""
    bl_idname = "export_scene.anim3d"
    bl_label = "Export anim3d"

    directory: StringProperty(name="Directory", subtype="DIR_PATH",
                              description="The folder for the frame files and the .3d files")
    filter_folder: BoolProperty(default=True, options={"HIDDEN"})
    frame_start: IntProperty(name="Start", description="First frame exported (default: the scene's)", min=0)
    frame_end: IntProperty(name="End", description="Last frame exported (default: the scene's)", min=0)
    scale: FloatProperty(
        name="Scale", default=0.0, min=0.0, precision=4,
        description="Factor for every coordinate; 0: the largest that keeps every coordinate "
                    "of every frame within the stored range, to three significant digits")

    def invoke(self, context, event):
        self.use_scene_range(context)
        context.window_manager.fileselect_add(self)
        return {"RUNNING_MODAL"}

    def use_scene_range(self, context):
        if not self.properties.is_property_set("frame_start"):
            self.frame_start = context.scene.frame_start
        if not self.properties.is_property_set("frame_end"):
            self.frame_end = context.scene.frame_end

    def execute(self, context):
        self.use_scene_range(context)
        obj = context.active_object
        if obj is None or obj.type != "MESH":
            return give_reports(self, [("ERROR", "Not exported: the active object is not a mesh")])
        if not self.directory:
            return give_reports(self, [("ERROR", "Not exported: no directory given")])
        directory = bpy.path.abspath(self.directory)
        try:
            reports = export.export(context, obj, directory, self.frame_start, self.frame_end, self.scale,
                                    preference(context, "frameconv_path"), preference(context, "inspect3d_path"))
        except (frames.Refusal, programs.ProgramError) as error:
            reports = [("ERROR", str(error))]
        except OSError as error:
            reports = [("ERROR", f"Not exported: cannot write the frame files in {directory}: {error.strerror}")]
        return give_reports(self, reports)


class ImportAnim3d(bpy.types.Operator):
    """Import the conversion aniv00.3d and data00.3d of a folder as a mesh with one shape key per frame"""
    bl_idname = "import_scene.anim3d"
    bl_label = "Import anim3d"
    bl_options = {"UNDO"}

    directory: StringProperty(name="Directory", subtype="DIR_PATH",
                              description="The folder holding aniv00.3d and data00.3d")
    filter_folder: BoolProperty(default=True, options={"HIDDEN"})

    def invoke(self, context, event):
        context.window_manager.fileselect_add(self)
        return {"RUNNING_MODAL"}

    def execute(self, context):
        if not self.directory:
            return give_reports(self, [("ERROR", "Not imported: no directory given")])
        try:
            reports = conversion_import.import_conversion(context, bpy.path.abspath(self.directory),
                                                          preference(context, "inspect3d_path"))
        except programs.ProgramError as error:
            reports = [("ERROR", str(error))]
        return give_reports(self, reports)


def menu_export(self, context):
    self.layout.operator(ExportAnim3d.bl_idname, text="anim3d vertex animation")


def menu_import(self, context):
    self.layout.operator(ImportAnim3d.bl_idname, text="anim3d conversion")


classes = (Anim3dPreferences, ExportAnim3d, ImportAnim3d)


def register():
    for cls in classes:
        bpy.utils.register_class(cls)
    bpy.types.TOPBAR_MT_file_export.append(menu_export)
    bpy.types.TOPBAR_MT_file_import.append(menu_import)


def unregister():
    bpy.types.TOPBAR_MT_file_import.remove(menu_import)
    bpy.types.TOPBAR_MT_file_export.remove(menu_export)
    for cls in reversed(classes):
        bpy.utils.unregister_class(cls)
