// The render entry of the library and the pieces it drives.
#pragma once

#include "util/api.h"

class World;

// Renders a scene file. On success *rgb receives the width x height x 3
// float frame (row 0 at the top), *extraPlane a second per-pixel buffer and
// *world the scene; on a failed load *world is null and the other two slots
// are left as they were, and a film that cannot be had gives *world the
// scene but leaves the buffer slots as they were. The caller owns what it received: the buffers are
// new[] arrays (delete[]), and the World frees everything in it when
// deleted (its destructor is virtual, so a caller that loads the library at
// run time can delete it too). Anything the caller passes no slot for is
// freed before the call returns.
extern "C" RENDERING_API void renderSceneFromFile(float **rgb, float **extraPlane, World **world,
                                                  const char *sceneFile);
