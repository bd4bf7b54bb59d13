// I2C transactions on an open channel, and the i2c subcommands.
#pragma once

#include <cstdint>
#include <cstddef>
#include <string>
#include <vector>

#include "channel.h"

namespace velta {

// One message of a transaction: `length` bytes of `buffer` to write, or room for them read.
I2CMessage i2c_message(unsigned device, std::uint16_t flags, std::uint8_t *buffer = nullptr, std::size_t length = 0);

// Transactions on an I2C channel, each one library transfer: a start, the messages with a
// repeated start between them, and a stop, also when something fails.
class I2cBus {
public:
    explicit I2cBus(I2cChannel &channel) : channel_(channel) {}

    // Runs the messages as one transaction. Failure naming the device and the refused byte,
    // unless the address of message `busy_at` went unacknowledged: then false.
    bool run(std::vector<I2CMessage> &messages, std::size_t busy_at = SIZE_MAX);
    // The index of the message that was not acknowledged in the last failed run.
    std::size_t failed_message() const { return fault_.message; }

    // Every byte must be acknowledged.
    void write(unsigned device, const Bytes &data);
    // `length` bytes, the last answered with not-acknowledge.
    Bytes read(unsigned device, std::size_t length);
    // `out` written, then `length` bytes read after a repeated start.
    Bytes write_read(unsigned device, const Bytes &out, std::size_t length);
    // `out` written, then an SMBus block read after a repeated start: a count byte of 1 to 32,
    // then that many bytes.
    Bytes write_read_block(unsigned device, const Bytes &out);
    // The address alone (written, or with one byte read); false when nothing acknowledged.
    bool probe(unsigned device, bool read);

    std::string device_name(unsigned device) const { return channel_.device_name(device); }

private:
    I2cChannel &channel_;
    I2CTransferFault fault_{};
};

// The longest SMBus block, and the longest I2C block the block modes move.
constexpr unsigned kMaxBlock = 32;

struct DetectOptions {
    unsigned first = 0x08, last = 0x77;
    bool read_probe = false;
};
struct DetectResult {
    std::string grid;
    bool all_answered = false;  // eight addresses or more probed, and every one acknowledged
};
DetectResult i2c_detect(const I2cTarget &target, const DetectOptions &options);

// Register access modes, by their letters: b a byte; w a word, low byte first as SMBus
// carries it; W words at even registers, shown as their two bytes; c the register number
// written in a transaction of its own, then the byte read in another; i an I2C block of
// `length` bytes; s an SMBus block, whose first byte counts the others.
struct RegisterAccess {
    unsigned device = 0;
    bool has_register = false;  // without: one byte read from wherever the device points
    unsigned reg = 0;
    char mode = 'b';            // b, w, c, i or s
    unsigned length = kMaxBlock;
};
// "0x..", "0x...." for a word, or the block's bytes as "0x.. 0x.." on one line.
std::string i2c_get(const I2cTarget &target, const RegisterAccess &access);

struct RegisterWrite {
    unsigned device = 0;
    unsigned reg = 0;
    char mode = 'b';               // c: the register number alone (a short write), b, w, i or s
    std::vector<unsigned> values;  // one for b and w, 1 to 32 bytes for i and s
    unsigned mask = 0;             // b and w: only these bits change, the others are read first (0: all)
    bool read_back = false;        // b, w and c: read the register afterwards and compare
};
// Returns the read-back report ("" without read_back); a mismatch is a Failure that carries it.
std::string i2c_set(const I2cTarget &target, const RegisterWrite &write);

// The registers first to last as a table, in mode b, w, W, c, i or s (s shows the block that
// register 0 gives, and ignores the range).
std::string i2c_dump(const I2cTarget &target, unsigned device, char mode, unsigned first, unsigned last);

struct I2cMessage {
    bool read = false;
    unsigned device = 0;
    std::size_t length = 0;
    Bytes data;  // a write's bytes
};
// Parses the message words ("w3@0x50 0x00 0x10 0x41 r4"); throws UsageError.
std::vector<I2cMessage> parse_messages(const std::vector<std::string> &words);
// One line of bytes per read message; verbose, one line per message with its address, direction,
// length and bytes.
std::string i2c_transfer(const I2cTarget &target, const std::vector<I2cMessage> &messages, bool verbose = false);

}  // namespace velta
