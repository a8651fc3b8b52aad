#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "materials/material.h"
#include "parsers/scene_file_test.h"
#include "shapes/primitive.h"

namespace {

class ShaderNodes : public SceneFileTest {
protected:
    // Loads a scene of a camera and the given nodes; the materials in file order.
    std::vector<Material *> materials(const std::string &nodes) {
        World *world = load(std::string(kCameraNode) + nodes);
        EXPECT_NE(world, nullptr);
        if (world == nullptr) return {};
        world_ = world;
        return world->materials;
    }
    World *world_ = nullptr;
};

const Standard *asStandard(const Material *m) {
    return m != nullptr && m->kind == MaterialKind::Standard ? static_cast<const Standard *>(m)
                                                              : nullptr;
}

const Vec3f kGrey(0.5f, 0.5f, 0.5f);
const Vec3f kBlack(0.0f, 0.0f, 0.0f);

} // namespace

TEST_F(ShaderNodes, StandardDefaults) {
    const std::vector<Material *> m = materials("aiStandard\n{\n name plain\n}\n");
    ASSERT_EQ(m.size(), 1u);
    const Standard *s = asStandard(m[0]);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->name, "PLAIN");
    EXPECT_EQ(s->Kd.color, kGrey);
    EXPECT_EQ(s->Kd.texture, nullptr);
    EXPECT_EQ(s->Ks.color, kBlack);
    EXPECT_EQ(s->Kr.color, kBlack);
    EXPECT_EQ(s->Kt.color, kBlack);
    EXPECT_EQ(s->Ka.color, kGrey);
    EXPECT_EQ(s->ka, 1.0f);
    EXPECT_EQ(s->shininess, 20.0f);
    EXPECT_EQ(s->refractionIndex, 1.52f);
}

