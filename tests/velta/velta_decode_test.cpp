// velta decode as a process, on streams the library really sends: the simulated bridge's engine
// log of a channel set-up, recordings of velta's own sessions, and every command of the engine
// vocabulary built with its encoders.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <set>

#include "engine_log.h"
#include "kvsim.h"
#include "libVELTA_i2c.h"
#include "libVELTA_spi.h"
#include "tool_process.h"
#include "velta_engine.h"

namespace {

using Json = nlohmann::json;
using kvtest::Bytes;

Json decode(ToolSandbox &box, const std::string &file, const std::vector<std::string> &options = {}) {
    std::vector<std::string> args = {"decode", "--json", file};
    args.insert(args.end(), options.begin(), options.end());
    const ToolRun run = box.run("velta", args);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    return Json::parse(run.out, nullptr, false);
}

std::vector<std::string> values_of(const Json &list, const char *key) {
    std::vector<std::string> values;
    for (const Json &item : list) values.push_back(item.value(key, ""));
    return values;
}

// ---- the engine log of a channel set-up ----

// The engine log of the set-up alone.
void init_spi(Bytes *log) {
    KV_HANDLE handle = nullptr;
    ASSERT_EQ(SPI_OpenChannel(0, &handle), STATUS_SUCCESS);
    kvsim_log_clear(0);
    ChannelConfig config{};
    config.ClockRate = 1000000;
    config.configOptions = SPI_CFG_CS_ACTIVE_LOW;  // mode 0, chip select on pin 3
    config.Pin = 0x0800;                           // pin 3 released (high) at first
    ASSERT_EQ(SPI_InitChannel(handle, &config), STATUS_SUCCESS);
    *log = kvtest::take_engine_log(0);
    SPI_CloseChannel(handle);
}

void init_i2c(Bytes *log) {
    KV_HANDLE handle = nullptr;
    ASSERT_EQ(I2C_OpenChannel(0, &handle), STATUS_SUCCESS);
    kvsim_log_clear(0);
    I2CChannelConfig config{};
    config.ClockRate = 100000;  // three-phase: 150 kHz programmed
    ASSERT_EQ(I2C_InitChannel(handle, &config), STATUS_SUCCESS);
    *log = kvtest::take_engine_log(0);
    I2C_CloseChannel(handle);
}

TEST(VeltaDecode, ChannelSetUpFromTheEngineLogNamesEveryCommandInOrder) {
    const std::vector<std::string> common = {"loopback on",   "unknown",     "unknown",
                                             "divide-by-5 on", "set divisor", "loopback off", "set low pins"};
    struct Case {
        const char *family;
        void (*init)(Bytes *log);
        std::vector<std::string> after;  // commands after the common sequence
        unsigned divisor, hz, pins;
    } cases[] = {{"spi", init_spi, {}, 5, 1000000, 0x08},
                 {"i2c", init_i2c, {"three-phase on"}, 39, 150000, 0x13}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.family);
        ASSERT_EQ(kvsim_load_config_json(R"({"wall_clock": false, "bridges": [
            {"type": 8, "serial": "DECODE01", "channels": [{"bus": "none"}]}]})"), 0);
        Bytes log;
        c.init(&log);
        ToolSandbox box;
        box.write_file("engine.log", std::string(log.begin(), log.end()));
        const Json out = decode(box, "engine.log");
        ASSERT_EQ(out["source"], "binary");
        const Json &commands = out["streams"][0]["commands"];
        std::vector<std::string> expected = common;
        expected.insert(expected.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(values_of(commands, "name"), expected);
        EXPECT_EQ(commands[1]["args"], (Json{{"byte", 0xaa}}));
        EXPECT_EQ(commands[2]["args"], (Json{{"byte", 0xab}}));
        EXPECT_EQ(commands[4]["args"], (Json{{"divisor", c.divisor}}));
        EXPECT_EQ(commands[6]["args"]["value"], c.pins);

        const Json &bus = out["streams"][0]["bus"];
        ASSERT_GE(bus.size(), 5u);
        EXPECT_EQ(bus[1]["echo"], "faaa");  // what the engine answers to a byte it does not know
        EXPECT_EQ(bus[2]["echo"], "faab");
        EXPECT_EQ(bus[4]["event"], "clock");
        EXPECT_EQ(bus[4]["hz"], c.hz);
    }
}

// ---- recordings of velta's sessions, with their answers ----

