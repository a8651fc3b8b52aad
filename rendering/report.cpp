#include "rendering/report.h"

#include <dlfcn.h>

#include <cstdarg>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "util/error.h"
#include "parsers/text_parser.h"
#include "shapes/mesh.h"
#include "shapes/primitive.h"
#include "scene/world.h"

MayaAsciiWriter reportWriter;

int imageSampleCount = 0;
int imageRayCount = 0;
int bsdfDirectionCount = 0;
int pathRayCount = 0;
int bounceCounts[maxReportedBounces + 1] = {};
int rayCurveCount = 0;
int pathCount = 0;

namespace {

// Every report starts with the bytes of this scene header, looked up
// relative to the working directory first...
constexpr const char *kTemplatePath = "./resources/empty.ma";
// ...then where the install puts it, relative to the directory of the file
// holding this code: <prefix>/lib/librendering.so finds
// <prefix>/share/vortan/empty.ma.
constexpr const char *kInstalledTemplatePath = "/../share/vortan/empty.ma";
// Node names are formatted into buffers of this size: longer names are cut
// to kNameBufferSize - 1 characters, never written past the buffer.
constexpr size_t kNameBufferSize = 1024;
// Recorded rays with no real end (a maximum distance above this) are drawn
// with kOpenRayLength.
constexpr float kOpenRayLimit = 100000.0f;
constexpr float kOpenRayLength = 30.0f;
// Rays given by a direction are drawn this long.
constexpr float kDirectionRayLength = 5.0f;
constexpr float kOneThird = 0.33333334f;
constexpr const char *kRefPointShape = "refPointShape";
// The lines of a transform node after its name (and parent).
constexpr char kHiddenLine[] = "\tsetAttr \".v\" no;\n";
constexpr char kCurveAttributeLines[] =
    "\taddAttr -ci true -sn \"riCurves\" -ln \"riCurves\" -min 0 -max 1 -at \"bool\";\n"
    "\tsetAttr \".riCurves\" yes;\n";

std::string formatName(const char *format, ...) __attribute__((format(printf, 1, 2)));

std::string formatName(const char *format, ...) {
    char buffer[kNameBufferSize];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) return std::string();
    return std::string(buffer);
}

// A key whose numeric order is the byte order of the decimal text of id:
// one 4-bit digit value + 1 per digit from the most significant nibble, 0
// after the last digit, so a prefix sorts before its extensions.
uint64_t decimalOrderKey(uint32_t id) {
    // The digits from the least significant one up, then moved to the top.
    uint64_t key = 0;
    int n = 0;
    do {
        key |= static_cast<uint64_t>(id % 10 + 1) << (4 * n);
        id /= 10;
        ++n;
    } while (id != 0);
    return key << (4 * (15 - n));
}

// Sorts keys in ascending order: an LSD radix sort in passes of 16 bits,
// skipping passes whose digit is the same for every key. A large mesh has a
// key per triangle, and this takes a fraction of a comparison sort's time.
void sortKeys(std::vector<uint64_t> &keys) {
    std::vector<uint64_t> scratch(keys.size());
    std::vector<size_t> count(size_t{1} << 16);
    for (int shift = 0; shift < 64; shift += 16) {
        std::fill(count.begin(), count.end(), 0);
        for (const uint64_t k : keys) ++count[(k >> shift) & 0xffff];
        if (keys.empty() || count[(keys[0] >> shift) & 0xffff] == keys.size()) continue;
        size_t offset = 0;
        for (size_t &c : count) {
            const size_t n = c;
            c = offset;
            offset += n;
        }
        for (const uint64_t k : keys) scratch[count[(k >> shift) & 0xffff]++] = k;
        keys.swap(scratch);
    }
}

// "primitive" and the decimal digits a key holds, as "primitive%u" of its id.
void idNameFromKey(uint64_t key, std::string *out) {
    char text[32] = "primitive";
    size_t n = 9;
    for (int i = 14; i >= 0; --i) {
        const uint64_t nibble = (key >> (4 * i)) & 0xf;
        if (nibble == 0) break;
        text[n++] = static_cast<char>('0' + (nibble - 1));
    }
    out->assign(text, n);
}

// The blocks of the primitive groups, which make up nearly all of a large
// scene's report: collected in memory and handed to the writer a megabyte
// at a time, the text it would write for addTransform(name, "bsdfSamples",
// true, true) without a formatted write per line.
class GroupBlocks {
public:
    explicit GroupBlocks(MayaAsciiWriter &writer) : m_writer(writer) {
        m_text.reserve(kBlockBytes + 2 * kNameBufferSize);
    }
    ~GroupBlocks() { flush(); }
    GroupBlocks(const GroupBlocks &) = delete;
    GroupBlocks &operator=(const GroupBlocks &) = delete;

