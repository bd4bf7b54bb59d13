// TQlib against the simulated Torqa sensor.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kvsim.h"
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

class TqSensor : public ::testing::Test {
protected:
    void open(int mode = 0, int baudrate = 1000000) {
        load(kSingleBridge, 0);
        ASSERT_EQ(TQ_Open(&handle_, 1, 1, mode, baudrate, &conf_), 0);
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
    std::vector<std::uint16_t> burst(int samples) {
        std::vector<std::uint8_t> bytes(3 * samples);
        EXPECT_EQ(KORVIN_ReadStream(handle_, bytes.data(), static_cast<int>(bytes.size())), 0);
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

// At the tools' 25 MHz the host reads faster than the sensor samples, so pieces join.
TEST_F(TqSensor, PiecesOfABurstJoinWithoutGap) {
    open(0, 25000000);
    ASSERT_EQ(kvsim_device_set(0, "torqa", "degrees_per_second", 3600.0), 0);
    auto first = burst(2500), second = burst(2500);
    EXPECT_GE(step_between(first.back(), second.front()), 1);
    EXPECT_LE(step_between(first.back(), second.front()), 2);
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

TEST_F(TqSensor, Modes1And2GiveNonsenseNotCrashes) {
    for (int mode : {1, 2}) {
        open(mode);
        std::uint8_t value = 0;
        EXPECT_NE(TQ_ReadReg(handle_, 0, &value), 0) << mode;
        std::vector<std::uint8_t> bytes(300);
        KORVIN_ReadStream(handle_, bytes.data(), 300);
        TQ_Close(handle_);
        handle_ = nullptr;
    }
}

TEST_F(TqSensor, Mode3Works) {
    ASSERT_EQ(kvsim_load_config_json(kSingleBridge), 0);
    ASSERT_EQ(kvsim_attach_device(0, R"({"kind":"torqa","name":"torqa","cs":3,"mode":3,"active_low":true})"), 0);
    ASSERT_EQ(TQ_Open(&handle_, 1, 1, 3, 1000000, &conf_), 0);
    std::uint8_t value = 0;
    ASSERT_EQ(TQ_ReadReg(handle_, 7, &value), 0);
    EXPECT_EQ(value, 0x40);
}

TEST_F(TqSensor, OpenRefusalsLeaveAHandleLaterCallsRefuse) {
    load(kSingleBridge, 0);
    std::uint8_t value = 0;
    EXPECT_NE(TQ_Open(&handle_, 1, 1, 4, 1000000, &conf_), 0);
    EXPECT_NE(TQ_ReadReg(handle_, 0, &value), 0);
    EXPECT_NE(TQ_Open(&handle_, 2, 1, 0, 1000000, &conf_), 0);
    EXPECT_NE(TQ_Open(&handle_, 0, 1, 0, 1000000, &conf_), 0);
    EXPECT_NE(TQ_Open(&handle_, 1, 1, 0, 40000000, &conf_), 0);
    EXPECT_NE(TQ_Cmd(handle_, 0), 0);
    EXPECT_EQ(handle_, nullptr);
}

TEST_F(TqSensor, AutoChannelFindsTheSensorOnTheSecondChannel) {
    load(kDualBridge, 1);
    GEN_PARAM param = {1, 1, 0, 25000000};
    ASSERT_EQ(TQ_AutoChannel(&param), 0);
    EXPECT_EQ(param.channel, 2u);
    load(kSingleBridge, -1);
    param = {1, 1, 0, 25000000};
    EXPECT_NE(TQ_AutoChannel(&param), 0);
    EXPECT_EQ(param.channel, 1u);
    ASSERT_EQ(TQ_Open(&handle_, param.channel, 1, 0, 1000000, &conf_), 0);  // still usable
}

}  // namespace
