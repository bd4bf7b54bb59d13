#include "torqa_magnet.h"

#include <cmath>

namespace kvsim::torqa {

namespace {

std::uint64_t splitmix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double unit_interval(std::uint64_t bits) { return (static_cast<double>(bits >> 11) + 0.5) / 9007199254740992.0; }

}  // namespace

Magnet::Magnet() {
    // Box-Muller pairs from a fixed generator, then normalised to mean 0 and deviation 1 so
    // that "noise_deg" is the deviation the samples really show.
    const double two_pi = 6.283185307179586;
    std::uint64_t state = 0x5EED;
    double sum = 0.0;
    for (std::size_t i = 0; i < kNoiseTableSize; i += 2) {
        double radius = std::sqrt(-2.0 * std::log(unit_interval(state = splitmix64(state))));
        double phase = two_pi * unit_interval(state = splitmix64(state));
        gauss_[i] = static_cast<float>(radius * std::cos(phase));
        gauss_[i + 1] = static_cast<float>(radius * std::sin(phase));
        sum += gauss_[i] + gauss_[i + 1];
    }
    double mean = sum / kNoiseTableSize, squares = 0.0;
    for (float &g : gauss_) {
        g = static_cast<float>(g - mean);
        squares += static_cast<double>(g) * g;
    }
    double deviation = std::sqrt(squares / kNoiseTableSize);
    for (float &g : gauss_) g = static_cast<float>(g / deviation);
}

double Magnet::true_angle(std::uint64_t k) const {
    double elapsed = static_cast<double>(static_cast<std::int64_t>(k - anchor_sample_));
    return anchor_units_ + elapsed * step_units_;
}

void Magnet::set_speed(double degrees_per_second, std::uint64_t now) {
    anchor_units_ = std::fmod(true_angle(now), 65536.0);
    anchor_sample_ = now;
    step_units_ = degrees_per_second * kUnitsPerDegree * (static_cast<double>(kSamplePeriod) * 1e-12);
}

void Magnet::set_angle(double degrees, std::uint64_t now) {
    anchor_units_ = std::fmod(degrees * kUnitsPerDegree, 65536.0);
    anchor_sample_ = now;
}

std::uint16_t Magnet::angle(std::uint64_t k) const {
    double units = true_angle(k);
    if (noise_units_ != 0.0) units += noise_units_ * gauss_[splitmix64(k ^ (seed_ * 0xD1B54A32D192ED03ull)) % kNoiseTableSize];
    units = std::fmod(units, 65536.0);  // exact, even at absurd speeds
    if (units < 0.0) units += 65536.0;
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(std::lround(units)) & 0xFFFFu);
}

}  // namespace kvsim::torqa