    void add(const std::string &name) {
        m_text.append(kStart, sizeof kStart - 1);
        m_text.append(name);
        m_text.append(kEnd, sizeof kEnd - 1);
        m_text.append(kHiddenLine, sizeof kHiddenLine - 1);
        m_text.append(kCurveAttributeLines, sizeof kCurveAttributeLines - 1);
        if (m_text.size() >= kBlockBytes) flush();
    }
    void flush() {
        if (!m_text.empty()) m_writer.addText(m_text.data(), m_text.size());
        m_text.clear();
    }

private:
    static constexpr size_t kBlockBytes = size_t{1} << 20;
    static constexpr char kStart[] = "createNode transform -n \"";
    static constexpr char kEnd[] = "\"-p \"bsdfSamples\";\n";
    MayaAsciiWriter &m_writer;
    std::string m_text;
};

// The directory of the file this code was loaded from: the shared library,
// or the program when the code is linked into it. Empty when unknown.
std::string ownFileDirectory() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&ownFileDirectory), &info) == 0 ||
        info.dli_fname == nullptr)
        return std::string();
    const char *slash = std::strrchr(info.dli_fname, '/');
    if (slash == nullptr) return std::string();
    return std::string(info.dli_fname, slash);
}

FILE *openTemplate() {
    // Only regular files: a FIFO in the template's place would block the
    // render until something wrote to it.
    if (TextParser::isRegularFile(kTemplatePath))
        if (FILE *local = std::fopen(kTemplatePath, "rb")) return local;
    const std::string dir = ownFileDirectory();
    if (dir.empty()) return nullptr;
    const std::string installed = dir + kInstalledTemplatePath;
    if (!TextParser::isRegularFile(installed.c_str())) return nullptr;
    return std::fopen(installed.c_str(), "rb");
}

} // namespace

MayaAsciiWriter::~MayaAsciiWriter() { close(); }

bool MayaAsciiWriter::open(const char *path) {
    // A writer reused for a new report lets go of the previous file first.
    close();
    if (!path) return false;
    m_fileName = path;
    m_refPointCreated = false; // the marker shape lived in the previous file
    if (!m_pending.open(m_fileName)) return false;
    m_file = m_pending.file();

    FILE *templ = openTemplate();
    if (!templ) {
        Error("Could not find empty.ma in resources folder");
        abandon();
        return false;
    }
    // Copy the template unchanged, in fixed-size chunks: its size decides
    // nothing about memory use.
    char chunk[16384];
    bool ok = true;
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, templ)) > 0) {
        if (std::fwrite(chunk, 1, n, m_file) != n) {
            ok = false;
            break;
        }
    }
    // A template that cannot be read (a directory, say) is as good as missing.
    bool readFailed = std::ferror(templ) != 0;
    std::fclose(templ);
    if (readFailed) {
        Error("Could not find empty.ma in resources folder");
        abandon();
        return false;
    }
    if (!ok || std::fflush(m_file) != 0) {
        abandon();
        return false;
    }
    return true;
}

void MayaAsciiWriter::abandon() {
    m_pending.abandon();
    m_file = nullptr;
}

bool MayaAsciiWriter::publish() {
    if (m_pending.file() == nullptr) return m_file != nullptr;
    // The report is a by-product of the render: it is not forced to the
    // disk, which for a large scene would hold the render up for seconds.
    m_file = nullptr;
    if (!m_pending.commit(false)) return false;
    m_file = std::fopen(m_fileName.c_str(), "ab");
    return m_file != nullptr;
}

bool MayaAsciiWriter::close() {
    publish();
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    return true;
}

bool MayaAsciiWriter::flush() {
    if (!m_file) return false;
    std::fflush(m_file);
    return true;
}

bool MayaAsciiWriter::addTransform(const char *name, const char *parent, bool hidden,
                                   bool curveAttribute) {
    if (!addTransformBuffered(name, parent, hidden, curveAttribute)) return false;
    std::fflush(m_file);
    return true;
}

bool MayaAsciiWriter::addTransformBuffered(const char *name, const char *parent, bool hidden,
                                           bool curveAttribute) {
    if (!m_file || !name) return false;
    std::fprintf(m_file, "createNode transform -n \"%s\"", name);
    if (parent) std::fprintf(m_file, "-p \"%s\"", parent);
    std::fputs(";\n", m_file);
    if (hidden) std::fputs(kHiddenLine, m_file);
    if (curveAttribute) std::fputs(kCurveAttributeLines, m_file);
    return true;
}

