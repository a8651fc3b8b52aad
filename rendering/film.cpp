#include "rendering/film.h"

#include <cmath>

PixelFilter::PixelFilter(const FilmSettings &film)
    : m_type(film.filter), m_radius(0.5f * film.filterWidth) {
    // The gaussian's deviation is half the radius.
    m_edge = std::exp(-2.0f);
    // A sample lies within half a pixel of its own pixel's centre, so it can
    // reach pixels whose centres lie less than radius + 1/2 away.
    m_reach = static_cast<int>(std::ceil(m_radius + 0.5f)) - 1;
    if (m_reach < 0) m_reach = 0;
}

float PixelFilter::weight1d(float d) const {
    if (m_type == FilmSettings::Filter::Box) {
        // Half-open, so that a sample on the edge of two pixels counts once.
        return d >= -m_radius && d < m_radius ? 1.0f : 0.0f;
    }
    if (!(std::fabs(d) < m_radius)) return 0.0f;
    const float x = d / m_radius;
    const float g = std::exp(-2.0f * x * x) - m_edge;
    return g > 0.0f ? g : 0.0f;
}
