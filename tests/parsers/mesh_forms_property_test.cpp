// One polygon mesh written five ways (triangles split by hand, a face-size
// list, bare face sizes, every list in b85, every list in b64 wrapped over
// lines) must load to the same triangles, corner for corner, and render the
// same frame bit for bit. The meshes are generated from seeds: a tapered
// prism of quads with n-gon caps, per-corner normal and texture-coordinate
// indices, and a roof of n-gon sectors with per-vertex lists; every face
// starts at a random corner, so the split depends on which corner is first.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "shapes/mesh.h"
#include "render/frame_scenes.h"
#include "support/packed_text.h"

namespace {

using namespace packed_text;
using render_test::num;

// A mesh as a file holds it: lists of numbers and per-corner index lists
// running face after face.
struct PolyMesh {
    std::string name, shader;
    std::vector<float> points, normals, uvs; // 3, 3 and 2 numbers per element
    std::vector<int32_t> sides, vidxs, nidxs, uvidxs;
    std::vector<float> matrix; // 16 numbers in file order
};

// The faces of `m` each as a fan from its first corner, as the loader splits them.
std::vector<int32_t> fan(const PolyMesh &m, const std::vector<int32_t> &corners) {
    std::vector<int32_t> out;
    size_t first = 0;
    for (int32_t n : m.sides) {
        for (int32_t k = 1; k + 1 < n; ++k)
            for (int32_t c : {0, k, k + 1}) out.push_back(corners[first + static_cast<size_t>(c)]);
        first += static_cast<size_t>(n);
    }
    return out;
}

// Appends a face whose corners (vertex, normal and uv indices) start at a
// random one of them.
void addFace(PolyMesh &m, std::mt19937 &rng, const std::vector<int32_t> &v,
             const std::vector<int32_t> &n, const std::vector<int32_t> &t) {
    const size_t size = v.size(), shift = rng() % size;
    m.sides.push_back(static_cast<int32_t>(size));
    for (size_t k = 0; k < size; ++k) {
        const size_t c = (k + shift) % size;
        m.vidxs.push_back(v[c]);
        if (!n.empty()) m.nidxs.push_back(n[c]);
        if (!t.empty()) m.uvidxs.push_back(t[c]);
    }
}

float uniform(std::mt19937 &rng, float lo, float hi) {
    return std::uniform_real_distribution<float>(lo, hi)(rng);
}

// Turned about y by `yaw` and toward the camera by `tilt`: the rotation is
// in the points, so that the matrices are scale and translation (whose runs
// of zero words the b85 writer shortens).
void pushPoint(std::vector<float> &out, float x, float y, float z, float yaw, float tilt) {
    const float x1 = std::cos(yaw) * x + std::sin(yaw) * z,
                z1 = -std::sin(yaw) * x + std::cos(yaw) * z;
    out.insert(out.end(), {x1, std::cos(tilt) * y - std::sin(tilt) * z1,
                           std::sin(tilt) * y + std::cos(tilt) * z1});
}

// The prism (body) and its roof for one seed.
std::vector<PolyMesh> makeTower(unsigned seed) {
    std::mt19937 rng(seed);
    const int N = 5 + static_cast<int>(rng() % 5), rings = 1 + static_cast<int>(rng() % 3);
    const int P = 3 + static_cast<int>(rng() % 4), S = 3 + static_cast<int>(rng() % 5);
    const float yaw = uniform(rng, 0.0f, 6.28f), tilt = 0.35f, height = 1.4f;
    const float scale = uniform(rng, 0.8f, 1.1f);
    const std::vector<float> matrix = {scale, 0, 0, 0,  0, scale, 0, 0,
                                       0, 0, scale, 0,  0, -0.9f, -4.6f, 1};
    const float pi2 = 6.2831853f;

    PolyMesh body{"tower:body", "bodySG", {}, {}, {}, {}, {}, {}, {}, matrix};
    std::vector<float> radius;
    for (int j = 0; j <= rings; ++j) radius.push_back(uniform(rng, 0.6f, 1.0f));
    for (int j = 0; j <= rings; ++j)
        for (int i = 0; i < N; ++i) {
            const float a = pi2 * static_cast<float>(i) / static_cast<float>(N);
            pushPoint(body.points, radius[j] * std::cos(a),
                      height * static_cast<float>(j) / static_cast<float>(rings),
                      radius[j] * std::sin(a), yaw, tilt);
            pushPoint(body.normals, std::cos(a), 0.2f, std::sin(a), yaw, tilt);
        }
    const int capNormal = N * (rings + 1); // then the bottom and top cap normals
    pushPoint(body.normals, 0, -1, 0, yaw, tilt);
    pushPoint(body.normals, 0, 1, 0, yaw, tilt);
    // The side's texture grid has a seam column; each cap has its own disc.
    for (int j = 0; j <= rings; ++j)
        for (int i = 0; i <= N; ++i)
            body.uvs.insert(body.uvs.end(),
                            {0.02f + 0.96f * static_cast<float>(i) / static_cast<float>(N),
                             0.02f + 0.47f * static_cast<float>(j) / static_cast<float>(rings)});
    const int capUv = (N + 1) * (rings + 1);
    for (int i = 0; i < N; ++i) {
        const float a = pi2 * static_cast<float>(i) / static_cast<float>(N);
        body.uvs.insert(body.uvs.end(), {0.5f + 0.23f * std::cos(a), 0.74f + 0.23f * std::sin(a)});
    }
    for (int j = 0; j < rings; ++j)
        for (int i = 0; i < N; ++i) {
            const int i1 = (i + 1) % N;
            const std::vector<int32_t> v = {j * N + i, (j + 1) * N + i, (j + 1) * N + i1,
                                            j * N + i1};
            const std::vector<int32_t> t = {j * (N + 1) + i, (j + 1) * (N + 1) + i,
                                            (j + 1) * (N + 1) + i + 1, j * (N + 1) + i + 1};
            addFace(body, rng, v, v, t);
        }
    for (int top = 0; top < 2; ++top) {
        std::vector<int32_t> v, n, t;
        for (int k = 0; k < N; ++k) {
            const int i = top ? k : N - 1 - k;
            v.push_back(top * rings * N + i);
            n.push_back(capNormal + top);
            t.push_back(capUv + i);
        }
        addFace(body, rng, v, n, t);
    }

    // Roof: P sectors of S corners, the apex and S - 1 points of a ring
    // shared with the neighbours; uvs (and, on odd seeds, normals) per vertex.
    PolyMesh roof{"tower|roof", "roofSG", {}, {}, {}, {}, {}, {}, {}, matrix};
    const int ringSize = P * (S - 2);
    pushPoint(roof.points, 0, height + 0.7f, 0, yaw, tilt);
    roof.uvs.insert(roof.uvs.end(), {0.5f, 0.5f});
    for (int k = 0; k < ringSize; ++k) {
        const float a = -pi2 * static_cast<float>(k) / static_cast<float>(ringSize);
        // The ring is level (the draw only keeps the random sequence): a
        // sector stays convex in its plane, so that it is split as a fan.
        static_cast<void>(uniform(rng, -0.08f, 0.08f));
        pushPoint(roof.points, 1.15f * std::cos(a), height, 1.15f * std::sin(a), yaw, tilt);
        roof.uvs.insert(roof.uvs.end(), {0.5f + 0.45f * std::cos(a), 0.5f + 0.45f * std::sin(a)});
    }
    if (seed % 2 == 1)
        for (size_t k = 0; k < roof.points.size() / 3; ++k)
            pushPoint(roof.normals, k == 0 ? 0 : roof.uvs[2 * k] - 0.5f, 0.6f,
                      k == 0 ? 0 : roof.uvs[2 * k + 1] - 0.5f, yaw, tilt);
    for (int f = 0; f < P; ++f) {
        std::vector<int32_t> v = {0};
        for (int k = 0; k < S - 1; ++k) v.push_back(1 + (f * (S - 2) + k) % ringSize);
        addFace(roof, rng, v, {}, {});
    }
    return {body, roof};
}

enum class Form { Triangles, SizeList, BareSizes, B85, B64 };
const char *const kFormNames[] = {"triangles", "size list", "bare sizes", "b85", "b64"};

// Random widths of the lines packed text is wrapped over.
auto width(std::mt19937 &rng) {
    return [&rng] { return 5 + rng() % 30; };
}

// A list parameter in the form's encoding. Float lists carry `keys` motion
// keys, the later ones shifted so that reading them in place of the first shows.
std::string floatList(const char *name, const char *type, int components,
                      const std::vector<float> &first, int keys, Form form, std::mt19937 &rng) {
    std::vector<float> all;
    for (int k = 0; k < keys; ++k)
        for (float f : first) all.push_back(k == 0 ? f : f + 0.5f * static_cast<float>(k));
    const std::string head = " " + std::string(name) + " " +
                             std::to_string(first.size() / static_cast<size_t>(components)) + " " +
                             std::to_string(keys) + " ";
    if (form == Form::B85) return head + "b85" + type + "\n  " + b85(floatWords(all)) + "\n";
    if (form == Form::B64)
        return head + "b64" + type + "\n  " + b64Lines(floatWords(all), width(rng)) + "\n";
    std::string s = head + type;
    for (size_t k = 0; k < all.size(); ++k) s += (k % 12 == 0 ? "\n  " : " ") + num(all[k]);
    return s + "\n";
}

std::string intList(const char *name, const std::vector<int32_t> &values, Form form,
                    std::mt19937 &rng) {
    const std::string head = " " + std::string(name) + " " + std::to_string(values.size()) + " 1 ";
    const Words words(values.begin(), values.end());
    if (form == Form::B85) {
        const char letter = "BCEF"[rng() % 4];
        return head + "b85UINT\n  " + b85Ints(letter, words, rng() % 2) + "\n";
    }
    if (form == Form::B64) return head + "b64UINT\n  " + b64Lines(words, width(rng)) + "\n";
    std::string s = head + "UINT";
    for (size_t k = 0; k < values.size(); ++k)
        s += (k % 16 == 0 ? "\n  " : " ") + std::to_string(values[k]);
    return s + "\n";
}

std::string meshNode(const PolyMesh &m, Form form, std::mt19937 &rng) {
    const bool split = form == Form::Triangles;
    std::string s = "polymesh\n{\n name " + m.name + "\n";
    if (form == Form::BareSizes) {
        // All sizes on the line, or one bare size when every face shares it.
        bool same = true;
        for (int32_t n : m.sides) same = same && n == m.sides[0];
        s += " nsides";
        for (size_t k = 0; k < (same ? 1 : m.sides.size()); ++k)
            s += " " + std::to_string(m.sides[k]);
        s += "\n";
    } else if (split) {
        if (rng() % 2) s += " nsides 3\n"; // "every face a triangle"; absent means the same
    } else {
        s += intList("nsides", m.sides, form, rng);
    }
    const bool oldTypes = form == Form::BareSizes;
    s += intList("vidxs", split ? fan(m, m.vidxs) : m.vidxs, form, rng);
    s += floatList("vlist", oldTypes ? "POINT" : "VECTOR", 3, m.points,
                   form == Form::SizeList || form == Form::B64 ? 2 : 1, form, rng);
    if (!m.nidxs.empty()) s += intList("nidxs", split ? fan(m, m.nidxs) : m.nidxs, form, rng);
    if (!m.normals.empty())
        s += floatList("nlist", "VECTOR", 3, m.normals, form == Form::B85 ? 2 : 1, form, rng);
    if (!m.uvidxs.empty()) s += intList("uvidxs", split ? fan(m, m.uvidxs) : m.uvidxs, form, rng);
    s += floatList("uvlist", oldTypes ? "POINT2" : "VECTOR2", 2, m.uvs, form == Form::B64 ? 2 : 1,
                   form, rng);
    if (form == Form::Triangles || form == Form::BareSizes) {
        s += " matrix\n ";
        for (float f : m.matrix) s += " " + num(f);
        s += "\n";
    } else {
        s += floatList("matrix", "MATRIX", 16, m.matrix, form == Form::B85 ? 1 : 2, form, rng);
    }
    return s + " shader " + m.shader + "\n}\n";
}

std::string sceneText(const std::vector<PolyMesh> &meshes, Form form, unsigned seed) {
    using namespace render_test;
    std::mt19937 rng(seed * 31u + static_cast<unsigned>(form));
    std::string s =
        header(64, 48, 40) + pointLight(2, 2.5f, 0, 30) +
        "MayaFile\n{\n name checker\n filename \"scenes/checker.tga\"\n}\n" +
        material("aiStandard", "body",
                 " Kd 0.9\n Kd_color checker\n Ks 0.4\n Ks_color 1 1 1\n Kshi 30\n") +
        material("blinn", "roof", " Kd 0.8\n Kd_color 0.7 0.2 0.1\n Ks 0.5\n Ks_color 1 1 1\n");
    for (const PolyMesh &m : meshes) s += meshNode(m, form, rng);
    return s;
}

// Every triangle corner resolved through its index lists: local position,
// normal (when the mesh has normals) and texture coordinates, as bits.
struct Corners {
    Words positions, normals, uvs;
};

// The bits of `n` floats at `f`: numbers of a list, or a point, vector or
// uv (plain records of floats).
void pushBits(Words &out, const void *f, int n) {
    for (int k = 0; k < n; ++k) {
        out.push_back(0);
        std::memcpy(&out.back(), static_cast<const char *>(f) + 4 * k, 4);
    }
}

Corners expectedCorners(const PolyMesh &m) {
    Corners c;
    const std::vector<int32_t> v = fan(m, m.vidxs);
    const std::vector<int32_t> n =
        m.nidxs.empty() ? (m.normals.empty() ? m.nidxs : v) : fan(m, m.nidxs);
    const std::vector<int32_t> t = m.uvidxs.empty() ? v : fan(m, m.uvidxs);
    for (size_t k = 0; k < v.size(); ++k) {
        pushBits(c.positions, &m.points[3 * static_cast<size_t>(v[k])], 3);
        if (!n.empty()) pushBits(c.normals, &m.normals[3 * static_cast<size_t>(n[k])], 3);
        pushBits(c.uvs, &m.uvs[2 * static_cast<size_t>(t[k])], 2);
    }
    return c;
}

Corners loadedCorners(const MeshShape &mesh) {
    Corners c;
    for (size_t k = 0; k < mesh.vertexIndices.size(); ++k) {
        const size_t v = static_cast<size_t>(mesh.vertexIndices[k]);
        pushBits(c.positions, &mesh.vertices.at(v), 3);
        if (!mesh.normalIndices.empty())
            pushBits(c.normals, &mesh.normals.at(static_cast<size_t>(mesh.normalIndices.at(k))), 3);
        const size_t t = mesh.uvIndices.empty() ? v : static_cast<size_t>(mesh.uvIndices.at(k));
        pushBits(c.uvs, &mesh.uvs.at(t), 2);
    }
    return c;
}

// Empty when equal, else the first differing value's place and both values.
std::string firstMismatch(const Words &got, const Words &want) {
    if (got.size() != want.size())
        return std::to_string(got.size()) + " values, expected " + std::to_string(want.size());
    const auto d = std::mismatch(got.begin(), got.end(), want.begin());
    if (d.first == got.end()) return "";
    return "value " + std::to_string(d.first - got.begin()) + ": " + std::to_string(*d.first) +
           ", expected " + std::to_string(*d.second);
}

} // namespace

