#!/usr/bin/env python3
"""Writes scenes/exported.ass, an example scene in the style exporters write.

Lower-case node and parameter names, long names with '/', ':' and '|',
array-form values ("matrix 1 1 MATRIX"), mesh lists packed as b85 and b64
text, a hidden prototype mesh drawn through two instances, a user-data
declaration and a curves node the renderer does not draw. The packed lists
are computed here, so the file can be made again byte for byte.

Usage: scripts/make_exported_scene.py [output.ass]   (default: scenes/exported.ass)
Render from the repository root: the texture path is relative to it.
"""
import base64
import math
import struct
import sys

# --- packed list writers ---------------------------------------------------


def float_words(values):
    """32-bit words (as unsigned integers) of the floats' little-endian bytes."""
    return [struct.unpack("<I", struct.pack("<f", v))[0] for v in values]


def b85_group(word):
    digits = []
    for _ in range(5):
        digits.append(chr(36 + word % 85))
        word //= 85
    return "".join(reversed(digits))


def b85_words(words):
    """Five digits per word; 'z' is 0, 'y' is 1.0 and '!' word count a run of three or more."""
    out = []
    i = 0
    while i < len(words):
        run = 1
        while i + run < len(words) and words[i + run] == words[i]:
            run += 1
        if run >= 3:
            out.append("!" + b85_group(words[i]) + b85_group(run))
            i += run
            continue
        w = words[i]
        out.append("z" if w == 0 else "y" if w == 0x3F800000 else b85_group(w))
        i += 1
    return "".join(out)


def b85_ints(values):
    """Integers below 256 packed four to a word (letter B), low bits first."""
    assert all(0 <= v < 256 for v in values)
    words = []
    for k in range(0, len(values), 4):
        chunk = values[k:k + 4]
        words.append(sum(v << (8 * n) for n, v in enumerate(chunk)))
    return "B" + b85_words(words)


def b64_lines(words, indent="  ", width=76):
    text = base64.b64encode(b"".join(struct.pack("<I", w) for w in words)).decode("ascii")
    return "\n".join(indent + text[k:k + width] for k in range(0, len(text), width))


def fmt(v):
    """Six significant digits; rounding residues such as cos(90 degrees) become 0."""
    s = "%.6g" % (round(v, 6) + 0.0)
    return "0" if s == "-0" else s


def matrix_lines(rows, indent="  "):
    """A 4x4 matrix as four rows (translation on the last), for "matrix 1 1 MATRIX"."""
    return "\n".join(indent + " ".join(fmt(v) for v in row) for row in rows)


def translate(x, y, z, s=1.0):
    return [[s, 0, 0, 0], [0, s, 0, 0], [0, 0, s, 0], [x, y, z, 1]]


def rotate_y(deg, x, y, z, s=1.0):
    c, n = math.cos(math.radians(deg)) * s, math.sin(math.radians(deg)) * s
    return [[c, 0, -n, 0], [0, s, 0, 0], [n, 0, c, 0], [x, y, z, 1]]


# --- geometry ----------------------------------------------------------------


