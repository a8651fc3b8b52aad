"""The cluster script's arguments and what it would submit (no scheduler)."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "vortan-slurm")


def run(*args, cwd):
    r = subprocess.run([sys.executable, SCRIPT, "--dry-run", "--vortan", "vortan", *args],
                       cwd=cwd, capture_output=True, text=True)
    return r.returncode, r.stdout, r.stderr


class VortanSlurm(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.cwd = self.dir.name
        os.mkdir(os.path.join(self.cwd, "sub"))
        for name in ("shot.0001.ass", "shot.0002.ass", "sub/shot.0001.ass"):
            with open(os.path.join(self.cwd, name), "w") as f:
                f.write("options\n{\n xres 64\n yres 10\n}\n")

    def tearDown(self):
        self.dir.cleanup()

    def test_frames_are_one_array_of_a_task_per_scene(self):
        code, out, err = run("--cpus", "3", "-o", "out/{name}.png", "shot.####.ass", cwd=self.cwd)
        self.assertEqual(code, 0, err)
        self.assertIn("--array=0-1 ", out)
        self.assertIn("--cpus-per-task=3", out)
        self.assertIn('threads=(--threads "$SLURM_CPUS_PER_TASK")', out)
        for n in (1, 2):
            self.assertIn(f"{self.cwd}/out/shot.000{n}.png {self.cwd}/shot.000{n}.ass", out)
        self.assertNotIn("dependency", out)

    def test_tiles_are_bands_merged_after_all_rendered(self):
        code, out, err = run("--tiles", "3", "-o", "f.exr", "shot.0001.ass", "--", "--samples", "2", cwd=self.cwd)
        self.assertEqual(code, 0, err)
        # 10 rows in 3 bands: 0-2, 3-5, 6-9, the whole 64 columns each.
        for rows in ("0 63 2", "3 63 5", "6 63 9"):
            self.assertIn(f"--samples 2 --region 0 {rows} -o", out)
        self.assertIn("--array=0-2 ", out)
        self.assertIn("--dependency=afterok:<tiles job id>", out)
        self.assertIn(f"--merge -q -o {self.cwd}/f.exr", out)
        # The frame as vortan will render it: a later --res or --set wins.
        code, out, err = run("--tiles", "2", "-o", "f.exr", "shot.0001.ass", "--", "--res", "8x4",
                             "--set", "options.yres=6", cwd=self.cwd)
        self.assertEqual(code, 0, err)
        self.assertIn("--region 0 3 7 5", out)

    def test_refuses_what_it_cannot_submit(self):
        cases = [
            (["-o", "one.png", "shot.0001.ass", "shot.0002.ass"], "{name} or #"),
            (["--tiles", "2", "-o", "f.####.exr", "shot.0001.ass"], "not #"),
            (["--tiles", "11", "-o", "f.exr", "shot.0001.ass"], "more than the frame's 10 rows"),
            (["--tiles", "0", "-o", "f.exr", "shot.0001.ass"], "1 or more"),
            (["-o", "f.exr", "take.*.ass"], "no scene file matches"),
            (["shot.0001.ass"], "-o"),
            (["-o", "f.jpg", "shot.0001.ass"], "ending in"),
            (["-o", "{name}.exr", "shot.0001.ass", "shot.000[1].ass"], "given twice"),
            (["-o", "x{name}.exr", "shot.0001.ass", "sub/shot.0001.ass"], "would both write"),
            (["--tiles", "2", "-o", "f.exr", "shot.0001.ass", "--", "--classic"], "classic"),
        ]
        for args, says in cases:
            code, out, err = run(*args, cwd=self.cwd)
            self.assertEqual(code, 2, args)
            self.assertIn(says, err, args)
            self.assertEqual(out, "", args)


if __name__ == "__main__":
    unittest.main()
