// What the tracer and the lighting read of a hit's material, the same for
// every material class.
#pragma once

#include "materials/material.h"

// The values the tracer needs from a hit's material. Every material class
// provides them: Standard its own fields, Lambert and BlinnPhong their
// diffuse and specular parts with black mirror and transmission and no
// refraction, Flat its colour unlit; a hit without material shades as the
// default grey Standard. Only Standard gives off light.
struct SurfaceTerms {
    const ColorChannel *Kd;
    const ColorChannel *Ks;
    float shininess;
    const ColorChannel *Ka;
    const ColorChannel *Kr;
    const ColorChannel *Kt;
    float refractionIndex; // 0: no refracted ray
    const ColorChannel *Ke; // light the surface gives off, added to its colour
    bool unlit = false;     // the surface shows Kd as it is, lit by nothing
};
SurfaceTerms surfaceTerms(const Material *material);
