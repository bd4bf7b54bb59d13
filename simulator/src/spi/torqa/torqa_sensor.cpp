#include "torqa_sensor.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace kvsim::torqa {

namespace {

constexpr std::array<std::uint8_t, kRegisterCount> kResetValues = {0x21, 0x00, 0x00, 0x40, 0x00,
                                                                   0x00, 0x00, 0x40, 0x00, 0x00};
constexpr std::uint8_t kReadRegister = 0x40, kWriteRegister = 0x80, kProgramOtp = 0xC9,
                       kCommandWord = 0xE0, kIdentify = 0x7F;
constexpr std::uint8_t kFieldWeakFlag = 0x80, kFieldStrongFlag = 0x40;
constexpr unsigned kOtpRegister = 9;

// Ranges of the configuration's settings; beyond them the angle arithmetic loses all precision.
constexpr double kMaxDegreesPerSecond = 6e6;  // 1e6 turns per minute
constexpr double kMaxAngle = 1e6;
constexpr double kMaxNoise = 360.0;
constexpr double kSeedLimit = 18446744073709551616.0;  // 2^64: seeds convert to 64 bits

bool parse_field(const std::string &name, int *code) {
    static const char *const names[] = {"weak", "normal", "strong"};
    for (int i = 0; i < 3; ++i)
        if (name == names[i]) return *code = i, true;
    return false;
}

}  // namespace

TorqaSensor::TorqaSensor(const DeviceConfig &config) {
    registers_.set_one_time(kOtpRegister);
    keep(registers_);
    reset_registers();
    const double rpm = config_number(config, "rpm", 600.0, -kMaxDegreesPerSecond / 6, kMaxDegreesPerSecond / 6);
    magnet_.set_speed(
        config_number(config, "degrees_per_second", rpm * 6.0, -kMaxDegreesPerSecond, kMaxDegreesPerSecond), 0);
    magnet_.set_angle(config_number(config, "angle_deg", 0.0, -kMaxAngle, kMaxAngle), 0);
    magnet_.set_noise(config_number(config, "noise_deg", 0.01, 0.0, kMaxNoise));
    magnet_.set_seed(static_cast<std::uint64_t>(config_number(config, "seed", 1.0, 0.0, kSeedLimit - 2048)));
    const std::string field = config_text(config, "field", "normal");
    int code = -1;
    if (!parse_field(field, &code)) throw ConfigFault("field", "must be \"weak\", \"normal\" or \"strong\"");
    field_ = static_cast<Field>(code);
}

void TorqaSensor::reset_registers() {
    registers_.write(0, kResetValues.data(), kOtpRegister);
}

void TorqaSensor::frame_begin(Picos t) {
    now_sample_ = t / kSamplePeriod;
    first_sample_ = std::max(read_position_, now_sample_);
    samples_started_ = 0;
    sample_byte_ = 0;
    phase_ = Phase::Stream;
    bytes_in_ = arguments_in_ = arguments_needed_ = reply_length_ = reply_pos_ = 0;
}

std::uint8_t TorqaSensor::next_out(Picos) {
    switch (phase_) {
    case Phase::Stream:
        if (sample_byte_ == 0) load_sample();
        {
            std::uint8_t out = sample_[sample_byte_];
            sample_byte_ = (sample_byte_ + 1) % 3;
            return out;
        }
    case Phase::Reply:
        return reply_pos_ < reply_length_ ? reply_[reply_pos_++] : 0x00;
    default:
        return 0x00;
    }
}

void TorqaSensor::byte_in(Picos, std::uint8_t value) {
    if (bytes_in_++ == 0) {
        start_command(value);
    } else if (phase_ == Phase::Arguments && arguments_in_ < arguments_needed_) {
        arguments_[arguments_in_++] = value;
    }
}

void TorqaSensor::frame_end(Picos, unsigned bits, std::uint8_t) {
    // The bus may fetch the byte after the last one in advance, so samples_started_ can be one
    // too many: count the bytes clocked, a partial last one included.
    if (phase_ == Phase::Stream) read_position_ = first_sample_ + (bytes_in_ + (bits != 0) + 2) / 3;
    if (phase_ == Phase::Arguments && arguments_in_ == arguments_needed_ && bits == 0) execute();
    phase_ = Phase::Silent;
}

