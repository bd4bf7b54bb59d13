// TQlib against the simulated Torqa sensor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine_log.h"
#include "kvsim.h"
#include "libVELTA_spi.h"
#include "tq_api.h"

namespace {

// Devices are attached through the control API after the bridges are loaded.
const char *const kSensor = R"({"kind":"torqa","name":"torqa","cs":3,"mode":0,"active_low":true,"rpm":0,"noise_deg":0})";
const char *const kSingleBridge =
    R"({"wall_clock": false, "bridges":[{"type":8,"serial":"T1","channels":[{"bus":"spi","devices":[]}]}]})";
const char *const kDualBridge = R"({"wall_clock": false, "bridges":[{"type":6,"serial":"D1","channels":[
    {"bus":"spi","devices":[]},{"bus":"spi","devices":[]}]}]})";

// A bridge, and the sensor on channel `position` (none for -1).
void load(const char *bridges, int position) {
    ASSERT_EQ(kvsim_load_config_json(bridges), 0);
    if (position >= 0) {
        ASSERT_EQ(kvsim_attach_device(static_cast<unsigned>(position), kSensor), 0);
    }
}

// A noiseless sensor with more settings (",\"key\":value..."), alone on the single bridge.
void load_sensor(const std::string &settings) {
    ASSERT_EQ(kvsim_load_config_json(kSingleBridge), 0);
    std::string sensor = R"({"kind":"torqa","name":"torqa","cs":3,"active_low":true,"noise_deg":0)" + settings + "}";
    ASSERT_EQ(kvsim_attach_device(0, sensor.c_str()), 0);
}

class TqSensor : public ::testing::Test {
protected:
    void open(int mode = 0, int baudrate = 1000000) {
        load(kSingleBridge, 0);
        ASSERT_EQ(TQ_Open(&handle_, 1, 1, mode, baudrate, &conf_), 0);
    }
    void open_sensor(const std::string &settings, int mode = 0, int baudrate = 25000000) {
        load_sensor(settings);
        ASSERT_EQ(TQ_Open(&handle_, 1, 1, mode, baudrate, &conf_), 0);
    }
    // Host-to-engine bytes of `body`.
    template <typename Body>
    std::vector<std::uint8_t> sent_by(Body body) {
        kvsim_log_clear(0);
        body();
        return kvtest::engine_log(0);
    }
    void TearDown() override {
        if (handle_ != nullptr) TQ_Close(handle_);
    }
    std::vector<std::uint8_t> registers() {
        std::vector<std::uint8_t> regs(TQ_REG_COUNT);
        size_t length = 0;
        EXPECT_EQ(kvsim_device_get(0, "torqa", "registers", regs.data(), regs.size(), &length), 0);
        return regs;
    }
    std::vector<std::uint8_t> raw_burst(int samples) {
        std::vector<std::uint8_t> bytes(3 * samples);
        EXPECT_EQ(KORVIN_ReadStream(handle_, bytes.data(), static_cast<int>(bytes.size())), 0);
        return bytes;
    }
    std::vector<std::uint16_t> burst(int samples) {
        std::vector<std::uint8_t> bytes = raw_burst(samples);
        std::vector<std::uint16_t> angles;
        for (int i = 0; i < samples; ++i) angles.push_back(static_cast<std::uint16_t>(bytes[3 * i] << 8 | bytes[3 * i + 1]));
        return angles;
    }
    KV_HANDLE handle_ = nullptr;
    ChannelConfig conf_;
};

TEST_F(TqSensor, RegistersRoundTripFromResetValues) {
    open();
    std::uint8_t value = 0;
    ASSERT_EQ(TQ_ReadReg(handle_, 0, &value), 0);
    EXPECT_EQ(value, 0x21);
    for (int reg = 0; reg < 9; ++reg) ASSERT_EQ(TQ_WriteReg_Restricted(handle_, reg, std::uint8_t(0x10 + reg), 0), 0);
    for (int reg = 0; reg < 9; ++reg) {
        ASSERT_EQ(TQ_ReadReg(handle_, reg, &value), 0);
        EXPECT_EQ(value, 0x10 + reg);
    }
    EXPECT_EQ(registers()[5], 0x15);
    EXPECT_NE(TQ_ReadReg(handle_, 10, &value), 0);
}