bool MayaAsciiWriter::addText(const char *text, size_t size) {
    if (!m_file) return false;
    return std::fwrite(text, 1, size, m_file) == size;
}

bool MayaAsciiWriter::addRay(const Point3f &start, const Point3f &end, const char *name,
                             const char *parent) {
    // An unnamed curve needs a parent to hang under.
    if (!m_file || (!name && !parent)) return false;
    ++rayCurveCount;

    std::string curveName;
    std::string curveParent;
    if (!name) {
        curveName = formatName("%s%d", "ray", rayCurveCount);
        curveParent = parent;
    } else if (parent) {
        curveName = name;
        curveParent = parent;
    } else {
        // A named curve without a parent gets its own transform of that name.
        std::fprintf(m_file, "createNode transform -n \"%s\"", name);
        std::fputs(";\n", m_file);
        curveName = formatName("%sShape", name);
        curveParent = name;
    }

    // Both inner control points sit one unit-third along the ray, which
    // keeps the cubic a straight line from start to end.
    const Vec3f direction = vmath::normalized(end - start);
    const Point3f mid1 = start + direction * kOneThird;
    const Point3f mid2 = start + direction * kOneThird;

    std::fprintf(m_file, "createNode nurbsCurve -n \"%s\" -p \"%s\";\n", curveName.c_str(),
                 curveParent.c_str());
    std::fputs("\tsetAttr -k off \".v\";\n", m_file);
    std::fputs("\tsetAttr \".cc\" -type \"nurbsCurve\"\n", m_file);
    std::fputs("\t\t3 1 0 no 3\n\t\t6 0 0 0 1 1 1\n\t\t4\n", m_file);
    for (const Point3f &p : {start, mid1, mid2})
        std::fprintf(m_file, "\t\t%.2f %.2f %.2f\n", static_cast<double>(p.x),
                     static_cast<double>(p.y), static_cast<double>(p.z));
    std::fprintf(m_file, "\t\t%.2f %.2f %.2f\n\t\t;\n", static_cast<double>(end.x),
                 static_cast<double>(end.y), static_cast<double>(end.z));
    return true;
}

bool MayaAsciiWriter::addRayFromDirection(const Point3f &start, const Vec3f &direction,
                                          const char *name, const char *parent) {
    if (!m_file) return false;
    const Vec3f norm_dir = vmath::normalized(direction);
    const Point3f end = start + norm_dir * kDirectionRayLength;
    return addRay(start, end, name, parent);
}

bool MayaAsciiWriter::addRayFromRay(const vmath::Ray &ray, const char *name, const char *parent) {
    if (!m_file || (!name && !parent)) return false;
    const float length = ray.maxDist > kOpenRayLimit ? kOpenRayLength : ray.maxDist;
    return addRay(ray.origin, ray.origin + ray.direction * length, name, parent);
}

bool MayaAsciiWriter::addPoint(const Point3f &position, const char *name, const char *parent) {
    if (!m_file || !name) return false;
    std::fprintf(m_file, "createNode transform -n \"%s\"", name);
    if (parent) std::fprintf(m_file, "-p %s", parent);
    std::fputs(";\n", m_file);
    std::fprintf(m_file, "\tsetAttr \".t\" -type \"double3\" %f %f %f;\n",
                 static_cast<double>(position.x), static_cast<double>(position.y),
                 static_cast<double>(position.z));
    if (m_refPointCreated) {
        // Every later marker instances the one sphere shape.
        std::fprintf(m_file, "parent -s -nc -r -add \"%s\" \"%s\";\n", kRefPointShape, name);
        return true;
    }
    const std::string sphere = formatName("%sSphere", name);
    std::fprintf(m_file, "createNode mesh -n \"%s\" -p \"%s\";\n", kRefPointShape, name);
    std::fprintf(m_file, "createNode polySphere -n \"%s\";\n", sphere.c_str());
    std::fprintf(m_file, "\tconnectAttr \"%s.out\" \"%s.i\";\n", sphere.c_str(), kRefPointShape);
    std::fprintf(m_file, "\tsetAttr \"%s.radius\" %f;\n", sphere.c_str(), 0.01);
    std::fprintf(m_file, "\tsetAttr \"%s.sa\" %d;\n", sphere.c_str(), 3);
    std::fprintf(m_file, "\tsetAttr \"%s.sh\" %d;\n", sphere.c_str(), 3);
    m_refPointCreated = true;
    return true;
}

std::string primitiveDisplayName(const Primitive &p) {
    if (p.name.empty()) return formatName("primitive%d", p.id);
    return formatName("%s", p.name.c_str());
}

