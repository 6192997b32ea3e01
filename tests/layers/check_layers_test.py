#!/usr/bin/env python3
"""The layer check on small source trees planted in a temporary folder: a
tree whose every dependency points down passes, and each way of breaking
the layering fails, naming the file and line: an include that runs up, a
GUI header below the shell, two folders that include each other with no
cycle of files, a cycle of files across folders, and a call up the layers
that no include shows (found in the object files, which the test compiles).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

CHECK = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check_layers")


class LayerCheck(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tl_layers_")
        self.src = os.path.join(self.dir, "src")
        # A clean tree: each folder includes only below itself or its own layer.
        self.plant("platform/files.h", "#pragma once\nint ReadBytes();\n")
        self.plant("platform/files.cpp", '#include "platform/files.h"\nint ReadBytes() { return 1; }\n')
        self.plant("playback/mix.h", '#pragma once\n#include "platform/files.h"\nint Mix();\n')
        self.plant("playback/mix.cpp", '#include "playback/mix.h"\nint Mix() { return ReadBytes() + 1; }\n')
        self.plant("export/wav.h", '#pragma once\n#include "playback/mix.h"\nint WriteWav();\n')
        self.plant("export/wav.cpp", '#include "export/wav.h"\nint WriteWav() { return Mix(); }\n')
        self.plant("persistence/project.h", "#pragma once\nint SaveProject();\n")
        self.plant("persistence/project.cpp",
                   '#include "persistence/project.h"\n#include "export/wav.h"\nint SaveProject() { return WriteWav(); }\n')
        self.plant("ui/panel.h", "#pragma once\nvoid DrawPanel();\n")
        self.plant("ui/panel.cpp",
                   '#include "ui/panel.h"\n#include <imgui.h>\n#include "persistence/project.h"\n'
                   "int gPanelDraws = 0;\nvoid DrawPanel() { gPanelDraws += SaveProject(); }\n")
        self.plant("main.cpp", '#include "ui/panel.h"\nint main() { DrawPanel(); }\n')

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def plant(self, rel, text):
        path = os.path.join(self.src, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)

    def compile_tree(self):
        """Objects where a CMake build keeps them: BUILD/CMakeFiles/<target>.dir/src/<file>.o."""
        build = os.path.join(self.dir, "build")
        for dirpath, _, names in os.walk(self.src):
            for name in names:
                if not name.endswith(".cpp"):
                    continue
                rel = os.path.relpath(os.path.join(dirpath, name), self.src)
                obj = os.path.join(build, "CMakeFiles", "tl_lib.dir", "src", rel + ".o")
                os.makedirs(os.path.dirname(obj), exist_ok=True)
                # The GUI header is only named, never needed: an empty one stands in.
                subprocess.run(["g++", "-std=c++20", "-c", "-I", self.src, "-I", self.fake_headers(),
                                os.path.join(dirpath, name), "-o", obj], check=True)
        return build

    def fake_headers(self):
        folder = os.path.join(self.dir, "include")
        os.makedirs(folder, exist_ok=True)
        open(os.path.join(folder, "imgui.h"), "w").close()
        return folder

    def run_check(self, *args):
        run = subprocess.run([sys.executable, CHECK, "--src", self.src, *args], capture_output=True, text=True)
        return run.returncode, run.stdout + run.stderr

    def assertFails(self, *args, naming=()):
        code, said = self.run_check(*args)
        self.assertEqual(code, 1, said)
        for text in naming:
            self.assertIn(text, said)
        return said

    def test_a_tree_that_points_down_passes_with_and_without_its_objects(self):
        code, said = self.run_check()
        self.assertEqual(code, 0, said)
        code, said = self.run_check("--objects", self.compile_tree())
        self.assertEqual(code, 0, said)

    def test_an_include_up_the_layers_or_of_the_gui_below_the_shell_fails(self):
        self.plant("playback/meter.cpp", '#include "ui/panel.h"\n')
        self.plant("export/peek.cpp", "// the window\n#include <SDL.h>\n")
        self.assertFails(naming=('src/playback/meter.cpp:1: includes "ui/panel.h" of the interface layer',
                                 "src/export/peek.cpp:2: includes <SDL.h>"))

    def test_two_folders_that_include_each_other_without_a_cycle_of_files_fail(self):
        # persistence/project.cpp already includes export/wav.h; one include
        # back from another file of export/ makes the pair, though no file
        # reaches itself.
        self.plant("export/recall.cpp", '#include "persistence/project.h"\nint Recall() { return SaveProject(); }\n')
        said = self.assertFails(naming=("src/export/recall.cpp:1", "src/persistence/project.cpp:2",
                                        "the folders export and persistence depend on each other"))
        self.assertEqual(said.count("depend on each other"), 1, said)

    def test_a_cycle_of_files_across_folders_fails(self):
        self.plant("platform/files.h", '#pragma once\n#include "document/event.h"\nint ReadBytes();\n')
        self.plant("document/event.h", '#pragma once\n#include "platform/files.h"\n')
        self.assertFails(naming=('src/platform/files.h:2: includes "document/event.h" of the model layer',
                                 "the folders document and platform depend on each other"))

    def test_a_call_up_the_layers_that_no_include_shows_fails_where_the_caller_names_it(self):
        # The engine declares the panel's function itself: its includes are clean.
        self.plant("playback/mix.cpp", '#include "playback/mix.h"\n'
                                       "void DrawPanel();\n"
                                       "extern int gPanelDraws;\n"
                                       "int Mix() {\n"
                                       "    DrawPanel();\n"
                                       "    return ReadBytes() + gPanelDraws;\n"
                                       "}\n")
        code, said = self.run_check()
        self.assertEqual(code, 0, "the includes alone cannot see it: " + said)
        build = self.compile_tree()
        self.assertFails("--objects", build,
                         naming=("src/playback/mix.cpp:2: uses DrawPanel(), defined in src/ui/panel.cpp of the "
                                 "interface layer, above its own engines layer",
                                 "src/playback/mix.cpp:3: uses gPanelDraws",
                                 "the folders export, persistence, playback and ui depend on each other"))

    def test_a_stale_object_of_a_source_that_is_gone_is_left_out(self):
        self.plant("playback/old.cpp", "void DrawPanel();\nint Old() { DrawPanel(); return 0; }\n")
        build = self.compile_tree()
        os.remove(os.path.join(self.src, "playback", "old.cpp"))
        code, said = self.run_check("--objects", build)
        self.assertEqual(code, 0, said)

    def test_a_build_without_objects_of_the_tree_fails_rather_than_passing_unseen(self):
        empty = os.path.join(self.dir, "empty_build")
        os.makedirs(empty)
        self.assertFails("--objects", empty, naming=("no object files of src/ found",))


if __name__ == "__main__":
    unittest.main(verbosity=2)