TEST_F(TqSensor, Register9OnlyWithTheKeyAndOnlySettingBits) {
    open();
    EXPECT_NE(TQ_WriteReg_Restricted(handle_, 9, 0x04, 0), 0);
    EXPECT_EQ(registers()[9], 0x00);
    EXPECT_EQ(TQ_WriteReg_Restricted(handle_, 9, 0x04, TQ_OTP_KEY), 0);
    EXPECT_EQ(TQ_WriteReg_Restricted(handle_, 9, 0x02, TQ_OTP_KEY), 0);
    EXPECT_EQ(registers()[9], 0x06);  // bit 2 stays programmed
    std::uint8_t value = 0;
    EXPECT_EQ(TQ_ReadReg(handle_, 9, &value), 0);
    EXPECT_EQ(value, 0x06);
}

int step_between(std::uint16_t from, std::uint16_t to) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(to - from));
}

TEST_F(TqSensor, BurstFollowsTheRotation) {
    open(0, 6000000);
    ASSERT_EQ(kvsim_device_set(0, "torqa", "degrees_per_second", 3600.0), 0);  // 1.31 units per sample
    auto angles = burst(5000);
    for (std::size_t i = 1; i < angles.size(); ++i) {
        ASSERT_GE(step_between(angles[i - 1], angles[i]), 1) << i;
        ASSERT_LE(step_between(angles[i - 1], angles[i]), 2) << i;
    }
}

TEST_F(TqSensor, ZeroPointAndDirectionAct) {
    open();
    ASSERT_EQ(kvsim_device_set(0, "torqa", "angle_deg", 90.0), 0);  // 0x4000
    EXPECT_EQ(burst(3), (std::vector<std::uint16_t>{0x4000, 0x4000, 0x4000}));
    ASSERT_EQ(TQ_WriteReg_Restricted(handle_, 4, 0x12, 0), 0);  // zero point 0x123
    ASSERT_EQ(TQ_WriteReg_Restricted(handle_, 5, 0x03, 0), 0);
    EXPECT_EQ(burst(1)[0], 0x4000 - 0x1230);
    ASSERT_EQ(TQ_WriteReg_Restricted(handle_, 7, 0x42, 0), 0);  // RD
    EXPECT_EQ(burst(1)[0], std::uint16_t(0x1230 - 0x4000));
}

TEST_F(TqSensor, CommandWordsAndRawStreams) {
    open();
    ASSERT_EQ(TQ_WriteReg_Restricted(handle_, 3, 0x99, 0), 0);
    ASSERT_EQ(TQ_Cmd(handle_, 0xA55A), 0);
    EXPECT_EQ(registers()[3], 0x40);
    std::uint8_t command[2] = {};
    size_t length = 0;
    ASSERT_EQ(kvsim_device_get(0, "torqa", "command", command, 2, &length), 0);
    EXPECT_EQ(command[0] << 8 | command[1], 0xA55A);
    const std::uint8_t write[2] = {0x82, 0x5C};  // a raw register-2 write frame
    ASSERT_EQ(KORVIN_WriteStream(handle_, write, 2), 0);
    EXPECT_EQ(registers()[2], 0x5C);
}

