// Choice of the World's accelerator: the one place where it is picked and
// built, once a scene is loaded.
#pragma once

class World;

enum class AcceleratorKind {
    None,   // the linear search over every primitive, the reference path
    KdTree, // the kd-tree over the bound primitives
    Embree, // Embree's BVH (the default when the build has Embree)
};

// The accelerator used when VORTAN_ACCEL does not name one: Embree when the
// build has it, else the kd-tree.
AcceleratorKind defaultAccelerator();

// The accelerator named by VORTAN_ACCEL ("none", "kdtree" or "embree");
// unset or empty means the default. Any other value, and "embree" in a build
// without it, gets a Warning and the default.
AcceleratorKind acceleratorFromEnvironment();

// Builds the chosen accelerator over world.primitives and installs it. Run
// after the material binding, when the primitive list is final. Embree's
// BVH is built in the background: the accelerator's queries (and its
// waitForBuild) wait for it. When Embree cannot be started, the kd-tree
// stands in.
void installAccelerator(World &world, AcceleratorKind kind);
