// 25-series SPI serial flash: JEDEC identification, read, program with erase where needed,
// whole-chip erase, verify.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "channel.h"

namespace velta {

struct JedecId {
    std::uint8_t manufacturer = 0, type = 0, capacity = 0;
    // True when MISO stayed at one level: no chip answered.
    bool silent() const;
    std::string text() const;  // "5a 40 10"
};

struct FlashGeometry {
    std::uint64_t size = 0;      // 0: unknown
    unsigned address_bytes = 0;  // 0: unknown
    unsigned page = 256;
};

// What the chip tells of itself: its JEDEC ID, and the size and address bytes its parameter
// table gives, or else its ID when velta knows that ID (0 where neither tells).
struct FlashIdentity {
    JedecId id;
    FlashGeometry geometry;
};

class Flash {
public:
    // Completes the geometry from the chip where the caller left the size or the address
    // bytes 0; Failure naming --size and --addr-bytes when the chip does not tell them.
    Flash(SpiChannel &spi, std::uint32_t clock_hz, FlashGeometry geometry);

    static FlashIdentity identify(SpiChannel &spi);
    const FlashGeometry &geometry() const { return geometry_; }
    std::uint8_t status();

    Bytes read(std::uint64_t address, std::uint64_t length, Show show);
    // Programs `data` from address 0: erases the sectors whose bytes cannot be programmed as
    // they are, keeping what the last of them holds beyond the data, programs the pages that
    // differ, then reads the range back. When it fails after an erase, it programs the kept
    // bytes back; if that fails too, it saves them (after the data) to `rescue_file` and the
    // Failure says where they are and how to write them back.
    void write(const Bytes &data, bool erase, Show show, const std::string &rescue_file = "flash");
    void erase_chip(Show show);

private:
    // Failure when the chip does not answer or its block-protect bits are set.
    void require_writable();
    // Sets the write-enable latch, sends `command` and `data` and reads a first batch of status
    // bytes, all in one stream, then waits for the cycle to end. Failure when the chip did not
    // take the latch, or did not carry the command out.
    void carry_out(const Bytes &command, const std::uint8_t *data, std::size_t length, std::chrono::milliseconds timeout,
                   const std::string &what, Progress *progress = nullptr);
    void erase(std::uint8_t opcode, std::uint64_t address, std::chrono::milliseconds timeout);
    void program(std::uint64_t address, const std::uint8_t *data, std::size_t length);
    // Programs the pages of [from, from + bytes.size()) whose bytes differ from `now`.
    void program_range(std::uint64_t from, const Bytes &bytes, const Bytes &now, Progress *progress);
    // Reads status bytes in batches until one shows the cycle of `opcode` over (the first
    // `batch` of them already in poll_); Failure when the write-enable latch is still set
    // then (the chip did not take the write), or after the time-out.
    void wait_ready(std::chrono::milliseconds timeout, const std::string &what, Progress *progress, std::uint8_t opcode,
                    std::size_t batch);
    // Status bytes to read with a command: what its last cycle took, a little more.
    std::size_t first_batch(std::uint8_t opcode) const;
    // After a failed write: puts `kept` back at `from`, or saves the range and throws.
    void restore(const Bytes &target, std::uint64_t from, const std::string &failure, const std::string &rescue_file);
    Bytes with_address(std::uint8_t opcode, std::uint64_t address) const;
    void check_range(std::uint64_t length) const;

    SpiChannel &spi_;
    std::uint32_t clock_hz_;
    Bytes poll_;  // status bytes of a batch
    std::map<std::uint8_t, std::size_t> cycle_bytes_;  // status bytes each kind of cycle took
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
