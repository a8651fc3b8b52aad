#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "util/error.h"
#include "shapes/mesh.h"
#include "rendering/report.h"
#include "shapes/sphere.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "scene/world.h"

namespace {

// A template with a NUL, a 0xff and a CR in it: the report must copy it byte for byte.
const char kTemplateBytes[] = "//Maya ASCII test scene\n\0\xff\r\nrequires maya;\n";
const std::string kTemplate(kTemplateBytes, sizeof kTemplateBytes - 1);

const char *kGroups = "createNode transform -n \"imageSamples\";\n"
                      "createNode transform -n \"imageRays\";\n"
                      "createNode transform -n \"bsdfSamples\";\n";
const char *kPathRays = "createNode transform -n \"pathRays\";\n";

std::string block(const std::string &name) {
    return "createNode transform -n \"" + name + "\"-p \"bsdfSamples\";\n\tsetAttr \".v\" no;\n"
           "\taddAttr -ci true -sn \"riCurves\" -ln \"riCurves\" -min 0 -max 1 -at \"bool\";\n"
           "\tsetAttr \".riCurves\" yes;\n";
}

std::string readText(const std::string &path) {
    std::vector<unsigned char> bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::unique_ptr<SpherePrimitive> sphere(const std::string &name) {
    auto s = std::make_unique<SpherePrimitive>(Transform(), nullptr, Point3f(0, 0, 0), 1.0f);
    s->name = name;
    return s;
}

// A mesh of n separate triangles; its triangles have no names.
std::unique_ptr<MeshShape> triangles(int n) {
    std::vector<Point3f> vertices;
    std::vector<int> indices;
    for (int i = 0; i < n; ++i) {
        vertices.insert(vertices.end(), {Point3f(0, 0, 0), Point3f(1, 0, 0), Point3f(0, 1, 0)});
        indices.insert(indices.end(), {3 * i, 3 * i + 1, 3 * i + 2});
    }
    auto m = std::make_unique<MeshShape>(Transform(), nullptr);
    m->setData(n, 3 * n, indices.data(), vertices.data(), 0, indices.data(), nullptr, nullptr, 0,
               nullptr);
    m->name = "plane";
    return m;
}

// Runs each test in a fresh directory holding resources/empty.ma.
class Report : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        std::filesystem::create_directory(dir.file("resources"));
        ASSERT_TRUE(writeFileBytes(dir.file("resources/empty.ma"),
                                   std::vector<unsigned char>(kTemplate.begin(), kTemplate.end())));
        cwd = std::make_unique<ScopedChdir>(dir.path());
        ASSERT_TRUE(cwd->ok());
        // Error drops a repeat of the last message: start from a fresh one.
        Error("report test in %s", dir.path().c_str());
    }
    void TearDown() override {
        reportWriter.close();
        cwd.reset();
    }
    // What the report holds after the template, for a curve-free report.
    std::string body(const std::string &path) { return readText(path).substr(kTemplate.size()); }

    TempDir dir;
    std::unique_ptr<ScopedChdir> cwd;
};

TEST_F(Report, ListsDistinctPrimitiveNamesInByteOrder) {
    World world;
    world.addMesh(triangles(10));       // mesh 0, triangles 1..10
    world.addPrimitive(sphere("b"));    // 11
    world.addPrimitive(sphere("a"));    // 12
    world.addPrimitive(sphere("b"));    // a repeated name gives one block
    world.finishShapes();

    ASSERT_TRUE(createReport("report.ma", world));
    // Everything is on disk while the report is still open.
    std::string expected = kTemplate + kGroups;
    for (const char *name : {"a", "b", "primitive1", "primitive10", "primitive2", "primitive3",
                             "primitive4", "primitive5", "primitive6", "primitive7",
                             "primitive8", "primitive9"})
        expected += block(name);
    expected += kPathRays;
    EXPECT_EQ(readText("report.ma"), expected);

    // A second render in the same process writes a complete second report.
    World single;
    single.addPrimitive(sphere("only"));
    ASSERT_TRUE(createReport("second.ma", single));
    EXPECT_EQ(readText("second.ma"), kTemplate + kGroups + block("only") + kPathRays);
    EXPECT_EQ(readText("report.ma"), expected);
}

