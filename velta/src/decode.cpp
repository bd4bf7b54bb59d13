#include "decode.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "velta_engine.h"

namespace velta {

namespace {

using Json = nlohmann::json;

constexpr std::size_t kShownBytes = 32;  // longer data is cut short in the text
constexpr std::uint64_t kFastBase = 30000000, kSlowBase = 6000000;

// ---- small texts ----

std::string hex_text(const Bytes &bytes, std::size_t from = 0, std::size_t count = SIZE_MAX) {
    std::string text;
    char cell[4];
    for (std::size_t i = from; i < bytes.size() && i - from < count; ++i) {
        std::snprintf(cell, sizeof cell, "%02x", bytes[i]);
        if (!text.empty()) text += ' ';
        text += cell;
    }
    return text;
}

std::string hex_json(const Bytes &bytes) {
    std::string text = hex_text(bytes);
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
}

// At most kShownBytes bytes, then how many there are.
std::string shown(const Bytes &bytes) {
    if (bytes.size() <= kShownBytes) return hex_text(bytes);
    return hex_text(bytes, 0, kShownBytes) + " ... (" + std::to_string(bytes.size()) + " bytes)";
}

std::string join(const std::vector<std::string> &parts) {
    std::string text;
    for (const std::string &p : parts) text += (text.empty() ? "" : ", ") + p;
    return text;
}

std::string hz_text(std::uint64_t hz) {
    return hz % 1000000 ? std::to_string(hz) + " Hz" : std::to_string(hz / 1000000) + " MHz";
}

// ---- commands ----

struct Command {
    enum class Kind { Known, Unknown, CutShort, StrayAnswer };
    Kind kind = Kind::Known;
    std::size_t offset = 0;  // of its first byte in the stream sent
    Bytes code;              // the opcode and its argument bytes (or the bytes cut short, or the stray answer)
    Bytes data;              // the data bytes of a byte shift that writes
    std::uint32_t owed = 0;  // answer bytes the engine queues for it
    Bytes answer;            // what the host read of them (recordings)

    std::uint8_t op() const { return code[0]; }
    std::uint8_t arg(std::size_t i) const { return code.size() > i + 1 ? code[i + 1] : 0; }
    bool is(std::uint8_t command) const { return kind == Kind::Known && op() == command; }
    bool shift() const { return kind == Kind::Known && velta_is_shift(op()); }
    bool bits() const { return (op() & VELTA_SHIFT_BITS) != 0; }
    bool out() const { return (op() & VELTA_SHIFT_OUT) != 0; }
    bool in() const { return (op() & VELTA_SHIFT_IN) != 0; }
    unsigned bit_count() const { return arg(0) + 1u; }
    unsigned divisor() const { return arg(1) * 256u + arg(0); }
};

// Splits a stream into commands by the vocabulary's argument and data lengths; a split anywhere
// between writes is joined again. Answers read back are paired with the commands that queue them,
// in order, as the engine queues them.
class CommandReader {
public:
    // A full-speed bridge's engine lacks the clock commands and answers them as unknown bytes.
    void set_full_speed(bool full_speed) { full_speed_ = full_speed; }

    void sent(const Bytes &bytes) {
        for (std::uint8_t b : bytes) take(b);
    }

    void answered(const Bytes &bytes) {
        for (std::uint8_t b : bytes) {
            if (owing_.empty()) {
                stray(b);
                continue;
            }
            Command &c = commands_[owing_.front()];
            c.answer.push_back(b);
            if (c.answer.size() == c.owed) owing_.pop_front();
        }
    }

    // The engine or its queue was reset: answers not yet read are gone, and with `partial` a
    // command not yet complete is dropped by the engine.
    void reset(bool answers, bool partial) {
        if (answers) owing_.clear();
        if (partial) cut_short();
    }

    std::vector<Command> finish() {
        cut_short();
        return std::move(commands_);
    }

private:
    void take(std::uint8_t b) {
        if (pending_.code.empty()) {
            pending_ = Command{};
            pending_.offset = sent_;
            pending_.code.push_back(b);
            const int args = velta_argument_length(b, full_speed_);
            if (args < 0) {
                pending_.kind = Command::Kind::Unknown;
                pending_.owed = 2;  // the echo marker and the byte
                complete();
            } else {
                arguments_ = static_cast<std::size_t>(args);
                if (arguments_ == 0) complete();
            }
        } else if (pending_.code.size() < arguments_ + 1) {
            pending_.code.push_back(b);
            if (pending_.code.size() == arguments_ + 1 && data_length() == 0) complete();
        } else {
            pending_.data.push_back(b);
            if (pending_.data.size() == data_length()) complete();
        }
        ++sent_;
    }

