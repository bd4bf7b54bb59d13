// I2C transactions on an open channel, and the i2c subcommands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "channel.h"

namespace velta {

// Messages of one transaction: the first opens with a start, each later one with a repeated
// start, and the last may close it with a stop. Whatever fails, the bus is given back with a stop.
class I2cBus {
public:
    explicit I2cBus(I2cChannel &channel) : channel_(channel) {}

    // Start and address; false (after a stop) when nothing acknowledged. Leaves the bus
    // claimed on success.
    bool address(unsigned device, bool read);
    // Address (checked) and data; every data byte must be acknowledged.
    void write(unsigned device, const Bytes &data, bool stop);
    // Data after an acknowledged address; every byte must be acknowledged.
    void send(unsigned device, const Bytes &data, bool stop);
    // Address (checked), then `length` bytes, the last answered with not-acknowledge.
    Bytes read(unsigned device, std::size_t length, bool stop);
    // Address (checked), then an SMBus block: a count byte of 1 to 32, then that many bytes.
    Bytes read_block(unsigned device, bool stop);
    void stop();
    // Start, address and stop; the bus is idle afterwards.
    bool probe(unsigned device, bool read);

    std::string device_name(unsigned device) const;

private:
    // After an acknowledged read address: `length` bytes, the last not acknowledged.
    Bytes receive(unsigned device, std::size_t length, bool stop);
    // Throws Failure after giving the bus back.
    [[noreturn]] void fail(KV_STATUS status, const std::string &what);
    I2cChannel &channel_;
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