// In modes 1 and 2 the sensor's answers come back shifted: no handle to read nonsense through.
TEST_F(TqSensor, Modes1And2GiveNonsenseNotCrashes) {
    for (int mode : {1, 2}) {
        load(kSingleBridge, 0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(TQ_Open(&handle_, 1, 1, mode, 1000000, &conf_), static_cast<int>(STATUS_NO_DEVICE)) << mode;
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "TQlib: no Torqa sensor answers on channel 1 in SPI mode " + std::to_string(mode) + " (status 2)\n");
        EXPECT_EQ(handle_, nullptr);
        ASSERT_EQ(TQ_Open(&handle_, 1, 1, 0, 1000000, &conf_), 0) << "the refused open left the channel closed";
        TQ_Close(handle_);
        handle_ = nullptr;
    }
}

// The sensor takes modes 0 and 3 alike, whichever mode its configuration names.
TEST_F(TqSensor, Modes0And3WorkWhateverModeIsConfigured) {
    for (int configured : {0, 3}) {
        for (int used : {0, 3}) {
            ASSERT_EQ(kvsim_load_config_json(kSingleBridge), 0);
            std::string sensor = R"({"kind":"torqa","name":"torqa","cs":3,"mode":)" + std::to_string(configured) + "}";
            ASSERT_EQ(kvsim_attach_device(0, sensor.c_str()), 0);
            ASSERT_EQ(TQ_Open(&handle_, 1, 1, used, 1000000, &conf_), 0);
            std::uint8_t value = 0;
            EXPECT_EQ(TQ_ReadReg(handle_, 7, &value), 0) << configured << " " << used;
            EXPECT_EQ(value, 0x40) << configured << " " << used;
            TQ_Close(handle_);
            handle_ = nullptr;
        }
    }
}

TEST_F(TqSensor, OpenRefusalsAreOneLineAndLeaveAHandleLaterCallsRefuse) {
    load(kSingleBridge, 0);
    auto refusal = [&](std::uint32_t channel, int mode, int rate) {
        testing::internal::CaptureStderr();
        EXPECT_NE(TQ_Open(&handle_, channel, 1, mode, rate, &conf_), 0);
        EXPECT_EQ(handle_, nullptr);
        return testing::internal::GetCapturedStderr();
    };
    EXPECT_EQ(refusal(1, 4, 1000000), "TQlib: SPI mode 4 is not supported (0 to 3)\n");
    EXPECT_EQ(refusal(1, -1, 1000000), "TQlib: SPI mode -1 is not supported (0 to 3)\n");
    EXPECT_EQ(refusal(2, 0, 1000000), "TQlib: channel 2 does not exist (channels 1 to 1)\n");
    EXPECT_EQ(refusal(0, 0, 1000000), "TQlib: channel 0 does not exist (channels 1 to 1)\n");
    for (int rate : {40000000, 50, 0, -1})
        EXPECT_EQ(refusal(1, 0, rate), "TQlib: clock rate " + std::to_string(rate) + " Hz is not supported by channel 1\n");
    std::uint8_t value = 0;
    EXPECT_NE(TQ_ReadReg(handle_, 0, &value), 0);
    EXPECT_NE(TQ_Cmd(handle_, 0), 0);
    ASSERT_EQ(TQ_Open(&handle_, 1, 1, 0, 1000000, &conf_), 0);  // the refused rates left the channel closed
    ASSERT_EQ(TQ_Close(handle_), 0);
    ASSERT_EQ(kvsim_load_config_json(R"({"wall_clock": false, "bridges":[]})"), 0);
    EXPECT_EQ(refusal(1, 0, 1000000), "TQlib: channel 1 does not exist: no SPI channel found\n");
}

TEST_F(TqSensor, OpenListsTheChannelsWhenNotMuted) {
    load(kDualBridge, 1);
    testing::internal::CaptureStdout();
    ASSERT_EQ(TQ_Open(&handle_, 2, 0, 0, 1000000, &conf_), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "SPI channels found: 2\n"
                                                      "  Channel 1: type 6, serial D1A, description VELTA dual bridge A\n"
                                                      "  Channel 2: type 6, serial D1B, description VELTA dual bridge B\n");
}

