// Loading a scene for rendering: the loader reads the file, then the chosen
// accelerator is built over what it read.
#pragma once

class World;

// Loads a scene file into a new World and installs the accelerator
// VORTAN_ACCEL asks for; null after reporting the cause.
World *readScene(const char *path);
