// The simulated Torqa angle sensor: an SPI device speaking the protocol of
// docs/torqa-protocol.md, with ten registers, a one-time-programmable register 9 and a
// rotating magnet.
#pragma once

#include <array>
#include <cstdint>

#include "../spi_device.h"
#include "torqa_magnet.h"

namespace kvsim::torqa {

constexpr std::size_t kRegisterCount = 10;
constexpr std::uint16_t kOtpKey = 0x7A3C;
constexpr std::uint16_t kResetCommand = 0xA55A;

class TorqaSensor final : public SpiDevice {
public:
    explicit TorqaSensor(const DeviceConfig &config);

    void frame_begin(Picos t) override;
    std::uint8_t next_out(Picos t) override;
    void byte_in(Picos t, std::uint8_t value) override;
    void frame_end(Picos t, unsigned bits, std::uint8_t partial) override;
    bool takes_modes_0_and_3() const override { return true; }

    bool get(const std::string &key, std::vector<std::uint8_t> &out) const override;
    bool put(const std::string &key, const std::uint8_t *data, std::size_t length) override;
    bool set(const std::string &key, double value) override;

private:
    enum class Phase { Stream, Reply, Arguments, Silent };
    enum class Field { Weak, Normal, Strong };

    void start_command(std::uint8_t command);
    void expect_arguments(unsigned count);
    void reply(std::initializer_list<std::uint8_t> bytes);
    void execute();
    void reset_registers();
    void load_sample();
    std::uint16_t reported_angle(std::uint16_t raw) const;

    SavedBytes registers_{"registers", kRegisterCount, 0, SavedBytes::Form::Numbers};
    Magnet magnet_;
    Field field_ = Field::Normal;
    std::uint16_t last_command_ = 0;

    // The frame in progress.
    Phase phase_ = Phase::Stream;
    std::uint8_t command_ = 0;
    unsigned bytes_in_ = 0;
    std::array<std::uint8_t, 3> arguments_{};
    unsigned arguments_needed_ = 0, arguments_in_ = 0;
    std::array<std::uint8_t, 3> reply_{};
    unsigned reply_length_ = 0, reply_pos_ = 0;

    // The sample stream: the read position survives frames, the rest is per frame.
    std::uint64_t now_sample_ = 0;       // sample being taken at the last frame start
    std::uint64_t read_position_ = 0;    // first sample not yet delivered
    std::uint64_t first_sample_ = 0;     // of this frame
    std::uint64_t samples_started_ = 0;  // in this frame
    std::array<std::uint8_t, 3> sample_{};
    unsigned sample_byte_ = 0;
};

}  // namespace kvsim::torqa
