#include "i2c.h"

#include <algorithm>
#include <cstdio>

#include "libVELTA_i2c.h"

namespace velta {

namespace {

// Bytes read per fast-mode command stream (each byte takes 12 command bytes).
constexpr std::size_t kReadChunk = 4096;

std::string cell(const char *format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string I2cBus::device_name(unsigned device) const {
    return "device " + hex_byte(device) + " on I2C channel " + std::to_string(channel_.index());
}

void I2cBus::fail(KV_STATUS status, const std::string &what) {
    I2C_Stop(channel_.handle());
    check(status, what);
    throw Failure(what);
}

void I2cBus::stop() { check(I2C_Stop(channel_.handle()), "I2C stop"); }

bool I2cBus::address(unsigned device, bool read) {
    std::uint8_t none = 0;
    std::uint32_t count = 0;
    const KV_STATUS status = read ? I2C_DeviceRead(channel_.handle(), device, 0, &none, &count, I2C_OPT_START)
                                  : I2C_DeviceWrite(channel_.handle(), device, 0, &none, &count, I2C_OPT_START);
    if (status == STATUS_NO_DEVICE) {
        stop();
        return false;
    }
    if (status != STATUS_SUCCESS) fail(status, "cannot address " + device_name(device));
    return true;
}

void I2cBus::write(unsigned device, const Bytes &data, bool stop_after) {
    if (!address(device, false)) check(STATUS_NO_DEVICE, "no answer from " + device_name(device));
    send(device, data, stop_after);
}

void I2cBus::send(unsigned device, const Bytes &data, bool stop_after) {
    if (data.empty()) {
        if (stop_after) stop();
        return;
    }
    // An acknowledge that never arrives counts as refused.
    Bytes acks(data.size(), 1);
    std::uint32_t count = 0;
    const std::uint32_t options = I2C_OPT_FAST_BYTES | I2C_OPT_SKIP_ADDRESS | (stop_after ? I2C_OPT_STOP : 0);
    const KV_STATUS status = I2C_FastWrite(channel_.handle(), device, static_cast<std::uint32_t>(data.size()),
                                           const_cast<std::uint8_t *>(data.data()), acks.data(), &count, options);
    if (status != STATUS_SUCCESS) fail(status, "cannot write to " + device_name(device));
    const auto refused = std::find_if(acks.begin(), acks.end(), [](std::uint8_t a) { return (a & 1) != 0; });
    if (refused != acks.end())
        fail(STATUS_WRITE_REFUSED, device_name(device) + " refused data byte " +
                                       std::to_string(refused - acks.begin() + 1) + " of " + std::to_string(data.size()));
}

Bytes I2cBus::read(unsigned device, std::size_t length, bool stop_after) {
    if (!address(device, true)) check(STATUS_NO_DEVICE, "no answer from " + device_name(device));
    Bytes in(length);
    // Every byte but the last is acknowledged, so the device goes on; the last is not, so it lets go of SDA.
    for (std::size_t at = 0; at + 1 < length; at += kReadChunk) {
        const auto n = static_cast<std::uint32_t>(std::min(kReadChunk, length - 1 - at));
        std::uint32_t count = 0;
        const KV_STATUS status = I2C_FastRead(channel_.handle(), device, n, in.data() + at, nullptr, &count,
                                              I2C_OPT_FAST_BYTES | I2C_OPT_SKIP_ADDRESS);
        if (status != STATUS_SUCCESS) fail(status, "cannot read from " + device_name(device));
    }
    if (length > 0) {
        const KV_STATUS status = I2C_Read8bitsAndGiveAck(channel_.handle(), &in[length - 1], 0);
        if (status != STATUS_SUCCESS) fail(status, "cannot read from " + device_name(device));
    }
    if (stop_after) stop();
    return in;
}

bool I2cBus::probe(unsigned device, bool read_probe) {
    if (!address(device, read_probe)) return false;
    if (read_probe) {
        std::uint8_t ignored = 0;
        const KV_STATUS status = I2C_Read8bitsAndGiveAck(channel_.handle(), &ignored, 0);
        if (status != STATUS_SUCCESS) fail(status, "cannot read from " + device_name(device));
    }
    stop();
    return true;
}

std::string i2c_detect(const I2cTarget &target, const DetectOptions &options) {
    I2cChannel channel(target);
    I2cBus bus(channel);
    std::string grid = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n";
    for (unsigned row = 0; row < 128; row += 16) {
        grid += cell("%02x: ", row);
        for (unsigned address = row; address < row + 16; ++address) {
            if (address < options.first || address > options.last) grid += "   ";
            else grid += bus.probe(address, options.read_probe) ? cell("%02x ", address) : "-- ";
        }
        grid += '\n';
    }
    return grid;
}

namespace {

unsigned read_register(I2cBus &bus, unsigned device, unsigned reg, bool word) {
    bus.write(device, {static_cast<std::uint8_t>(reg)}, false);
    const Bytes in = bus.read(device, word ? 2 : 1, true);
    return word ? unsigned(in[0]) | unsigned(in[1]) << 8 : in[0];
}

}  // namespace

std::string i2c_get(const I2cTarget &target, const RegisterAccess &access) {
    I2cChannel channel(target);
    I2cBus bus(channel);
    if (!access.has_register) return cell("0x%02x\n", bus.read(access.device, 1, true)[0]);
    return cell(access.word ? "0x%04x\n" : "0x%02x\n", read_register(bus, access.device, access.reg, access.word));
}

void i2c_set(const I2cTarget &target, const RegisterAccess &access, unsigned value) {
    I2cChannel channel(target);
    I2cBus bus(channel);
    Bytes data{static_cast<std::uint8_t>(access.reg), static_cast<std::uint8_t>(value)};
    if (access.word) data.push_back(static_cast<std::uint8_t>(value >> 8));
    bus.write(access.device, data, true);
}

std::string i2c_dump(const I2cTarget &target, unsigned device, bool word, unsigned first, unsigned last) {
    I2cChannel channel(target);
    I2cBus bus(channel);
    if (!bus.probe(device, false)) check(STATUS_NO_DEVICE, "no answer from " + bus.device_name(device));
    // A register the device refuses shows as XX (-1 here); any other failure ends the dump, as
    // the bus is then in no known state and going on could turn a read into a write.
    auto value_of = [&](unsigned reg) -> int {
        try {
            return static_cast<int>(read_register(bus, device, reg, word));
        } catch (const Failure &failure) {
            if (failure.status != STATUS_WRITE_REFUSED && failure.status != STATUS_NO_DEVICE) throw;
            return -1;
        }
    };
    const unsigned per_row = word ? 8 : 16;
    std::string table = word ? "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n"
                             : "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
    for (unsigned row = first - first % per_row; row <= last; row += per_row) {
        table += cell("%02x: ", row);
        std::string ascii;
        for (unsigned reg = row; reg < row + per_row; ++reg) {
            if (reg < first || reg > last) {
                table += word ? "     " : "   ";
                ascii += ' ';
                continue;
            }
            const int value = value_of(reg);
            if (word) {
                table += value < 0 ? "XXXX " : cell("%04x ", static_cast<unsigned>(value));
                continue;
            }
            table += value < 0 ? "XX " : cell("%02x ", static_cast<unsigned>(value));
            ascii += value < 0 ? 'X' : (value == 0x00 || value == 0xFF) ? '.' : (value < 32 || value >= 127) ? '?' : char(value);
        }
        table += word ? "\n" : "   " + ascii + "\n";
    }
    return table;
}

namespace {

// A data word: a byte, or a byte with a suffix that fills the rest of the message with it
// ('='), counting up ('+') or counting down ('-').
void add_data(I2cMessage &message, const std::string &word) {
    const char last = word.empty() ? '\0' : word.back();
    const bool fills = last == '=' || last == '+' || last == '-';
    unsigned value = static_cast<unsigned>(parse_number(fills ? word.substr(0, word.size() - 1) : word, "data byte", 0xFF));
    do {
        message.data.push_back(static_cast<std::uint8_t>(value));
        value += last == '+' ? 1 : last == '-' ? 255 : 0;
    } while (fills && message.data.size() < message.length);
}

I2cMessage parse_header(const std::string &word, const std::vector<I2cMessage> &before) {
    if (word.size() < 2 || (word[0] != 'r' && word[0] != 'w'))
        throw UsageError("not a message: '" + word + "' (r<length>[@address] or w<length>[@address] and its bytes)");
    I2cMessage message;
    message.read = word[0] == 'r';
    const std::size_t at = word.find('@');
    message.length = parse_number(word.substr(1, at == std::string::npos ? std::string::npos : at - 1), "message length", 65535);
    if (at != std::string::npos) {
        message.device = static_cast<unsigned>(parse_number(word.substr(at + 1), "I2C address", 0x7F));
    } else if (before.empty()) {
        throw UsageError("the first message needs an address: '" + word + "@ADDRESS'");
    } else {
        message.device = before.back().device;
    }
    if (message.read && message.length == 0) throw UsageError("a read message needs at least one byte: '" + word + "'");
    return message;
}

}  // namespace

std::vector<I2cMessage> parse_messages(const std::vector<std::string> &words) {
    std::vector<I2cMessage> messages;
    for (const std::string &word : words) {
        if (!messages.empty() && !messages.back().read && messages.back().data.size() < messages.back().length) {
            add_data(messages.back(), word);
        } else {
            messages.push_back(parse_header(word, messages));
        }
    }
    if (messages.empty()) throw UsageError("no messages");
    for (const I2cMessage &m : messages)
        if (!m.read && m.data.size() != m.length)
            throw UsageError("a write of " + std::to_string(m.length) + " bytes got " + std::to_string(m.data.size()));
    return messages;
}

std::string i2c_transfer(const I2cTarget &target, const std::vector<I2cMessage> &messages) {
    I2cChannel channel(target);
    I2cBus bus(channel);
    std::string out;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const I2cMessage &m = messages[i];
        const bool last = i + 1 == messages.size();
        try {
            if (!m.read) {
                bus.write(m.device, m.data, last);
                continue;
            }
            const Bytes in = bus.read(m.device, m.length, last);
            for (std::size_t b = 0; b < in.size(); ++b) out += hex_byte(in[b]) + (b + 1 < in.size() ? " " : "\n");
        } catch (const Failure &failure) {
            throw Failure("message " + std::to_string(i + 1) + ": " + failure.what());
        }
    }
    return out;
}

}  // namespace velta
