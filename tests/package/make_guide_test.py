"""make_guide's checks on inputs that must fail them. Usage: make_guide_test.py TOOLS SOURCE"""
import os
import shutil
import sys
import tempfile
import unittest

TOOLS, SOURCE = sys.argv.pop(1), sys.argv.pop(1)
sys.path.insert(0, TOOLS)
import make_guide  # noqa: E402

INFO = """name: t\ncategory: T\nsupport URL: https://example.invalid/\nversion: 1.0.0
  2  "Position"  id 7  point  default 50, 70 (% of the layer)  not restricted
  3  "Emitter Size"  id 8  float slider  default 100  valid 0 to 1000  slider 0 to 1000
  4  "Detail"  id 1  float slider  default 1  valid 0 to 5  slider 0.5 to 5  precision 2
  5  "Softness"  id 9  popup  default 0
"""


class Guide(unittest.TestCase):
    def test_strip_values_are_what_pyrix_reads_and_a_missing_slider_stops(self):
        params = {p["name"]: p for p in make_guide.parse_info(INFO)["params"]}
        self.assertEqual(make_guide.strip_values(params["Emitter Size"]), "0,250,500,750,1000")
        self.assertEqual(make_guide.strip_values(params["Detail"]), "0.5,1.625,2.75,3.875,5")
        self.assertEqual(make_guide.strip_values(params["Position"]), "20,35,50,65,80")
        with self.assertRaisesRegex(SystemExit, "Softness"):
            make_guide.strip_values(params["Softness"])

    def test_messages_are_checked_both_ways(self):
        root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, root)
        for folder in ("renderers", "host"):
            shutil.copytree(os.path.join(SOURCE, folder), os.path.join(root, folder))
        self.assertEqual(make_guide.message_faults(root), [])
        # One message renamed in the code: new to the guide, and gone from the code.
        for entry in os.scandir(os.path.join(root, "renderers")):
            with open(entry.path, encoding="utf-8") as handle:
                text = handle.read().replace('"GPU readback failed"', '"GPU took a holiday"')
            with open(entry.path, "w", encoding="utf-8") as handle:
                handle.write(text)
        faults = make_guide.message_faults(root)
        self.assertEqual(len(faults), 2, faults)
        self.assertRegex(faults[0], "does not explain .*GPU took a holiday")
        self.assertRegex(faults[1], "no longer has: GPU readback failed$")


if __name__ == "__main__":
    unittest.main()