    std::uint32_t data_length() const { return velta_data_length(pending_.op(), pending_.arg(0), pending_.arg(1)); }

    void complete() {
        if (pending_.kind == Command::Kind::Known)
            pending_.owed = velta_answer_length(pending_.op(), pending_.arg(0), pending_.arg(1));
        if (pending_.owed) owing_.push_back(commands_.size());
        commands_.push_back(std::move(pending_));
        pending_ = Command{};
    }

    void cut_short() {
        if (pending_.code.empty()) return;
        pending_.kind = Command::Kind::CutShort;
        pending_.code.insert(pending_.code.end(), pending_.data.begin(), pending_.data.end());
        pending_.data.clear();
        commands_.push_back(std::move(pending_));
        pending_ = Command{};
    }

    void stray(std::uint8_t b) {
        if (commands_.empty() || commands_.back().kind != Command::Kind::StrayAnswer) {
            Command c;
            c.kind = Command::Kind::StrayAnswer;
            c.offset = sent_;
            commands_.push_back(c);
        }
        commands_.back().code.push_back(b);
    }

    std::vector<Command> commands_;
    std::deque<std::size_t> owing_;
    Command pending_;
    std::size_t arguments_ = 0;
    std::size_t sent_ = 0;
    bool full_speed_ = false;
};

std::string shift_name(std::uint8_t op) {
    std::string name = (op & VELTA_SHIFT_BITS) ? "shift bits" : "shift bytes";
    if (op & VELTA_SHIFT_OUT) name += (op & VELTA_SHIFT_OUT_FALLING) ? " out falling" : " out rising";
    if (op & VELTA_SHIFT_IN) name += (op & VELTA_SHIFT_IN_FALLING) ? " in falling" : " in rising";
    return name;
}

// The name of a command the engine knows, as velta decode prints it.
std::string command_name(std::uint8_t op) {
    if (velta_is_shift(op)) return shift_name(op);
    switch (op) {
    case VELTA_CMD_SET_LOW_PINS: return "set low pins";
    case VELTA_CMD_READ_LOW_PINS: return "read low pins";
    case VELTA_CMD_SET_HIGH_PINS: return "set high pins";
    case VELTA_CMD_READ_HIGH_PINS: return "read high pins";
    case VELTA_CMD_LOOPBACK_ON: return "loopback on";
    case VELTA_CMD_LOOPBACK_OFF: return "loopback off";
    case VELTA_CMD_SET_DIVISOR: return "set divisor";
    case VELTA_CMD_SEND_IMMEDIATE: return "send immediate";
    case VELTA_CMD_DIVIDE_BY_5_OFF: return "divide-by-5 off";
    case VELTA_CMD_DIVIDE_BY_5_ON: return "divide-by-5 on";
    case VELTA_CMD_THREE_PHASE_ON: return "three-phase on";
    case VELTA_CMD_THREE_PHASE_OFF: return "three-phase off";
    case VELTA_CMD_ADAPTIVE_CLOCKING_ON: return "adaptive clocking on";
    case VELTA_CMD_ADAPTIVE_CLOCKING_OFF: return "adaptive clocking off";
    case VELTA_CMD_DRIVE_ZERO_ONLY: return "drive zero only";
    default: return "command";  // velta_argument_length() knows it but this table does not yet
    }
}

struct Described {
    std::string name;
    Json args = Json::object();
    std::vector<std::string> text;  // the arguments as words
};

Described describe_known(const Command &c) {
    Described d{command_name(c.op()), Json::object(), {}};
    if (c.shift()) {
        if (c.bits()) {
            d.args["bits"] = c.bit_count();
            d.text.push_back(std::to_string(c.bit_count()) + (c.bit_count() == 1 ? " bit" : " bits"));
            if (c.out()) {
                d.args["data"] = c.arg(1);
                d.text.push_back(hex_byte(c.arg(1)));
            }
        } else {
            const std::uint32_t count = velta_shift_count(c.arg(0), c.arg(1));
            d.args["count"] = count;
            d.text.push_back(std::to_string(count) + (count == 1 ? " byte" : " bytes"));
            if (c.out()) {
                d.args["data"] = hex_json(c.data);
                d.text.back() += ": " + shown(c.data);
            }
        }
        return d;
    }
    switch (c.op()) {
    case VELTA_CMD_SET_LOW_PINS: case VELTA_CMD_SET_HIGH_PINS:
        d.args = {{"value", c.arg(0)}, {"direction", c.arg(1)}};
        d.text = {"value " + hex_byte(c.arg(0)), "direction " + hex_byte(c.arg(1))};
        break;
    case VELTA_CMD_SET_DIVISOR:
        d.args["divisor"] = c.divisor();
        d.text.push_back(std::to_string(c.divisor()));
        break;
    case VELTA_CMD_DRIVE_ZERO_ONLY:
        d.args = {{"low", c.arg(0)}, {"high", c.arg(1)}};
        d.text = {"low " + hex_byte(c.arg(0)), "high " + hex_byte(c.arg(1))};
        break;
    default:
        break;
    }
    return d;
}

Described describe(const Command &c) {
    switch (c.kind) {
    case Command::Kind::Known:
        return describe_known(c);
    case Command::Kind::Unknown: {
        const bool bogus = c.op() == VELTA_BOGUS_COMMAND || c.op() == VELTA_BOGUS_COMMAND_ONCE;
        Described d{"unknown", Json::object(), {}};
        d.args["byte"] = c.op();
        d.text.push_back(hex_byte(c.op()) + (bogus ? " (synchronisation)" : ""));
        return d;
    }
    case Command::Kind::CutShort:
        return Described{"cut short", {{"bytes", hex_json(c.code)}}, {shown(c.code)}};
    case Command::Kind::StrayAnswer:
    default:
        return Described{"answer with no command", {{"bytes", hex_json(c.code)}}, {shown(c.code)}};
    }
}

// What the engine answers to an unknown byte, for a stream without answers.
Bytes echo_of(std::uint8_t byte) { return {VELTA_ECHO_MARKER, byte}; }

std::string answer_text(const Command &c, bool answers) {
    if (!c.owed || c.kind == Command::Kind::StrayAnswer) return "";
    if (!answers)
        return c.kind == Command::Kind::Unknown ? ", the engine echoes " + hex_text(echo_of(c.op())) : "";
    if (c.answer.empty()) return " -> (no answer read)";
    std::string text = " -> " + shown(c.answer);
    if (c.answer.size() < c.owed)
        text += " (" + std::to_string(c.answer.size()) + " of " + std::to_string(c.owed) + " bytes read)";
    return text;
}

std::string command_line(const Command &c, bool answers) {
    const Described d = describe(c);
    char head[48];
    const std::string code = c.kind == Command::Kind::Known || c.kind == Command::Kind::Unknown ? hex_text(c.code) : "";
    std::snprintf(head, sizeof head, "%8zu  %-8s  ", c.offset, code.c_str());
    std::string line = head + d.name;
    if (!d.text.empty()) line += " " + join(d.text);
    return line + answer_text(c, answers) + "\n";
}

Json command_json(const Command &c, bool answers) {
    const Described d = describe(c);
    Json j = {{"offset", c.offset}, {"name", d.name}, {"args", d.args}};
    if (c.kind == Command::Kind::Known || c.kind == Command::Kind::Unknown) j["bytes"] = hex_json(c.code);
    if (c.owed && answers) j["answer"] = hex_json(c.answer);
    return j;
}

// ---- the bus view ----

struct BusEvent {
    std::size_t offset;
    Json json;
    std::string text;
};

struct PinByte {
    bool known = false;
    std::uint8_t value = 0, direction = 0;
    bool operator!=(const PinByte &o) const { return known != o.known || value != o.value || direction != o.direction; }
};

// The pins whose level or direction `after` changes, as words ("pin 3 low", "pin 2 input").
std::string pin_changes(const PinByte &before, const PinByte &after) {
    std::vector<std::string> words;
    for (unsigned pin = 0; pin < 8; ++pin) {
        const unsigned bit = 1u << pin;
        const bool output = after.direction & bit;
        const bool changed = !before.known || ((before.direction ^ after.direction) & bit) ||
                             (output && ((before.value ^ after.value) & bit));
        if (!changed || (!before.known && !output)) continue;
        words.push_back("pin " + std::to_string(pin) + (output ? (after.value & bit ? " high" : " low") : " input"));
    }
    if (!before.known) words.push_back("others inputs");
    return join(words);
}

// An I2C line's level from a low-pin state: a line not driven is pulled up.
int line_level(const PinByte &pins, std::uint8_t bit) { return (pins.direction & bit) ? (pins.value & bit ? 1 : 0) : 1; }

// Turns commands into bus events. I2C conditions are recognised in runs of low-pin commands (SDA
// falling while SCL is high: start; rising: stop); between them the bit shifts are the
// transaction's bytes and acknowledges. Shifts outside a transaction are SPI frames, one per
// stretch between pin changes (chip selects are low pins 3 to 7).
class BusView {
public:
    explicit BusView(bool answers) : answers_(answers) {}