TEST_F(Report, InstancedCopiesAreOneGroupEach) {
    // A mesh placed by instances many times over must not fill the report
    // with a group per placed triangle: each copy is one group, named as
    // the copy (or by its own id), and its recorded rays hang under it.
    World world;
    MeshShape *prototype = world.addMesh(triangles(3)); // mesh 0, triangles 1..3
    MeshShape *last = nullptr;
    for (const char *name : {"copyB", "copyA", ""}) { // meshes 4, 8 and 12
        auto copy = std::make_unique<MeshShape>(Transform(), nullptr, *prototype);
        copy->name = name;
        last = world.addMesh(std::move(copy));
    }
    world.finishShapes();

    ASSERT_TRUE(createReport("report.ma", world));
    std::string expected = kGroups;
    for (const char *name : {"copyA", "copyB", "primitive1", "primitive12", "primitive2",
                             "primitive3"})
        expected += block(name);
    EXPECT_EQ(body("report.ma"), expected + kPathRays);

    const Primitive *placed = world.primitives.back();
    ASSERT_EQ(placed->meshTriangle()->mesh, last);
    recordBsdfDirection(Point3f(0, 0, 0), Vec3f(0, 0, 1), *placed);
    reportWriter.close();
    EXPECT_NE(readText("report.ma").find("-p \"primitive12\";"), std::string::npos);
}

TEST_F(Report, MissingTemplateLeavesThePreviousReport) {
    ASSERT_TRUE(writeFileBytes("report.ma", {'o', 'l', 'd'}));
    // Absent, or a FIFO that nothing writes to (which must not block).
    for (bool fifo : {false, true}) {
        std::filesystem::remove(dir.file("resources/empty.ma"));
        if (fifo) {
            ASSERT_EQ(mkfifo(dir.file("resources/empty.ma").c_str(), 0600), 0);
        }
        World world;
        LogCapture log;
        EXPECT_FALSE(createReport("report.ma", world));
        EXPECT_EQ(log.errors(),
                  (std::vector<std::string>{"Could not find empty.ma in resources folder",
                                            "Could not create report file report.ma"}));
        EXPECT_EQ(readText("report.ma"), "old");
        EXPECT_FALSE(reportWriter.isOpen());
        Warning("report test marker %d", fifo); // the same errors are logged again
    }
}

TEST_F(Report, UncreatableFileFails) {
    World world;
    LogCapture log;
    EXPECT_FALSE(createReport("missing-dir/report.ma", world));
    EXPECT_EQ(log.errors(),
              std::vector<std::string>{"Could not create report file missing-dir/report.ma"});
}

TEST_F(Report, LongNamesAreCutToTheNameBuffer) {
    const std::string longName(5000, 'x');
    World world;
    world.addPrimitive(sphere(longName));
    ASSERT_TRUE(createReport("report.ma", world));
    EXPECT_EQ(body("report.ma"), kGroups + block(std::string(1023, 'x')) + kPathRays);

    // A curve name built from a long name is cut the same way.
    ASSERT_TRUE(reportWriter.addRay(Point3f(0, 0, 0), Point3f(1, 0, 0), longName.c_str(), nullptr));
    reportWriter.close();
    const std::string text = readText("report.ma");
    EXPECT_NE(text.find("createNode transform -n \"" + longName + "\";\n"), std::string::npos);
    EXPECT_NE(text.find("nurbsCurve -n \"" + std::string(1023, 'x') + "\" -p \"" + longName),
              std::string::npos);
}

