// Library-internal: the channel layer's write with the one detail its public form leaves out,
// and the bounded pieces in which the transaction calls send their command streams.
#ifndef KORVIN_TRANSPORT_H
#define KORVIN_TRANSPORT_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "korvin_types.h"
#include "velta_engine.h"

// KV_Channel_Write(), telling through `cutShort` (when not null) whether the driver reported
// success having taken fewer bytes than asked, which is then STATUS_IO_FAILURE. A caller that
// announced a length to the engine can complete what the engine still waits for.
KV_STATUS Mid_WriteChannel(KV_HANDLE handle, uint32_t byteCount, const uint8_t *buffer, uint32_t *bytesDone,
                           bool *cutShort);

// One engine command stream of any length, built and sent in pieces of bounded size: commands
// gather in a fixed buffer, and a piece goes out (in one write, its answers back in one read)
// when the next commands or their answers would not fit. Memory stays at the two buffers
// whatever the stream's length; the answers the engine holds for the host never pass one
// piece's bound.
class StreamPieces {
public:
    // Room for one whole byte shift with its header, and a little more.
    static constexpr size_t kCommandCapacity = VELTA_MAX_SHIFT_BYTES + 512;
    static constexpr size_t kAnswerCapacity = VELTA_MAX_SHIFT_BYTES;

    // `commands` and `answers` bound the whole stream (any over-estimate will do): a short
    // stream gets buffers of its own size, so a small transaction costs no large allocation.
    StreamPieces(KV_HANDLE handle, uint64_t commands, uint64_t answers);
    bool ready() const { return commands_ && answers_; }

    // Whether `bytes` more command bytes and `answers` more answers fit in this piece (the
    // send-immediate that ends a piece with answers is kept room for).
    bool fits(size_t bytes, size_t answers) const {
        return length_ + bytes + 1 <= command_capacity_ && expected_ + answers <= answer_capacity_;
    }
    // Appending, once fits() said yes: bytes copied, `count` bytes to fill, or an encoder's
    // output written at tail() and then committed.
    uint8_t *append(const uint8_t *bytes, size_t count);
    uint8_t *extend(size_t count);
    uint8_t *tail() { return commands_.get() + length_; }
    void commit(size_t count) { length_ += count; }
    void expect(size_t answers) { expected_ += answers; }
    bool empty() const { return length_ == 0; }

    // Sends the piece, with a send-immediate when answers are due, and reads its answers;
    // answers() then holds answered() of them. A write
    // the driver cut short is completed first, so the engine is not left inside a command, and
    // the call still fails with STATUS_IO_FAILURE. After a failed answer read the channel's
    // input is purged, so no late answer reaches the next call.
    KV_STATUS flush();
    const uint8_t *answers() const { return answers_.get(); }
    size_t answered() const { return answered_; }

private:
    KV_HANDLE handle_;
    size_t command_capacity_;
    size_t answer_capacity_;
    std::unique_ptr<uint8_t[]> commands_;
    std::unique_ptr<uint8_t[]> answers_;
    size_t length_ = 0;
    size_t expected_ = 0;
    size_t answered_ = 0;
};

#endif
