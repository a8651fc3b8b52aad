#include "shapes/primitive.h"

// Shapes without a box of their own answer the empty box, which leaves any
// box unchanged under union.
Bounds3f Primitive::worldBounds() const { return Bounds3f(); }

// Only triangles know their extent along an axis; everything else leaves
// lo and hi as they are.
void Primitive::axisRange(float *, float *, int) const {}
