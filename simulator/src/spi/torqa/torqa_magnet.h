// The magnet in front of the simulated Torqa sensor: a steady rotation plus Gaussian-shaped
// noise, sampled every 2 µs of virtual time. Angles are in 1/65536 of a turn.
#pragma once

#include <array>
#include <cstdint>

#include "../../bus.h"

namespace kvsim::torqa {

constexpr Picos kSamplePeriod = 2'000'000;  // 2 µs

class Magnet {
public:
    Magnet();

    // Both keep the angle at sample `now` continuous (speed) or set it (angle).
    void set_speed(double degrees_per_second, std::uint64_t now);
    void set_angle(double degrees, std::uint64_t now);
    void set_noise(double degrees) { noise_units_ = degrees * kUnitsPerDegree; }
    void set_seed(std::uint64_t seed) { seed_ = seed; }

    // Angle of sample k, noise included.
    std::uint16_t angle(std::uint64_t k) const;

private:
    static constexpr double kUnitsPerDegree = 65536.0 / 360.0;
    static constexpr std::size_t kNoiseTableSize = 4096;

    double true_angle(std::uint64_t k) const;  // without noise, not wrapped

    double anchor_units_ = 0.0;
    std::uint64_t anchor_sample_ = 0;
    double step_units_ = 0.0;  // per sample
    double noise_units_ = 0.0;
    std::uint64_t seed_ = 1;
    std::array<float, kNoiseTableSize> gauss_{};
};

}  // namespace kvsim::torqa