TEST(VeltaDecode, RecordingsShowI2cAcknowledgesAndSpiFramesWithTheBytesThatCameBack) {
    ToolSandbox box;
    box.write_file("data.bin", "ZZZZ");
    struct Case {
        std::vector<std::string> args;
        std::function<std::vector<std::string>(const std::string &printed)> lines;
    } cases[] = {
        {{"eeprom", "write", "-y", "--size", "32768", "2", "0x50", "data.bin"},
         [](const std::string &) {
             return std::vector<std::string>{
                 "i2c: start, address 0x50 write ack, 0x00 ack, 0x00 ack, 0x5a ack, 0x5a ack, 0x5a ack, 0x5a ack, stop",
                 // the read-back for the verification
                 "i2c: start, address 0x50 write ack, 0x00 ack, 0x00 ack, repeated start, address 0x50 read ack, "
                 "read 0x5a ack, read 0x5a ack, read 0x5a ack, read 0x5a nack, stop"};
         }},
        {{"spi", "transfer", "1", "--hex", "03000010"},
         [](const std::string &printed) {
             return std::vector<std::string>{"low pins 0x00/0x0b: pin 3 low",
                                             "spi frame, pin 3 low: out 03 00 00 10, in " + printed,
                                             "low pins 0x08/0x0b: pin 3 high"};
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0]);
        box.environment = {std::string("VELTA_DRIVER=") + KV_LIB_DIR + "/kvzubr-rec/libkvzubr.so",
                           std::string("KVZUBR_RECORD_DRIVER=") + KV_LIB_DIR + "/libkvzubr.so",
                           "KVZUBR_RECORD=" + box.path("session.jsonl")};
        const ToolRun live = box.run("velta", c.args);
        ASSERT_EQ(live.status, 0) << live.err;
        box.environment.clear();

        const ToolRun run = box.run("velta", {"decode", "session.jsonl"});
        EXPECT_EQ(run.status, 0) << run.err;
        std::string printed = live.out.substr(0, live.out.find('\n'));
        std::size_t at = 0;
        for (const std::string &line : c.lines(printed)) {
            at = run.out.find("  " + line + "\n", at);  // in this order
            EXPECT_NE(at, std::string::npos) << line << "\nin\n" << run.out;
        }
    }
}

// A full-speed bridge's engine lacks the clock commands: it answers them as unknown bytes, and
// those answers must not be taken for the bus's.
TEST(VeltaDecode, RecordingOfAFullSpeedBridgeUsesItsVocabulary) {
    ToolSandbox box;
    box.environment = {std::string("VELTA_DRIVER=") + KV_LIB_DIR + "/kvzubr-rec/libkvzubr.so",
                       std::string("KVZUBR_RECORD_DRIVER=") + KV_LIB_DIR + "/libkvzubr.so",
                       "KVZUBR_RECORD=" + box.path("session.jsonl")};
    // The EEPROM example sets up I2C channel 2 with three-phase clocking, which is here the
    // full-speed bridge at list position 2: it sends the command that bridge lacks.
    box.use_board(R"({"wall_clock": false, "bridges": [
      {"type": 8, "channels": [{"bus": "none"}]}, {"type": 8, "channels": [{"bus": "none"}]},
      {"type": 4, "channels": [{"bus": "i2c", "devices": [{"kind": "eeprom24", "name": "eeprom", "address": "0x50",
        "size": "0x8000", "page_size": 64}]}, {"bus": "none"}]}]})");
    ASSERT_EQ(box.run("i2c_eeprom", {}).status, 0);
    box.environment.clear();
    const Json stream = decode(box, "session.jsonl")["streams"][0];
    EXPECT_EQ(stream["position"], 2);
    EXPECT_EQ(stream["full_speed"], true);
    const std::set<std::string> clock_only = {"three-phase on", "three-phase off", "divide-by-5 on", "divide-by-5 off",
                                              "adaptive clocking on", "adaptive clocking off", "drive zero only"};
    for (const Json &c : stream["commands"]) {
        SCOPED_TRACE(c.dump());
        EXPECT_EQ(clock_only.count(c["name"]), 0u);
        EXPECT_NE(c["name"], "answer with no command");
        if (c["name"] == "unknown" && c.value("answer", "") != "") {
            EXPECT_EQ(c["answer"], "fa" + c["bytes"].get<std::string>());  // the engine's echo, paired
        }
    }
    const auto three_phase_echo = [](const Json &c) { return c["name"] == "unknown" && c["bytes"] == "8c"; };
    EXPECT_TRUE(std::any_of(stream["commands"].begin(), stream["commands"].end(), three_phase_echo));
}

// ---- every command the library sends, built with the vocabulary's encoders ----

struct Encoded {
    Bytes bytes;
    std::string name;
    Json args;
};