TEST_F(TqSensor, AClosedHandleIsRefusedWithoutHarm) {
    open();
    KV_HANDLE closed = handle_;
    ASSERT_EQ(TQ_Close(closed), 0);
    handle_ = nullptr;
    std::uint8_t value = 0, buffer[12] = {};
    EXPECT_NE(TQ_Close(closed), 0);
    EXPECT_NE(TQ_ReadReg(closed, 0, &value), 0);
    EXPECT_NE(TQ_WriteReg_Restricted(closed, 9, 1, TQ_OTP_KEY), 0);
    EXPECT_NE(KORVIN_ReadStream(closed, buffer, 12), 0);
    EXPECT_NE(KORVIN_WriteStream(closed, buffer, 2), 0);
    EXPECT_NE(TQ_Cmd(closed, 0), 0);
}

TEST_F(TqSensor, AutoChannelFindsTheSensorAndLeavesARecordThatOpensIt) {
    load(kDualBridge, 1);
    GEN_PARAM param = {1, 1, 0, 25000000};
    ASSERT_EQ(TQ_AutoChannel(&param), 0);
    EXPECT_EQ(param.channel, 2u);
    load(kSingleBridge, -1);
    param = {1, 1, 0, 25000000};
    EXPECT_NE(TQ_AutoChannel(&param), 0);
    EXPECT_EQ(param.channel, 1u);
    ASSERT_EQ(kvsim_attach_device(0, kSensor), 0);
    ASSERT_EQ(TQ_Open(&handle_, param.channel, 1, 0, 1000000, &conf_), 0);  // still usable
    TQ_Close(handle_);
    handle_ = nullptr;
    load(kSingleBridge, 0);
    param = {};  // as tqread hands it over
    ASSERT_EQ(TQ_AutoChannel(&param), 0);
    EXPECT_EQ(param.channel, 1u);
    EXPECT_EQ(param.spimode, 0);
    load_sensor(R"(,"mode":3,"modes_0_and_3":false)");  // opened in the mode it answers in
    param = {1, 1, 0, 25000000};
    ASSERT_EQ(TQ_AutoChannel(&param), 0);
    EXPECT_EQ(param.spimode, 3);
}

// Chip-select on low pin 3, active low, clock idling low: asserted and released.
std::vector<std::uint8_t> framed(std::vector<std::uint8_t> body) {
    body.insert(body.begin(), {0x80, 0x00, 0x0B});
    body.insert(body.end(), {0x80, 0x08, 0x0B});
    return body;
}

TEST_F(TqSensor, EveryOperationIsWholeChipSelectFrames) {
    open();
    std::vector<std::uint8_t> buffer(100000);
    EXPECT_EQ(sent_by([&] { TQ_ReadData(handle_, buffer.data(), 7500); }), framed({0x20, 0x4B, 0x1D, 0x87}));
    EXPECT_EQ(sent_by([&] { KORVIN_ReadStream(handle_, buffer.data(), 100000); }),  // two engine transfers
              framed({0x20, 0xFF, 0xFF, 0x87, 0x20, 0x9F, 0x86, 0x87}));
    EXPECT_TRUE(sent_by([&] { TQ_ReadData(handle_, buffer.data(), 0); }).empty());
    const std::uint8_t word[2] = {0x12, 0x34};
    EXPECT_EQ(sent_by([&] { KORVIN_WriteStream(handle_, word, 2); }), framed({0x11, 0x01, 0x00, 0x12, 0x34}));
    EXPECT_EQ(sent_by([&] { TQ_Cmd(handle_, -1); }), framed({0x11, 0x02, 0x00, 0xE0, 0xFF, 0xFF}));
    std::uint8_t value = 0;
    EXPECT_EQ(sent_by([&] { TQ_ReadReg(handle_, 5, &value); }), framed({0x31, 0x02, 0x00, 0x45, 0x00, 0x00}));
    EXPECT_EQ(sent_by([&] { TQ_WriteReg_Restricted(handle_, 8, 0xA5, 0x1234); }),
              framed({0x11, 0x01, 0x00, 0x88, 0xA5}));
    EXPECT_TRUE(sent_by([&] { TQ_WriteReg_Restricted(handle_, 9, 0x04, 0x1234); }).empty());
    auto program = framed({0x11, 0x03, 0x00, 0xC9, 0x7A, 0x3C, 0x04});
    auto read_back = framed({0x31, 0x02, 0x00, 0x49, 0x00, 0x00});
    program.insert(program.end(), read_back.begin(), read_back.end());
    EXPECT_EQ(sent_by([&] { TQ_WriteReg_Restricted(handle_, 9, 0x04, TQ_OTP_KEY); }), program);
}