def backdrop(n, size, wall_rows, wall_height):
    """A sheet of quads: an n x n floor in y = 0 (facing up) that bends up
    into a wall of wall_rows rows at its back edge (facing the camera).
    Each quad shows a quarter of the texture (four by four squares): four uvs, and uvidxs that give every
    face the same four, so uvidxs has nothing in common with vidxs."""
    points, vidxs, uvidxs = [], [], []
    for j in range(n + 1 + wall_rows):
        for i in range(n + 1):
            x = -size / 2 + size * i / n
            if j <= n:
                points += [x, 0.0, size / 2 - size * j / n]
            else:
                points += [x, wall_height * (j - n) / wall_rows, -size / 2]
    for j in range(n + wall_rows):
        for i in range(n):
            a = j * (n + 1) + i
            vidxs += [a, a + 1, a + n + 2, a + n + 1]
            uvidxs += [0, 1, 2, 3]
    uvs = [0.001, 0.001, 0.499, 0.001, 0.499, 0.499, 0.001, 0.499]
    return points, [4] * (len(vidxs) // 4), vidxs, uvs, uvidxs


def box(x0, y0, z0, x1, y1, z1, base):
    """The six outward quads of a box; corner indices start at base."""
    points = []
    for y in (y0, y1):
        for z in (z1, z0):
            for x in (x0, x1):
                points += [x, y, z]
    # Corners: 0..3 bottom (front-left, front-right, back-left, back-right), 4..7 top.
    faces = [(0, 2, 3, 1), (4, 5, 7, 6), (0, 1, 5, 4), (3, 2, 6, 7), (2, 0, 4, 6), (1, 3, 7, 5)]
    return points, [base + c for f in faces for c in f]


def hex_prism(radius, height):
    """Six quads and two hexagonal caps, flat shaded (no normals)."""
    points = []
    for y in (0.0, height):
        for k in range(6):
            a = math.radians(60 * k + 30)
            points += [radius * math.cos(a), y, radius * math.sin(a)]
    vidxs = []
    for k in range(6):
        k1 = (k + 1) % 6
        vidxs += [k, 6 + k, 6 + k1, k1]
    vidxs += list(range(6))              # bottom, seen from below
    vidxs += [6 + k for k in reversed(range(6))]  # top, seen from above
    return points, [4] * 6 + [6, 6], vidxs


# --- scene text ---------------------------------------------------------------


def scene():
    floor_points, floor_sides, floor_vidxs, floor_uvs, floor_uvidxs = backdrop(3, 12.0, 2, 5.0)
    lower, lower_idx = box(-1.1, 0.0, -1.1, 1.1, 0.5, 1.1, 0)
    upper, upper_idx = box(-0.7, 0.5, -0.7, 0.7, 1.0, 0.7, 8)
    plinth_points = lower + upper
    plinth_vidxs = lower_idx + upper_idx
    gem_points, gem_sides, gem_vidxs = hex_prism(0.4, 0.9)
    # The camera looks down 14 degrees from above and in front.
    pitch = math.radians(14)
    cam = [[1, 0, 0, 0], [0, math.cos(pitch), -math.sin(pitch), 0],
           [0, math.sin(pitch), math.cos(pitch), 0], [0, 2.6, 7.5, 1]]
    ints = lambda values: " ".join(str(v) for v in values)
    return f"""### Studio: a stepped plinth carrying a hexagonal column, a second
### column beside it and a mirror ball on a checkered floor that bends up
### into a back wall.
### Written by scripts/make_exported_scene.py; render from the repository root.

options
{{
 name options
 xres 320
 yres 240
 aa_samples 3
 camera /cameras/main:cameraShape
 outputs 1 1 STRING "RGBA RGBA /drivers/box:filter /drivers/out|tiff"
 gi_diffuse_depth 1
 texture_gamma 1
}}

box_filter
{{
 name /drivers/box:filter
 width 1
}}

driver_tiff
{{
 name /drivers/out|tiff
 filename exported.tif
}}

persp_camera
{{
 name /cameras/main:cameraShape
 matrix 1 1 MATRIX
{matrix_lines(cam)}
 near_clip 0.1
 far_clip 1000
 fov 1 1 FLOAT 48
}}

point_light
{{
 name /lights/key|keyShape
 matrix 1 1 MATRIX
{matrix_lines(translate(4.0, 6.5, 5.0))}
 color 1 0.94 0.86
 intensity 95
 exposure 0
}}

point_light
{{
 name /lights/fill|fillShape
 matrix 1 1 MATRIX
{matrix_lines(translate(-6.0, 3.0, 6.0))}
 color 0.75 0.82 1
 intensity 30
}}

mayafile
{{
 name /textures/floor:checker
 filename "checker.tga"
}}

lambert
{{
 name /shaders/floor:lambert
 kd 0.9
 kd_color /textures/floor:checker
}}

blinn
{{
 name /shaders/plinth:blinn
 kd 0.85
 kd_color 0.62 0.6 0.56
 ks 0.25
 ks_color 1 1 1
 power 12
}}

aistandard
{{
 name /shaders/gem:gold
 kd 0.8
 kd_color 0.85 0.55 0.12
 ks 0.6
 ks_color 1 0.9 0.6
 kshi 40
}}

aistandard
{{
 name /shaders/gem:jade
 kd 0.8
 kd_color 0.15 0.55 0.35
 ks 0.5
 ks_color 1 1 1
 kshi 60
}}

aistandard
{{
 name /shaders/ball:chrome
 kd 1
 kd_color 0.04 0.04 0.05
 ks 0.7
 ks_color 1 1 1
 kshi 80
 kr 0.85
 kr_color 0.95 0.95 1
}}

mayashadingengine
{{
 name /shaders/floor:SG
 beauty /shaders/floor:lambert
}}

mayashadingengine
{{
 name /shaders/plinth:SG
 beauty /shaders/plinth:blinn
}}

mayashadingengine
{{
 name /shaders/gem:goldSG
 beauty /shaders/gem:gold
}}

mayashadingengine
{{
 name /shaders/gem:jadeSG
 beauty /shaders/gem:jade
}}

mayashadingengine
{{
 name /shaders/ball:SG
 beauty /shaders/ball:chrome
}}

polymesh
{{
 name /set/floor|floorShape
 nsides {len(floor_sides)} 1 b64UINT
{b64_lines(floor_sides)}
 vidxs {len(floor_vidxs)} 1 b64UINT
{b64_lines(floor_vidxs)}
 vlist {len(floor_points) // 3} 1 b64VECTOR
{b64_lines(float_words(floor_points))}
 uvidxs {len(floor_uvidxs)} 1 b64UINT
{b64_lines(floor_uvidxs)}
 uvlist {len(floor_uvs) // 2} 1 b64VECTOR2
{b64_lines(float_words(floor_uvs))}
 smoothing on
 subdiv_type none
 matrix 1 1 MATRIX
{matrix_lines(translate(0, 0, 0))}
 shader /shaders/floor:SG
 id 101
}}

polymesh
{{
 name /set/plinth|plinthShape
 nsides {len(plinth_vidxs) // 4} 1 b85UINT
  {b85_ints([4] * (len(plinth_vidxs) // 4))}
 vidxs {len(plinth_vidxs)} 1 b85UINT
  {b85_ints(plinth_vidxs)}
 vlist {len(plinth_points) // 3} 1 b85VECTOR
  {b85_words(float_words(plinth_points))}
 matrix 1 1 MATRIX
{matrix_lines(rotate_y(25, 0.2, 0, -0.9))}
 shader "/shaders/plinth:SG"
 opaque on
 declare user_tag constant STRING
 user_tag "plinth"
 id 102
}}

polymesh
{{
 name /props/column:columnShape
 visibility 0
 nsides {len(gem_sides)} 1 UINT
  {ints(gem_sides)}
 vidxs {len(gem_vidxs)} 1 UINT
  {ints(gem_vidxs)}
 vlist {len(gem_points) // 3} 1 VECTOR
  {" ".join(fmt(v) for v in gem_points)}
 matrix 1 1 MATRIX
{matrix_lines(translate(0, 0, 0))}
 shader /shaders/gem:goldSG
 id 103
}}

ginstance
{{
 name /set/column1|columnShape
 node /props/column:columnShape
 matrix 1 1 MATRIX
{matrix_lines(rotate_y(30, 0.2, 1.0, -0.9))}
 inherit_xform on
}}

ginstance
{{
 name /set/column2|columnShape
 node "/props/column:columnShape"
 matrix 1 1 MATRIX
{matrix_lines(rotate_y(40, -2.6, 0, -0.4, 1.3))}
 inherit_xform on
 shader /shaders/gem:jadeSG
}}

sphere
{{
 name /set/ball|ballShape
 center 2.2 0.7 0.6
 radius 0.7
 shader /shaders/ball:SG
}}

curves
{{
 name /set/grass|grassShape
 num_points 1 1 UINT 4
 points 4 1 VECTOR
  -3 0 2 -3.1 0.3 2.05 -3 0.6 2.1 -2.9 0.8 2
 radius 1 1 FLOAT 0.01
 basis catmull-rom
}}
"""


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "scenes/exported.ass"
    with open(out, "w", newline="\n") as f:
        f.write(scene())


if __name__ == "__main__":
    main()
