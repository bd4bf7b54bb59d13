// Every public entry point with each of its pointer arguments null, each call in a child
// process of its own: no crash, STATUS_BAD_PARAMETER, the null report exactly where the
// library documents one and silence elsewhere, and no driver call.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "korvin_infra.h"
#include "korvin_mid.h"
#include "kvsim.h"
#include "libVELTA_i2c.h"
#include "libVELTA_spi.h"
#include "tq_api.h"

namespace {

const unsigned kSpiIndex = 0; // the sensor's channel in the built-in configuration
const unsigned kI2cIndex = 2; // the dual bridge's second channel

std::string spi_report(int line, const char *function) {
    return "../../TopLayer/SPI/src/korvin_spi:" + std::to_string(line) + ":" + function +
           "(): NULL expression encountered\n";
}

std::string i2c_report(int line, const char *function) {
    return "../../TopLayer/I2C/src/korvin_i2c:" + std::to_string(line) + ":" + function +
           "(): NULL expression encountered\n";
}

unsigned driver_calls() {
    unsigned calls = 0;
    for (int entry = 0; entry < KVSIM_ENTRY_COUNT; ++entry) calls += kvsim_call_count(static_cast<kvsim_entry>(entry));
    return calls;
}

struct NullCall {
    const char *name;
    std::function<long()> call;
    std::string report; // on standard output; empty where none is documented
};

// The child's exit status: the call's status, or 200 when it reached the driver.
struct Outcome {
    bool exited;
    int status;
    std::string out;
};

Outcome in_child(const NullCall &c) {
    char path[] = "/tmp/null_arguments.XXXXXX";
    const int file = ::mkstemp(path);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(file, 1);
        const unsigned before = driver_calls();
        const long status = c.call();
        std::fflush(stdout);
        ::_exit(driver_calls() != before ? 200 : static_cast<int>(status & 0xFF));
    }
    int wait_status = 0;
    ::waitpid(child, &wait_status, 0);
    std::ifstream in(path);
    std::stringstream out;
    out << in.rdbuf();
    ::close(file);
    std::remove(path);
    return {WIFEXITED(wait_status), WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1, out.str()};
}

class NullArguments : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(kvsim_reset(), 0);
        ASSERT_EQ(SPI_OpenChannel(kSpiIndex, &spi), STATUS_SUCCESS);
        ChannelConfig config{1000000, 2, SPI_CFG_CS_ACTIVE_LOW, 0x0800, 0};
        ASSERT_EQ(SPI_InitChannel(spi, &config), STATUS_SUCCESS);
        ASSERT_EQ(I2C_OpenChannel(kI2cIndex, &i2c), STATUS_SUCCESS);
    }
    static void TearDownTestSuite() {
        SPI_CloseChannel(spi);
        I2C_CloseChannel(i2c);
    }
    static KV_HANDLE spi, i2c;
};

KV_HANDLE NullArguments::spi = nullptr;
KV_HANDLE NullArguments::i2c = nullptr;

