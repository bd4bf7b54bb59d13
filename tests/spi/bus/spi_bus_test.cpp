// The SPI bus model: edges against device modes, undriven lines, the byte path against
// edge-by-edge clocking, and the serial memory and test device on it.
#include <gtest/gtest.h>

#include <vector>

#include "frames.h"
#include "spi/spi_bus.h"

using namespace kvsim;

namespace {

constexpr Picos kHalf = 1000;

std::vector<kvtest::Frame> frames_of(Device *device) {
    std::vector<std::uint8_t> raw;
    EXPECT_TRUE(device->get("frames", raw));
    return kvtest::decode_frames(raw);
}

// An engine clocking edge by edge: data out changes on its edge (before the first edge of a bit
// when its edge closes the bit), data in is sampled on its edge before the edge takes effect.
class Master {
public:
    explicit Master(SpiBus &bus) : bus_(bus) {}
    LowPinDrive drive{0x08, 0x0B, 0};  // CS3 high (inactive for active low), SCK/MOSI out, low
    Picos t = 0;

    void set(std::uint8_t mask, bool high) {
        drive.value = static_cast<std::uint8_t>(high ? drive.value | mask : drive.value & ~mask);
        bus_.drive(t, drive);
    }
    void select(bool active) { set(0x08, !active); }
    void idle_clock(bool high) { set(0x01, high); }

    std::uint8_t shift_edges(const ShiftForm &form, std::uint8_t out_byte, unsigned bits = 8) {
        std::uint8_t in = 0;
        bool idle = drive.value & 1;
        for (unsigned b = 0; b < bits; ++b) {
            bool bit = (out_byte >> (7 - b)) & 1;
            bool first_is_falling = idle;
            if (form.out && form.out_on_falling != first_is_falling) set(0x02, bit);
            for (int edge = 0; edge < 2; ++edge) {
                bool falling = (edge == 0) == first_is_falling;
                t += kHalf;
                if (form.in && form.in_on_falling == falling) in = static_cast<std::uint8_t>(in << 1 | ((bus_.sense(t) >> 2) & 1));
                if (form.out && edge == 0 && form.out_on_falling == first_is_falling)
                    drive.value = static_cast<std::uint8_t>(bit ? drive.value | 2 : drive.value & ~2);
                drive.value ^= 0x01;
                bus_.drive(t, drive);
            }
        }
        return in;
    }

    std::vector<std::uint8_t> shift(const ShiftForm &form, const std::vector<std::uint8_t> &out, bool fast) {
        std::vector<std::uint8_t> in(out.size());
        if (fast) {
            EXPECT_TRUE(bus_.shift_bytes(&t, kHalf, form, drive, out.data(), in.data(), out.size()));
            if (form.out) drive.value = static_cast<std::uint8_t>((drive.value & ~2) | ((out.back() & 1) << 1));
            return in;
        }
        for (std::size_t i = 0; i < out.size(); ++i) in[i] = shift_edges(form, out[i]);
        return in;
    }

private:
    SpiBus &bus_;
};

ShiftForm exchange_for(unsigned mode) {
    ShiftForm form;
    form.out = form.in = true;
    bool first_set = mode == 0 || mode == 3;  // out on falling, in on rising
    form.out_on_falling = first_set;
    form.in_on_falling = !first_set;
    return form;
}

Json device(const char *kind, unsigned mode, int cs = 3) {
    return Json{{"kind", kind}, {"name", std::string(kind) + std::to_string(cs)}, {"mode", mode}, {"cs", cs}};
}

}  // namespace

TEST(SpiBus, PinNamesAndUndrivenLines) {
    SpiBus bus;
    EXPECT_EQ(bus.pin_name(0), "SCK");
    EXPECT_EQ(bus.pin_name(2), "MISO");
    EXPECT_EQ(bus.pin_name(7), "CS7");
    Json active_high = device("spi-test", 0, 4);
    active_high["active_low"] = false;
    bus.attach(device("spi-test", 0, 3));
    bus.attach(active_high);
    // Nothing driven: CS3 rests high (its device is active low), everything else reads 0.
    EXPECT_EQ(bus.sense(0), 0x08);
    EXPECT_TRUE(frames_of(bus.find("spi-test3")).empty());
    // Driving everything low selects the active-low device; with answer 0xFF its MISO goes high.
    bus.drive(1, LowPinDrive{0x00, 0xFB, 0});
    EXPECT_EQ(bus.sense(1), 0x04);
}