    void add(const Command &c) {
        if (c.is(VELTA_CMD_SET_LOW_PINS)) return low_pins(c);
        close_run();
        if (c.shift()) return in_transaction_ ? i2c_shift(c) : spi_shift(c);
        other(c);
    }

    std::vector<BusEvent> finish() {
        close_run();
        close_frame();
        if (in_transaction_) end_transaction("(no stop)");
        return std::move(events_);
    }

private:
    struct I2cItem {
        Json json;
        std::string text;
    };

    void event(std::size_t offset, Json json, std::string text) {
        events_.push_back(BusEvent{offset, std::move(json), std::move(text)});
    }

    // The answer byte of a command that queues one, or -1 when the input has none.
    int answer_byte(const Command &c) const { return answers_ && !c.answer.empty() ? c.answer[0] : -1; }

    // ---- pins and I2C conditions ----

    static BusEvent pins_event(std::size_t offset, const char *which, const PinByte &before, const PinByte &after) {
        return BusEvent{offset,
                        {{"event", "pins"}, {"pins", which}, {"value", after.value}, {"direction", after.direction}},
                        std::string(which) + " pins " + hex_byte(after.value) + "/" + hex_byte(after.direction) + ": " +
                            pin_changes(before, after)};
    }

    // A run of low-pin commands is shown pin change by pin change, unless it holds an I2C
    // condition or belongs to a transaction: then it is the condition, or part of a byte.
    void low_pins(const Command &c) {
        if (!run_) {
            run_ = true;
            run_offset_ = c.offset;
            run_condition_ = false;
        }
        const PinByte next{true, c.arg(0), c.arg(1)};
        if (next != low_) {
            const unsigned cs = 0xF8;  // chip selects: pins 3 to 7
            if (!low_.known || ((low_.direction ^ next.direction) & cs) || ((low_.value ^ next.value) & next.direction & cs))
                close_frame();
            run_events_.push_back(pins_event(c.offset, "low", low_, next));
        }
        const int scl = line_level(next, VELTA_PIN_CLOCK), sda = line_level(next, VELTA_PIN_DATA_OUT);
        if (scl_ == 1 && scl == 1 && sda_ >= 0 && sda != sda_) {
            run_condition_ = true;
            if (sda == 0)
                start();
            else
                stop();
        }
        scl_ = scl;
        sda_ = sda;
        low_ = next;
    }

