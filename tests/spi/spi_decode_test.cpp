// A memory transaction traced to a VCD file and decoded by sigrok-cli's SPI decoder: the bytes
// it finds on MOSI and MISO are the bytes sent and received. Skipped where the decoder is missing.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include "sigrok.h"
#include "spi_support.h"

using namespace spitest;
namespace fs = std::filesystem;

namespace {

// The trace's timescale is 10 ns; at 1 MHz a bit lasts 100 units, so sampling every 100 ns
// gives ten samples a bit.
Bytes decoded(const fs::path &trace, const char *line, unsigned mode) {
    std::string command = "sigrok-cli -I vcd:downsample=10 -i " + trace.string() +
                          " -P spi:clk=SCK:mosi=MOSI:miso=MISO:cs=CS3:cpol=" + std::to_string(mode >> 1) +
                          ":cpha=" + std::to_string(mode & 1) + " -B spi=" + line + " 2>/dev/null";
    std::string out = command_output(command);
    return Bytes(out.begin(), out.end());
}

class SpiDecode : public SpiTest, public ::testing::WithParamInterface<unsigned> {
protected:
    fs::path dir_;
    void TearDown() override {
        SpiTest::TearDown();
        unsetenv("KVZUBR_SIM_TRACE");
        if (!dir_.empty()) fs::remove_all(dir_);
    }
    Bytes frame(const Bytes &out, Bytes *sent, Bytes *received) {
        Bytes in(out.size());
        uint32_t done = 0;
        EXPECT_EQ(SPI_ReadWrite(handle, in.data(), const_cast<uint8_t *>(out.data()), uint32_t(out.size()), &done,
                                0x06),
                  STATUS_SUCCESS);
        sent->insert(sent->end(), out.begin(), out.end());
        received->insert(received->end(), in.begin(), in.end());
        return in;
    }
};

TEST_P(SpiDecode, DecodedMemoryTransactionIsTheBytesSentAndReceived) {
    if (!sigrok_decodes({"spi"})) GTEST_SKIP() << "sigrok-cli with its VCD input and SPI decoder is not installed";
    const unsigned mode = GetParam();
    dir_ = fs::temp_directory_path() / ("spi_decode_" + std::to_string(getpid()) + "_" + std::to_string(mode));
    fs::create_directories(dir_);
    const fs::path trace = dir_ / "memory.vcd";
    load(bridges(8, {device("spi-memory", "mem", 3, mode, true, R"("size": 1024, "page_size": 16, "write_cycle_us": 50)")}));
    setenv("KVZUBR_SIM_TRACE", trace.c_str(), 1);
    open(options(mode));

    Bytes sent, received;
    frame({0x06}, &sent, &received);
    Bytes program{0x02, 0x00, 0x40};
    for (int i = 0; i < 16; ++i) program.push_back(uint8_t(0x3C ^ (i * 17)));
    frame(program, &sent, &received);
    kvsim_advance_time(0, 100ull * 1000000);
    Bytes read{0x03, 0x00, 0x40};
    read.resize(read.size() + 16, 0x00);
    Bytes in = frame(read, &sent, &received);
    ASSERT_EQ(Bytes(in.begin() + 3, in.end()), Bytes(program.begin() + 3, program.end()));
    ASSERT_EQ(SPI_CloseChannel(handle), STATUS_SUCCESS);
    handle = nullptr;

    // Only the process's first traced channel writes to the name itself; later ones add ".<position>".
    fs::path written = fs::exists(trace) ? trace : fs::path(trace.string() + ".0");
    ASSERT_TRUE(fs::exists(written));
    EXPECT_EQ(decoded(written, "mosi", mode), sent);
    EXPECT_EQ(decoded(written, "miso", mode), received);
    EXPECT_EQ(received.size(), 1u + 19u + 19u);
}

INSTANTIATE_TEST_SUITE_P(Modes, SpiDecode, ::testing::Values(0u, 3u));

}  // namespace
