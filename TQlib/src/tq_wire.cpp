#include "tq_wire.h"

#include <algorithm>
#include <vector>

#include "korvin_mid.h"

namespace tq {

namespace {

constexpr std::uint8_t kReadRegister = 0x40, kWriteRegister = 0x80, kProgramOtp = 0xC9,
                       kCommandWord = 0xE0, kIdentify = 0x7F;
constexpr std::size_t kLongestTransfer = 65536;  // one SPI byte-mode transfer

std::uint8_t high_byte(std::uint16_t word) { return static_cast<std::uint8_t>(word >> 8); }
std::uint8_t low_byte(std::uint16_t word) { return static_cast<std::uint8_t>(word); }


KV_STATUS checked(KV_STATUS status, std::uint32_t moved, std::size_t asked) {
    if (status != STATUS_SUCCESS) return status;
    return moved == asked ? STATUS_SUCCESS : STATUS_IO_FAILURE;
}

// After a failed transfer answer bytes may still be queued and chip-select asserted: drop the
// bytes and release it, so that the next frame starts clean instead of reading stale answers.
// Only a channel libVELTA has open is touched.
void recover(KV_HANDLE handle) {
    ChannelConfig *config = nullptr;
    if (SPI_GetChannelConfig(handle, &config) != STATUS_SUCCESS) return;
    Mid_PurgeDevice(handle);
    SPI_ToggleCS(handle, 0);
}

// One frame of any length, moved in transfers of at most kLongestTransfer bytes. Chip-select
// is released only once every transfer moved all its bytes: a write cut short leaves the engine
// waiting for the rest, and a release sent then would finish it as data, which the device
// would take as the frame's last bytes.
template <typename Transfer>
KV_STATUS chunked_frame(KV_HANDLE handle, std::size_t count, Transfer transfer) {
    if (count == 0) return STATUS_SUCCESS;
    for (std::size_t offset = 0; offset < count;) {
        auto length = static_cast<std::uint32_t>(std::min(kLongestTransfer, count - offset));
        std::uint32_t moved = 0;
        KV_STATUS status = transfer(offset, length, offset == 0 ? SPI_XFER_CS_ASSERT_AT_START : 0u, &moved);
        status = checked(status, moved, length);
        if (status != STATUS_SUCCESS) {
            recover(handle);
            return status;
        }
        offset += length;
    }
    KV_STATUS status = SPI_ToggleCS(handle, 0);
    if (status != STATUS_SUCCESS) recover(handle);
    return status;
}

// One short frame: sends `out` while receiving as many bytes into `in`.
template <std::size_t N>
KV_STATUS exchange(KV_HANDLE handle, std::uint8_t (&out)[N], std::uint8_t (&in)[N]) {
    return chunked_frame(handle, N, [&](std::size_t offset, std::uint32_t length, std::uint32_t options,
                                        std::uint32_t *moved) {
        return SPI_ReadWrite(handle, in + offset, out + offset, length, moved, options);
    });
}

template <std::size_t N>
KV_STATUS send(KV_HANDLE handle, const std::uint8_t (&out)[N]) {
    return write_stream(handle, out, N);
}

}  // namespace

// The value is stored only when its complement checks out: a shifted or missing answer is no value.
KV_STATUS read_register(KV_HANDLE handle, int reg, std::uint8_t *value) {
    std::uint8_t out[3] = {static_cast<std::uint8_t>(kReadRegister + reg), 0, 0}, in[3] = {};
    KV_STATUS status = exchange(handle, out, in);
    if (status != STATUS_SUCCESS) return status;
    if ((in[1] ^ in[2]) != 0xFF) return STATUS_IO_FAILURE;
    *value = in[1];
    return STATUS_SUCCESS;
}

KV_STATUS write_register(KV_HANDLE handle, int reg, std::uint8_t value) {
    const std::uint8_t frame[2] = {static_cast<std::uint8_t>(kWriteRegister + reg), value};
    return send(handle, frame);
}

KV_STATUS program_otp(KV_HANDLE handle, std::uint16_t key, std::uint8_t bits) {
    const std::uint8_t frame[4] = {kProgramOtp, high_byte(key), low_byte(key), bits};
    return send(handle, frame);
}

KV_STATUS send_command(KV_HANDLE handle, std::uint16_t word) {
    const std::uint8_t frame[3] = {kCommandWord, high_byte(word), low_byte(word)};
    return send(handle, frame);
}

KV_STATUS identify(KV_HANDLE handle) {
    std::uint8_t out[4] = {kIdentify, 0, 0, 0}, in[4] = {};
    KV_STATUS status = exchange(handle, out, in);
    if (status != STATUS_SUCCESS) return status;
    return in[1] == 'T' && in[2] == 'Q' && in[3] >= kProtocolVersion ? STATUS_SUCCESS : STATUS_NO_DEVICE;
}

// Reads keep data out low, so the sensor sees command byte 0x00: the sample stream. The frame
// lands in a buffer of its own, so the caller's holds either the whole stream or what it held.
KV_STATUS read_stream(KV_HANDLE handle, std::uint8_t *destination, std::size_t count) {
    std::vector<std::uint8_t> frame(count);
    KV_STATUS status = chunked_frame(handle, count, [&](std::size_t offset, std::uint32_t length,
                                                        std::uint32_t options, std::uint32_t *moved) {
        return SPI_Read(handle, frame.data() + offset, length, moved, options);
    });
    if (status == STATUS_SUCCESS) std::copy(frame.begin(), frame.end(), destination);
    return status;
}

KV_STATUS write_stream(KV_HANDLE handle, const std::uint8_t *source, std::size_t count) {
    return chunked_frame(handle, count, [&](std::size_t offset, std::uint32_t length, std::uint32_t options,
                                            std::uint32_t *moved) {
        // SPI_Write only reads the buffer; its parameter is not const.
        return SPI_Write(handle, const_cast<std::uint8_t *>(source + offset), length, moved, options);
    });
}

}  // namespace tq