    void close_run() {
        if (!run_) return;
        run_ = false;
        if (!run_condition_ && !in_transaction_)
            events_.insert(events_.end(), run_events_.begin(), run_events_.end());
        run_events_.clear();
    }

    // ---- I2C ----

    void start() {
        if (in_transaction_) {
            flush_pending();
            item({{"item", "repeated start"}}, "repeated start");
        } else {
            close_frame();
            in_transaction_ = true;
            transaction_offset_ = run_offset_;
            item({{"item", "start"}}, "start");
        }
        expect_address_ = true;
    }

    void stop() {
        if (!in_transaction_) {
            event(run_offset_, {{"event", "i2c"}, {"items", Json::array({Json{{"item", "stop"}}})}}, "i2c: stop");
            return;
        }
        flush_pending();
        item({{"item", "stop"}}, "stop");
        end_transaction("");
    }

    void end_transaction(const std::string &note) {
        Json items = Json::array();
        std::vector<std::string> words;
        for (I2cItem &i : items_) {
            items.push_back(std::move(i.json));
            words.push_back(std::move(i.text));
        }
        if (!note.empty()) words.push_back(note);
        event(transaction_offset_, {{"event", "i2c"}, {"items", items}}, "i2c: " + join(words));
        items_.clear();
        in_transaction_ = false;
    }

