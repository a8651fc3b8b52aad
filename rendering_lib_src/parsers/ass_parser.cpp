#include "ass_parser.h"

#include <glog/logging.h>

#include "bvh/accelerator.h"
#include "error.h"
#include "material.h"
#include "node_block.h"
#include "text_parser.h"
#include "world.h"

const char kDefaultOutputFile[] = "c:/tmp/image.tga";

namespace {

// Largest film side an image file can hold.
constexpr uint32_t kMaxResolution = 65535;

SceneFileSettings g_settings;

const char *printable(const char *path) { return path != nullptr ? path : "(null)"; }

// Lines whose first character after separators is "#" are comments between nodes.
void skipCommentLines(TextParser &parser) {
    while (!parser.eof() && parser.peekChar('#', true, false)) parser.nextLine();
}

bool resolutionUsable(uint32_t w, uint32_t h) {
    if (w == 0 || h == 0 || w > kMaxResolution || h > kMaxResolution) return false;
    // The frame buffer holds w x h x 3 floats, counted in 32 bits.
    return static_cast<uint64_t>(w) * h * 3 <= UINT32_MAX;
}

} // namespace

SceneFileSettings &sceneFileSettings() { return g_settings; }

void resetSceneFileSettings() { g_settings = SceneFileSettings(); }

void readMatrix(TextParser &parser, Transform &out) {
    float cam_mat[4][4];
    // The file lists the matrix for row vectors: read it transposed.
    for (int k = 0; k < 16; ++k) cam_mat[k % 4][k / 4] = parser.readFloat();
    out = Transform(Matrix4x4(cam_mat));
}

Vec3f readVector(TextParser &parser) {
    float x = parser.readFloat();
    float y = parser.readFloat();
    float z = parser.readFloat();
    return Vec3f(x, y, z);
}

Point3f readPoint(TextParser &parser) {
    float x = parser.readFloat();
    float y = parser.readFloat();
    float z = parser.readFloat();
    return Point3f(x, y, z);
}

Point2f readPoint2(TextParser &parser) {
    float x = parser.readFloat();
    float y = parser.readFloat();
    return Point2f(x, y);
}

bool parseNode(const std::string &keyword, TextParser &parser, World &world) {
    if (keyword == "PERSP_CAMERA") {
        parseCamera(parser, world);
    } else if (keyword == "POINT_LIGHT") {
        parsePointLight(parser, world);
    } else if (keyword == "AMBIENT_LIGHT") {
        parseAmbientLight(parser, world);
    } else if (keyword == "AREA_LIGHT") {
        parseAreaLight(parser, world);
    } else if (keyword == "POLYMESH") {
        return parseMesh(parser, world);
    } else if (keyword == "OPTIONS") {
        parseOptions(parser, world);
    } else if (keyword == "DRIVER_TIFF" || keyword == "DRIVER_EXR") {
        parseDriver(parser, world);
    } else if (keyword == "MAYASHADINGENGINE") {
        parseShadingEngine(parser, world);
    } else if (keyword == "SPHERE") {
        parseSphere(parser, world);
    } else if (keyword == "PLANE") {
        parsePlane(parser, world);
    } else if (keyword == "MAYAFILE") {
        parseFileNode(parser, world);
    } else if (!parseMaterialNode(keyword, parser, world)) {
        // Nodes of other types are skipped with their whole block.
        parser.skipBlock(false);
    }
    return true;
}

bool loadScene(const char *path, World *&world) {
    world = new World();
    TextParser parser;
    if (!parser.loadFile(path)) {
        Error("Could not find file %s", printable(path));
        return false;
    }

    std::string sToken;
    while (!parser.eof()) {
        skipCommentLines(parser);
        if (!parser.readToken(sToken, true)) {
            if (!parser.eof()) parser.readChar(); // always make progress
            continue;
        }
        if (!parseNode(sToken, parser, *world)) return false;
    }

    Camera *camera = world->getCamera();
    if (camera == nullptr) {
        Error("Couldn't find a camera reading file %s", printable(path));
        return false;
    }
    SceneFileSettings &s = g_settings;
    if (!resolutionUsable(s.xResolution, s.yResolution)) {
        Error("Invalid resolution %u x %u", s.xResolution, s.yResolution);
        return false;
    }

    const float a = static_cast<float>(s.xResolution) / static_cast<float>(s.yResolution);
    const float screenWindow[4] = {-a, a, -1.0f, 1.0f};
    const unsigned resolution[2] = {s.xResolution, s.yResolution};
    if (s.outputFile.empty()) {
        Warning("Output file not found, using c:/tmp/image.tga");
        s.outputFile = kDefaultOutputFile;
    }
    camera->setScreenWindow(screenWindow, resolution);
    camera->setOutputFileName(s.outputFile);

    world->bindMaterials();
    installAccelerator(*world, acceleratorFromEnvironment());
    return true;
}

// ---------------------------------------------------------------------------
// Scene nodes

