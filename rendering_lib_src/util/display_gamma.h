// The one conversion of linear float samples to 8-bit display values, shared
// by every 8-bit image writer so that they store the same bytes.
#pragma once

#include <math.h>

// Display gamma 2.3 for 8-bit output: the exponent is 1/2.3 in single precision.
constexpr float kInvDisplayGamma = 1.0f / 2.3f;

// Linear value to an 8-bit display value: gamma 1/2.3, scale, clamp,
// truncate. Every value that is not greater than 0 gives 0: negative values,
// NaN, and minus infinity too (whose power is plus infinity). The
// comparisons come first because converting NaN to an integer is undefined.
inline unsigned char toDisplayByte(float v) {
    if (!(v > 0.0f)) return 0;
    const float p = powf(v, kInvDisplayGamma);
    const float s = 255.0f * p;
    if (!(s > 0.0f)) return 0;
    if (s > 255.0f) return 255;
    return static_cast<unsigned char>(s);
}