bool chip_select_released() {
    kvsim_pins pins{};
    EXPECT_EQ(kvsim_get_pins(0, &pins), 0);
    return (pins.low_value & 0x08) != 0;
}

TEST_F(TqSensor, AFailedTransferReleasesChipSelect) {
    open();
    std::vector<std::uint8_t> buffer(7500);
    ASSERT_EQ(kvsim_fail_call(KVSIM_Read, 1, STATUS_IO_FAILURE), 0);
    EXPECT_EQ(KORVIN_ReadStream(handle_, buffer.data(), 7500), static_cast<int>(STATUS_IO_FAILURE));
    EXPECT_TRUE(chip_select_released());
    std::uint8_t value = 0;
    ASSERT_EQ(kvsim_short_transfer(KVSIM_Read, 1, 1), 0);
    EXPECT_EQ(TQ_ReadReg(handle_, 7, &value), static_cast<int>(STATUS_IO_FAILURE));
    EXPECT_TRUE(chip_select_released());
    ASSERT_EQ(TQ_ReadReg(handle_, 7, &value), 0);
    EXPECT_EQ(value, 0x40);
}

// Chip-select frames of `bits` bits, sent with libVELTA directly to cut bytes short.
void send_bits(KV_HANDLE handle, std::vector<std::uint8_t> bytes, std::uint32_t bits) {
    std::uint32_t moved = 0;
    ASSERT_EQ(SPI_Write(handle, bytes.data(), bits, &moved,
                        SPI_XFER_IN_BITS | SPI_XFER_CS_ASSERT_AT_START | SPI_XFER_CS_RELEASE_AT_END),
              0u);
}

TEST_F(TqSensor, WritesActOnlyOnFramesOfWholeBytes) {
    open();
    send_bits(handle_, {0x83, 0x55}, 12);        // value cut short
    send_bits(handle_, {0x83, 0x55, 0xF0}, 20);  // a partial byte after the value
    send_bits(handle_, {0x83}, 8);               // no value at all
    EXPECT_EQ(registers()[3], 0x40);
    send_bits(handle_, {0x83, 0x55, 0x00}, 24);  // a whole byte more is ignored
    EXPECT_EQ(registers()[3], 0x55);
    send_bits(handle_, {0x89, 0xFF}, 16);                // register 9 has no write frame
    send_bits(handle_, {0xC9, 0x7A, 0x3D, 0xFF}, 32);    // wrong key
    send_bits(handle_, {0xC9, 0x7A, 0x3C, 0xFF}, 28);    // bits cut short
    EXPECT_EQ(registers()[9], 0x00);
}

int parity(const std::uint8_t *sample) {
    return __builtin_popcount(sample[0]) + __builtin_popcount(sample[1]) + __builtin_popcount(sample[2]);
}

