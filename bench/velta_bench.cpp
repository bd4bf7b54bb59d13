// velta's memory programmers against the simulated bridge, each figure beside its floor:
// a 16 MiB random file written onto the example board's erased 16 MiB flash at 10 MHz (with
// the wall clock off: host time; with it on: the whole duration against the chip's page
// program times plus the wire time of every byte velta moves), the whole flash read (share of
// the wire time spent clocking its bytes), and 32 KiB written to an EEPROM at 400 kHz (duration
// against wire time plus write cycles).
//
// The simulator does not hold the host back to the wires' speed: virtual time advances with the
// wires and, with the wall clock on, jumps ahead to the real time before each write. So the
// duration a real bridge would take is the larger of the host's time and the wire time.
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

using namespace velta;

namespace {

constexpr double kPicosPerSecond = 1e12;
constexpr std::uint32_t kFlashClock = 10000000;
constexpr std::uint32_t kEepromClock = 400000;

struct Timer {
    std::chrono::steady_clock::time_point host = std::chrono::steady_clock::now();
    std::uint64_t wire;
    unsigned position;
    explicit Timer(unsigned p) : wire(kvsim_time_ps(p)), position(p) {}
    double host_s() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - host).count(); }
    double wire_s() const { return static_cast<double>(kvsim_time_ps(position) - wire) / kPicosPerSecond; }
    double duration_s() const { return std::max(host_s(), wire_s()); }
};

void load_board(nlohmann::json board, bool wall_clock) {
    board["wall_clock"] = wall_clock;
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

Bytes random_data(std::size_t n, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(n);
    for (std::uint8_t &b : bytes) b = static_cast<std::uint8_t>(generator());
    return bytes;
}

const char *clock_name(bool wall_clock) { return wall_clock ? "wall clock on" : "wall clock off"; }

void flash_figures(bool wall_clock) {
    std::ifstream file(KV_BOARD_DIR "/flash16m.json");
    const nlohmann::json board = nlohmann::json::parse(file);
    const nlohmann::json &chip = board["bridges"][3]["channels"][0]["devices"][0];
    load_board(board, wall_clock);
    const unsigned channel = 4, position = position_of(channel);
    SpiChannel spi(SpiSettings{channel, 3, 0, kFlashClock});
    Flash flash(spi, kFlashClock, FlashGeometry{});
    const std::uint64_t size = flash.geometry().size, pages = size / flash.geometry().page;
    const double byte_s = 8.0 / kFlashClock;

    Timer write_timer(position);
    flash.write(random_data(size, 1), true, Show::Never);
    // The read before, write enable and page program with the data, the read-back.
    const double moved = 2.0 * static_cast<double>(size + 5) + static_cast<double>(pages * (1 + 4 + flash.geometry().page));
    const double floor = static_cast<double>(pages) * chip["write_cycle_us"].get<double>() * 1e-6 + moved * byte_s;
    std::printf("flash write 16 MiB onto erased flash at 10 MHz, %s: duration %.2f s (host %.2f s, wire %.2f s), "
                "floor %.2f s: %.3fx\n",
                clock_name(wall_clock), write_timer.duration_s(), write_timer.host_s(), write_timer.wire_s(), floor,
                write_timer.duration_s() / floor);
    if (wall_clock) return;

    Timer read_timer(position);
    const Bytes whole = flash.read(0, size, Show::Never);
    const double payload = static_cast<double>(whole.size()) * byte_s;
    std::printf("flash read 16 MiB at 10 MHz, %s: wire %.4f s, floor (its bytes clocked) %.4f s: %.3f%% efficient, "
                "host %.2f s\n",
                clock_name(wall_clock), read_timer.wire_s(), payload, 100 * payload / read_timer.wire_s(),
                read_timer.host_s());
}

void eeprom_figures(bool wall_clock) {
    const std::uint64_t cycle_us = 5000;
    load_board(nlohmann::json::parse(R"({"bridges": [{"type": 6, "channels": [{"bus": "none"},
        {"bus": "i2c", "devices": [{"kind": "eeprom24", "name": "eeprom", "address": 80, "size": 32768,
                                    "write_cycle_us": 5000}]}]}]})"),
               wall_clock);
    const unsigned channel = 1, position = position_of(channel);
    I2cChannel i2c(I2cTarget{channel, kEepromClock});
    EepromGeometry geometry;
    geometry.size = 32768;
    geometry.settle();
    Eeprom eeprom(i2c, geometry);
    const Bytes data = random_data(geometry.size, 7);

    Timer timer(position);
    eeprom.write(data, Show::Never);
    const std::uint64_t pages = geometry.size / geometry.page;
    // Each page: the device address, two address bytes and its data, nine bits a byte.
    const double wire = static_cast<double>(pages * (3 + geometry.page)) * 9 / kEepromClock;
    const double floor = wire + static_cast<double>(pages * cycle_us) * 1e-6;
    const double duration = timer.duration_s(), host = timer.host_s(), wire_s = timer.wire_s();
    const bool same = eeprom.read(0, geometry.size, Show::Never) == data;
    std::printf("eeprom write 32 KiB at 400 kHz, %s: duration %.3f s (host %.3f s, wire %.3f s), floor %.3f s "
                "(wire %.3f s + %llu write cycles): %.3fx%s\n",
                clock_name(wall_clock), duration, host, wire_s, floor, wire, static_cast<unsigned long long>(pages),
                duration / floor, same ? "" : " (READ BACK DIFFERS)");
}

}  // namespace

int main() {
    setenv("KVZUBR_SIM_STATE", "", 1);  // no state file: factory-fresh devices
    try {
        for (bool wall_clock : {false, true}) {
            eeprom_figures(wall_clock);
            flash_figures(wall_clock);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "velta_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
