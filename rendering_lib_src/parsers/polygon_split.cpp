#include "parsers/polygon_split.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <utility>

std::string checkFaceSizes(const std::vector<int32_t> &sizes, size_t numCorners) {
    uint64_t sum = 0;
    for (size_t face = 0; face < sizes.size(); ++face) {
        if (sizes[face] < 3) {
            char text[96];
            std::snprintf(text, sizeof text, "face %zu has %" PRId32 " corners, fewer than 3",
                          face, sizes[face]);
            return text;
        }
        sum += static_cast<uint64_t>(sizes[face]);
    }
    if (sum != numCorners) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "its faces have %" PRIu64 " corners in all but %zu vertex indices", sum,
                      numCorners);
        return text;
    }
    return std::string();
}

std::vector<int32_t> facesOfSingleSize(int32_t size, size_t numCorners) {
    if (size < 3 || numCorners % static_cast<size_t>(size) != 0) return {};
    return std::vector<int32_t>(numCorners / static_cast<size_t>(size), size);
}

bool allTriangles(const std::vector<int32_t> &sizes) {
    for (int32_t n : sizes)
        if (n != 3) return false;
    return true;
}

std::vector<uint32_t> fanFaces(const std::vector<int32_t> &sizes) {
    std::vector<uint32_t> faces;
    for (size_t f = 0; f < sizes.size(); ++f)
        faces.insert(faces.end(), static_cast<size_t>(sizes[f]) - 2, static_cast<uint32_t>(f));
    return faces;
}

