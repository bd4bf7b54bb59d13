// An I2C device on the simulated bus. The bus watches SCL and SDA, runs the bit protocol and
// drives SDA for the device when the protocol hands it the line (the acknowledge bit of a
// byte written to it, the data bits of a byte read from it); the device sees only events.
#pragma once

#include <cstdint>

#include "../registry.h"

namespace kvsim {

class I2cDevice : public Device {
public:
    // 7-bit bus address the device answers to.
    std::uint8_t address() const { return address_; }
    void set_address(std::uint8_t address) { address_ = address; }

    // A start condition on the bus; repeated when no stop came since the previous start.
    // Every device sees it, addressed or not.
    virtual void start(Picos t, bool repeated) { (void)t, (void)repeated; }
    // The address byte named this device, for a read or a write. True acknowledges.
    virtual bool select(Picos t, bool read) = 0;
    // A data byte the master wrote to the selected device. True acknowledges.
    virtual bool write_byte(Picos t, std::uint8_t value) = 0;
    // The next byte the selected device sends to the master.
    virtual std::uint8_t read_byte(Picos t) = 0;
    // The master's answer to the byte just read: true for acknowledge, false for not.
    virtual void read_answer(Picos t, bool ack) { (void)t, (void)ack; }
    // A stop condition on the bus. Every device sees it.
    virtual void stop(Picos t) { (void)t; }

    // Clock stretching: how long the device holds SCL low after the acknowledge clock of byte
    // `index` of its transaction (0 is the address byte). Every kind takes "stretch_us".
    virtual Picos stretch(unsigned index) const { (void)index; return stretch_; }
    void set_stretch(Picos stretch) { stretch_ = stretch; }
    // A device that has hung up holds SCL low until told otherwise.
    virtual bool holds_scl() const { return false; }

private:
    std::uint8_t address_ = 0;
    Picos stretch_ = 0;
};

// Device kinds by configuration name ("eeprom24", "i2c-register", "i2c-test"). The factory
// gets the device's configuration object and throws std::runtime_error on a malformed one.
using I2cDeviceKinds = Registry<I2cDevice, DeviceConfig>;
I2cDeviceKinds &i2c_device_kinds();
using I2cDeviceRegistrar = Registrar<I2cDevice, DeviceConfig, i2c_device_kinds>;

// The 7-bit "address" of a device (default when absent); throws when out of range.
std::uint8_t config_address(const DeviceConfig &config, std::uint8_t fallback);

}  // namespace kvsim