TEST(SpiBus, RejectsBadPlacement) {
    SpiBus bus;
    bus.attach(device("spi-test", 0, 3));
    EXPECT_THROW(bus.attach(Json{{"kind", "spi-test"}, {"name", "other"}, {"cs", 3}}), std::runtime_error);
    EXPECT_THROW(bus.attach(device("spi-test", 4, 4)), std::runtime_error);
    EXPECT_THROW(bus.attach(device("spi-test", 0, 2)), std::runtime_error);
    EXPECT_THROW(bus.attach(device("no-such-kind", 0, 5)), std::runtime_error);
}

// Every mode, both paths: the device sees the bytes sent and answers its script.
TEST(SpiBus, ExchangeInEveryModeEdgeByEdgeAndByBytes) {
    const std::vector<std::uint8_t> sent{0xA5, 0x3C, 0x01, 0x80};
    const std::uint8_t answers[] = {0x5A, 0xC3, 0xFE};
    for (unsigned mode = 0; mode < 4; ++mode) {
        for (bool fast : {false, true}) {
            SCOPED_TRACE("mode " + std::to_string(mode) + (fast ? " bytes" : " edges"));
            SpiBus bus;
            bus.attach(device("spi-test", mode));
            Device *dev = bus.find("spi-test3");
            dev->put("answers", answers, sizeof answers);
            Master master(bus);
            master.idle_clock(mode >= 2);
            master.select(true);
            auto in = master.shift(exchange_for(mode), sent, fast);
            master.select(false);
            EXPECT_EQ(in, (std::vector<std::uint8_t>{0x5A, 0xC3, 0xFE, 0xFF}));
            auto frames = frames_of(dev);
            ASSERT_EQ(frames.size(), 1u);
            EXPECT_EQ(frames[0].bits, 32u);
            EXPECT_EQ(frames[0].bytes, sent);
            EXPECT_EQ(master.t, 4 * 16 * kHalf);
        }
    }
}

// The wrong opcode set for the device's mode shifts the bits; the byte path declines.
TEST(SpiBus, WrongModeGivesShiftedBitsAndNoBytePath) {
    SpiBus bus;
    bus.attach(device("spi-test", 1));
    const std::uint8_t answer = 0x81;
    bus.find("spi-test3")->put("answers", &answer, 1);
    Master master(bus);
    master.select(true);
    std::uint8_t in[1];
    std::uint8_t out[1] = {0x81};
    EXPECT_FALSE(bus.shift_bytes(&master.t, kHalf, exchange_for(0), master.drive, out, in, 1));
    std::uint8_t got = master.shift_edges(exchange_for(0), 0x81);
    master.select(false);
    EXPECT_NE(got, 0x81);
    // The device samples on the falling edge before the master's change, so MOSI arrives; its
    // answer, put out on the rising edge the master samples on, comes back a bit late.
    EXPECT_EQ(got, 0xC0);  // 0x81 one bit late, its first bit seen twice
    auto frames = frames_of(bus.find("spi-test3"));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bits, 8u);
}

TEST(SpiBus, PartialByteIsRecordedLeftAlignedAndDeclinesBytePath) {
    SpiBus bus;
    bus.attach(device("spi-test", 0));
    Master master(bus);
    master.select(true);
    ShiftForm write;
    write.out = true;
    write.out_on_falling = true;
    master.shift_edges(write, 0xB0, 4);
    std::uint8_t out[1] = {0};
    EXPECT_FALSE(bus.shift_bytes(&master.t, kHalf, write, master.drive, out, nullptr, 1));
    master.select(false);
    auto frames = frames_of(bus.find("spi-test3"));
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bits, 4u);
    EXPECT_EQ(frames[0].bytes, std::vector<std::uint8_t>{0xB0});
}

TEST(SpiBus, TwoSelectedDevicesDeclineBytePath) {
    SpiBus bus;
    bus.attach(device("spi-test", 0, 3));
    bus.attach(device("spi-test", 0, 4));
    Master master(bus);
    master.drive.direction |= 0x10;
    master.set(0x18, false);
    std::uint8_t out[1] = {0}, in[1];
    EXPECT_FALSE(bus.shift_bytes(&master.t, kHalf, exchange_for(0), master.drive, out, in, 1));
}

class MemoryBus : public ::testing::TestWithParam<std::tuple<unsigned, bool>> {
protected:
    SpiBus bus;
    Master master{bus};
    void SetUp() override {
        bus.attach(Json{{"kind", "spi-memory"}, {"name", "mem"}, {"mode", mode()}, {"size", 1024},
                        {"page_size", 16}, {"write_cycle_us", 5}});
        master.idle_clock(mode() == 3);
    }
    unsigned mode() const { return std::get<0>(GetParam()); }
    std::vector<std::uint8_t> frame(const std::vector<std::uint8_t> &out) {
        master.select(true);
        auto in = master.shift(exchange_for(mode()), out, std::get<1>(GetParam()));
        master.select(false);
        return in;
    }
};

