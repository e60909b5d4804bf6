"""make_guide's checks, each on an input that must fail it: strip values that pyrix can read,
a slider whose range is missing, messages in the guide and in the sources both ways.

Usage: make_guide_test.py TOOLS_PACKAGE_DIR SOURCE_ROOT
"""
import os
import shutil
import sys
import tempfile
import unittest

TOOLS, SOURCE = sys.argv.pop(1), sys.argv.pop(1)
sys.path.insert(0, TOOLS)
import make_guide  # noqa: E402

INFO = """name:         test
category:     Tests
support URL:  https://example.invalid/
version:      1.0.0
  2  "Position"  id 7  point  default 50, 70 (% of the layer)  not restricted
  3  "Emitter Size"  id 8  float slider  default 100  valid 0 to 1000  slider 0 to 1000
  4  "Detail"  id 1  float slider  default 1  valid 0 to 5  slider 0.5 to 5  precision 2
  5  "Softness"  id 9  popup  default 0
"""


class StripValues(unittest.TestCase):
    def test_values_are_plain_numbers_for_pyrix(self):
        params = {p["name"]: p for p in make_guide.parse_info(INFO)["params"]}
        self.assertEqual(make_guide.strip_values(params["Emitter Size"]), "0,250,500,750,1000")
        self.assertEqual(make_guide.strip_values(params["Detail"]), "0.5,1.625,2.75,3.875,5")
        self.assertEqual(make_guide.strip_values(params["Position"]), "20,35,50,65,80")

    def test_a_control_without_its_slider_stops_the_guide(self):
        params = {p["name"]: p for p in make_guide.parse_info(INFO)["params"]}
        with self.assertRaises(SystemExit) as stop:
            make_guide.strip_values(params["Softness"])
        self.assertIn("Softness", str(stop.exception))


class Messages(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp()
        for folder in ("renderers", "host"):
            shutil.copytree(os.path.join(SOURCE, folder), os.path.join(self.root, folder))

    def tearDown(self):
        shutil.rmtree(self.root)

    def test_the_sources_and_the_guide_hold_the_same_messages(self):
        self.assertEqual(make_guide.message_faults(self.root), [])
        with open(os.path.join(self.root, "renderers", "new.cpp"), "w") as new:
            new.write('    throw std::runtime_error("GPU took a holiday");\n')
        removed = "GPU readback failed"
        for path in [os.path.join(self.root, "renderers", n)
                     for n in os.listdir(os.path.join(self.root, "renderers"))]:
            with open(path, encoding="utf-8") as handle:
                text = handle.read()
            with open(path, "w", encoding="utf-8") as handle:
                handle.write(text.replace(f'"{removed}"', '"Something else entirely"'))
        faults = make_guide.message_faults(self.root)
        self.assertEqual(len(faults), 2, faults)
        self.assertIn("GPU took a holiday", faults[0])
        self.assertIn("Something else entirely", faults[0])
        self.assertIn(removed, faults[1])


if __name__ == "__main__":
    unittest.main()
