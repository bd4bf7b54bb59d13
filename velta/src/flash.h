// 25-series SPI serial flash: JEDEC identification, read, program with erase where needed,
// whole-chip erase, verify.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "channel.h"

namespace velta {

struct JedecId {
    std::uint8_t manufacturer = 0, type = 0, capacity = 0;
    // 2^capacity bytes where the capacity byte follows that convention, else 0.
    std::uint64_t size() const;
    std::string text() const;  // "5a 40 10"
};

struct FlashGeometry {
    std::uint64_t size = 0;
    unsigned address_bytes = 0;  // 0: three, four above 16 MiB
    unsigned page = 256;
};

class Flash {
public:
    // Takes the size from the JEDEC ID when the geometry has none; Failure when neither gives one.
    Flash(SpiChannel &spi, std::uint32_t clock_hz, FlashGeometry geometry);

    // Failure when no chip answers.
    static JedecId read_id(SpiChannel &spi);
    const FlashGeometry &geometry() const { return geometry_; }
    std::uint8_t status();

    Bytes read(std::uint64_t address, std::uint64_t length, Show show);
    // Programs `data` from address 0: erases the sectors whose bytes cannot be programmed as
    // they are (keeping the bytes of those sectors beyond the data), programs the pages that
    // differ, then reads the data back.
    void write(const Bytes &data, bool erase, Show show);
    void erase_chip(Show show);

private:
    // Failure when the chip does not answer or its block-protect bits are set.
    void require_writable();
    void write_enable();
    void erase(std::uint8_t opcode, std::uint64_t address, std::chrono::milliseconds timeout);
    void program(std::uint64_t address, const std::uint8_t *data, std::size_t length);
    // Polls the status register in one frame until the write in progress ends.
    void wait_ready(std::chrono::milliseconds timeout, const std::string &what, Progress *progress = nullptr);
    Bytes with_address(std::uint8_t opcode, std::uint64_t address) const;
    void check_range(std::uint64_t length) const;

    SpiChannel &spi_;
    std::size_t poll_bytes_;
    FlashGeometry geometry_;
};

struct FlashCommand {
    std::string action;  // id, read, write, verify, erase
    SpiSettings spi;
    FlashGeometry geometry;
    std::string file;
    bool erase = true;
    Show show = Show::Auto;
};
// Returns what to print (the identification for "id").
std::string flash_command(const FlashCommand &command);

}  // namespace velta