TEST_P(MemoryBus, PageProgramWrapsInsideThePageAndReadsBack) {
    EXPECT_EQ(frame({0x05, 0x00})[1], 0x00);
    frame({0x06});
    EXPECT_EQ(frame({0x05, 0x00})[1], 0x02);
    // Four bytes from offset 14 of page 0x20: two at its end, two at its start.
    frame({0x02, 0x00, 0x2E, 1, 2, 3, 4});
    EXPECT_EQ(frame({0x05, 0x00})[1], 0x03);
    // During the write cycle a read is ignored and MISO shows busy.
    EXPECT_EQ(frame({0x03, 0x00, 0x20, 0x00}), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    master.t += 5000000;
    EXPECT_EQ(frame({0x05, 0x00})[1], 0x00);
    auto in = frame({0x03, 0x00, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    std::vector<std::uint8_t> page(in.begin() + 3, in.end());
    std::vector<std::uint8_t> want(16, 0xFF);
    want[0] = 3, want[1] = 4, want[14] = 1, want[15] = 2;
    EXPECT_EQ(page, want);
}

TEST_P(MemoryBus, ProgramNeedsWriteEnableAndWholeBytes) {
    frame({0x02, 0x00, 0x00, 0x11});
    frame({0x06});
    frame({0x04});
    frame({0x02, 0x00, 0x00, 0x22});
    std::vector<std::uint8_t> contents;
    bus.find("mem")->get("memory", contents);
    EXPECT_EQ(contents[0], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Modes, MemoryBus,
                         ::testing::Combine(::testing::Values(0u, 3u), ::testing::Bool()));

TEST(SpiMemory, ShowsBusyOnMisoOutsideACommandAndKeepsState) {
    SpiBus bus;
    bus.attach(Json{{"kind", "spi-memory"}, {"name", "mem"}, {"size", 131072}});
    Master master(bus);
    master.select(true);
    master.shift(exchange_for(0), {0x06}, true);
    master.select(false);
    master.select(true);
    master.shift(exchange_for(0), {0x02, 0x01, 0x00, 0x00, 0x42}, true);  // 3-byte address
    master.select(false);
    master.select(true);
    EXPECT_EQ(bus.sense(master.t) & 0x04, 0x04);
    master.select(false);
    master.t += 1000 * 1000000ull;
    master.select(true);
    EXPECT_EQ(bus.sense(master.t) & 0x04, 0);
    master.select(false);

    Json state = bus.find("mem")->save_state();
    SpiBus other;
    other.attach(Json{{"kind", "spi-memory"}, {"name", "mem"}, {"size", 131072}});
    other.find("mem")->load_state(state);
    std::vector<std::uint8_t> contents;
    other.find("mem")->get("memory", contents);
    EXPECT_EQ(contents[0x10000], 0x42);
}

// A memory configured in mode 0 or 3 follows the idle clock it finds at chip-select; kept to its
// mode, or a device of another kind, it does not.
TEST(SpiBus, ModesZeroAndThreeFollowTheIdleClockAtSelect) {
    const std::vector<std::uint8_t> status{0x05, 0x00};
    for (bool keep : {false, true}) {
        SCOPED_TRACE(keep ? "kept to mode 0" : "modes 0 and 3");
        SpiBus bus;
        Json memory{{"kind", "spi-memory"}, {"name", "mem"}, {"mode", 0}};
        if (keep) memory["modes_0_and_3"] = false;
        bus.attach(memory);
        Master master(bus);
        master.select(true);
        master.shift(exchange_for(0), {0x06}, false);
        master.select(false);
        master.idle_clock(true);
        master.select(true);
        auto in = master.shift(exchange_for(3), status, false);
        master.select(false);
        // The write-enable latch, read in mode 3, comes back only from the memory taking both.
        EXPECT_EQ(in[1] == 0x02, !keep) << int(in[1]);
    }
    SpiBus bus;
    EXPECT_THROW(bus.attach(Json{{"kind", "spi-memory"}, {"mode", 1}, {"modes_0_and_3", true}}), std::runtime_error);
    EXPECT_NO_THROW(bus.attach(Json{{"kind", "spi-memory"}, {"mode", 1}}));
}
