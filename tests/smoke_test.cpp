#include <gtest/gtest.h>

#include "vecmath.h"

TEST(VecMath, NormalizeKeepsZeroVector) {
    Vec3f z;
    EXPECT_EQ(vmath::normalized(z), Vec3f(0, 0, 0));
}