    void item(Json json, std::string text) { items_.push_back(I2cItem{std::move(json), std::move(text)}); }

    static Json ack_json(int ack) { return ack < 0 ? Json() : Json(ack == 1); }
    static std::string ack_text(int ack) { return ack < 0 ? "ack?" : ack ? "ack" : "nack"; }

    // A byte out and the device's acknowledge bit in (its answer's low bit, 0 = acknowledged).
    void written_byte(std::uint8_t byte, const Command &ack_bit) {
        const int answer = answer_byte(ack_bit);
        const int ack = answer < 0 ? -1 : !(answer & 1);
        if (expect_address_) {
            const bool read = byte & 1;
            item({{"item", "address"}, {"address", byte >> 1}, {"read", read}, {"ack", ack_json(ack)}},
                 "address " + hex_byte(byte >> 1) + (read ? " read " : " write ") + ack_text(ack));
        } else {
            item({{"item", "write"}, {"byte", byte}, {"ack", ack_json(ack)}}, hex_byte(byte) + " " + ack_text(ack));
        }
        expect_address_ = false;
    }

    // A byte in and the host's acknowledge bit out (the data's top bit, 0 = acknowledged).
    void read_byte(int byte, std::uint8_t ack_data) {
        const int ack = !(ack_data & 0x80);
        item({{"item", "read"}, {"byte", byte < 0 ? Json() : Json(byte)}, {"ack", ack_json(ack)}},
             "read " + (byte < 0 ? std::string("??") : hex_byte(byte)) + " " + ack_text(ack));
        expect_address_ = false;
    }

    void bits_item(const Command &c) {
        const bool out = c.out();
        const int value = out ? c.arg(1) : answer_byte(c);
        const unsigned count = c.bits() ? c.bit_count() : 8 * velta_shift_count(c.arg(0), c.arg(1));
        item({{"item", "bits"}, {"out", out}, {"count", count}, {"value", value < 0 ? Json() : Json(value)}},
             std::to_string(count) + " bits " + (out ? "out " : "in ") + (value < 0 ? "??" : hex_byte(value)));
        expect_address_ = false;
    }

    void flush_pending() {
        if (pending_) bits_item(*pending_);
        pending_ = nullptr;
    }

    // The library's byte blocks: 8 bits out then 1 in (a write and its acknowledge), 8 bits in
    // then 1 out (a read and the host's acknowledge). Any other shift is shown as bits.
    void i2c_shift(const Command &c) {
        const bool one_in = c.bits() && c.in() && !c.out() && c.bit_count() == 1;
        const bool one_out = c.bits() && c.out() && !c.in() && c.bit_count() == 1;
        if (pending_ && pending_->out() && one_in) {
            written_byte(pending_->arg(1), c);
        } else if (pending_ && pending_->in() && one_out) {
            read_byte(answer_byte(*pending_), c.arg(1));
        } else {
            flush_pending();
            if (c.bits() && c.bit_count() == 8 && c.out() != c.in()) {
                pending_ = &c;
                return;
            }
            bits_item(c);
        }
        pending_ = nullptr;
    }

    // ---- SPI ----

    std::string chip_selects(Json &json) const {
        std::vector<std::string> words;
        json = Json::array();
        for (unsigned pin = 3; pin < 8; ++pin) {
            const unsigned bit = 1u << pin;
            if (!low_.known || !(low_.direction & bit)) continue;
            const bool high = low_.value & bit;
            json.push_back({{"pin", pin}, {"high", high}});
            words.push_back("pin " + std::to_string(pin) + (high ? " high" : " low"));
        }
        return words.empty() ? "no chip select" : join(words);
    }

    void spi_shift(const Command &c) {
        if (!frame_) {
            frame_ = true;
            frame_offset_ = c.offset;
            frame_out_.clear();
            frame_in_.clear();
            frame_in_known_ = answers_;
            frame_cs_text_ = chip_selects(frame_cs_);
        }
        if (c.out()) {
            if (c.bits())
                frame_out_.push_back(c.arg(1));
            else
                frame_out_.insert(frame_out_.end(), c.data.begin(), c.data.end());
        }
        if (c.in()) {
            frame_in_.insert(frame_in_.end(), c.answer.begin(), c.answer.end());
            if (c.answer.size() < c.owed) frame_in_known_ = false;
            frame_in_count_ += c.owed;
        }
    }

