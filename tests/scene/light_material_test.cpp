#include <gtest/gtest.h>

#include <cmath>

#include "lights/light.h"
#include "materials/material.h"
#include "shapes/primitive.h"
#include "scene/world.h"
#include "textures/image_texture.h"

TEST(PointLight, IncidentLightFallsOffWithSquaredDistance) {
    PointLight light(makeTranslate(Vec3f(1, 2, 3)), Vec3f(1.0f, 0.5f, 0.25f), 8.0f,
                     Point3f(0, 0, 0));
    EXPECT_EQ(light.worldPosition, Point3f(1, 2, 3));

    const Point3f p(1, 2, 1); // 2 below the light along z
    Vec3f wi;
    float pdf = 0.0f;
    vmath::Ray shadow;
    const Vec3f l = light.incidentLight(p, &wi, &pdf, &shadow);
    EXPECT_EQ(l, Vec3f(2.0f, 1.0f, 0.5f)); // colour x 8 / 2^2
    EXPECT_EQ(wi, Vec3f(0, 0, 1));
    EXPECT_EQ(pdf, 1.0f);
    EXPECT_EQ(shadow.origin, p);
    EXPECT_EQ(shadow.direction, wi);
    EXPECT_EQ(shadow.maxDist, 2.0f);

    // At the light itself the colour is not finite; nothing else happens.
    const Vec3f atLight = light.incidentLight(Point3f(1, 2, 3), &wi, &pdf, &shadow);
    EXPECT_FALSE(std::isfinite(atLight.x));
    EXPECT_EQ(wi, Vec3f(0, 0, 0));
    EXPECT_EQ(shadow.maxDist, 0.0f);
}

TEST(Light, WorldPositionAndTheOtherKinds) {
    AreaLight atOrigin(Transform(), Vec3f(1, 1, 1), 1.0f, Point3f(0, 0, 0));
    EXPECT_EQ(atOrigin.worldPosition, Point3f(0, 0, 0));
    // A projective matrix divides by w.
    Matrix4x4 m(1, 0, 0, 4, 0, 1, 0, 6, 0, 0, 1, 8, 0, 0, 0, 2);
    PointLight projected(Transform(m), Vec3f(1, 1, 1), 1.0f, Point3f(0, 0, 0));
    EXPECT_EQ(projected.worldPosition, Point3f(2, 3, 4));

    Vec3f wi(9, 9, 9);
    float pdf = 9.0f;
    vmath::Ray shadow;
    EXPECT_EQ(atOrigin.incidentLight(Point3f(0, 0, 5), &wi, &pdf, &shadow), Vec3f(0, 0, 0));
    AmbientLight ambient(Vec3f(1, 1, 1), 0.5f);
    EXPECT_EQ(ambient.incidentLight(Point3f(0, 0, 5), &wi, &pdf, &shadow), Vec3f(-1, -1, -1));
    EXPECT_EQ(wi, Vec3f(9, 9, 9));
    EXPECT_EQ(pdf, 9.0f);
}

TEST(ColorChannel, EvaluatesColourOrTintedTexture) {
    Raster image;
    image.width = 2;
    image.height = 1;
    image.floats = {0.5f, 0.25f, 1.0f, 1.0f, 1.0f, 1.0f};
    const ImageTexture tex(&image);

    IntersectInfo info;
    info.u = 0.25f;
    info.v = 0.5f;

    EXPECT_EQ(ColorChannel(Vec3f(0.1f, 0.2f, 0.3f)).evaluate(info), Vec3f(0.1f, 0.2f, 0.3f));
    EXPECT_EQ(ColorChannel(0.7f).evaluate(info), Vec3f(0.7f, 0.7f, 0.7f));
    EXPECT_EQ(ColorChannel(&tex, Vec3f(0.5f, 2.0f, 1.0f)).evaluate(info),
              Vec3f(0.25f, 0.5f, 1.0f));
    // Outside the image: the missing-texture colour, tinted.
    info.u = 1.5f;
    EXPECT_EQ(ColorChannel(&tex, Vec3f(1, 1, 1)).evaluate(info), kMissingTextureColor);
}

TEST(Material, ConstructorsSetNamesAndDefaults) {
    Standard standard("STD1");
    EXPECT_EQ(standard.name, "STD1");
    EXPECT_EQ(standard.kind, MaterialKind::Standard);
    EXPECT_EQ(standard.ka, 1.0f);
    EXPECT_EQ(standard.Ka.color, Vec3f(0, 0, 0));
    EXPECT_EQ(standard.Kd.texture, nullptr);
    EXPECT_EQ(standard.Kt.color, Vec3f(0, 0, 0));
    EXPECT_EQ(standard.shininess, 1.0f);
    EXPECT_EQ(standard.refractionIndex, 1.52f);

    Lambert lambert("LAMBERT1", 0.8f, ColorChannel(Vec3f(1, 0, 0)));
    EXPECT_EQ(lambert.kind, MaterialKind::Lambert);
    EXPECT_EQ(lambert.kd, 0.8f);
    EXPECT_EQ(lambert.Kd.color, Vec3f(1, 0, 0)); // not multiplied by kd
    EXPECT_EQ(lambert.ka, 1.0f);

    BlinnPhong blinn("BLINN1", 0.6f, ColorChannel(Vec3f(0.6f, 0.6f, 0.6f)), 0.3f,
                     ColorChannel(Vec3f(0, 0, 1)), 16.0f);
    EXPECT_EQ(blinn.name, "BLINN1");
    EXPECT_EQ(blinn.diffuse.name, "BLINN1_diffuse");
    EXPECT_EQ(blinn.diffuse.kd, 0.6f);
    EXPECT_EQ(blinn.ks, 0.3f);
    EXPECT_EQ(blinn.Ks.color, Vec3f(0, 0, 1));
    EXPECT_EQ(blinn.power, 16.0f);
}