TEST_F(TqSensor, FieldStrengthRaisesTheStatusFlags) {
    open_sensor(R"(,"field":"weak")");
    for (auto [field, flags] : {std::pair{-1, 0x80}, {2, 0x40}, {1, 0x00}, {0, 0x80}}) {
        if (field >= 0) {
            ASSERT_EQ(kvsim_device_set(0, "torqa", "field", field), 0);
        }
        auto bytes = raw_burst(200);
        for (int i = 0; i < 200; ++i) {
            ASSERT_EQ(bytes[3 * i + 2] & 0xFE, flags) << field << " " << i;
            ASSERT_EQ(parity(&bytes[3 * i]) % 2, 1) << field << " " << i;
        }
    }
    EXPECT_NE(kvsim_device_set(0, "torqa", "field", 3), 0);
}

TEST_F(TqSensor, UnusableSettingsAreRefused) {
    open();
    const double nan = std::nan(""), inf = HUGE_VAL;
    for (auto [key, value] : {std::pair{"rpm", nan}, {"degrees_per_second", inf}, {"angle_deg", nan},
                              {"noise_deg", -1.0}, {"seed", -1.0}, {"seed", 1e30}})
        EXPECT_NE(kvsim_device_set(0, "torqa", key, value), 0) << key << " " << value;
    EXPECT_NE(kvsim_attach_device(0, R"({"kind":"torqa","name":"second","cs":4,"seed":1e30})"), 0);
    ASSERT_EQ(kvsim_device_set(0, "torqa", "degrees_per_second", 1e300), 0);  // absurd, but samples stay samples
    auto bytes = raw_burst(100);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(parity(&bytes[3 * i]) % 2, 1) << i;
}

// Total turn of a burst, in angle units.
int travel(const std::vector<std::uint16_t> &angles) {
    int sum = 0;
    for (std::size_t i = 1; i < angles.size(); ++i) sum += step_between(angles[i - 1], angles[i]);
    return sum;
}

TEST_F(TqSensor, BurstFollowsTheConfiguredRotation) {
    // 600 turns a minute are 3600 degrees a second: 1.31072 units per 2 us sample.
    for (auto [settings, expected] : {std::pair{R"(,"rpm":600)", 3277}, {R"(,"rpm":6000,"degrees_per_second":-3600)", -3277}}) {
        open_sensor(settings);
        EXPECT_NEAR(travel(burst(2501)), expected, 1) << settings;
        TQ_Close(handle_);
        handle_ = nullptr;
    }
}

// 100 angle units per sample, so that a sample lost or repeated between frames shows.
constexpr double kHundredUnitsPerSample = 100.0 * 360.0 / 65536.0 / 2e-6;

class TqStreamJoin : public TqSensor, public ::testing::WithParamInterface<int> {};

TEST_P(TqStreamJoin, ConsecutiveFramesDeliverConsecutiveSamples) {
    const int mode = GetParam();
    open_sensor(R"(,"rpm":0,"mode":)" + std::to_string(mode), mode);
    ASSERT_EQ(kvsim_device_set(0, "torqa", "degrees_per_second", kHundredUnitsPerSample), 0);
    auto piece = burst(2500);
    for (std::size_t i = 1; i < piece.size(); ++i) ASSERT_EQ(step_between(piece[i - 1], piece[i]), 100) << i;
    const std::uint16_t next = burst(1)[0];
    EXPECT_EQ(step_between(piece.back(), next), 100);
    // A sample partly shifted out counts as delivered: 28 bits take two samples.
    std::uint8_t bits[4] = {};
    std::uint32_t moved = 0;
    ASSERT_EQ(SPI_Read(handle_, bits, 28, &moved,
                       SPI_XFER_IN_BITS | SPI_XFER_CS_ASSERT_AT_START | SPI_XFER_CS_RELEASE_AT_END),
              0u);
    EXPECT_EQ(step_between(next, static_cast<std::uint16_t>(bits[0] << 8 | bits[1])), 100);
    EXPECT_EQ(step_between(next, burst(1)[0]), 300);
}

INSTANTIATE_TEST_SUITE_P(Modes, TqStreamJoin, ::testing::Values(0, 3),
                         [](const ::testing::TestParamInfo<int> &info) { return "Mode" + std::to_string(info.param); });