    void close_frame() {
        if (!frame_) return;
        frame_ = false;
        std::string text = "spi frame, " + frame_cs_text_ + ": out " + (frame_out_.empty() ? "-" : shown(frame_out_));
        Json json = {{"event", "spi frame"}, {"chip_select", frame_cs_}, {"out", hex_json(frame_out_)}};
        if (frame_in_count_ && frame_in_known_) {
            json["in"] = hex_json(frame_in_);
            text += ", in " + shown(frame_in_);
        } else if (frame_in_count_) {
            json["in"] = nullptr;
            text += ", in " + std::to_string(frame_in_count_) + (frame_in_count_ == 1 ? " byte" : " bytes");
        }
        frame_in_count_ = 0;
        event(frame_offset_, json, text);
    }

    // ---- everything else ----

    void switched(const Command &c, const char *what, bool on) {
        event(c.offset, {{"event", what}, {"on", on}}, std::string(what) + (on ? " on" : " off"));
    }

    void other(const Command &c) {
        const Described d = describe(c);
        switch (c.kind) {
        case Command::Kind::Unknown: {
            const Bytes echo = answers_ ? c.answer : echo_of(c.op());
            event(c.offset, {{"event", "unknown"}, {"byte", c.op()}, {answers_ ? "answer" : "echo", hex_json(echo)}},
                  "unknown byte " + hex_byte(c.op()) + (answers_ ? ", answered " : ", the engine echoes ") + hex_text(echo));
            return;
        }
        case Command::Kind::CutShort:
        case Command::Kind::StrayAnswer:
            event(c.offset, {{"event", d.name}, {"bytes", hex_json(c.code)}}, d.name + " " + shown(c.code));
            return;
        case Command::Kind::Known:
            break;
        }
        switch (c.op()) {
        case VELTA_CMD_LOOPBACK_ON: case VELTA_CMD_LOOPBACK_OFF:
            return switched(c, "loopback", c.op() == VELTA_CMD_LOOPBACK_ON);
        case VELTA_CMD_THREE_PHASE_ON: case VELTA_CMD_THREE_PHASE_OFF:
            return switched(c, "three-phase clocking", c.op() == VELTA_CMD_THREE_PHASE_ON);
        case VELTA_CMD_ADAPTIVE_CLOCKING_ON: case VELTA_CMD_ADAPTIVE_CLOCKING_OFF:
            return switched(c, "adaptive clocking", c.op() == VELTA_CMD_ADAPTIVE_CLOCKING_ON);
        case VELTA_CMD_DIVIDE_BY_5_ON: case VELTA_CMD_DIVIDE_BY_5_OFF:
            base_ = c.op() == VELTA_CMD_DIVIDE_BY_5_ON ? kSlowBase : kFastBase;
            event(c.offset, {{"event", "clock base"}, {"hz", base_}},
                  "clock base " + hz_text(base_) + " (" + d.name + ")");
            return;
        case VELTA_CMD_SET_DIVISOR: {
            const unsigned divisor = c.divisor();
            const std::uint64_t hz = (base_ + (divisor + 1) / 2) / (divisor + 1);  // to the nearest hertz
            event(c.offset, {{"event", "clock"}, {"hz", hz}, {"divisor", divisor}, {"base_hz", base_}},
                  "clock " + hz_text(hz) + " (" + hz_text(base_) + " / " + std::to_string(divisor + 1) + ")");
            return;
        }
        case VELTA_CMD_SET_HIGH_PINS: {
            const PinByte next{true, c.arg(0), c.arg(1)};
            if (next != high_) events_.push_back(pins_event(c.offset, "high", high_, next));
            high_ = next;
            return;
        }
        case VELTA_CMD_READ_LOW_PINS: case VELTA_CMD_READ_HIGH_PINS: {
            const char *which = c.op() == VELTA_CMD_READ_LOW_PINS ? "low" : "high";
            const int value = answer_byte(c);
            event(c.offset, {{"event", "read pins"}, {"pins", which}, {"value", value < 0 ? Json() : Json(value)}},
                  std::string("read ") + which + " pins" + (value < 0 ? "" : " -> " + hex_byte(value)));
            return;
        }
        case VELTA_CMD_DRIVE_ZERO_ONLY:
            event(c.offset, {{"event", "drive zero only"}, {"low", c.arg(0)}, {"high", c.arg(1)}},
                  "drive zero only: low pins " + hex_byte(c.arg(0)) + ", high pins " + hex_byte(c.arg(1)));
            return;
        default:  // send immediate: no bus activity
            return;
        }
    }

