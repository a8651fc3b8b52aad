// The ray report: a Maya ASCII scene ("report.ma") written next to each
// render, built from a template, listing the scene's primitives as group
// nodes, with functions to record rays as straight curves.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "util/atomic_file.h"
#include "util/vecmath.h"

class Primitive;
class World;

class MayaAsciiWriter {
public:
    MayaAsciiWriter() = default;
    ~MayaAsciiWriter();
    MayaAsciiWriter(const MayaAsciiWriter &) = delete;
    MayaAsciiWriter &operator=(const MayaAsciiWriter &) = delete;

    // Starts the file and copies the template into it: "./resources/empty.ma",
    // else the one installed beside the library ("../share/vortan/empty.ma"
    // from the library's directory). The file is written beside its place
    // and takes it, whole, at publish or close; until then an earlier file
    // of that name stays, and stays for good when the report fails.
    bool open(const char *path);
    // Puts what was written so far in the file's place; what is written
    // afterwards is appended to it there.
    bool publish();
    // Publishes (when not done yet) and closes.
    bool close();
    bool isOpen() const { return m_file != nullptr; }
    // parent may be null.
    bool addTransform(const char *name, const char *parent, bool hidden, bool curveAttribute);
    // As addTransform, left in the file's buffer: for writing many at once,
    // followed by one flush.
    bool addTransformBuffered(const char *name, const char *parent, bool hidden,
                              bool curveAttribute);
    // A straight curve from start to end; parent is required when name is null.
    bool addRay(const Point3f &start, const Point3f &end, const char *name, const char *parent);
    bool addRayFromDirection(const Point3f &start, const Vec3f &direction, const char *name,
                             const char *parent);
    bool addRayFromRay(const vmath::Ray &ray, const char *name, const char *parent);
    bool addPoint(const Point3f &position, const char *name, const char *parent);
    // Writes `size` bytes of text as they are: nodes formatted by the caller.
    bool addText(const char *text, size_t size);
    bool flush();

private:
    // Drops the file being written; an earlier file of its name stays.
    void abandon();

    std::string m_fileName;
    AtomicFile m_pending; // open from open() to publish()
    FILE *m_file = nullptr;
    bool m_refPointCreated = false;
};

extern MayaAsciiWriter reportWriter;

constexpr int maxReportedBounces = 12;
extern int imageSampleCount;
extern int imageRayCount;
extern int bsdfDirectionCount;
extern int pathRayCount;
extern int bounceCounts[maxReportedBounces + 1];
extern int rayCurveCount;
extern int pathCount;

bool createReport(const char *path, const World &world);
void recordImageSample(const Point2f &samplePosition);
int recordImageRay();
void recordBsdfDirection(const Point3f &start, const Vec3f &direction, const Primitive &hit);
void recordPathRay(const vmath::Ray &ray, int bounce);
void recordPath(const std::vector<vmath::Ray> &rays);
void printReports();
// The primitive's name, or "primitive%d" with its id when the name is empty.
std::string primitiveDisplayName(const Primitive &p);
// The report group of a primitive: its display name, except for the
// triangles of a copy placed by an instance, which share one group, the
// display name of that copy. Instances can place a mesh many times over;
// a group per instanced triangle would let a small file fill a disk.
std::string reportGroupName(const Primitive &p);
