// The two sets of conventions the renderer follows. By default it reads a
// scene as the format's exporters mean it (horizontal field of view, pixel
// centres, the format's defaults, light in physical units); the classic
// conventions are those of the original subset (vertical field of view,
// pixel corners, its own defaults, the Whitted light formula), kept exactly.
#pragma once

enum class Conventions {
    Format,  // the default
    Classic, // VORTAN_CLASSIC=1 (vortan --classic)
};

// From VORTAN_CLASSIC: unset, empty or "0" is the default, "1" the classic
// conventions; any other value gets a Warning and the default.
Conventions conventionsFromEnvironment();