    bool answers_;
    std::vector<BusEvent> events_;
    PinByte low_, high_;
    int scl_ = -1, sda_ = -1;  // I2C line levels after the last low-pin command; -1: not known
    // The run of low-pin commands going on.
    bool run_ = false, run_condition_ = false;
    std::vector<BusEvent> run_events_;
    std::size_t run_offset_ = 0;
    // The I2C transaction going on.
    bool in_transaction_ = false, expect_address_ = false;
    std::size_t transaction_offset_ = 0;
    std::vector<I2cItem> items_;
    const Command *pending_ = nullptr;  // an 8-bit shift waiting for its acknowledge bit
    // The SPI frame going on.
    bool frame_ = false, frame_in_known_ = false;
    std::size_t frame_offset_ = 0;
    std::uint64_t frame_in_count_ = 0;
    Bytes frame_out_, frame_in_;
    Json frame_cs_;  // the chip-select levels when the frame began
    std::string frame_cs_text_;
    // Without a divide-by-5 command the stream is taken as a full-speed bridge's (30 MHz).
    std::uint64_t base_ = kFastBase;
};

// ---- inputs ----

// One channel's stream: a whole input, or one handle of a recording.
struct Stream {
    Json label = Json::object();  // handle and list position, from a recording
    CommandReader reader;
    bool used = false;
};

struct Decoded {
    std::string source;
    bool answers = false;
    std::vector<Stream> streams;
    std::string note;
    std::vector<std::uint32_t> types;  // device types by list position, from the device list
};

Bytes read_hex_text(const Bytes &input, const std::string &name) {
    std::istringstream in(std::string(input.begin(), input.end()));
    Bytes bytes;
    unsigned number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        for (std::string word; words >> word;) {
            if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) word.erase(0, 2);
            try {
                const Bytes more = parse_hex(word);
                bytes.insert(bytes.end(), more.begin(), more.end());
            } catch (const UsageError &) {
                throw Failure(name + ": line " + std::to_string(number) + ": '" + word + "' is not hex bytes");
            }
        }
    }
    return bytes;
}

constexpr char kRecordingFormat[] = "kvzubr-recording";

// True when the first line is a recording's header.
bool is_recording(const Bytes &input) {
    const auto end = std::find(input.begin(), input.end(), '\n');
    const Json header = Json::parse(input.begin(), end, nullptr, false);
    return header.is_object() && header.value("format", "") == kRecordingFormat;
}

Bytes hex_field(const Json &object, const char *key) {
    try {
        return parse_hex(object.at(key).get<std::string>());
    } catch (const UsageError &) {
        throw std::runtime_error("\"" + std::string(key) + "\": not hex bytes");
    }
}

// Plays one recorded call into the streams: writes as bytes sent, reads as answers, and the
// calls that reset the engine or empty its queue.
void play_call(const Json &line, Decoded &d, std::map<std::uint64_t, std::size_t> &by_handle) {
    const std::string call = line.at("call").get<std::string>();
    const Json &args = line.at("args");
    const Json result = line.value("result", Json::object());
    if (call == "KV_GetDeviceInfoList") {
        d.types.clear();
        for (const Json &entry : result.value("list", Json::array())) d.types.push_back(entry.at("type").get<std::uint32_t>());
        return;
    }
    if (call == "KV_Open") {
        if (!result.contains("handle")) return;
        const std::uint32_t position = args.at("position").get<std::uint32_t>();
        by_handle[result.at("handle").get<std::uint64_t>()] = d.streams.size();
        d.streams.emplace_back();
        Stream &s = d.streams.back();
        s.label = {{"handle", result.at("handle")}, {"position", position}};
        if (position < d.types.size() && d.types[position] == KV_DEVICE_FULL_SPEED_DUAL) {
            s.label["full_speed"] = true;
            s.reader.set_full_speed(true);
        }
        return;
    }
    if (!args.contains("handle")) return;
    const std::uint64_t handle = args.at("handle").get<std::uint64_t>();
    if (!by_handle.count(handle)) {
        by_handle[handle] = d.streams.size();
        d.streams.emplace_back();
        d.streams.back().label = {{"handle", handle}};
    }
    Stream &s = d.streams[by_handle[handle]];
    if (call == "KV_Write") {
        Bytes data = hex_field(args, "data");
        data.resize(std::min<std::size_t>(data.size(), result.value("count", 0u)));
        s.used |= !data.empty();
        s.reader.sent(data);
    } else if (call == "KV_Read") {
        const Bytes data = hex_field(result, "data");
        s.used |= !data.empty();
        s.reader.answered(data);
    } else if (call == "KV_Purge") {
        const unsigned mask = args.at("mask").get<unsigned>();
        s.reader.reset(mask & 1, mask & 2);
    } else if (call == "KV_ResetDevice" || call == "KV_SetBitMode") {
        s.reader.reset(true, true);
    }
}

