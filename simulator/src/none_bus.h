// The bus of a channel with nothing attached: outputs read back their drive, inputs and
// released drive-only-zero pins read 0.
#pragma once

#include <memory>

#include "bus.h"

namespace kvsim {

class NoneBus : public Bus {
public:
    void drive(Picos, const LowPinDrive &drive) override { drive_ = drive; }
    std::uint8_t sense(Picos) override {
        return static_cast<std::uint8_t>(drive_.value & drive_.direction & ~drive_.zero_only);
    }
    void attach(const Json &device) override;
    Device *find(const std::string &) override { return nullptr; }
    std::vector<Device *> devices() override { return {}; }

private:
    LowPinDrive drive_;
};

}  // namespace kvsim
