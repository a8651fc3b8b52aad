// Random numbers for sampled rendering, from a counter-based generator: the
// number for a pixel, a sample of it and a dimension is a hash of the three,
// so a frame is the same on any number of threads, every run, and for a
// region rendered alone. A Sampler hands out the dimensions of one camera
// sample in the order the tracer asks for them, which is the same every
// time the sample is traced.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

// The hash of a 64-bit key: the finaliser of the splitmix64 generator, a
// bijection whose output bits each depend on every input bit.
inline uint64_t mixBits(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// A number in [0, 1) for the key (pixel, sample, dimension).
inline float hashedUniform(uint64_t pixel, uint32_t sample, uint32_t dimension) {
    const uint64_t a = mixBits(pixel * 0x9e3779b97f4a7c15ULL + sample);
    const uint64_t b = mixBits(a ^ (static_cast<uint64_t>(dimension) * 0xd1b54a32d192ed03ULL));
    // The top 24 bits: every value is a float exactly, and below 1.
    return static_cast<float>(b >> 40) * (1.0f / 16777216.0f);
}

class Sampler {
public:
    Sampler(uint64_t pixel, uint32_t sample) : m_pixel(pixel), m_sample(sample) {}
    float next() { return hashedUniform(m_pixel, m_sample, m_dimension++); }

private:
    uint64_t m_pixel;
    uint32_t m_sample;
    uint32_t m_dimension = 0;
};

// False when VORTAN_SAMPLER is "random": every sample then takes plain
// random numbers instead of its cell of the stratified pattern. Only for
// measuring what the strata gain; read once.
inline bool stratifiedSampling() {
    static const bool stratified = [] {
        const char *v = std::getenv("VORTAN_SAMPLER");
        return v == nullptr || std::strcmp(v, "random") != 0;
    }();
    return stratified;
}

// Sample k of an n x n stratified pattern over the unit square, jittered
// within its cell by two numbers of the sampler.
inline void stratified(Sampler &sampler, uint32_t k, uint32_t n, float *u, float *v) {
    const float jx = sampler.next(), jy = sampler.next();
    if (!stratifiedSampling()) {
        *u = jx;
        *v = jy;
        return;
    }
    const float inv = 1.0f / static_cast<float>(n);
    *u = (static_cast<float>(k % n) + jx) * inv;
    *v = (static_cast<float>(k / n) + jy) * inv;
    // Rounding may reach 1; stay inside the cell's square.
    if (*u >= 1.0f) *u = 0.99999994f;
    if (*v >= 1.0f) *v = 0.99999994f;
}