std::string reportGroupName(const Primitive &p) {
    const TrianglePrimitive *triangle = p.meshTriangle();
    if (triangle != nullptr && triangle->mesh != nullptr && triangle->mesh->isInstance())
        return primitiveDisplayName(*triangle->mesh);
    return primitiveDisplayName(p);
}

bool createReport(const char *path, const World &world) {
    // A report left open by an earlier render in this process is finished.
    reportWriter.close();
    if (!reportWriter.open(path)) {
        Error("Could not create report file %s", path ? path : "");
        return false;
    }
    reportWriter.addTransform("imageSamples", nullptr, false, false);
    reportWriter.addTransform("imageRays", nullptr, false, false);
    reportWriter.addTransform("bsdfSamples", nullptr, false, false);

    // One group per distinct group name, in byte order. Unnamed primitives
    // (every mesh triangle) are named "primitive<id>"; they are ordered
    // through a numeric key instead of a set of strings, which for a large
    // mesh would cost more memory than the mesh itself.
    std::set<std::string> namedGroups;
    std::vector<uint64_t> idKeys;
    idKeys.reserve(world.primitives.size());
    const MeshShape *lastInstance = nullptr;
    for (const Primitive *p : world.primitives) {
        if (p == nullptr) continue;
        // The triangles of an instance's copy, one after the other in the
        // list, are one group: the copy's.
        const TrianglePrimitive *triangle = p->meshTriangle();
        if (triangle != nullptr && triangle->mesh != nullptr && triangle->mesh->isInstance()) {
            if (triangle->mesh == lastInstance) continue;
            lastInstance = triangle->mesh;
            p = triangle->mesh;
        }
        if (p->name.empty() && p->id >= 0)
            idKeys.push_back(decimalOrderKey(static_cast<uint32_t>(p->id)));
        else
            namedGroups.insert(primitiveDisplayName(*p));
    }
    sortKeys(idKeys);
    idKeys.erase(std::unique(idKeys.begin(), idKeys.end()), idKeys.end());

    // Merge the two sorted sequences, writing a name present in both once.
    GroupBlocks groups(reportWriter);
    auto named = namedGroups.begin();
    std::string idName;
    for (const uint64_t key : idKeys) {
        idNameFromKey(key, &idName);
        for (; named != namedGroups.end() && *named < idName; ++named) groups.add(*named);
        if (named != namedGroups.end() && *named == idName) ++named;
        groups.add(idName);
    }
    for (; named != namedGroups.end(); ++named) groups.add(*named);
    groups.flush();
    reportWriter.flush();

    reportWriter.addTransform("pathRays", nullptr, false, false);
    // The report takes its place whole; what the recording functions add
    // comes after it there.
    if (!reportWriter.publish()) {
        Error("Could not create report file %s", path ? path : "");
        return false;
    }

    imageSampleCount = 0;
    imageRayCount = 0;
    bsdfDirectionCount = 0;
    pathRayCount = 0;
    for (int &count : bounceCounts) count = 0;
    return true;
}

void recordImageSample(const Point2f &) { ++imageSampleCount; }

int recordImageRay() { return ++imageRayCount; }

void recordBsdfDirection(const Point3f &start, const Vec3f &direction, const Primitive &hit) {
    ++bsdfDirectionCount;
    const std::string parent = reportGroupName(hit);
    reportWriter.addRayFromDirection(start, direction, nullptr, parent.c_str());
}

void recordPathRay(const vmath::Ray &ray, int bounce) {
    ++pathRayCount;
    // A negative bounce has no histogram entry; it is counted as a ray only.
    if (bounce >= 0) ++bounceCounts[bounce < maxReportedBounces ? bounce : maxReportedBounces];
    reportWriter.addRayFromRay(ray, nullptr, "pathRays");
}

void recordPath(const std::vector<vmath::Ray> &rays) {
    const std::string name = formatName("pathRay%d", pathCount);
    ++pathCount;
    reportWriter.addTransform(name.c_str(), "pathRays", true, true);
    for (const vmath::Ray &ray : rays) {
        reportWriter.addRayFromRay(ray, nullptr, name.c_str());
        ++pathRayCount;
    }
    reportWriter.flush();
}

void printReports() {
    std::printf("Reports:\n");
    std::printf("\tNum image samples: %d\n", imageSampleCount);
    std::printf("\tNum image rays: %d\n", imageRayCount);
    std::printf("\tNum bsdf directions: %d\n", bsdfDirectionCount);
    std::printf("\tNum path rays: %d\n", pathRayCount);
    for (int i = 0; i < maxReportedBounces; ++i)
        std::printf("\t\tbounces %d: %d\n", i, bounceCounts[i]);
    std::printf("\t\tbounces %d or more: %d\n", maxReportedBounces,
                bounceCounts[maxReportedBounces]);
}
