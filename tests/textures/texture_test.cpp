#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "textures/image_texture.h"
#include "textures/pattern_textures.h"

namespace {

// A grey image one texel high, 8-bit, stored as given.
Raster greyRow(const std::vector<uint8_t> &values) {
    Raster r;
    r.width = static_cast<int>(values.size());
    r.height = 1;
    for (uint8_t v : values) r.bytes.insert(r.bytes.end(), {v, v, v});
    return r;
}

Vec3f grey(float v) { return Vec3f(v, v, v); }
Vec3f byteGrey(int b) { return grey(static_cast<float>(b) / 255.0f); }

void expectNear(const Vec3f &a, const Vec3f &b, const std::string &what) {
    EXPECT_NEAR(a.x, b.x, 1e-6f) << what;
    EXPECT_NEAR(a.y, b.y, 1e-6f) << what;
    EXPECT_NEAR(a.z, b.z, 1e-6f) << what;
}

} // namespace

// Texels 10, 20, 30, 40 across; nearest-texel lookups a quarter of the
// image before its start and after its end.
TEST(ImageTexture, WrapModesBeyondTheImage) {
    Raster image = greyRow({10, 20, 30, 40});
    image.wrapModes = "clamp,black";
    const Vec3f missing(0.25f, 0.5f, 0.75f);
    struct Case {
        WrapMode mode;
        Vec3f before, after; // at u = -0.25 and u = 1.25
    } cases[] = {
        {WrapMode::Periodic, byteGrey(40), byteGrey(20)},
        {WrapMode::Mirror, byteGrey(20), byteGrey(40)},
        {WrapMode::Clamp, byteGrey(10), byteGrey(40)},
        {WrapMode::Black, grey(0), grey(0)},
        {WrapMode::Missing, missing, missing},
        {WrapMode::File, byteGrey(10), byteGrey(40)}, // the file says clamp
    };
    for (const Case &c : cases) {
        ImageMapping mapping;
        mapping.filter = TextureFilter::Closest;
        mapping.swrap = c.mode;
        mapping.missingColor = missing;
        const ImageTexture tex(&image, mapping);
        const std::string what = "mode " + std::to_string(static_cast<int>(c.mode));
        EXPECT_EQ(tex.sample(-0.25f, 0.5f), c.before) << what;
        EXPECT_EQ(tex.sample(1.25f, 0.5f), c.after) << what;
        EXPECT_EQ(tex.sample(0.6f, 0.5f), byteGrey(30)) << what; // inside: the texel
    }
    // t wraps on its own: the file's second word (black) above the image.
    ImageMapping mapping;
    mapping.filter = TextureFilter::Closest;
    mapping.twrap = WrapMode::File;
    EXPECT_EQ(ImageTexture(&image, mapping).sample(0.1f, 1.5f), grey(0));
    EXPECT_EQ(ImageTexture(&image, mapping).sample(0.1f, 0.5f), byteGrey(10));
}

// Bilinear weights between texel centres, across the periodic seam too;
// scale, offset and flip move the coordinates before the lookup; sRGB bytes
// are decoded on the standard curve.
TEST(ImageTexture, FilteringMappingAndDecoding) {
    const Raster image = greyRow({0, 255});
    const ImageTexture bilinear(&image, ImageMapping());
    expectNear(bilinear.sample(0.25f, 0.5f), grey(0.0f), "centre of texel 0");
    expectNear(bilinear.sample(0.5f, 0.5f), grey(0.5f), "between the texels");
    expectNear(bilinear.sample(0.375f, 0.5f), grey(0.25f), "a quarter of the way");
    expectNear(bilinear.sample(0.0f, 0.5f), grey(0.5f), "the seam mixes the two edges");

    const Raster row = greyRow({10, 20, 30, 40});
    ImageMapping scaled;
    scaled.filter = TextureFilter::Closest;
    scaled.sscale = 2.0f;
    EXPECT_EQ(ImageTexture(&row, scaled).sample(0.3f, 0.5f), byteGrey(30));
    scaled.soffset = 0.25f;
    EXPECT_EQ(ImageTexture(&row, scaled).sample(0.3f, 0.5f), byteGrey(40));
    ImageMapping flipped;
    flipped.filter = TextureFilter::Closest;
    flipped.sflip = true;
    EXPECT_EQ(ImageTexture(&row, flipped).sample(0.1f, 0.5f), byteGrey(40));

    const Raster mid = greyRow({128});
    ImageMapping srgb;
    srgb.srgb = true;
    expectNear(ImageTexture(&mid, srgb).sample(0.5f, 0.5f), grey(0.2158605f), "sRGB 128");
    expectNear(ImageTexture(&mid, ImageMapping()).sample(0.5f, 0.5f), byteGrey(128), "as stored");
    // Coordinates that are no numbers find no texel.
    EXPECT_EQ(bilinear.sample(NAN, 0.5f), kMissingTextureColor);
}

