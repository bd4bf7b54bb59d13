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
    void stop();
    // Start, address and stop; the bus is idle afterwards.
    bool probe(unsigned device, bool read);

    std::string device_name(unsigned device) const;

private:
    // Throws Failure after giving the bus back.
    [[noreturn]] void fail(KV_STATUS status, const std::string &what);
    I2cChannel &channel_;
};

struct DetectOptions {
    unsigned first = 0x08, last = 0x77;
    bool read_probe = false;
};
std::string i2c_detect(const I2cTarget &target, const DetectOptions &options);

// Word values are as SMBus carries them: low byte first on the wire.
struct RegisterAccess {
    unsigned device = 0;
    bool has_register = false;
    unsigned reg = 0;
    bool word = false;
};
std::string i2c_get(const I2cTarget &target, const RegisterAccess &access);
void i2c_set(const I2cTarget &target, const RegisterAccess &access, unsigned value);
std::string i2c_dump(const I2cTarget &target, unsigned device, bool word, unsigned first, unsigned last);

struct I2cMessage {
    bool read = false;
    unsigned device = 0;
    std::size_t length = 0;
    Bytes data;  // a write's bytes
};
// Parses the message words ("w3@0x50 0x00 0x10 0x41 r4"); throws UsageError.
std::vector<I2cMessage> parse_messages(const std::vector<std::string> &words);
// One line of hex bytes per read message.
std::string i2c_transfer(const I2cTarget &target, const std::vector<I2cMessage> &messages);

}  // namespace velta
