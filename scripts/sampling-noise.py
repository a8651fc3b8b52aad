#!/usr/bin/env python3
"""Noise of sampled renders against samples per pixel (a benchmark, not a test).

    scripts/sampling-noise.py SCENE.ass [--res 160x120] [--vortan build/vortan]

Renders the scene with its point lights replaced by a quad light (4 shadow
samples) and a shadowing sky, at 1, 4, 9 and 16 camera samples per pixel
(AA_samples 1..4) and a 64-sample reference (AA_samples 8), each with the
stratified pattern and with plain random numbers (VORTAN_SAMPLER=random),
and prints the root-mean-square difference from the reference with the
render time. Noise that falls as 1/sqrt(samples) keeps rms x sqrt(spp) flat.
Standard library only.
"""
import argparse
import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import time


def read_pfm(path):
    with open(path, "rb") as f:
        assert f.readline().strip() == b"PF"
        w, h = map(int, f.readline().split())
        scale = float(f.readline())
        data = f.read()
    n = w * h * 3
    return struct.unpack(("<" if scale < 0 else ">") + "%df" % n, data[: 4 * n])


def rms(a, b):
    return math.sqrt(sum((x - y) ** 2 for x, y in zip(a, b)) / len(a))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("scene")
    ap.add_argument("--res", default="160x120")
    ap.add_argument("--vortan", default="build/vortan")
    args = ap.parse_args()
    args.vortan = os.path.abspath(args.vortan)
    xres, yres = args.res.split("x")
    text = open(args.scene).read()
    # Point lights out; a 2 x 2 quad light above the scene and a sky in.
    text = re.sub(r"point_light\s*\{[^}]*\}", "", text)
    text += ("\nquad_light\n{\n name key\n intensity 40\n samples 2\n matrix\n"
             "  1 0 0 0  0 0 -1 0  0 1 0 0  0 6 2 1\n}\n"
             "skydome_light\n{\n name sky\n intensity 0.2\n camera 0\n}\n"
             "options\n{\n xres %s\n yres %s\n}\n" % (xres, yres))
    with tempfile.TemporaryDirectory() as tmp:
        scene = os.path.join(tmp, "noise.ass")
        with open(scene, "w") as f:
            f.write(text)

        def render(samples, sampler):
            out = os.path.join(tmp, "s%d_%s.pfm" % (samples, sampler))
            env = dict(os.environ, VORTAN_SAMPLES=str(samples), VORTAN_SAMPLER=sampler,
                       VORTAN_THREADS="1", GLOG_minloglevel="1")
            start = time.monotonic()
            subprocess.run([args.vortan, "-q", "-o", out, scene], env=env, check=True,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, cwd=tmp)
            return read_pfm(out), time.monotonic() - start

        reference, _ = render(8, "stratified")
        print("| spp | stratified rms | x sqrt(spp) | s | random rms | x sqrt(spp) | s |")
        print("|---:|---:|---:|---:|---:|---:|---:|")
        for n in (1, 2, 3, 4):
            spp = n * n
            row = ["%d" % spp]
            for sampler in ("stratified", "random"):
                img, secs = render(n, sampler)
                e = rms(img, reference)
                row += ["%.5f" % e, "%.5f" % (e * math.sqrt(spp)), "%.2f" % secs]
            print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    sys.exit(main())