Bytes encoded(std::size_t (*encode)(uint8_t *, uint8_t, uint32_t), uint8_t op, uint32_t count, const Bytes &data = {}) {
    uint8_t b[3];
    Bytes out(b, b + encode(b, op, count));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes bits(uint8_t op, unsigned n, uint8_t data) {
    uint8_t b[3];
    return Bytes(b, b + velta_encode_shift_bits(b, op, n, data));
}

std::vector<Encoded> vocabulary() {
    const unsigned out = VELTA_SHIFT_OUT, in = VELTA_SHIFT_IN, bit = VELTA_SHIFT_BITS;
    // SPI modes 0 and 3 change data out on the falling edge and sample on the rising one.
    const char *const out_edge[] = {"falling", "rising", "rising", "falling"};
    const char *const in_edge[] = {"rising", "falling", "falling", "rising"};
    std::vector<Encoded> rows;
    for (unsigned mode = 0; mode < 4; ++mode) {
        const std::string o = std::string(" out ") + out_edge[mode], i = std::string(" in ") + in_edge[mode];
        rows.push_back({encoded(velta_encode_shift_bytes, velta_spi_shift(out, mode), 3, {1, 2, 3}),
                        "shift bytes" + o, {{"count", 3}, {"data", "010203"}}});
        rows.push_back({encoded(velta_encode_shift_bytes, velta_spi_shift(in, mode), VELTA_MAX_SHIFT_BYTES),
                        "shift bytes" + i, {{"count", VELTA_MAX_SHIFT_BYTES}}});
        rows.push_back({encoded(velta_encode_shift_bytes, velta_spi_shift(out | in, mode), 2, {0xa5, 0x5a}),
                        "shift bytes" + o + i, {{"count", 2}, {"data", "a55a"}}});
        rows.push_back({bits(velta_spi_shift(out | bit, mode), 5, 0xa8), "shift bits" + o, {{"bits", 5}, {"data", 0xa8}}});
        rows.push_back({bits(velta_spi_shift(in | bit, mode), 8, 0), "shift bits" + i, {{"bits", 8}}});
        rows.push_back({bits(velta_spi_shift(out | in | bit, mode), 1, 0x80), "shift bits" + o + i,
                        {{"bits", 1}, {"data", 0x80}}});
    }
    uint8_t b[3];
    rows.push_back({Bytes(b, b + velta_encode_pins(b, VELTA_CMD_SET_LOW_PINS, 0x13, 0x11)), "set low pins",
                    {{"value", 0x13}, {"direction", 0x11}}});
    rows.push_back({Bytes(b, b + velta_encode_pins(b, VELTA_CMD_SET_HIGH_PINS, 0x0f, 0xf0)), "set high pins",
                    {{"value", 0x0f}, {"direction", 0xf0}}});
    rows.push_back({Bytes(b, b + velta_encode_divisor(b, 0x1234)), "set divisor", {{"divisor", 0x1234}}});
    rows.push_back({{VELTA_CMD_DRIVE_ZERO_ONLY, 0x03, 0x00}, "drive zero only", {{"low", 3}, {"high", 0}}});
    const std::pair<uint8_t, const char *> single[] = {
        {VELTA_CMD_READ_LOW_PINS, "read low pins"},       {VELTA_CMD_READ_HIGH_PINS, "read high pins"},
        {VELTA_CMD_LOOPBACK_ON, "loopback on"},           {VELTA_CMD_LOOPBACK_OFF, "loopback off"},
        {VELTA_CMD_SEND_IMMEDIATE, "send immediate"},     {VELTA_CMD_DIVIDE_BY_5_OFF, "divide-by-5 off"},
        {VELTA_CMD_DIVIDE_BY_5_ON, "divide-by-5 on"},     {VELTA_CMD_THREE_PHASE_ON, "three-phase on"},
        {VELTA_CMD_THREE_PHASE_OFF, "three-phase off"},   {VELTA_CMD_ADAPTIVE_CLOCKING_ON, "adaptive clocking on"},
        {VELTA_CMD_ADAPTIVE_CLOCKING_OFF, "adaptive clocking off"}};
    for (const auto &s : single) rows.push_back({{s.first}, s.second, Json::object()});
    for (unsigned unknown : {VELTA_BOGUS_COMMAND, VELTA_BOGUS_COMMAND_ONCE, 0x00u})
        rows.push_back({{static_cast<uint8_t>(unknown)}, "unknown", {{"byte", unknown}}});
    return rows;
}

TEST(VeltaDecode, EveryCommandOfTheVocabularyDecodesToItsNameAndArguments) {
    const std::vector<Encoded> rows = vocabulary();
    Bytes stream;
    std::string hex = "# every command, once\n0x";
    for (const Encoded &row : rows) {
        stream.insert(stream.end(), row.bytes.begin(), row.bytes.end());
        for (uint8_t byte : row.bytes) hex += "0123456789abcdef"[byte >> 4] + std::string(1, "0123456789abcdef"[byte & 15]) + " ";
        hex += "\n";
    }
    stream.insert(stream.end(), {0x86, 0x1d});  // a command the stream stops inside
    hex += "86 1d\n";
    ToolSandbox box;
    box.write_file("stream.bin", std::string(stream.begin(), stream.end()));
    box.write_file("stream.hex", hex);
    const Json binary = decode(box, "stream.bin"), text = decode(box, "stream.hex", {"--hex"});
    EXPECT_EQ(binary["streams"], text["streams"]);

    const Json &commands = binary["streams"][0]["commands"];
    ASSERT_EQ(commands.size(), rows.size() + 1);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(commands[i]["offset"], offset);
        EXPECT_EQ(commands[i]["name"], rows[i].name);
        EXPECT_EQ(commands[i]["args"], rows[i].args);
        offset += rows[i].bytes.size();
    }
    EXPECT_EQ(commands.back()["name"], "cut short");
    EXPECT_EQ(commands.back()["args"], (Json{{"bytes", "861d"}}));
}

}  // namespace