// The simulator's state file, in the build tree, for one test.
class TqState : public ::testing::Test {
protected:
    void SetUp() override {
        std::remove(path_.c_str());
        setenv("KVZUBR_SIM_STATE", path_.c_str(), 1);
    }
    void TearDown() override {
        setenv("KVZUBR_SIM_STATE", "", 1);
        std::remove(path_.c_str());
    }
    void reload() {
        const std::string config = R"({"wall_clock": false, "bridges":[{"type":8,"serial":"T1","channels":[
            {"bus":"spi","devices":[)" + std::string(kSensor) + "]}]}]}";
        ASSERT_EQ(kvsim_load_config_json(config.c_str()), 0);
    }
    std::uint8_t read(KV_HANDLE handle, int reg) {
        std::uint8_t value = 0;
        EXPECT_EQ(TQ_ReadReg(handle, reg, &value), 0);
        return value;
    }
    const std::string path_ = std::string(KV_TEST_BUILD_DIR) + "/tq_state_test.json";
};

TEST_F(TqState, RegistersAndTheOneTimeRegisterSurviveAReload) {
    reload();
    KV_HANDLE handle = nullptr;
    ChannelConfig conf;
    ASSERT_EQ(TQ_Open(&handle, 1, 1, 0, 1000000, &conf), 0);
    ASSERT_EQ(TQ_WriteReg_Restricted(handle, 5, 0x25, 0), 0);
    ASSERT_EQ(TQ_WriteReg_Restricted(handle, 9, 0x81, TQ_OTP_KEY), 0);
    ASSERT_EQ(TQ_Close(handle), 0);
    reload();
    ASSERT_EQ(TQ_Open(&handle, 1, 1, 0, 1000000, &conf), 0);
    EXPECT_EQ(read(handle, 5), 0x25);
    EXPECT_EQ(read(handle, 9), 0x81);
    ASSERT_EQ(TQ_Cmd(handle, 0xA55A), 0);  // reset: registers 0 to 8 only
    EXPECT_EQ(read(handle, 5), 0x00);
    EXPECT_EQ(read(handle, 9), 0x81);
    ASSERT_EQ(TQ_Close(handle), 0);
}

}  // namespace

namespace {

// A stand-in sensor on the bus that identifies itself, then answers a register read with the
// scripted value and check byte: only a value whose complement checks out is stored.
TEST(TqRegisterCheck, OnlyAValueWithItsComplementIsStored) {
    ASSERT_EQ(kvsim_load_config_json(R"({"wall_clock": false, "bridges": [{"type": 8, "channels": [
        {"bus": "spi", "devices": [{"kind": "spi-test", "name": "fake", "cs": 3, "mode": 0,
          "answers": [0, 84, 81, 1]}]}]}]})"), 0);
    KV_HANDLE handle = nullptr;
    ChannelConfig conf;
    ASSERT_EQ(TQ_Open(&handle, 1, 1, 0, 1000000, &conf), 0);
    const struct {
        std::uint8_t value, check;
        bool stored;
    } cases[] = {{0x5A, 0xA5, true}, {0x5A, 0x5A, false}, {0x5A, 0xA4, false}, {0x00, 0x00, false}, {0xFF, 0x00, true}};
    for (const auto &c : cases) {
        const std::uint8_t answer[3] = {0x00, c.value, c.check};
        ASSERT_EQ(kvsim_device_put(0, "fake", "answers", answer, 3), 0);
        std::uint8_t value = 0x33;
        const int result = TQ_ReadReg(handle, 4, &value);
        EXPECT_EQ(result == 0, c.stored) << int(c.value) << " " << int(c.check);
        EXPECT_EQ(value, c.stored ? c.value : 0x33) << int(c.value) << " " << int(c.check);
    }
    TQ_Close(handle);
}

}  // namespace
