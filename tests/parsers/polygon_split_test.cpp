// Splitting polygon faces into triangles, against the area of their
// outlines: a split fills a face exactly when its triangles all turn the
// face's way and their areas add up to the face's (less its holes').
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "parsers/polygon_split.h"

namespace {

// A face as the loader hands it over: corner counts, vertex indices and points.
struct Faces {
    std::vector<int32_t> sizes;
    std::vector<int> vertexIndices;
    std::vector<Point3f> points;
    FaceOutlines view() const { return {sizes, vertexIndices, points}; }

    // Appends a face through the given points (x, y), tilted into 3D by
    // the rotation (r), starting at corner `start`.
    void add(const std::vector<double> &xy, size_t start, const double r[3][3]) {
        const size_t n = xy.size() / 2;
        sizes.push_back(static_cast<int32_t>(n));
        for (size_t k = 0; k < n; ++k) {
            const size_t i = (k + start) % n;
            const double p[3] = {xy[2 * i], xy[2 * i + 1], 0.25};
            vertexIndices.push_back(static_cast<int>(points.size()));
            points.emplace_back(static_cast<float>(r[0][0] * p[0] + r[0][1] * p[1] + r[0][2] * p[2]),
                                static_cast<float>(r[1][0] * p[0] + r[1][1] * p[1] + r[1][2] * p[2]),
                                static_cast<float>(r[2][0] * p[0] + r[2][1] * p[1] + r[2][2] * p[2]));
        }
    }
};

double shoelace(const std::vector<double> &xy) {
    double a = 0;
    for (size_t i = 0, n = xy.size() / 2; i < n; ++i)
        a += xy[2 * i] * xy[2 * ((i + 1) % n) + 1] - xy[2 * ((i + 1) % n)] * xy[2 * i + 1];
    return a / 2;
}

// A star: corners around the centre at random radii (concave, simple).
std::vector<double> star(std::mt19937 &rng, size_t n, double cx, double cy, double r0, double r1, bool clockwise) {
    std::vector<double> xy;
    for (size_t k = 0; k < n; ++k) {
        const double a = 6.283185307179586 * static_cast<double>(clockwise ? n - k : k) / static_cast<double>(n);
        const double r = std::uniform_real_distribution<double>(r0, r1)(rng);
        xy.push_back(cx + r * std::cos(a));
        xy.push_back(cy + r * std::sin(a));
    }
    return xy;
}

} // namespace

TEST(PolygonSplit, OutlinesWithHolesAreFilledExactlyAndConvexOnesStayFans) {
    std::mt19937 rng(17);
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        // A rotation about a random axis: the face stands in any plane.
        const double ax = std::uniform_real_distribution<double>(0, 6.28)(rng), c = std::cos(ax), s = std::sin(ax);
        const double r[3][3] = {{c, 0, s}, {s * s, c, -s * c}, {-c * s, s, c * c}};
        Faces faces;
        const size_t n = 4 + rng() % 137;
        const std::vector<double> outline = star(rng, n, 0, 0, 1.5, 3.0, false);
        faces.add(outline, rng() % n, r);
        // Up to three holes inside the star's inner circle, wound either way.
        std::vector<FaceHole> holes;
        double area = shoelace(outline);
        const int numHoles = round % 4;
        for (int h = 0; h < numHoles; ++h) {
            const double angle = 2.1 * h;
            const std::vector<double> hole = star(rng, 3 + rng() % 9, 0.8 * std::cos(angle), 0.8 * std::sin(angle), 0.2, 0.45, rng() % 2);
            area -= std::fabs(shoelace(hole));
            holes.push_back({static_cast<uint32_t>(faces.sizes.size()), 0});
            faces.add(hole, rng() % (hole.size() / 2), r);
        }
        const FaceSplit split = splitFaces(faces.view(), holes);
        EXPECT_EQ(split.crossing + split.tooLarge, 0u);
        ASSERT_EQ(split.corners.size(), 3 * (faces.vertexIndices.size() + 2 * holes.size() - 2));
        // Areas in the face's plane: the rotation keeps them, and the
        // face's normal is the rotated z axis.
        double sum = 0;
        for (size_t t = 0; t < split.corners.size(); t += 3) {
            const Point3f &p0 = faces.points[faces.vertexIndices[split.corners[t]]];
            const Vec3f e1 = faces.points[faces.vertexIndices[split.corners[t + 1]]] - p0;
            const Vec3f e2 = faces.points[faces.vertexIndices[split.corners[t + 2]]] - p0;
            const Vec3f n3 = vmath::cross(e1, e2);
            const double along = (double(n3.x) * r[0][2] + double(n3.y) * r[1][2] + double(n3.z) * r[2][2]) / 2;
            EXPECT_GE(along, -1e-6) << "triangle " << t / 3;
            sum += along;
            EXPECT_EQ(split.faces[t / 3], 0u);
        }
        EXPECT_NEAR(sum, area, 1e-4 * area);

        // Convex: a regular polygon, from any corner, split as the fan.
        Faces convex;
        convex.add(star(rng, n, 0, 0, 1, 1, false), rng() % n, r);
        std::vector<uint32_t> all(n);
        std::iota(all.begin(), all.end(), 0u);
        EXPECT_TRUE(fanSplitsAll(convex.view()));
        EXPECT_EQ(splitFaces(convex.view(), {}).corners, fanSplit(convex.sizes, all));
    }
}

TEST(PolygonSplit, WorkIsBoundedByTheCorners) {
    // A comb of 200000 corners would take ear clipping hours: it is split as
    // a fan at once, and counted. One of 140 corners in the same mesh is not.
    const double flat[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    std::vector<double> comb;
    for (int k = 0; k < 100000; ++k)
        comb.insert(comb.end(), {double(k), 1.0 + (k % 2), double(k) + 0.5, 1.0 + (k % 2)});
    comb.insert(comb.end(), {100000.0, 0.0, 0.0, 0.0});
    std::mt19937 rng(5);
    Faces faces;
    faces.add(star(rng, 140, 0, 0, 1, 2, false), 0, flat);
    faces.add(comb, 7, flat);
    const FaceSplit split = splitFaces(faces.view(), {});
    EXPECT_EQ(split.tooLarge, 1u);
    EXPECT_EQ(split.crossing, 0u);
    EXPECT_EQ(split.corners.size(), 3u * (138 + 200000));
}
