// Marks the library's C entry points: the only symbols the shared library exports.
#pragma once

#define RENDERING_API __attribute__((visibility("default")))