TEST(MeshForms, EveryFormLoadsTheSameTrianglesAndRendersTheSameFrame) {
    ScopedChdir cwd(VORTAN_SOURCE_DIR); // the texture path is relative to the repository
    ASSERT_TRUE(cwd.ok());
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const std::vector<PolyMesh> tower = makeTower(seed);
        frame_test::Frame reference;
        for (Form form : {Form::Triangles, Form::SizeList, Form::BareSizes, Form::B85, Form::B64}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", " +
                         kFormNames[static_cast<int>(form)]);
            const std::string text = sceneText(tower, form, seed);
            std::unique_ptr<World> world = render_test::loadText(text);
            ASSERT_NE(world, nullptr) << text;
            ASSERT_EQ(world->meshes.size(), tower.size());
            for (size_t i = 0; i < tower.size(); ++i) {
                const MeshShape &mesh = *world->meshes[i];
                const Corners want = expectedCorners(tower[i]), got = loadedCorners(mesh);
                EXPECT_EQ(firstMismatch(got.positions, want.positions), "") << tower[i].name;
                EXPECT_EQ(firstMismatch(got.normals, want.normals), "") << tower[i].name;
                EXPECT_EQ(firstMismatch(got.uvs, want.uvs), "") << tower[i].name;
                // The first matrix key places the mesh.
                const float scale = tower[i].matrix[0];
                EXPECT_EQ(mesh.object2world(Point3f(1, 1, 1)),
                          Point3f(scale, scale - 0.9f, scale - 4.6f));
            }
            const frame_test::Frame frame = frame_test::renderFrameRows(*world, 2);
            if (form == Form::Triangles) {
                reference = frame;
                // The tower fills a good part of the film, textured and lit.
                int lit = 0;
                for (size_t k = 0; k < frame.rgb.size(); k += 3) lit += frame.rgb[k] > 0.05f;
                EXPECT_GT(lit, 64 * 48 / 10);
            } else {
                EXPECT_EQ(frame_test::firstDifference(reference, frame), "");
            }
        }
    }
}
