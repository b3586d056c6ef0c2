"""anim3d: export an animated mesh, or a character's whole clip set, to
aniv00.3d and data00.3d with frameconv and clipmerge, and import a
conversion back with inspect3d."""

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

import os

import bpy
from bpy.props import BoolProperty, EnumProperty, FloatProperty, IntProperty, StringProperty

from . import conversion_import, export, programs, refusal

# The scene property that keeps the scale last used, offered again.
kSceneScale = "anim3d_scale"


class Anim3dPreferences(bpy.types.AddonPreferences):
    bl_idname = __package__

    frameconv_path: StringProperty(
        name="frameconv",
        description="The frameconv program (ANIM3D_FRAMECONV, when set, takes precedence; "
                    "empty: the add-on's folder, then PATH)",
        subtype="FILE_PATH")
    clipmerge_path: StringProperty(
        name="clipmerge",
        description="The clipmerge program (ANIM3D_CLIPMERGE, when set, takes precedence; "
                    "empty: the add-on's folder, then PATH)",
        subtype="FILE_PATH")
    inspect3d_path: StringProperty(
        name="inspect3d",
        description="The inspect3d program (ANIM3D_INSPECT3D, when set, takes precedence; "
                    "empty: the add-on's folder, then PATH)",
        subtype="FILE_PATH")

    def draw(self, context):
        self.layout.prop(self, "frameconv_path")
        self.layout.prop(self, "clipmerge_path")
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
    """Export the active mesh object's animation (or every selected mesh's, as one mesh), modifiers applied, \
as aniv00.3d and data00.3d; its actions or marked takes as one clip set with clips.json"""
    bl_idname = "export_scene.anim3d"
    bl_label = "Export anim3d"

    directory: StringProperty(name="Directory", subtype="DIR_PATH",
                              description="The folder for the frame files and the .3d files")
    filter_folder: BoolProperty(default=True, options={"HIDDEN"})
    use_selection: BoolProperty(
        name="Selected Only", default=False,
        description="Export every selected mesh object as one mesh, their vertices in the order of their "
                    "names; else the active object alone")
    clips: EnumProperty(
        name="Clips", default="NONE",
        items=(("NONE", "One take", "Frames Start to End as one take"),
               ("ACTIONS", "Actions", "One clip per action of the object or of the armature that deforms it, "
                                      "merged by clipmerge"),
               ("MARKERS", "Markers", "One clip from each timeline marker to the next, merged by clipmerge")))
    frame_start: IntProperty(name="Start", description="First frame exported (default: the scene's)", min=0)
    frame_end: IntProperty(name="End", description="Last frame exported (default: the scene's)", min=0)
    frame_step: IntProperty(name="Frame Step", default=1, min=1, max=1000,
                            description="Export every Nth frame")
    space: EnumProperty(
        name="Space", default="WORLD",
        items=(("WORLD", "World", "The mesh where the scene shows it, the object's own movement included"),
               ("OBJECT", "Object", "The evaluated mesh in the object's own coordinates")))
    scale: FloatProperty(
        name="Scale", default=1.0, min=0.0, precision=4,
        description="Factor for every coordinate (default: the one last used in this scene); 0: the largest "
                    "that keeps every coordinate of every frame of every clip within the stored range, "
                    "to three significant digits")

    def invoke(self, context, event):
        self.use_scene_defaults(context)
        context.window_manager.fileselect_add(self)
        return {"RUNNING_MODAL"}

    def use_scene_defaults(self, context):
        scene = context.scene
        if not self.properties.is_property_set("frame_start"):
            self.frame_start = scene.frame_start
        if not self.properties.is_property_set("frame_end"):
            self.frame_end = scene.frame_end
        if not self.properties.is_property_set("scale") and kSceneScale in scene:
            self.scale = scene[kSceneScale]

    def execute(self, context):
        self.use_scene_defaults(context)
        if not self.directory:
            return give_reports(self, [("ERROR", "Not exported: no directory given")])
        if self.directory.startswith("//") and not bpy.data.filepath:
            return give_reports(self, [("ERROR", f"Not exported: {self.directory} is relative to the .blend file, "
                                                 "which is not saved yet: save it first, or choose a folder by "
                                                 "its full path")])
        directory = os.path.abspath(bpy.path.abspath(self.directory))
        window_manager = context.window_manager
        preferences = {name: preference(context, f"{name}_path") for name in ("frameconv", "clipmerge", "inspect3d")}
        progress_total = [0]

        def progress(done, total):
            if total != progress_total[0]:
                if progress_total[0]:
                    window_manager.progress_end()
                window_manager.progress_begin(0, total)
                progress_total[0] = total
            window_manager.progress_update(done)

        try:
            objects, reports = export.chosen_objects(context, self.use_selection)
            with refusal.os_errors_said(f"Not exported: cannot write in {directory}"):
                exported, scale = export.export(
                    context, objects, directory, self.clips, self.frame_start, self.frame_end, self.frame_step,
                    self.scale, self.space, preferences, progress)
            context.scene[kSceneScale] = scale
            reports += exported
        except (refusal.Refusal, programs.ProgramError) as error:
            reports = [("ERROR", str(error))]
        finally:
            if progress_total[0]:
                window_manager.progress_end()
        return give_reports(self, reports)


class ImportAnim3d(bpy.types.Operator):
    """Import the conversion aniv00.3d and data00.3d of a folder as a mesh with one shape key per frame, \
and each clip that clips.json names as an action"""
    bl_idname = "import_scene.anim3d"
    bl_label = "Import anim3d"
    bl_options = {"UNDO"}

    directory: StringProperty(name="Directory", subtype="DIR_PATH",
                              description="The folder holding aniv00.3d and data00.3d")
    filter_folder: BoolProperty(default=True, options={"HIDDEN"})
    frame_first: IntProperty(name="First", min=0, max=65534,
                             description="First stored frame imported, counted from 0 (default: 0)")
    frame_last: IntProperty(name="Last", min=0, max=65534,
                            description="Last stored frame imported (default: the last, at most 1,000 frames "
                                        "in all)")

    def invoke(self, context, event):
        context.window_manager.fileselect_add(self)
        return {"RUNNING_MODAL"}

    def execute(self, context):
        if not self.directory:
            return give_reports(self, [("ERROR", "Not imported: no directory given")])
        try:
            given = self.properties.is_property_set
            directory = bpy.path.abspath(self.directory)
            with refusal.os_errors_said(f"Not imported: cannot read {directory}"):
                reports = conversion_import.import_conversion(
                    context, directory, preference(context, "inspect3d_path"),
                    self.frame_first if given("frame_first") else None,
                    self.frame_last if given("frame_last") else None)
        except (refusal.Refusal, programs.ProgramError) as error:
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
