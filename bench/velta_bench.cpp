// velta's memory operations against the simulated bridge, with virtual time that runs only with
// the wires: the example board's 16 MiB flash read whole at 30 MHz (share of the wire time spent
// clocking payload, host time), flash writes (chip-select releases per programmed page, read
// from the bytes the host sent), and a 32 KiB EEPROM written and read back.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include <nlohmann/json.hpp>

#include "eeprom.h"
#include "flash.h"
#include "korvin_infra.h"
#include "kvsim.h"
#include "libVELTA_spi.h"
#include "velta_engine.h"

using namespace velta;

namespace {

constexpr double kPicosPerSecond = 1e12;
constexpr std::uint32_t kFlashClock = 30000000;

struct Timer {
    std::chrono::steady_clock::time_point host = std::chrono::steady_clock::now();
    std::uint64_t wire;
    unsigned position;
    explicit Timer(unsigned p) : wire(kvsim_time_ps(p)), position(p) {}
    double host_s() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - host).count(); }
    double wire_s() const { return static_cast<double>(kvsim_time_ps(position) - wire) / kPicosPerSecond; }
};

void load_board(nlohmann::json board) {
    board["wall_clock"] = false;  // virtual time advances with the wires only
    if (kvsim_load_config_json(board.dump().c_str()) != 0) std::exit(1);
}

// The driver's list position of an engine channel, which the simulator's control calls take.
unsigned position_of(unsigned channel) {
    DeviceListEntry wanted{};
    SPI_GetChannelInfo(channel, &wanted);
    std::uint32_t count = kvsim_channel_count();
    std::vector<DeviceListEntry> list(count);
    varFunctionPtrLst.KV_GetDeviceInfoList(list.data(), &count);
    for (unsigned i = 0; i < count; ++i)
        if (std::strcmp(list[i].SerialText, wanted.SerialText) == 0) return i;
    return 0;
}

// Chip-select releases in the host's command bytes: low-pin commands that raise the (active
// low) chip-select line of pin 3.
unsigned releases(unsigned position) {
    std::vector<std::uint8_t> log(kvsim_log_size(position));
    kvsim_log_read(position, log.data(), log.size());
    unsigned count = 0;
    bool high = true;
    for (std::size_t i = 0; i < log.size();) {
        const std::uint8_t op = log[i];
        if (op == VELTA_CMD_SET_LOW_PINS && i + 1 < log.size()) {
            const bool now = (log[i + 1] & VELTA_PIN_CHIP_SELECT_FIRST) != 0;
            count += now && !high;
            high = now;
        }
        const int arguments = std::max(velta_argument_length(op, 0), 0);
        const std::uint8_t arg0 = i + 1 < log.size() ? log[i + 1] : 0, arg1 = i + 2 < log.size() ? log[i + 2] : 0;
        i += 1 + arguments + velta_data_length(op, arg0, arg1);
    }
    return count;
}

Bytes random_data(std::size_t n, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(n);
    for (std::uint8_t &b : bytes) b = static_cast<std::uint8_t>(generator());
    return bytes;
}

void flash_figures() {
    std::ifstream file(KV_BOARD_DIR "/flash16m.json");
    load_board(nlohmann::json::parse(file));
    const unsigned channel = 4, position = position_of(channel);
    SpiChannel spi(SpiSettings{channel, 3, 0, kFlashClock});
    Flash flash(spi, kFlashClock, FlashGeometry{});
    const std::uint64_t size = flash.geometry().size;

    Timer read_timer(position);
    const Bytes whole = flash.read(0, size, Show::Never);
    const double payload = static_cast<double>(whole.size()) * 8 / kFlashClock;
    std::printf("flash read %llu MiB at %u MHz: wire %.4f s, payload clocking %.4f s (%.3f%%), host %.3f s\n",
                static_cast<unsigned long long>(size >> 20), kFlashClock / 1000000, read_timer.wire_s(), payload,
                100 * payload / read_timer.wire_s(), read_timer.host_s());

    const std::size_t length = 128 * 1024, pages = length / flash.geometry().page;
    const char *cases[] = {"onto erased flash", "over other data (erase first)"};
    for (unsigned i = 0; i < 2; ++i) {
        kvsim_log_clear(position);
        Timer timer(position);
        flash.write(random_data(length, i + 1), true, Show::Never);
        std::printf("flash write %zu KiB %s: %.2f chip-select releases per page (%u for %zu pages, with the "
                    "status check, the read before, the erases and the read-back), wire %.3f s, host %.3f s\n",
                    length / 1024, cases[i], static_cast<double>(releases(position)) / static_cast<double>(pages),
                    releases(position), pages, timer.wire_s(), timer.host_s());
    }
}

void eeprom_figures() {
    load_board(nlohmann::json::parse(R"({"bridges": [{"type": 6, "channels": [{"bus": "none"},
        {"bus": "i2c", "devices": [{"kind": "eeprom24", "name": "eeprom", "address": 80, "size": 32768}]}]}]})"));
    const unsigned channel = 1, position = position_of(channel);
    I2cChannel i2c(I2cTarget{channel, kDefaultI2cClock});
    I2cBus bus(i2c);
    EepromGeometry geometry;
    geometry.size = 32768;
    geometry.settle();
    Eeprom eeprom(bus, geometry);
    const Bytes data = random_data(geometry.size, 7);

    Timer write_timer(position);
    eeprom.write(data, Show::Never);
    std::printf("eeprom write 32 KiB at %u kHz (%u-byte pages): wire %.3f s, host %.3f s\n", kDefaultI2cClock / 1000,
                geometry.page, write_timer.wire_s(), write_timer.host_s());
    Timer read_timer(position);
    const bool same = eeprom.read(0, geometry.size, Show::Never) == data;
    std::printf("eeprom read 32 KiB at %u kHz: wire %.3f s, host %.3f s%s\n", kDefaultI2cClock / 1000,
                read_timer.wire_s(), read_timer.host_s(), same ? "" : " (READ BACK DIFFERS)");
}

}  // namespace

int main() {
    setenv("KVZUBR_SIM_STATE", "", 1);  // no state file: factory-fresh devices
    try {
        flash_figures();
        eeprom_figures();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "velta_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