namespace {

// Ear clipping gives up on a face when its work (point tests) would pass
// this many per corner of the mesh plus a fixed allowance: a mesh of
// concave 140-corner faces needs about a quarter of it, while one face of a
// million corners is split as a fan at once instead of taking hours.
constexpr uint64_t kWorkPerCorner = 1024;
constexpr uint64_t kWorkAllowance = uint64_t{1} << 20;

struct Vec2 {
    double x, y;
};

// Twice the signed area of (a, b, c): positive when they turn left.
double orient(const Vec2 &a, const Vec2 &b, const Vec2 &c) {
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

bool samePlace(const Vec2 &a, const Vec2 &b) { return a.x == b.x && a.y == b.y; }

// p inside triangle (a, b, c) or on its edges, whichever way it turns.
bool inTriangle(const Vec2 &a, const Vec2 &b, const Vec2 &c, const Vec2 &p) {
    const double d1 = orient(a, b, p), d2 = orient(b, c, p), d3 = orient(c, a, p);
    return (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
}

// The plane a face is split in: the two axes other than the largest
// component of its Newell normal, mirrored when that component is negative,
// so that the face runs counter-clockwise.
struct Projection {
    int u = 0, v = 1;
    bool mirror = false;
    Vec2 operator()(const Point3f &p) const {
        const double a = p[u], b = p[v];
        return mirror ? Vec2{b, a} : Vec2{a, b};
    }
};

const Point3f &pointAt(const FaceOutlines &faces, size_t corner) {
    return faces.points[static_cast<size_t>(faces.vertexIndices[corner])];
}

// False when the Newell normal of the n corners from `first` is zero or
// not finite: the face has no area, or points that are not finite.
bool faceProjection(const FaceOutlines &faces, size_t first, size_t n, Projection &out) {
    double normal[3] = {0, 0, 0};
    for (size_t i = 0; i < n; ++i) {
        const Point3f &p = pointAt(faces, first + i);
        const Point3f &q = pointAt(faces, first + (i + 1 == n ? 0 : i + 1));
        const double a[3] = {p.x, p.y, p.z}, b[3] = {q.x, q.y, q.z};
        normal[0] += (a[1] - b[1]) * (a[2] + b[2]);
        normal[1] += (a[2] - b[2]) * (a[0] + b[0]);
        normal[2] += (a[0] - b[0]) * (a[1] + b[1]);
    }
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (std::fabs(normal[k]) > std::fabs(normal[axis])) axis = k;
    if (!(std::fabs(normal[axis]) > 0) || !std::isfinite(normal[axis])) return false;
    out.u = (axis + 1) % 3;
    out.v = (axis + 2) % 3;
    out.mirror = normal[axis] < 0;
    return true;
}

// True when the fan from the face's first corner splits it exactly: seen
// from that corner, the others follow each other counter-clockwise (no fan
// triangle turns the other way) and go around less than once, so the
// triangles lie side by side and fill the outline. Convex faces are split
// so, and so are concave ones whose first corner sees the whole outline.
bool fanFits(const FaceOutlines &faces, size_t first, size_t n) {
    constexpr double kStraight = 1e-6;
    if (n <= 3) return true;
    Projection projection;
    if (!faceProjection(faces, first, n, projection)) return true;
    const Vec2 p0 = projection(pointAt(faces, first));
    const Vec2 p1 = projection(pointAt(faces, first + 1));
    const Vec2 d1{p1.x - p0.x, p1.y - p0.y};
    auto turnsBack = [](const Vec2 &a, const Vec2 &b) {
        // Corners in a line but for rounding (a sine below 1e-6) do not
        // count as turning back.
        const double cross = a.x * b.y - a.y * b.x;
        return cross < 0 &&
               cross < -kStraight * std::sqrt((a.x * a.x + a.y * a.y) * (b.x * b.x + b.y * b.y));
    };
    if (n == 4) {
        // Quads, the common case: two triangles of at most half a turn each
        // cannot go around.
        const Vec2 p2 = projection(pointAt(faces, first + 2));
        const Vec2 p3 = projection(pointAt(faces, first + 3));
        const Vec2 d2{p2.x - p0.x, p2.y - p0.y}, d3{p3.x - p0.x, p3.y - p0.y};
        return !turnsBack(d1, d2) && !turnsBack(d2, d3);
    }
    // One walk over the corners, adding up the angles when asked.
    auto walk = [&](bool sumAngles, bool &pastHalfTurn, double &angle) {
        Vec2 a = d1;
        for (size_t k = 2; k < n; ++k) {
            const Vec2 p = projection(pointAt(faces, first + k));
            const Vec2 b{p.x - p0.x, p.y - p0.y};
            if (turnsBack(a, b)) return false;
            if (sumAngles) angle += std::atan2(a.x * b.y - a.y * b.x, a.x * b.x + a.y * b.y);
            pastHalfTurn = pastHalfTurn || d1.x * b.y - d1.y * b.x < 0;
            a = b;
        }
        return true;
    };
    // While every corner lies within half a turn of the first one (convex
    // faces always), the fan cannot go around; else the angles decide.
    bool pastHalfTurn = false;
    double angle = 0;
    if (!walk(false, pastHalfTurn, angle)) return false;
    if (!pastHalfTurn) return true;
    walk(true, pastHalfTurn, angle);
    constexpr double kTurn = 6.283185307179586;
    return angle < kTurn;
}

// One face and its holes as a ring of nodes (a corner and its place in the
// plane), joined into one outline and clipped ear by ear.
class EarClipper {
public:
    EarClipper(const FaceOutlines &faces, uint64_t allowance)
        : m_faces(faces), m_allowance(allowance) {}

    enum class Result { Done, Crossing, TooLarge };

    // Triangles of the n corners from `first` with the given holes (first
    // corner and size of each), appended to out as corner triples.
    Result split(size_t first, size_t n, const std::vector<std::pair<size_t, size_t>> &holes,
                 const Projection &projection, std::vector<uint32_t> &out);
    uint64_t work() const { return m_work; }

private:
    uint32_t addRing(size_t first, size_t n, const Projection &projection);
    double ringArea(uint32_t start) const;
    void reverseRing(uint32_t start);
    bool joinHole(uint32_t outer, uint32_t hole);
    bool locallyInside(uint32_t a, const Vec2 &b) const;
    bool isEar(uint32_t i);
    void unlink(uint32_t i) {
        m_next[m_prev[i]] = m_next[i];
        m_prev[m_next[i]] = m_prev[i];
    }
    uint32_t copyNode(uint32_t i) {
        m_corner.push_back(m_corner[i]);
        m_pos.push_back(m_pos[i]);
        m_next.push_back(0);
        m_prev.push_back(0);
        m_ear.push_back(0);
        return static_cast<uint32_t>(m_corner.size() - 1);
    }

    const FaceOutlines &m_faces;
    const uint64_t m_allowance;
    uint64_t m_work = 0;
    std::vector<uint32_t> m_corner, m_next, m_prev;
    std::vector<Vec2> m_pos;
    std::vector<uint8_t> m_ear;
};

uint32_t EarClipper::addRing(size_t first, size_t n, const Projection &projection) {
    const uint32_t start = static_cast<uint32_t>(m_corner.size());
    for (size_t i = 0; i < n; ++i) {
        const uint32_t node = start + static_cast<uint32_t>(i);
        m_corner.push_back(static_cast<uint32_t>(first + i));
        m_pos.push_back(projection(pointAt(m_faces, first + i)));
        m_next.push_back(i + 1 == n ? start : node + 1);
        m_prev.push_back(i == 0 ? start + static_cast<uint32_t>(n - 1) : node - 1);
        m_ear.push_back(0);
    }
    return start;
}

double EarClipper::ringArea(uint32_t start) const {
    double area = 0;
    uint32_t i = start;
    do {
        const Vec2 &a = m_pos[i], &b = m_pos[m_next[i]];
        area += a.x * b.y - b.x * a.y;
        i = m_next[i];
    } while (i != start);
    return area;
}

void EarClipper::reverseRing(uint32_t start) {
    uint32_t i = start;
    do {
        const uint32_t next = m_next[i];
        std::swap(m_next[i], m_prev[i]);
        i = next;
    } while (i != start);
}

// Whether the way from node a towards b starts inside the outline (the
// outline runs counter-clockwise around its inside).
bool EarClipper::locallyInside(uint32_t a, const Vec2 &b) const {
    const Vec2 &p = m_pos[m_prev[a]], &q = m_pos[a], &r = m_pos[m_next[a]];
    if (orient(p, q, r) >= 0) return orient(q, r, b) >= 0 && orient(q, b, p) >= 0;
    return orient(q, p, b) <= 0 || orient(q, b, r) <= 0;
}

// Joins a clockwise hole ring to the outline: a cut from the hole's
// rightmost node to a node of the outline it can see, walked there and back.
bool EarClipper::joinHole(uint32_t outer, uint32_t hole) {
    uint32_t m = hole;
    for (uint32_t i = m_next[hole]; i != hole; i = m_next[i])
        if (m_pos[i].x > m_pos[m].x || (m_pos[i].x == m_pos[m].x && m_pos[i].y > m_pos[m].y)) m = i;
    const Vec2 mp = m_pos[m];
    // The nearest edge of the outline a ray from m towards +x meets.
    double hitX = 0;
    uint32_t edge = UINT32_MAX;
    uint32_t i = outer;
    do {
        ++m_work;
        const Vec2 &a = m_pos[i], &b = m_pos[m_next[i]];
        if (a.y != b.y && ((a.y <= mp.y && mp.y <= b.y) || (b.y <= mp.y && mp.y <= a.y))) {
            const double x = a.x + (mp.y - a.y) * (b.x - a.x) / (b.y - a.y);
            if (x >= mp.x && (edge == UINT32_MAX || x < hitX)) {
                hitX = x;
                edge = i;
            }
        }
        i = m_next[i];
    } while (i != outer);
    if (edge == UINT32_MAX) return false;
    // The edge's end further along the ray; then any node of the outline in
    // the triangle (m, hit, that end) that lies closer to the ray's line.
    uint32_t target = m_pos[m_next[edge]].x > m_pos[edge].x ? m_next[edge] : edge;
    const Vec2 hit{hitX, mp.y};
    const Vec2 end = m_pos[target];
    double bestTan = 0, bestDx = 0;
    bool haveBest = false;
    i = outer;
    do {
        ++m_work;
        const Vec2 &q = m_pos[i];
        if (q.x >= mp.x && !samePlace(q, end) && inTriangle(mp, hit, end, q) &&
            locallyInside(i, mp)) {
            const double dx = q.x - mp.x, tan = dx > 0 ? std::fabs(q.y - mp.y) / dx : 0;
            if (!haveBest || tan < bestTan || (tan == bestTan && dx < bestDx)) {
                haveBest = true;
                bestTan = tan;
                bestDx = dx;
                target = i;
            }
        }
        i = m_next[i];
    } while (i != outer);
    // A node that stands at the same place twice (an earlier cut): the one
    // whose inside the cut starts in.
    if (!locallyInside(target, mp)) {
        i = outer;
        do {
            if (samePlace(m_pos[i], m_pos[target]) && locallyInside(i, mp)) {
                target = i;
                break;
            }
            i = m_next[i];
        } while (i != outer);
    }
    // target -> m -> around the hole -> m' -> target' -> on along the outline.
    const uint32_t m2 = copyNode(m), t2 = copyNode(target);
    const uint32_t holeLast = m_prev[m], outerNext = m_next[target];
    m_next[target] = m;
    m_prev[m] = target;
    m_next[holeLast] = m2;
    m_prev[m2] = holeLast;
    m_next[m2] = t2;
    m_prev[t2] = m2;
    m_next[t2] = outerNext;
    m_prev[outerNext] = t2;
    return true;
}

// Convex, and no node of the outline that turns right (or runs straight)
// lies in the triangle, other than at its corners' places.
bool EarClipper::isEar(uint32_t i) {
    const uint32_t a = m_prev[i], b = m_next[i];
    const Vec2 &pa = m_pos[a], &pi = m_pos[i], &pb = m_pos[b];
    if (orient(pa, pi, pb) <= 0) return false;
    for (uint32_t j = m_next[b]; j != a; j = m_next[j]) {
        ++m_work;
        const Vec2 &p = m_pos[j];
        if (orient(m_pos[m_prev[j]], p, m_pos[m_next[j]]) > 0) continue;
        if (samePlace(p, pa) || samePlace(p, pi) || samePlace(p, pb)) continue;
        if (inTriangle(pa, pi, pb, p)) return false;
    }
    return true;
}

EarClipper::Result EarClipper::split(size_t first, size_t n,
                                     const std::vector<std::pair<size_t, size_t>> &holes,
                                     const Projection &projection, std::vector<uint32_t> &out) {
    uint32_t start = addRing(first, n, projection);
    size_t remaining = n;
    // Holes from the rightmost: each may join the outline through the ones
    // joined before it.
    std::vector<std::pair<double, uint32_t>> rings;
    for (const auto &[holeFirst, holeSize] : holes) {
        const uint32_t ring = addRing(holeFirst, holeSize, projection);
        if (ringArea(ring) > 0) reverseRing(ring);
        double right = m_pos[ring].x;
        for (uint32_t i = m_next[ring]; i != ring; i = m_next[i]) right = std::max(right, m_pos[i].x);
        rings.emplace_back(-right, ring);
        remaining += holeSize + 2;
    }
    std::sort(rings.begin(), rings.end());
    for (const auto &ring : rings)
        if (!joinHole(start, ring.second)) return Result::Crossing;

    const size_t begin = out.size();
    auto fail = [&](Result r) {
        out.resize(begin);
        return r;
    };
    auto refresh = [&]() {
        uint32_t j = start;
        do {
            m_ear[j] = isEar(j);
            j = m_next[j];
        } while (j != start);
    };
    refresh();
    uint32_t i = start;
    while (remaining > 3) {
        if (m_work > m_allowance) return fail(Result::TooLarge);
        // The next ear along the outline; after a full round without one,
        // every node is tested again (an ear cut off can turn a neighbour
        // from right to left, which frees other ears), and then a node that
        // runs straight is dropped (it adds no area).
        uint32_t j = i;
        while (!m_ear[j] && m_next[j] != i) j = m_next[j];
        if (!m_ear[j]) {
            refresh();
            j = i;
            while (!m_ear[j] && m_next[j] != i) j = m_next[j];
        }
        if (!m_ear[j]) {
            j = i;
            while (orient(m_pos[m_prev[j]], m_pos[j], m_pos[m_next[j]]) != 0 && m_next[j] != i)
                j = m_next[j];
            if (orient(m_pos[m_prev[j]], m_pos[j], m_pos[m_next[j]]) != 0)
                return fail(Result::Crossing);
            unlink(j);
            start = i = m_next[j];
            --remaining;
            continue;
        }
        const uint32_t a = m_prev[j], b = m_next[j];
        out.push_back(m_corner[a]);
        out.push_back(m_corner[j]);
        out.push_back(m_corner[b]);
        unlink(j);
        --remaining;
        start = i = b;
        m_ear[a] = isEar(a);
        m_ear[b] = isEar(b);
    }
    out.push_back(m_corner[m_prev[i]]);
    out.push_back(m_corner[i]);
    out.push_back(m_corner[m_next[i]]);
    return m_work > m_allowance ? fail(Result::TooLarge) : Result::Done;
}

} // namespace

bool fanSplitsAll(const FaceOutlines &faces) {
    size_t first = 0;
    for (int32_t size : faces.sizes) {
        const size_t n = static_cast<size_t>(size);
        if (!fanFits(faces, first, n)) return false;
        first += n;
    }
    return true;
}

FaceSplit splitFaces(const FaceOutlines &faces, const std::vector<FaceHole> &holes) {
    const size_t numFaces = faces.sizes.size();
    std::vector<size_t> firstCorner(numFaces + 1, 0);
    for (size_t f = 0; f < numFaces; ++f)
        firstCorner[f + 1] = firstCorner[f] + static_cast<size_t>(faces.sizes[f]);
    // Holes by outer face; hole faces yield no triangles of their own.
    std::vector<uint8_t> isHole(numFaces, 0);
    std::vector<std::vector<std::pair<size_t, size_t>>> holesOf(numFaces);
    for (const FaceHole &h : holes) {
        isHole[h.hole] = 1;
        holesOf[h.outer].emplace_back(firstCorner[h.hole], static_cast<size_t>(faces.sizes[h.hole]));
    }

    FaceSplit split;
    split.corners.reserve(3 * (firstCorner[numFaces] - 2 * numFaces));
    uint64_t budget = kWorkPerCorner * firstCorner[numFaces] + kWorkAllowance;
    auto fan = [&](size_t f) {
        const uint32_t c0 = static_cast<uint32_t>(firstCorner[f]);
        for (uint32_t k = 1; k + 1 < static_cast<uint32_t>(faces.sizes[f]); ++k) {
            split.corners.insert(split.corners.end(), {c0, c0 + k, c0 + k + 1});
            split.faces.push_back(static_cast<uint32_t>(f));
        }
    };
    for (size_t f = 0; f < numFaces; ++f) {
        if (isHole[f]) continue;
        const size_t first = firstCorner[f], n = static_cast<size_t>(faces.sizes[f]);
        Projection projection;
        if ((holesOf[f].empty() && fanFits(faces, first, n)) ||
            !faceProjection(faces, first, n, projection)) {
            fan(f);
            continue;
        }
        // Ear clipping tests every node against the others a few times
        // over; a face whose worst case does not fit the mesh's remaining
        // budget is not started.
        uint64_t nodes = n;
        for (const auto &hole : holesOf[f]) nodes += hole.second + 2;
        const uint64_t allowance = 4 * nodes * nodes + 64;
        if (nodes > (uint64_t{1} << 24) || allowance > budget) {
            ++split.tooLarge;
            fan(f);
            continue;
        }
        EarClipper clipper(faces, allowance);
        const size_t before = split.corners.size();
        const EarClipper::Result result =
            clipper.split(first, n, holesOf[f], projection, split.corners);
        budget -= std::min(budget, clipper.work());
        if (result != EarClipper::Result::Done) {
            ++(result == EarClipper::Result::Crossing ? split.crossing : split.tooLarge);
            fan(f);
            continue;
        }
        split.faces.insert(split.faces.end(), (split.corners.size() - before) / 3,
                           static_cast<uint32_t>(f));
    }
    return split;
}