void TorqaSensor::start_command(std::uint8_t command) {
    command_ = command;
    if (command == 0x00 || command == 0xFF) return;  // stays a stream
    if (command >= kReadRegister && command < kReadRegister + kRegisterCount) {
        std::uint8_t value = registers_[command - kReadRegister];
        reply({value, static_cast<std::uint8_t>(value ^ 0xFF)});
    } else if (command == kIdentify) {
        reply({'T', 'Q', 0x01});
    } else if (command >= kWriteRegister && command < kWriteRegister + kOtpRegister) {
        expect_arguments(1);
    } else if (command == kProgramOtp) {
        expect_arguments(3);
    } else if (command == kCommandWord) {
        expect_arguments(2);
    } else {
        phase_ = Phase::Silent;
    }
}

void TorqaSensor::expect_arguments(unsigned count) {
    phase_ = Phase::Arguments;
    arguments_needed_ = count;
}

void TorqaSensor::reply(std::initializer_list<std::uint8_t> bytes) {
    phase_ = Phase::Reply;
    std::copy(bytes.begin(), bytes.end(), reply_.begin());
    reply_length_ = static_cast<unsigned>(bytes.size());
}

void TorqaSensor::execute() {
    if (command_ == kProgramOtp) {
        if ((arguments_[0] << 8 | arguments_[1]) == kOtpKey) registers_.write(kOtpRegister, registers_[kOtpRegister] | arguments_[2]);
    } else if (command_ == kCommandWord) {
        last_command_ = static_cast<std::uint16_t>(arguments_[0] << 8 | arguments_[1]);
        if (last_command_ == kResetCommand) reset_registers();
    } else {
        registers_.write(command_ - kWriteRegister, arguments_[0]);
    }
}

std::uint16_t TorqaSensor::reported_angle(std::uint16_t raw) const {
    unsigned zero = (static_cast<unsigned>(registers_[4]) << 4 | (registers_[5] & 0x0Fu)) << 4;
    bool reversed = (registers_[7] & 0x02u) != 0;
    return static_cast<std::uint16_t>(reversed ? zero - raw : raw - zero);
}

void TorqaSensor::load_sample() {
    std::uint16_t angle = reported_angle(magnet_.angle(first_sample_ + samples_started_++));
    std::uint8_t status = field_ == Field::Weak ? kFieldWeakFlag : field_ == Field::Strong ? kFieldStrongFlag : 0;
    // Odd parity over the whole sample: a stuck line never passes.
    unsigned ones = static_cast<unsigned>(__builtin_popcount(angle) + __builtin_popcount(status));
    if (ones % 2 == 0) status |= 0x01;
    sample_ = {static_cast<std::uint8_t>(angle >> 8), static_cast<std::uint8_t>(angle), status};
}

bool TorqaSensor::get(const std::string &key, std::vector<std::uint8_t> &out) const {
    if (key == "registers") {
        out = registers_.bytes();
    } else if (key == "command") {
        out = {static_cast<std::uint8_t>(last_command_ >> 8), static_cast<std::uint8_t>(last_command_)};
    } else {
        return false;
    }
    return true;
}

bool TorqaSensor::put(const std::string &key, const std::uint8_t *data, std::size_t length) {
    if (key != "registers" || length != kRegisterCount || data == nullptr) return false;
    registers_.write(0, data, length);
    return true;
}

bool TorqaSensor::set(const std::string &key, double value) {
    if (!std::isfinite(value)) return false;
    if (key == "rpm") {
        magnet_.set_speed(value * 6.0, now_sample_);
    } else if (key == "degrees_per_second") {
        magnet_.set_speed(value, now_sample_);
    } else if (key == "angle_deg") {
        magnet_.set_angle(value, now_sample_);
    } else if (key == "noise_deg" && value >= 0.0) {
        magnet_.set_noise(value);
    } else if (key == "seed" && value >= 0.0 && value < kSeedLimit) {
        magnet_.set_seed(static_cast<std::uint64_t>(value));
    } else if (key == "field" && (value == 0.0 || value == 1.0 || value == 2.0)) {
        field_ = static_cast<Field>(static_cast<int>(value));
    } else {
        return false;
    }
    return true;
}

namespace {
const SpiDeviceRegistrar registrar("torqa", [](const DeviceConfig &config) -> std::unique_ptr<SpiDevice> {
    return std::make_unique<TorqaSensor>(config);
});
}  // namespace

}  // namespace kvsim::torqa