TEST_F(Report, PrintReportsAfterCreateShowsZeros) {
    World world;
    recordImageSample(Point2f(0, 0));
    recordPathRay(vmath::Ray(), 3);
    ASSERT_TRUE(createReport("report.ma", world));
    testing::internal::CaptureStdout();
    printReports();
    std::string expected = "Reports:\n\tNum image samples: 0\n\tNum image rays: 0\n"
                           "\tNum bsdf directions: 0\n\tNum path rays: 0\n";
    for (int i = 0; i < 12; ++i) expected += "\t\tbounces " + std::to_string(i) + ": 0\n";
    expected += "\t\tbounces 12 or more: 0\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

TEST_F(Report, RecordingFunctionsCountAndDraw) {
    World world;
    SpherePrimitive *s = world.addPrimitive(sphere("")); // id 0, no name
    ASSERT_TRUE(createReport("report.ma", world));
    rayCurveCount = 0;
    EXPECT_EQ(recordImageRay(), 1);
    EXPECT_EQ(recordImageRay(), 2);
    recordPathRay(vmath::Ray(Point3f(0, 0, 0), Vec3f(1, 0, 0)), 20);
    recordPathRay(vmath::Ray(Point3f(0, 0, 0), Vec3f(1, 0, 0)), -1);
    recordBsdfDirection(Point3f(1, 1, 1), Vec3f(0, 0, -10), *s);
    pathCount = 4;
    recordPath({vmath::Ray(Point3f(0, 0, 0), Vec3f(0, 2, 0), 7.0f)});

    EXPECT_EQ(pathRayCount, 3);
    EXPECT_EQ(bounceCounts[12], 1);
    EXPECT_EQ(bsdfDirectionCount, 1);
    const std::string text = readText("report.ma");
    EXPECT_NE(text.find("\"ray1\" -p \"pathRays\""), std::string::npos);
    // Five units along the normalised direction, under the primitive's group.
    EXPECT_NE(text.find("\"ray3\" -p \"primitive0\";"), std::string::npos);
    EXPECT_NE(text.find("\t\t1.00 1.00 -4.00\n\t\t;\n"), std::string::npos);
    // The path's transform, then its ray, as long as its maximum distance.
    EXPECT_NE(text.find("createNode transform -n \"pathRay4\"-p \"pathRays\";\n\tsetAttr"),
              std::string::npos);
    EXPECT_NE(text.find("\"ray4\" -p \"pathRay4\";"), std::string::npos);
    EXPECT_NE(text.find("\t\t0.00 0.33 0.00\n\t\t0.00 0.33 0.00\n\t\t0.00 14.00 0.00\n\t\t;\n"),
              std::string::npos);
}

TEST_F(Report, CurvesAreNumberedOnEveryCall) {
    MayaAsciiWriter writer;
    ASSERT_TRUE(writer.open("rays.ma"));
    rayCurveCount = 0;
    EXPECT_TRUE(writer.addRay(Point3f(0, 0, 0), Point3f(3, 0, 0), nullptr, "pathRays"));
    EXPECT_TRUE(writer.addRay(Point3f(0, 0, 0), Point3f(0, 1, 0), "named", "pathRays"));
    EXPECT_TRUE(writer.addRay(Point3f(0, 0, 0), Point3f(0, 1, 0), nullptr, "pathRays"));
    EXPECT_TRUE(writer.addRay(Point3f(0, 0, 0), Point3f(0, 1, 0), "solo", nullptr));
    EXPECT_FALSE(writer.addRay(Point3f(0, 0, 0), Point3f(0, 1, 0), nullptr, nullptr));
    EXPECT_EQ(rayCurveCount, 4);
    writer.close();

    const std::string header = "\tsetAttr -k off \".v\";\n\tsetAttr \".cc\" -type \"nurbsCurve\"\n"
                               "\t\t3 1 0 no 3\n\t\t6 0 0 0 1 1 1\n\t\t4\n";
    const std::string up = "\t\t0.00 0.00 0.00\n\t\t0.00 0.33 0.00\n\t\t0.00 0.33 0.00\n"
                           "\t\t0.00 1.00 0.00\n\t\t;\n";
    EXPECT_EQ(body("rays.ma"),
              "createNode nurbsCurve -n \"ray1\" -p \"pathRays\";\n" + header +
                  "\t\t0.00 0.00 0.00\n\t\t0.33 0.00 0.00\n\t\t0.33 0.00 0.00\n"
                  "\t\t3.00 0.00 0.00\n\t\t;\n" +
                  "createNode nurbsCurve -n \"named\" -p \"pathRays\";\n" + header + up +
                  "createNode nurbsCurve -n \"ray3\" -p \"pathRays\";\n" + header + up +
                  "createNode transform -n \"solo\";\n"
                  "createNode nurbsCurve -n \"soloShape\" -p \"solo\";\n" + header + up);
}

TEST_F(Report, RayLengthFromMaximumDistance) {
    MayaAsciiWriter writer;
    ASSERT_TRUE(writer.open("rays.ma"));
    // No real end: drawn 30 units along the direction as stored.
    EXPECT_TRUE(writer.addRayFromRay(vmath::Ray(Point3f(1, 2, 3), Vec3f(0, 0, 2)), "r", "g"));
    EXPECT_FALSE(writer.addRayFromRay(vmath::Ray(), nullptr, nullptr));
    writer.close();
    EXPECT_NE(readText("rays.ma").find("\t\t1.00 2.00 3.33\n\t\t1.00 2.00 63.00\n\t\t;\n"),
              std::string::npos);
}

TEST_F(Report, PointMarkersShareOneShape) {
    MayaAsciiWriter writer;
    ASSERT_TRUE(writer.open("points.ma"));
    EXPECT_TRUE(writer.addPoint(Point3f(1, 2, 3), "p1", "grp"));
    EXPECT_TRUE(writer.addPoint(Point3f(0.5f, 0, 0), "p2", nullptr));
    writer.close();
    EXPECT_EQ(body("points.ma"),
              "createNode transform -n \"p1\"-p grp;\n"
              "\tsetAttr \".t\" -type \"double3\" 1.000000 2.000000 3.000000;\n"
              "createNode mesh -n \"refPointShape\" -p \"p1\";\n"
              "createNode polySphere -n \"p1Sphere\";\n"
              "\tconnectAttr \"p1Sphere.out\" \"refPointShape.i\";\n"
              "\tsetAttr \"p1Sphere.radius\" 0.010000;\n"
              "\tsetAttr \"p1Sphere.sa\" 3;\n\tsetAttr \"p1Sphere.sh\" 3;\n"
              "createNode transform -n \"p2\";\n"
              "\tsetAttr \".t\" -type \"double3\" 0.500000 0.000000 0.000000;\n"
              "parent -s -nc -r -add \"refPointShape\" \"p2\";\n");

    // A new file gets its own marker shape.
    ASSERT_TRUE(writer.open("points2.ma"));
    EXPECT_TRUE(writer.addPoint(Point3f(0, 0, 0), "q", nullptr));
    writer.close();
    EXPECT_NE(body("points2.ma").find("createNode mesh -n \"refPointShape\" -p \"q\";"),
              std::string::npos);
}

TEST_F(Report, ClosedWriterWritesNothing) {
    MayaAsciiWriter writer;
    EXPECT_FALSE(writer.addTransform("t", nullptr, false, false));
    ASSERT_TRUE(writer.open("closed.ma"));
    ASSERT_TRUE(writer.open("reopened.ma")); // lets go of closed.ma
    EXPECT_TRUE(writer.close());
    EXPECT_TRUE(writer.close());
    EXPECT_FALSE(writer.addTransform("t", "p", true, true));
    EXPECT_FALSE(writer.addRay(Point3f(), Point3f(1, 0, 0), "n", "p"));
    EXPECT_FALSE(writer.addRayFromDirection(Point3f(), Vec3f(1, 0, 0), "n", "p"));
    EXPECT_FALSE(writer.addRayFromRay(vmath::Ray(), "n", "p"));
    EXPECT_FALSE(writer.addPoint(Point3f(), "n", "p"));
    EXPECT_FALSE(writer.flush());
    EXPECT_EQ(readText("closed.ma"), kTemplate);
    EXPECT_EQ(readText("reopened.ma"), kTemplate);
}

} // namespace