TEST(PatternTextures, ValuesAtKnownCoordinates) {
    CheckerboardTexture checker;
    checker.color1 = Vec3f(1, 0, 0);
    checker.color2 = Vec3f(0, 0, 1);
    checker.uFrequency = 2.0f;
    checker.vFrequency = 4.0f;
    const struct {
        float u, v;
        bool first;
    } squares[] = {{0.1f, 0.1f, true},  {0.6f, 0.1f, false}, {0.6f, 0.3f, true},
                   {0.1f, 0.3f, false}, {-0.1f, 0.1f, false}, {-0.1f, -0.1f, true}};
    for (const auto &s : squares)
        EXPECT_EQ(checker.sample(s.u, s.v), s.first ? checker.color1 : checker.color2)
            << s.u << ", " << s.v;

    const Vec3f red(1, 0, 0), green(0, 1, 0), blue(0, 0, 1);
    // Written out of order: the ramp sorts its keys.
    const std::vector<RampKey> keys = {{1.0f, blue, RampInterpolation::Linear},
                                       {0.0f, red, RampInterpolation::Linear},
                                       {0.5f, green, RampInterpolation::Linear}};
    const Vec3f quarter(0.5f, 0.5f, 0.0f), threeQuarters(0.0f, 0.5f, 0.5f);
    const struct {
        RampType type;
        float u, v;
        Vec3f expected;
    } ramps[] = {
        {RampType::U, 0.25f, 0.9f, quarter},       {RampType::V, 0.9f, 0.75f, threeQuarters},
        {RampType::Diagonal, 0.1f, 0.4f, quarter}, {RampType::Radial, 0.5f, 0.9f, quarter},
        {RampType::Radial, 0.9f, 0.5f, red},       {RampType::Circular, 0.5f, 0.375f, quarter},
        {RampType::Box, 0.625f, 0.55f, quarter},   {RampType::Box, 0.0f, 0.5f, blue},
        {RampType::U, -3.0f, 0.0f, red},           {RampType::U, 7.0f, 0.0f, blue},
    };
    for (const auto &r : ramps) {
        const RampTexture ramp(r.type, keys);
        expectNear(ramp.sample(r.u, r.v), r.expected,
                   "type " + std::to_string(static_cast<int>(r.type)) + " at " +
                       std::to_string(r.u) + ", " + std::to_string(r.v));
    }
    // The interpolation of a key shapes the way to the next one.
    const RampTexture steps(RampType::U, {{0.0f, red, RampInterpolation::None}, {1.0f, blue}});
    EXPECT_EQ(steps.sample(0.9f, 0.0f), red);
    const RampTexture eased(RampType::U, {{0.0f, red, RampInterpolation::Smooth}, {1.0f, blue}});
    expectNear(eased.sample(0.25f, 0.0f), Vec3f(0.84375f, 0.0f, 0.15625f), "smoothstep");
    EXPECT_EQ(RampTexture(RampType::U, {}).sample(0.5f, 0.5f), Vec3f());
}
