// The pixel filter of a sampled render: how much a camera sample counts
// toward each pixel whose filter it falls in. A pixel's value is the
// filter-weighted mean of the samples around it.
#pragma once

#include "scene/world.h"

class PixelFilter {
public:
    explicit PixelFilter(const FilmSettings &film);

    // How many pixels beyond its own a sample may reach, on each side.
    int reach() const { return m_reach; }
    // The weight, along one axis, of a sample `d` pixels from a pixel's
    // centre; a sample's weight is the product of its two axes' weights.
    float weight1d(float d) const;

private:
    FilmSettings::Filter m_type;
    float m_radius;
    float m_edge; // the gaussian at the radius, taken off so that it ends at 0
    int m_reach;
};
