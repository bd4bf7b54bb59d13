// Sample bursts, raw streams and command words.
#include "tq_api.h"
#include "tq_guard.h"
#include "tq_wire.h"

extern "C" {

int KORVIN_ReadStream(KV_HANDLE handle, uint8_t *destination, int byteCount) {
    return tq::guarded([&] {
        if (destination == nullptr && byteCount != 0) return tq::kNullArgument;  // a null buffer of no bytes is empty
        if (handle == nullptr || byteCount < 0) return tq::kRefused;
        return tq::result(tq::read_stream(handle, destination, static_cast<std::size_t>(byteCount)));
    });
}

int TQ_ReadData(KV_HANDLE handle, uint8_t *destination, int byteCount) {
    return KORVIN_ReadStream(handle, destination, byteCount);
}

int KORVIN_WriteStream(KV_HANDLE handle, const uint8_t *source, int byteCount) {
    return tq::guarded([&] {
        if (source == nullptr && byteCount != 0) return tq::kNullArgument;  // a null buffer of no bytes is empty
        if (handle == nullptr || byteCount < 0) return tq::kRefused;
        return tq::result(tq::write_stream(handle, source, static_cast<std::size_t>(byteCount)));
    });
}

int TQ_Cmd(KV_HANDLE handle, int command) {
    return tq::guarded([&] {
        if (handle == nullptr) return tq::kRefused;
        return tq::result(tq::send_command(handle, static_cast<std::uint16_t>(command & 0xFFFF)));
    });
}

}  // extern "C"