void parseOptions(TextParser &parser, World &) {
    SceneFileSettings &s = g_settings;
    s.xResolution = 600;
    s.yResolution = 600;
    std::string value;
    readNodeBlock(parser, [&](const std::string &key) {
        if (key == "NAME") {
            parser.readToken(value, true);
        } else if (key == "AA_SAMPLES") {
            parser.readInt();
        } else if (key == "OUTPUTS") {
            std::string optionsString;
            parser.readQuoted(optionsString, false);
            // "<aov> <type> <filter> <driver>": only the driver name is used.
            TextParser optionsParser(optionsString);
            std::string rgbaOption, filterName, driver;
            if (optionsParser.readToken(rgbaOption, true) &&
                optionsParser.readToken(rgbaOption, true) &&
                optionsParser.readToken(filterName, true) && optionsParser.readToken(driver, true))
                s.selectedDriver = driver;
            INFO_LOG << "Driver selected " << s.selectedDriver;
        } else if (key == "XRES") {
            s.xResolution = static_cast<uint32_t>(parser.readInt());
            INFO_LOG << "xResolution " << s.xResolution;
        } else if (key == "YRES") {
            s.yResolution = static_cast<uint32_t>(parser.readInt());
            INFO_LOG << "yResolution " << s.yResolution;
        } else if (key == "ASPECT_RATIO") {
            parser.readFloat();
        } else if (key == "CAMERA") {
            parser.readQuoted(s.selectedCamera, false);
            INFO_LOG << "Selected camera " << s.selectedCamera;
        } else if (key == "TEXTURE_GAMMA" || key == "LIGHT_GAMMA" || key == "SHADER_GAMMA") {
            parser.readFloat();
        } else if (key == "GI_DIFFUSE_DEPTH" || key == "GI_GLOSSY_DEPTH" ||
                   key == "GI_TOTAL_DEPTH") {
            parser.readInt();
        } else if (key == "BINARY_ASS") {
            parser.readToken(value, true);
        } else {
            return false;
        }
        return true;
    });
}

void parseCamera(TextParser &parser, World &world) {
    std::string sCameraName;
    float fov = 45.0f;
    Transform cam2world;
    readNodeBlock(parser, [&](const std::string &key) {
        if (key == "NAME") {
            parser.readToken(sCameraName, false); // camera names keep their case
        } else if (key == "FOV") {
            fov = parser.readFloat();
        } else if (key == "MATRIX") {
            readMatrix(parser, cam2world);
        } else if (key == "NEAR_CLIP" || key == "FAR_CLIP") {
            parser.readFloat();
        } else {
            return false;
        }
        return true;
    });
    if (sCameraName != g_settings.selectedCamera) return;

    Camera *camera = new Camera(fov);
    // The file's cameras look along -z; camera space looks along +z.
    const Matrix4x4 refl_mat(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1);
    const Transform refl_tm(refl_mat);
    camera->setCam2World(cam2world * refl_tm);
    camera->setName(sCameraName);
    world.setCamera(camera);
}

namespace {

struct LightNode {
    std::string light_name;
    Transform light2world;
    float intensity = 10.0f;
    Vec3f light_color{1.0f, 1.0f, 1.0f};
};

// Reads the block of a light node; the ambient light has no MATRIX.
LightNode readLightNode(TextParser &parser, bool withMatrix) {
    LightNode n;
    readNodeBlock(parser, [&](const std::string &key) {
        if (key == "NAME") {
            parser.readToken(n.light_name, true);
        } else if (withMatrix && key == "MATRIX") {
            readMatrix(parser, n.light2world);
        } else if (key == "INTENSITY") {
            n.intensity = parser.readFloat();
        } else if (key == "COLOR") {
            parser.read3Floats(n.light_color.x, n.light_color.y, n.light_color.z);
        } else {
            return false;
        }
        return true;
    });
    return n;
}

} // namespace

void parsePointLight(TextParser &parser, World &world) {
    LightNode n = readLightNode(parser, true);
    const Point3f pos(0.0f, 0.0f, 0.0f);
    PointLight *light = new PointLight(n.light2world, n.light_color, n.intensity, pos);
    light->setName(n.light_name);
    world.addLight(light);
}

void parseAreaLight(TextParser &parser, World &world) {
    LightNode n = readLightNode(parser, true);
    const Point3f pos(0.0f, 0.0f, 0.0f);
    AreaLight *light = new AreaLight(n.light2world, n.light_color, n.intensity, pos);
    light->setName(n.light_name);
    world.addLight(light);
}

void parseAmbientLight(TextParser &parser, World &world) {
    LightNode n = readLightNode(parser, false);
    Light *light = new AmbientLight(n.light_color, n.intensity);
    light->setName(n.light_name);
    world.ambientLight = light;
}

void parseDriver(TextParser &parser, World &) {
    std::string driverName, outputPath;
    readNodeBlock(parser, [&](const std::string &key) {
        if (key == "NAME") {
            parser.readToken(driverName, true);
        } else if (key == "FILENAME") {
            parser.readQuoted(outputPath, false);
        } else if (key == "GAMMA") {
            parser.readFloat();
        } else {
            return false;
        }
        return true;
    });
    SceneFileSettings &s = g_settings;
    if (!s.selectedDriver.empty() && s.selectedDriver == driverName) s.outputFile = outputPath;
}

void parseShadingEngine(TextParser &parser, World &world) {
    std::string engine_name, mat_name;
    readNodeBlock(parser, [&](const std::string &key) {
        if (key == "NAME") {
            parser.readToken(engine_name, true);
        } else if (key == "BEAUTY") {
            parser.readToken(mat_name, true);
        } else {
            return false;
        }
        return true;
    });
    world.addShadingEngine(engine_name.c_str(), mat_name.c_str());
}

void parseFileNode(TextParser &parser, World &world) {
    std::string mayafile_name, filename;
    readNodeBlock(parser, [&](const std::string &key) {
        if (key == "NAME") {
            parser.readToken(mayafile_name, true);
        } else if (key == "FILENAME") {
            parser.readQuoted(filename, false);
        } else {
            return false;
        }
        return true;
    });
    // An unreadable image leaves the node without a texture; channels that
    // use it evaluate to the missing-texture colour.
    world.addTexture(filename);
    world.addFileNode(mayafile_name.c_str(), filename.c_str());
}
