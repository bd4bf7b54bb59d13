// The sensor's SPI frames (docs/torqa-protocol.md), each one chip-select frame on an open
// libVELTA SPI channel. Results are KV_STATUS values; a short transfer is STATUS_IO_FAILURE.
#pragma once

#include <cstddef>
#include <cstdint>

#include "libVELTA_spi.h"

namespace tq {

constexpr int kOtpRegister = 9;
constexpr std::uint8_t kProtocolVersion = 1;

KV_STATUS read_register(KV_HANDLE handle, int reg, std::uint8_t *value);  // fails on a bad check byte
KV_STATUS write_register(KV_HANDLE handle, int reg, std::uint8_t value);  // registers 0..8
KV_STATUS program_otp(KV_HANDLE handle, std::uint16_t key, std::uint8_t bits);
KV_STATUS send_command(KV_HANDLE handle, std::uint16_t word);
KV_STATUS identify(KV_HANDLE handle);  // success only when a Torqa sensor answers
KV_STATUS read_stream(KV_HANDLE handle, std::uint8_t *destination, std::size_t count);
KV_STATUS write_stream(KV_HANDLE handle, const std::uint8_t *source, std::size_t count);

}  // namespace tq