TEST_F(NullArguments, AreRefusedWithoutACrashOrADriverCall) {
    KV_HANDLE s = spi, i = i2c;
    uint8_t b[4] = {};
    uint32_t n = 0;
    ChannelConfig spi_config{};
    I2CChannelConfig i2c_config{100000, 2, 0};
    const NullCall calls[] = {
        {"SPI_GetNumChannels", [] { return SPI_GetNumChannels(nullptr); }, spi_report(105, "SPI_GetNumChannels")},
        {"SPI_GetChannelInfo", [] { return SPI_GetChannelInfo(0, nullptr); }, spi_report(134, "SPI_GetChannelInfo")},
        {"SPI_OpenChannel", [] { return SPI_OpenChannel(0, nullptr); }, spi_report(159, "SPI_OpenChannel")},
        {"SPI_InitChannel config", [&] { return SPI_InitChannel(s, nullptr); }, spi_report(196, "SPI_InitChannel")},
        {"SPI_InitChannel handle", [&] { return SPI_InitChannel(nullptr, &spi_config); },
         spi_report(197, "SPI_InitChannel")},
        {"SPI_ChangeCS handle", [] { return SPI_ChangeCS(nullptr, 0); }, spi_report(803, "SPI_ChangeCS")},
        {"SPI_CloseChannel handle", [] { return SPI_CloseChannel(nullptr); }, spi_report(285, "SPI_CloseChannel")},
        {"SPI_GetChannelConfig", [&] { return SPI_GetChannelConfig(s, nullptr); }, ""},
        {"SPI_SaveChannelConfig", [&] { return SPI_SaveChannelConfig(s, nullptr); }, ""},
        {"SPI_Read handle", [&] { return SPI_Read(nullptr, b, 1, &n, 0); }, spi_report(341, "SPI_Read")},
        {"SPI_Read buffer", [&] { return SPI_Read(s, nullptr, 1, &n, 0); }, spi_report(342, "SPI_Read")},
        {"SPI_Read count", [&] { return SPI_Read(s, b, 1, nullptr, 0); }, spi_report(343, "SPI_Read")},
        {"SPI_Write handle", [&] { return SPI_Write(nullptr, b, 1, &n, 0); }, spi_report(465, "SPI_Write")},
        {"SPI_Write buffer", [&] { return SPI_Write(s, nullptr, 1, &n, 0); }, spi_report(466, "SPI_Write")},
        {"SPI_Write count", [&] { return SPI_Write(s, b, 1, nullptr, 0); }, spi_report(467, "SPI_Write")},
        {"SPI_ReadWrite handle", [&] { return SPI_ReadWrite(nullptr, b, b, 1, &n, 0); }, spi_report(594, "SPI_ReadWrite")},
        {"SPI_ReadWrite in", [&] { return SPI_ReadWrite(s, nullptr, b, 1, &n, 0); }, spi_report(595, "SPI_ReadWrite")},
        {"SPI_ReadWrite out", [&] { return SPI_ReadWrite(s, b, nullptr, 1, &n, 0); }, spi_report(596, "SPI_ReadWrite")},
        {"SPI_ReadWrite count", [&] { return SPI_ReadWrite(s, b, b, 1, nullptr, 0); }, spi_report(597, "SPI_ReadWrite")},
        {"SPI_Read8bits", [&] { return SPI_Read8bits(s, nullptr, 8); }, ""},
        {"SPI_IsBusy", [&] { return SPI_IsBusy(s, nullptr); }, ""},
        {"I2C_GetNumChannels", [] { return I2C_GetNumChannels(nullptr); }, i2c_report(154, "I2C_GetNumChannels")},
        {"I2C_GetChannelInfo", [] { return I2C_GetChannelInfo(0, nullptr); }, i2c_report(183, "I2C_GetChannelInfo")},
        {"I2C_OpenChannel", [] { return I2C_OpenChannel(0, nullptr); }, i2c_report(209, "I2C_OpenChannel")},
        {"I2C_InitChannel config", [&] { return I2C_InitChannel(i, nullptr); }, i2c_report(238, "I2C_InitChannel")},
        {"I2C_InitChannel handle", [&] { return I2C_InitChannel(nullptr, &i2c_config); },
         i2c_report(239, "I2C_InitChannel")},
        {"I2C_CloseChannel handle", [] { return I2C_CloseChannel(nullptr); }, i2c_report(287, "I2C_CloseChannel")},
        {"I2C_SaveChannelConfig", [&] { return I2C_SaveChannelConfig(i, nullptr); }, ""},
        {"I2C_GetChannelConfig", [&] { return I2C_GetChannelConfig(i, nullptr); }, ""},
        {"I2C_WriteDeviceAddress", [&] { return I2C_WriteDeviceAddress(i, 0x50, 0, 0, nullptr); }, ""},
        {"I2C_Write8bitsAndGetAck", [&] { return I2C_Write8bitsAndGetAck(i, 0x55, nullptr); }, ""},
        {"I2C_Read8bitsAndGiveAck", [&] { return I2C_Read8bitsAndGiveAck(i, nullptr, 1); }, ""},
        {"I2C_DeviceWrite handle", [&] { return I2C_DeviceWrite(nullptr, 0x50, 1, b, &n, 3); },
         i2c_report(427, "I2C_DeviceWrite")},
        {"I2C_DeviceWrite buffer", [&] { return I2C_DeviceWrite(i, 0x50, 1, nullptr, &n, 3); },
         i2c_report(428, "I2C_DeviceWrite")},
        {"I2C_DeviceWrite count", [&] { return I2C_DeviceWrite(i, 0x50, 1, b, nullptr, 3); },
         i2c_report(429, "I2C_DeviceWrite")},
        {"I2C_DeviceRead handle", [&] { return I2C_DeviceRead(nullptr, 0x50, 1, b, &n, 3); },
         i2c_report(324, "I2C_DeviceRead")},
        {"I2C_DeviceRead buffer", [&] { return I2C_DeviceRead(i, 0x50, 1, nullptr, &n, 3); },
         i2c_report(325, "I2C_DeviceRead")},
        {"I2C_DeviceRead count", [&] { return I2C_DeviceRead(i, 0x50, 1, b, nullptr, 3); },
         i2c_report(326, "I2C_DeviceRead")},
        {"I2C_FastWrite buffer", [&] { return I2C_FastWrite(i, 0x50, 1, nullptr, nullptr, &n, 0x13); }, ""},
        {"I2C_FastWrite count", [&] { return I2C_FastWrite(i, 0x50, 1, b, nullptr, nullptr, 0x13); }, ""},
        {"I2C_FastRead buffer", [&] { return I2C_FastRead(i, 0x50, 1, nullptr, nullptr, &n, 0x13); }, ""},
        {"I2C_FastRead count", [&] { return I2C_FastRead(i, 0x50, 1, b, nullptr, nullptr, 0x13); }, ""},
        {"KV_GetNumChannels", [] { return KV_GetNumChannels(PROTOCOL_SPI, nullptr); }, ""},
        {"KV_GetChannelInfo", [] { return KV_GetChannelInfo(PROTOCOL_SPI, 1, nullptr); }, ""},
        {"KV_OpenChannel", [] { return KV_OpenChannel(PROTOCOL_SPI, 1, nullptr); }, ""},
        {"KV_Channel_Write buffer", [&] { return KV_Channel_Write(PROTOCOL_SPI, s, 1, nullptr, &n); }, ""},
        {"KV_Channel_Write count", [&] { return KV_Channel_Write(PROTOCOL_SPI, s, 1, b, nullptr); }, ""},
        {"KV_Channel_Read buffer", [&] { return KV_Channel_Read(PROTOCOL_SPI, s, 1, nullptr, &n); }, ""},
        {"KV_Channel_Read count", [&] { return KV_Channel_Read(PROTOCOL_SPI, s, 1, b, nullptr); }, ""},
        {"KV_ReadGPIO", [&] { return KV_ReadGPIO(s, nullptr); }, ""},
        {"Mid_GetKvDeviceType", [&] { return Mid_GetKvDeviceType(s, nullptr); }, ""},
        {"Mid_SendReceiveCmdFromVELTA", [&] { return Mid_SendReceiveCmdFromVELTA(s, 0, 0xAA, nullptr); }, ""},
        {"Infra_TestFunction", [] { return Infra_TestFunction(1, nullptr); }, ""},
        {"TQ_AutoChannel", [] { return TQ_AutoChannel(nullptr); }, ""},
        {"TQ_Open handle", [&] { return TQ_Open(nullptr, 1, 1, 0, 1000000, &spi_config); }, ""},
        {"TQ_Open config", [] {
             KV_HANDLE h = nullptr;
             return TQ_Open(&h, 1, 1, 0, 1000000, nullptr);
         }, ""},
        {"TQ_LibVer", [] { return TQ_LibVer(nullptr); }, ""},
        {"TQ_ReadReg", [&] { return TQ_ReadReg(s, 0, nullptr); }, ""},
        {"KORVIN_ReadStream", [&] { return KORVIN_ReadStream(s, nullptr, 3); }, ""},
        {"TQ_ReadData", [&] { return TQ_ReadData(s, nullptr, 3); }, ""},
        {"KORVIN_WriteStream", [&] { return KORVIN_WriteStream(s, nullptr, 2); }, ""},
        {"TQ_PrintData stream", [&] { return TQ_PrintData(nullptr, b, 0, 1, 0, 0); }, ""},
        {"TQ_PrintData samples", [] { return TQ_PrintData(stdout, nullptr, 0, 1, 0, 0); }, ""},
        {"TQ_PrintError stream", [&] { return TQ_PrintError(nullptr, b, 0, 1, 0, 0); }, ""},
        {"TQ_PrintError samples", [] { return TQ_PrintError(stdout, nullptr, 0, 1, 0, 0); }, ""},
    };
    for (const NullCall &c : calls) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = in_child(c);
        ASSERT_TRUE(outcome.exited) << "crashed";
        EXPECT_EQ(outcome.status, static_cast<int>(STATUS_BAD_PARAMETER)) << "200: it called the driver";
        EXPECT_EQ(outcome.out, c.report);
    }
}

} // namespace