Decoded read_recording(const Bytes &input, const std::string &name) {
    Decoded d{"recording", true, {}, "", {}};
    std::map<std::uint64_t, std::size_t> by_handle;
    std::istringstream in(std::string(input.begin(), input.end()));
    unsigned number = 0;
    bool closed = false;
    for (std::string text; std::getline(in, text);) {
        ++number;
        const Json line = Json::parse(text, nullptr, false);
        if (line.is_discarded() && in.eof()) {
            d.note = "the recording stops in line " + std::to_string(number) + ": it was cut short";
            break;
        }
        try {
            if (!line.is_object()) throw std::runtime_error("not a JSON object");
            if (number == 1) {
                if (line.value("version", 0) != 1) throw std::runtime_error("a format version not read here (1 is)");
            } else if (line.contains("end")) {
                closed = true;
            } else {
                play_call(line, d, by_handle);
            }
        } catch (const std::exception &e) {
            throw Failure(name + ": line " + std::to_string(number) + ": " + e.what());
        }
    }
    if (!closed && d.note.empty()) d.note = "the recording has no closing line: it was cut short";
    return d;
}

Decoded read_input(const Bytes &input, DecodeInput how, const std::string &name) {
    if (is_recording(input)) return read_recording(input, name);
    Decoded d{how == DecodeInput::Hex ? "hex" : "binary", false, std::vector<Stream>(1), "", {}};
    d.streams[0].used = true;
    d.streams[0].reader.sent(how == DecodeInput::Hex ? read_hex_text(input, name) : input);
    return d;
}

// ---- output ----

std::string stream_heading(const Json &label) {
    if (!label.contains("handle")) return "";
    std::string text = "handle " + label["handle"].dump();
    if (label.contains("position")) text += ", list position " + label["position"].dump();
    if (label.contains("full_speed")) text += ", full-speed bridge";
    return text + ":\n";
}

}  // namespace

std::string decode_stream(const Bytes &input, DecodeInput how, bool json, const std::string &name) {
    Decoded d = read_input(input, how, name);
    Json streams = Json::array();
    std::string text;
    for (Stream &s : d.streams) {
        if (!s.used) continue;
        const std::vector<Command> commands = s.reader.finish();
        BusView bus(d.answers);
        Json j = s.label, listed = Json::array(), events = Json::array();
        std::string listing, view;
        for (const Command &c : commands) {
            bus.add(c);
            if (json)
                listed.push_back(command_json(c, d.answers));
            else
                listing += command_line(c, d.answers);
        }
        std::vector<BusEvent> happened = bus.finish();
        // Transactions and frames are complete only at their end: they are listed where they began.
        std::stable_sort(happened.begin(), happened.end(),
                         [](const BusEvent &a, const BusEvent &b) { return a.offset < b.offset; });
        for (BusEvent &e : happened) {
            char head[16];
            std::snprintf(head, sizeof head, "%8zu  ", e.offset);
            view += head + e.text + "\n";
            e.json["offset"] = e.offset;
            events.push_back(std::move(e.json));
        }
        j["commands"] = std::move(listed);
        j["bus"] = std::move(events);
        streams.push_back(std::move(j));
        text += (text.empty() ? "" : "\n") + stream_heading(s.label) + "commands:\n" + listing + "\nbus:\n" + view;
    }
    if (streams.empty()) text = "no engine commands\n";
    if (json) {
        Json out = {{"source", d.source}, {"streams", streams}};
        if (!d.note.empty()) out["note"] = d.note;
        return out.dump() + "\n";
    }
    return text + (d.note.empty() ? "" : "\nnote: " + d.note + "\n");
}

}  // namespace velta
