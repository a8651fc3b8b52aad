// Shared fixture of the scene loader tests: writes scene texts into a fresh
// temporary directory and loads them with readScene, with the process-wide
// scene-file settings back at their start-up values.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "rendering/read_scene.h"
#include "parsers/scene_nodes.h"
#include "util/error.h"
#include "rendering/render.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "scene/world.h"

// A camera node that matches the empty camera selection.
inline const char kCameraNode[] = "persp_camera\n{\n}\n";

class SceneFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetSceneFileSettings();
        ASSERT_TRUE(dir_.ok());
    }

    std::string write(const std::string &text, const std::string &name = "scene.ass") {
        const std::string path = dir_.file(name);
        // Written here rather than with writeFileBytes, which hands fwrite
        // a null pointer for an empty text.
        FILE *f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f != nullptr) {
            EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
            EXPECT_EQ(std::fclose(f), 0);
        }
        return path;
    }

    // The World stays the fixture's until the test ends.
    World *load(const std::string &text, const std::string &name = "scene.ass") {
        World *world = readScene(write(text, name).c_str());
        if (world != nullptr) loaded_.emplace_back(world);
        return world;
    }

    // Loads a text that must be refused. Returns the ERROR records of the
    // load and checks that the last one names the file.
    std::vector<std::string> refuse(const std::string &text, const std::string &name = "bad.ass") {
        LogCapture log;
        const std::string path = write(text, name);
        EXPECT_EQ(readScene(path.c_str()), nullptr);
        std::vector<std::string> errors = log.errors();
        EXPECT_FALSE(errors.empty());
        if (!errors.empty()) {
            EXPECT_EQ(errors.back(), "Could not read file: " + path);
        }
        return errors;
    }

    // Error and Warning drop a message equal to the last one reported; this
    // reports a different one so that the next message is always logged.
    static void breakRepeat() {
        static int n = 0;
        Warning("scene test marker %d", ++n);
    }

    TempDir dir_;
    std::vector<std::unique_ptr<World>> loaded_;
};
