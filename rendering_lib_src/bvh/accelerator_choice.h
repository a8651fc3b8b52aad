// Choice of the World's accelerator: the one place where it is picked and
// built, once a scene is loaded.
#pragma once

class World;

enum class AcceleratorKind {
    None,   // the linear search over every primitive, the reference path
    KdTree, // the kd-tree over the bound primitives (the default)
};

// The accelerator named by VORTAN_ACCEL ("none" or "kdtree"); unset or empty
// means the default. Any other value gets a Warning and the default.
AcceleratorKind acceleratorFromEnvironment();

// Builds the chosen accelerator over world.primitives and installs it. Run
// after the material binding, when the primitive list is final.
void installAccelerator(World &world, AcceleratorKind kind);