TEST_F(ShaderNodes, StandardScalesColoursLambertDoesNot) {
    const std::vector<Material *> m =
        materials("aiStandard\n{\n name a\n Kd 0.8\n Kd_color 1 0 0\n}\n"
                  "lambert\n{\n name l\n Kd 0.8\n Kd_color 1 0 0\n}\n"
                  "AISTANDARD\n{\n name late\n KD_COLOR 1 0 0\n KD 0.8\n}\n"
                  "aistandard\n{\n name all\n ka 0.3\n ka_color 0.2 0.2 0.2\n ks 0.5\n"
                  " ks_color 1 1 1\n kr 0.25\n kr_color 1 1 0\n kt 2\n kt_color 0 0.5 0\n"
                  " kshi 64\n power 3\n}\n");
    ASSERT_EQ(m.size(), 4u);
    const Standard *a = asStandard(m[0]);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Kd.color, Vec3f(0.8f, 0.0f, 0.0f));

    ASSERT_EQ(m[1]->kind, MaterialKind::Lambert);
    const auto *l = static_cast<const Lambert *>(m[1]);
    EXPECT_EQ(l->Kd.color, Vec3f(1.0f, 0.0f, 0.0f));
    EXPECT_EQ(l->kd, 0.8f);

    // KD after KD_COLOR: the channels are built after the block.
    EXPECT_EQ(asStandard(m[2])->Kd.color, Vec3f(0.8f, 0.0f, 0.0f));

    const Standard *all = asStandard(m[3]);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->ka, 0.3f);
    EXPECT_EQ(all->Ka.color, Vec3f(0.2f, 0.2f, 0.2f)); // not scaled by ka
    EXPECT_EQ(all->Ks.color, Vec3f(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(all->Kr.color, Vec3f(0.25f, 0.25f, 0.0f));
    EXPECT_EQ(all->Kt.color, Vec3f(0.0f, 1.0f, 0.0f));
    EXPECT_EQ(all->shininess, 64.0f);
}

TEST_F(ShaderNodes, TextureChannelsStickAndAreTintedByTheCoefficient) {
    // A 1 x 1 true-colour TGA holding magenta (bytes blue, green, red).
    const std::vector<unsigned char> tga = {0, 0, 2, 0, 0, 0, 0, 0, 0,   0,   0,
                                            0, 1, 0, 1, 0, 24, 0, 255, 0, 255};
    ASSERT_TRUE(writeFileBytes(dir_.file("tex.tga"), tga));
    const std::vector<Material *> m = materials(
        "mayafile\n{\n name file1\n filename \"" + dir_.file("tex.tga") + "\"\n}\n"
        "aiStandard\n{\n name t\n Kd 0.5\n Kd_color file1\n Kd_color 1 1 1\n Ka_color file1\n"
        " Ks_color nothere\n}\n"
        "lambert\n{\n name l\n Kd_color file1\n kd 0.25\n}\n"
        "aiStandard\n{\n name dots\n Kd_color .5 .5 .5\n Kr_color -1 0 0\n}\n");
    ASSERT_EQ(m.size(), 3u);

    IntersectInfo hit;
    hit.u = 0.0f;
    hit.v = 0.0f;

    const Standard *t = asStandard(m[0]);
    ASSERT_NE(t, nullptr);
    // Numbers after a texture name do not turn the channel back into a colour.
    EXPECT_NE(t->Kd.texture, nullptr);
    EXPECT_EQ(t->Kd.color, kGrey);
    EXPECT_EQ(t->Kd.evaluate(hit), Vec3f(0.5f, 0.0f, 0.5f));
    EXPECT_NE(t->Ka.texture, nullptr);
    EXPECT_EQ(t->Ka.color, Vec3f(1.0f, 1.0f, 1.0f));
    // A name that is no image file node takes the parameter's default (Ks
    // 1 x black).
    EXPECT_EQ(t->Ks.texture, nullptr);
    EXPECT_EQ(t->Ks.evaluate(hit), Vec3f(0.0f, 0.0f, 0.0f));

    ASSERT_EQ(m[1]->kind, MaterialKind::Lambert);
    const auto *l = static_cast<const Lambert *>(m[1]);
    EXPECT_NE(l->Kd.texture, nullptr);
    EXPECT_EQ(l->Kd.evaluate(hit), Vec3f(0.25f, 0.0f, 0.25f));

    // A value that does not start with a digit is a node name; naming no
    // image it gives the default, with a warning.
    const Standard *dots = asStandard(m[2]);
    ASSERT_NE(dots, nullptr);
    EXPECT_EQ(dots->Kd.texture, nullptr);
    EXPECT_EQ(dots->Kd.evaluate(hit), Vec3f(0.5f, 0.5f, 0.5f));
    EXPECT_EQ(dots->Kr.texture, nullptr);
    EXPECT_EQ(dots->Kr.evaluate(hit), Vec3f(0.0f, 0.0f, 0.0f));
}

TEST_F(ShaderNodes, BlinnAndLambertTables) {
    const std::vector<Material *> m =
        materials("blinn\n{\n name blinn1\n}\n"
                  "Blinn\n{\n name b2\n kd 0.5\n kd_color 0 1 0\n ks 0.25\n ks_color 1 1 1\n"
                  " power 4\n ka 0.1\n ka_color 1 1 1\n kshi 99\n}\n"
                  "lambert\n{\n name l\n ka 0.1\n ka_color 1 1 1\n ks 0.5\n}\n");
    ASSERT_EQ(m.size(), 3u);
    ASSERT_EQ(m[0]->kind, MaterialKind::BlinnPhong);
    const auto *b1 = static_cast<const BlinnPhong *>(m[0]);
    EXPECT_EQ(b1->name, "BLINN1");
    EXPECT_EQ(b1->power, 16.0f);
    EXPECT_EQ(b1->diffuse.name, "BLINN1_diffuse");
    EXPECT_EQ(b1->diffuse.kd, 1.0f);
    EXPECT_EQ(b1->diffuse.Kd.color, kGrey);
    EXPECT_EQ(b1->ks, 1.0f);
    EXPECT_EQ(b1->Ks.color, kBlack);

    const auto *b2 = static_cast<const BlinnPhong *>(m[1]);
    EXPECT_EQ(b2->power, 4.0f);
    EXPECT_EQ(b2->diffuse.kd, 0.5f);
    EXPECT_EQ(b2->diffuse.Kd.color, Vec3f(0.0f, 1.0f, 0.0f)); // not scaled
    EXPECT_EQ(b2->ks, 0.25f);
    EXPECT_EQ(b2->Ks.color, Vec3f(1.0f, 1.0f, 1.0f));
    // Ambient values are read but do not reach these materials.
    EXPECT_EQ(b2->ka, 1.0f);
    EXPECT_EQ(b2->Ka.color, kBlack);

    ASSERT_EQ(m[2]->kind, MaterialKind::Lambert);
    const auto *l = static_cast<const Lambert *>(m[2]);
    EXPECT_EQ(l->kd, 1.0f);
    EXPECT_EQ(l->Kd.color, kGrey);
    EXPECT_EQ(l->ka, 1.0f);
    EXPECT_EQ(l->Ka.color, kBlack);
}

TEST_F(ShaderNodes, SameNameKeepsBothAndBindsTheFirst) {
    World *world = load(std::string(kCameraNode) +
                        "lambert\n{\n name dup\n kd 0.1\n}\n"
                        "lambert\n{\n name DUP\n kd 0.2\n}\n"
                        "mayaShadingEngine\n{\n name sg\n beauty Dup\n}\n"
                        "sphere\n{\n shader \"sg\"\n}\n");
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->materials.size(), 2u);
    EXPECT_EQ(world->primitives[0]->getMaterial(), world->materials[0]);
}
