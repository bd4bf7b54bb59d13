#include "i2c.h"

#include <algorithm>
#include <cstdio>

#include "libVELTA_i2c.h"

namespace velta {

namespace {

std::string cell(const char *format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

I2CMessage i2c_message(unsigned device, std::uint16_t flags, std::uint8_t *buffer, std::size_t length) {
    return I2CMessage{static_cast<std::uint16_t>(device), flags, static_cast<std::uint32_t>(length), buffer};
}

bool I2cBus::run(std::vector<I2CMessage> &messages, std::size_t busy_at) {
    fault_ = {};
    const KV_STATUS status =
        I2C_Transfer(channel_.handle(), messages.data(), static_cast<std::uint32_t>(messages.size()), &fault_);
    if (status == STATUS_SUCCESS) return true;
    // A missing acknowledge: the transfer has already given the bus back with a stop.
    const bool refused = status == STATUS_NO_DEVICE || status == STATUS_WRITE_REFUSED;
    if (refused && fault_.message < messages.size()) {
        const I2CMessage &failed = messages[fault_.message];
        const std::string device = device_name(failed.address);
        if (status == STATUS_NO_DEVICE && fault_.message == busy_at) return false;
        if (status == STATUS_NO_DEVICE) check(status, "no answer from " + device);
        check(status, device + " refused data byte " + std::to_string(fault_.byte + 1) + " of " + std::to_string(failed.length));
    }
    I2C_Stop(channel_.handle());  // the bus is ours to give back after any other failure
    const std::string what = "I2C transfer with " + device_name(messages[0].address);
    check(status, what);
    throw Failure(what, status);
}

void I2cBus::write(unsigned device, const Bytes &data) {
    Bytes out = data;
    std::vector<I2CMessage> messages{i2c_message(device, 0, out.data(), out.size())};
    run(messages);
}

Bytes I2cBus::read(unsigned device, std::size_t length) {
    Bytes in(length);
    std::vector<I2CMessage> messages{i2c_message(device, I2C_MSG_READ, in.data(), in.size())};
    run(messages);
    return in;
}

Bytes I2cBus::write_read(unsigned device, const Bytes &out, std::size_t length) {
    Bytes sent = out, in(length);
    std::vector<I2CMessage> messages{i2c_message(device, 0, sent.data(), sent.size()),
                                     i2c_message(device, I2C_MSG_READ, in.data(), in.size())};
    run(messages);
    return in;
}

Bytes I2cBus::write_read_block(unsigned device, const Bytes &out) {
    // The count comes first in the same read, so the longest block is read and cut to it.
    const Bytes in = write_read(device, out, kMaxBlock + 1);
    const unsigned count = in[0];
    if (count == 0 || count > kMaxBlock)
        throw Failure(device_name(device) + " gave a block length of " + std::to_string(count) + " (1 to " +
                      std::to_string(kMaxBlock) + " allowed)");
    return Bytes(in.begin() + 1, in.begin() + 1 + count);
}

bool I2cBus::probe(unsigned device, bool read_probe) {
    std::uint8_t ignored = 0;
    std::vector<I2CMessage> messages{read_probe ? i2c_message(device, I2C_MSG_READ, &ignored, 1) : i2c_message(device, 0)};
    return run(messages, 0);
}

DetectResult i2c_detect(const I2cTarget &target, const DetectOptions &options) {
    I2cChannel channel(target);
    I2cBus bus(channel);
    // Devices sit at a few addresses; a whole stretch answering is a bus without pull-ups or no I2C bus.
    DetectResult result{"     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f\n", options.last >= options.first + 7};
    for (unsigned row = 0; row < 128; row += 16) {
        result.grid += cell("%02x: ", row);
        for (unsigned address = row; address < row + 16; ++address) {
            if (address < options.first || address > options.last) {
                result.grid += "   ";
            } else if (bus.probe(address, options.read_probe)) {
                result.grid += cell("%02x ", address);
            } else {
                result.grid += "-- ";
                result.all_answered = false;
            }
        }
        result.grid += '\n';
    }
    return result;
}

namespace {

// One register access in `mode`: 1 byte (b, c), 2 (w, W; low byte first), `length` (i) or an
// SMBus block (s). Mode c sets the register pointer and reads in two transactions.
Bytes read_access(I2cBus &bus, unsigned device, unsigned reg, char mode, unsigned length) {
    const Bytes pointer{static_cast<std::uint8_t>(reg)};
    if (mode == 'c') {
        bus.write(device, pointer);
        return bus.read(device, 1);
    }
    if (mode == 's') return bus.write_read_block(device, pointer);
    return bus.write_read(device, pointer, mode == 'i' ? length : (mode == 'w' || mode == 'W') ? 2 : 1);
}

unsigned word_or_byte(const Bytes &bytes) { return bytes.size() == 2 ? unsigned(bytes[0]) | unsigned(bytes[1]) << 8 : bytes[0]; }

// "0x11 0x22 0x33"
std::string byte_list(const Bytes &bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) text += (i == 0 ? "" : " ") + hex_byte(bytes[i]);
    return text;
}

}  // namespace

std::string i2c_get(const I2cTarget &target, const RegisterAccess &access) {
    I2cChannel channel(target);
    I2cBus bus(channel);
    if (!access.has_register) return cell("0x%02x\n", bus.read(access.device, 1)[0]);
    const Bytes in = read_access(bus, access.device, access.reg, access.mode, access.length);
    if (access.mode == 'i' || access.mode == 's') return byte_list(in) + "\n";
    return cell(access.mode == 'w' ? "0x%04x\n" : "0x%02x\n", word_or_byte(in));
}

std::string i2c_set(const I2cTarget &target, const RegisterWrite &w) {
    I2cChannel channel(target);
    I2cBus bus(channel);
    const bool word = w.mode == 'w';
    auto current = [&] { return word_or_byte(read_access(bus, w.device, w.reg, w.mode, 0)); };
    unsigned value = w.values.empty() ? 0 : w.values[0];
    if (w.mask != 0) value = (value & w.mask) | (current() & ~w.mask);
    Bytes data{static_cast<std::uint8_t>(w.reg)};
    if (w.mode == 'b' || word) data.push_back(static_cast<std::uint8_t>(value));
    if (word) data.push_back(static_cast<std::uint8_t>(value >> 8));
    if (w.mode == 's') data.push_back(static_cast<std::uint8_t>(w.values.size()));
    if (w.mode == 'i' || w.mode == 's')
        for (unsigned v : w.values) data.push_back(static_cast<std::uint8_t>(v));
    bus.write(w.device, data);
    if (!w.read_back) return "";
    // A short write reads back the byte the device then gives, which should be the one written.
    const unsigned wrote = w.mode == 'c' ? w.reg : value;
    const unsigned read = w.mode == 'c' ? bus.read(w.device, 1)[0] : current();
    const int width = word ? 4 : 2;
    char text[96];
    if (read == wrote) {
        std::snprintf(text, sizeof text, "Value 0x%0*x written, readback matched\n", width, wrote);
        return text;
    }
    std::snprintf(text, sizeof text, "Warning - data mismatch - wrote 0x%0*x, read back 0x%0*x\n", width, wrote, width, read);
    throw Failure(bus.device_name(w.device) + " did not keep the value written to register " + hex_byte(w.reg),
                  STATUS_FAILURE, text);
}

namespace {

constexpr int kRefused = -1;

// Values of the registers first to last, kRefused where the device refused the access: bytes,
// or for mode w words. Mode s fills what register 0's block gives and sets `last` to its end.
std::vector<int> dump_values(I2cBus &bus, unsigned device, char mode, unsigned first, unsigned &last) {
    std::vector<int> values(256, kRefused);
    if (mode == 's') {
        const Bytes block = read_access(bus, device, 0, 's', 0);
        std::copy(block.begin(), block.end(), values.begin());
        last = static_cast<unsigned>(block.size() - 1);
        return values;
    }
    // A register the device refuses shows as XX; any other failure ends the dump, as the bus
    // is then in no known state and going on could turn a read into a write.
    auto attempt = [&](unsigned reg, unsigned length) {
        try {
            const Bytes in = mode == 'c' ? bus.read(device, 1) : read_access(bus, device, reg, mode, length);
            if (mode == 'w') values[reg] = static_cast<int>(word_or_byte(in));
            else std::copy(in.begin(), in.end(), values.begin() + reg);
        } catch (const Failure &failure) {
            if (failure.status != STATUS_WRITE_REFUSED && failure.status != STATUS_NO_DEVICE) throw;
        }
    };
    // Mode c sets the pointer once; the device then counts on with each byte read.
    if (mode == 'c') bus.write(device, {static_cast<std::uint8_t>(first)});
    const unsigned step = mode == 'i' ? kMaxBlock : mode == 'W' ? 2 : 1;
    for (unsigned reg = first; reg <= last; reg += step) attempt(reg, std::min(step, last + 1 - reg));
    return values;
}

std::string word_table(const std::vector<int> &words, unsigned first, unsigned last) {
    std::string table = "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n";
    for (unsigned row = first - first % 8; row <= last; row += 8) {
        table += cell("%02x: ", row);
        for (unsigned reg = row; reg < row + 8; ++reg) {
            if (reg < first || reg > last) table += "     ";
            else table += words[reg] == kRefused ? "XXXX " : cell("%04x ", static_cast<unsigned>(words[reg]));
        }
        table += "\n";
    }
    return table;
}

std::string byte_table(const std::vector<int> &bytes, unsigned first, unsigned last) {
    std::string table = "     0  1  2  3  4  5  6  7  8  9  a  b  c  d  e  f    0123456789abcdef\n";
    for (unsigned row = first - first % 16; row <= last; row += 16) {
        table += cell("%02x: ", row);
        std::string ascii;
        for (unsigned reg = row; reg < row + 16; ++reg) {
            const int value = bytes[reg];
            if (reg < first || reg > last) {
                table += "   ";
                ascii += ' ';
            } else if (value == kRefused) {
                table += "XX ";
                ascii += 'X';
            } else {
                table += cell("%02x ", static_cast<unsigned>(value));
                ascii += (value == 0x00 || value == 0xFF) ? '.' : (value < 32 || value >= 127) ? '?' : char(value);
            }
        }
        table += "   " + ascii + "\n";
    }
    return table;
}

}  // namespace

std::string i2c_dump(const I2cTarget &target, unsigned device, char mode, unsigned first, unsigned last) {
    I2cChannel channel(target);
    I2cBus bus(channel);
    if (!bus.probe(device, false)) check(STATUS_NO_DEVICE, "no answer from " + bus.device_name(device));
    if (mode == 's') first = 0;
    const std::vector<int> values = dump_values(bus, device, mode, first, last);
    return mode == 'w' ? word_table(values, first, last) : byte_table(values, first, last);
}

namespace {

// A data word: a byte, or a byte with a suffix that fills the rest of the message with it
// ('='), counting up ('+'), counting down ('-') or with the pseudo-random bytes it seeds ('p',
// an 8-bit shift register with feedback 0xb8).
void add_data(I2cMessage &message, const std::string &word) {
    const char last = word.empty() ? '\0' : word.back();
    const bool fills = last == '=' || last == '+' || last == '-' || last == 'p';
    unsigned value = static_cast<unsigned>(parse_number(fills ? word.substr(0, word.size() - 1) : word, "data byte", 0xFF));
    do {
        message.data.push_back(static_cast<std::uint8_t>(value));
        if (last == 'p') value = (value >> 1) ^ ((value & 1) != 0 ? 0xB8u : 0u);
        else value = (value + (last == '+' ? 1 : last == '-' ? 255 : 0)) & 0xFFu;
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

std::string i2c_transfer(const I2cTarget &target, const std::vector<I2cMessage> &messages, bool verbose) {
    I2cChannel channel(target);
    I2cBus bus(channel);
    std::vector<Bytes> buffers;
    std::vector<I2CMessage> wire;
    for (const I2cMessage &m : messages) buffers.push_back(m.read ? Bytes(m.length) : m.data);
    for (std::size_t i = 0; i < messages.size(); ++i)
        wire.push_back(i2c_message(messages[i].device, messages[i].read ? I2C_MSG_READ : 0, buffers[i].data(), buffers[i].size()));
    try {
        bus.run(wire);
    } catch (const Failure &failure) {
        if (failure.status != STATUS_NO_DEVICE && failure.status != STATUS_WRITE_REFUSED) throw;
        throw Failure("message " + std::to_string(bus.failed_message() + 1) + ": " + failure.what(), failure.status);
    }
    std::string out;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const I2cMessage &m = messages[i];
        const Bytes &bytes = buffers[i];
        if (verbose) {
            out += "msg " + std::to_string(i) + ": addr " + hex_byte(m.device) + (m.read ? ", read" : ", write") +
                   ", len " + std::to_string(m.length) + (bytes.empty() ? "\n" : ", buf " + byte_list(bytes) + "\n");
        } else if (m.read) {
            out += byte_list(bytes) + "\n";
        }
    }
    return out;
}

}  // namespace velta
