// I2C master over the VELTA engine: channel operations, bus primitives and device transfers.
// Every bus action is a fixed stream of engine commands; CommandStream builds them so that
// the byte primitives and the fast-mode transaction streams share one definition of each
// pin state and shift block.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <unistd.h>

#include "korvin_infra.h"
#include "korvin_mid.h"
#include "korvin_report.h"
#include "korvin_transport.h"
#include "i2c_fast_stream.h"
#include "libVELTA_i2c.h"
#include "velta_engine.h"

namespace {

// Null-pointer reports name this path and the line numbers of the original module layout,
// which applications and their logs already know.
constexpr const char *kSourcePath = "../../TopLayer/I2C/src/korvin_i2c";
enum ReportLine : int {
    kLineGetNumChannelsCount = 154,
    kLineGetChannelInfoEntry = 183,
    kLineOpenChannelHandle = 209,
    kLineInitChannelConfig = 238,
    kLineInitChannelHandle = 239,
    kLineCloseChannelHandle = 287,
    kLineDeviceReadHandle = 324,
    kLineDeviceReadBuffer = 325,
    kLineDeviceReadCount = 326,
    kLineDeviceWriteHandle = 427,
    kLineDeviceWriteBuffer = 428,
    kLineDeviceWriteCount = 429,
};

// Bit shifts: bits out on the rising or falling edge, bits in on the rising edge.
constexpr uint8_t kBitsOutRising = VELTA_SHIFT_OUT | VELTA_SHIFT_BITS;
constexpr uint8_t kBitsOutFalling = VELTA_SHIFT_OUT | VELTA_SHIFT_BITS | VELTA_SHIFT_OUT_FALLING;
constexpr uint8_t kBitsInRising = VELTA_SHIFT_IN | VELTA_SHIFT_BITS;

// Low-pin values and directions (SCL, SDA and the spare pin outputs, or SDA released, or both
// lines released).
constexpr uint8_t kScl = VELTA_PIN_CLOCK;
constexpr uint8_t kSda = VELTA_PIN_DATA_OUT;
constexpr uint8_t kSclHighSdaHigh = kScl | kSda;
constexpr uint8_t kSclHighSdaLow = kScl;
constexpr uint8_t kSclLowSdaLow = 0x00;
constexpr uint8_t kSclLowSdaHigh = kSda;
constexpr uint8_t kDirDriveBoth = kScl | kSda | VELTA_PIN_I2C_SPARE;
constexpr uint8_t kDirReleaseSda = kScl | VELTA_PIN_I2C_SPARE;
constexpr uint8_t kDirReleaseBoth = VELTA_PIN_I2C_SPARE;

// How long each pin state of a start or stop condition is held, in repeated commands.
constexpr int kStartIdleHold = 10;
constexpr int kStartLowHold = 20;
constexpr int kStopHold = 10;

constexpr size_t kPinStateLength = i2c_fast::kPinStateBytes;
constexpr size_t kConditionLength = i2c_fast::kConditionBytes;
constexpr size_t kBytePrimitiveLength = i2c_fast::kByteBlockBytes + 1;  // and send-immediate
constexpr size_t kAddressBlockLength = i2c_fast::kAddressBlockBytes;
constexpr size_t kWriteBlockBudget = 11;  // per buffer unit, as the fast write allocates
constexpr size_t kReadBlockBudget = 12;   // per buffer unit, as the fast read allocates

constexpr uint8_t kAckMask = 0x01;
constexpr uint8_t kGiveAck = 0x00;  // SDA low in the ninth clock
constexpr uint8_t kGiveNack = 0x80; // SDA high in the ninth clock
constexpr uint32_t kHighest7BitAddress = 127;

// Appends engine commands to a caller-owned buffer. The buffer is sized for the stream by
// its caller; a write past the end is dropped, so a miscount cannot corrupt memory.
class CommandStream {
public:
    CommandStream(uint8_t *buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

    uint8_t *data() const { return buffer_; }
    uint32_t length() const { return static_cast<uint32_t>(length_); }
    bool fits() const { return length_ <= capacity_; }

    void pins(uint8_t value, uint8_t direction, int repeat = 1) {
        uint8_t command[3];
        const size_t n = velta_encode_pins(command, VELTA_CMD_SET_LOW_PINS, value, direction);
        for (int i = 0; i < repeat; ++i) put(command, n);
    }
    void start() {
        pins(kSclHighSdaHigh, kDirDriveBoth, kStartIdleHold);
        pins(kSclHighSdaLow, kDirDriveBoth, kStartLowHold);
        pins(kSclLowSdaLow, kDirDriveBoth);
    }
    void stop() {
        pins(kSclLowSdaLow, kDirDriveBoth, kStopHold);
        pins(kSclHighSdaLow, kDirDriveBoth, kStopHold);
        pins(kSclHighSdaHigh, kDirDriveBoth, kStopHold);
        pins(kSclHighSdaHigh, kDirReleaseBoth);
    }
    // The top `bits` bits of `data` out, changing on the falling clock edge.
    void write_bits(unsigned bits, uint8_t data) {
        pins(kSclLowSdaHigh, kDirDriveBoth);
        shift(kBitsOutFalling, bits, data);
    }
    // SDA handed to the device, then `bits` bits sampled; the engine answers one byte.
    void read_bits(unsigned bits) {
        pins(kSclLowSdaLow, kDirReleaseSda);
        shift(kBitsInRising, bits, 0);
    }
    // Bits out, then the device's acknowledge bit in.
    void write_bits_get_ack(unsigned bits, uint8_t data) {
        write_bits(bits, data);
        read_bits(1);
    }
    // The master's acknowledge (true) or not-acknowledge bit after a read byte.
    void give_ack(bool ack) {
        pins(kSclLowSdaHigh, kDirDriveBoth);
        shift(kBitsOutRising, 1, ack ? kGiveAck : kGiveNack);
    }
    void send_immediate() { put(VELTA_CMD_SEND_IMMEDIATE); }

private:
    void shift(uint8_t opcode, unsigned bits, uint8_t data) {
        uint8_t command[3];
        put(command, velta_encode_shift_bits(command, opcode, bits, data));
    }
    void put(const uint8_t *bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) put(bytes[i]);
    }
    void put(uint8_t byte) {
        if (length_ < capacity_) buffer_[length_] = byte;
        ++length_;
    }

    uint8_t *buffer_;
    size_t capacity_;
    size_t length_ = 0;
};

static_assert(kConditionLength == kPinStateLength * (kStartIdleHold + kStartLowHold + 1), "start length");
static_assert(kConditionLength == kPinStateLength * (3 * kStopHold + 1), "stop length");

// The channel layer takes a stream as sent only when the driver took all of it.
KV_STATUS send_whole(KV_HANDLE handle, const CommandStream &stream) {
    uint32_t written = 0;
    return KV_Channel_Write(PROTOCOL_I2C, handle, stream.length(), stream.data(), &written);
}

KV_STATUS send_command(KV_HANDLE handle, uint8_t command) {
    uint32_t written = 0;
    return KV_Channel_Write(PROTOCOL_I2C, handle, 1, &command, &written);
}

KV_STATUS send_condition(KV_HANDLE handle, bool start) {
    uint8_t bytes[kConditionLength];
    CommandStream stream(bytes, sizeof bytes);
    if (start)
        stream.start();
    else
        stream.stop();
    return send_whole(handle, stream);
}

// Answers that never came mean the engine did not run what was sent (a stalled clock, a lost
// answer); *got tells how many did.
KV_STATUS read_answers(KV_HANDLE handle, uint32_t count, uint8_t *buffer, uint32_t *got) {
    return KV_Channel_Read(PROTOCOL_I2C, handle, count, buffer, got);
}

// A byte primitive: the whole 12-byte stream in one write, one answer byte back.
KV_STATUS exchange_byte(KV_HANDLE handle, const CommandStream &stream, bool wait_before_read, uint8_t *answer) {
    KV_STATUS status = send_whole(handle, stream);
    if (status != STATUS_SUCCESS) return status;
    if (wait_before_read) usleep(1000);
    uint8_t byte = 0;
    uint32_t got = 0;
    status = read_answers(handle, 1, &byte, &got);
    if (status == STATUS_SUCCESS) *answer = byte;
    return status;
}

// ---- clock stretching ----

// The full-speed bridge has no adaptive clocking: refused before anything is sent.
KV_STATUS stretching_refusal(KV_HANDLE handle) {
    uint32_t type = 0;
    const KV_STATUS status = Mid_GetKvDeviceType(handle, &type);
    if (status != STATUS_SUCCESS) return status;
    return type == KV_DEVICE_FULL_SPEED_DUAL ? Infra_Report(STATUS_BAD_PARAMETER) : STATUS_SUCCESS;
}

// A full-speed engine has no three-phase clocking and answers its command as an unknown byte.
// That echo is collected here, so no later read takes it for the bus's answer.
KV_STATUS three_phase_on(KV_HANDLE handle) {
    uint32_t type = 0;
    const KV_STATUS status = Mid_GetKvDeviceType(handle, &type);
    if (status != STATUS_SUCCESS) return status;
    if (type != KV_DEVICE_FULL_SPEED_DUAL) return send_command(handle, VELTA_CMD_THREE_PHASE_ON);
    uint8_t echoSeen = 0;
    return Mid_SendReceiveCmdFromVELTA(handle, 0, VELTA_CMD_THREE_PHASE_ON, &echoSeen);
}

// Every clock edge then waits until SCL, wired back to pin 7, follows, so a device holding
// SCL low holds the engine.
KV_STATUS adaptive_clocking_on(KV_HANDLE handle) { return send_command(handle, VELTA_CMD_ADAPTIVE_CLOCKING_ON); }

// ---- fast mode ----

bool fast_mode(uint32_t options) { return (options & (I2C_OPT_FAST_BYTES | I2C_OPT_FAST_BITS)) != 0; }

// Both counting modes at once would make the size count bits while every block expects an
// acknowledge: the stream and its read-back would not match, so the call is refused.
bool conflicting_fast_modes(uint32_t options) {
    return (options & I2C_OPT_FAST_BYTES) && (options & I2C_OPT_FAST_BITS);
}

// What a fast transfer refuses before it allocates or sends anything: an address wider than
// seven bits would reach another device, and a stream longer than a 32-bit count stays
// refused as it always was.
KV_STATUS fast_refusal(uint32_t address, uint32_t size, uint32_t options, bool read) {
    if (address > kHighest7BitAddress || conflicting_fast_modes(options)) return Infra_Report(STATUS_BAD_PARAMETER);
    if (!i2c_fast::fits_one_write(i2c_fast::stream_length(size, options, read)))
        return Infra_Report(STATUS_NO_RESOURCES);
    return STATUS_SUCCESS;
}

struct FastShape {
    uint64_t bits;   // B
    uint64_t groups; // blocks in the stream, one per buffer byte touched
    uint64_t units;  // U: buffer units the allocation is sized by
    uint64_t capacity;
};

FastShape fast_shape(uint32_t size, uint32_t options, bool read) {
    FastShape shape{};
    shape.bits = (options & I2C_OPT_FAST_BITS) ? uint64_t{size} : uint64_t{size} * 8;
    shape.groups = (shape.bits + 7) / 8;
    if (shape.bits >= 1 && shape.bits <= 7)
        shape.units = 1;
    else if (shape.bits >= 8)
        shape.units = shape.bits / 8 + (read ? 0 : 1);
    shape.capacity = (read ? kReadBlockBudget : kWriteBlockBudget) * shape.units;
    if (!(options & I2C_OPT_SKIP_ADDRESS)) shape.capacity += kAddressBlockLength;
    if (options & I2C_OPT_START) shape.capacity += kConditionLength;
    if (options & I2C_OPT_STOP) shape.capacity += kConditionLength;
    return shape;
}

unsigned group_bits(const FastShape &shape, uint64_t group) {
    uint64_t left = shape.bits - 8 * group;
    return left < 8 ? static_cast<unsigned>(left) : 8u;
}

std::unique_ptr<uint8_t[]> allocate(uint64_t length) {
    if (length > SIZE_MAX) return nullptr;
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[length ? length : 1]);
}

// The part of the stream that belongs to group k: its bits in or out, with the acknowledge
// bit in byte counting.
void add_group(CommandStream &stream, const FastShape &shape, uint64_t k, const uint8_t *data, uint32_t options,
               bool read) {
    const unsigned n = group_bits(shape, k);
    const bool bytes = (options & I2C_OPT_FAST_BYTES) != 0;
    if (read) {
        stream.read_bits(n);
        if (bytes) stream.give_ack(true);
    } else if (bytes) {
        stream.write_bits_get_ack(n, data[k]);
    } else {
        stream.write_bits(n, data[k]);
    }
}

uint64_t group_length(uint32_t options, bool read) {
    if (options & I2C_OPT_FAST_BYTES) return i2c_fast::kByteBlockBytes;
    return read ? i2c_fast::kBitsReadBlockBytes : i2c_fast::kBitsWriteBlockBytes;
}

// A piece of a fast-mode stream never passes this; a stream that fits goes out in one write.
constexpr uint64_t kFastPieceBytes = 65536;

// Builds and sends a fast-mode stream (start, address block, one block per group, stop) in
// pieces of at most kFastPieceBytes, so memory does not grow with the size. After each piece
// its answers are read: the address acknowledge (first piece), then one answer per group of
// the piece into `answers` (null: discarded) when the groups answer at all. The count receives
// `size` once the memory is there: a read's before the first write, a write's after it.
KV_STATUS send_fast_stream(KV_HANDLE handle, const FastShape &shape, uint32_t address, const uint8_t *data,
                           uint32_t options, bool read, uint8_t *answers, uint32_t size, uint32_t *count) {
    const uint64_t capacity = shape.capacity < kFastPieceBytes ? shape.capacity : kFastPieceBytes;
    const uint64_t block = group_length(options, read);
    const bool groups_answer = read || (options & I2C_OPT_FAST_BYTES);
    std::unique_ptr<uint8_t[]> bytes = allocate(capacity);
    std::unique_ptr<uint8_t[]> discarded = allocate(capacity / block + 1);
    if (!bytes || !discarded) return Infra_Report(STATUS_NO_RESOURCES);
    if (read) *count = size;
    bool first = true, stopped = !(options & I2C_OPT_STOP);
    for (uint64_t k = 0; first || k < shape.groups || !stopped; first = false) {
        CommandStream stream(bytes.get(), capacity);
        if (first && (options & I2C_OPT_START)) stream.start();
        if (first && !(options & I2C_OPT_SKIP_ADDRESS))
            stream.write_bits_get_ack(8, static_cast<uint8_t>(address * 2 + (read ? 1 : 0)));
        const uint64_t first_group = k;
        for (; k < shape.groups && stream.length() + block <= capacity; ++k) add_group(stream, shape, k, data, options, read);
        if (k == shape.groups && !stopped && stream.length() + kConditionLength <= capacity) {
            stream.stop();
            stopped = true;
        }
        if (!stream.fits()) return Infra_Report(STATUS_FAILURE);

        KV_STATUS status = send_whole(handle, stream);
        if (first) *count = size;
        if (status != STATUS_SUCCESS) return status;
        uint32_t got = 0;
        if (first && !(options & I2C_OPT_SKIP_ADDRESS)) {
            uint8_t address_ack = 0;  // not examined: the caller's to judge
            status = read_answers(handle, 1, &address_ack, &got);
            if (status != STATUS_SUCCESS) return status;
        }
        if (groups_answer && (first || k > first_group)) {
            uint8_t *to = answers ? answers + first_group : discarded.get();
            status = read_answers(handle, static_cast<uint32_t>(k - first_group), to, &got);
            if (status != STATUS_SUCCESS) return status;
        }
    }
    return STATUS_SUCCESS;
}

// ---- ordinary mode ----

bool abort_on_nack(uint32_t options) { return (options & I2C_OPT_ABORT_ON_NACK) != 0; }

// Start (if asked) and the address byte; the device must acknowledge it.
KV_STATUS open_transaction(KV_HANDLE handle, uint32_t address, bool read, uint32_t options) {
    if (options & I2C_OPT_START) {
        KV_STATUS status = I2C_Start(handle);
        if (status != STATUS_SUCCESS) return status;
    }
    uint8_t ack = 0;
    KV_STATUS status = I2C_WriteDeviceAddress(handle, address, read ? 1 : 0, 0, &ack);
    if (status != STATUS_SUCCESS) return status;
    return (ack & kAckMask) ? Infra_Report(STATUS_NO_DEVICE) : STATUS_SUCCESS;
}

// After the data: a short count is an I/O failure with the bus left open. Otherwise the stop
// (if asked) is sent, and the last byte's failure, if it failed, outranks the stop's status:
// a stop that succeeds does not make a failed byte a success.
KV_STATUS close_transaction(KV_HANDLE handle, uint32_t size, uint32_t counted, KV_STATUS last,
                            uint32_t *count, uint32_t options) {
    *count = counted;
    if (counted != size) return Infra_Report(STATUS_IO_FAILURE);
    KV_STATUS stop = (options & I2C_OPT_STOP) ? I2C_Stop(handle) : STATUS_SUCCESS;
    return last != STATUS_SUCCESS ? last : stop;
}

// ---- message transfers ----

// A transaction of messages as one engine stream in bounded pieces. Each address byte and each
// data byte gets exactly one answer (an acknowledge, or the byte read), so a piece's answers
// pair one to one with the positions recorded for it.
class Transaction {
public:
    Transaction(KV_HANDLE handle, const I2CMessage *messages, uint32_t count)
        : handle_(handle),
          pieces_(handle, command_bound(messages, count), answer_bound(messages, count)),
          messages_(messages),
          count_(count) {}
    bool ready() const { return pieces_.ready(); }

    KV_STATUS run(I2CTransferFault *fault) {
        const uint64_t most = StreamPieces::kCommandCapacity / i2c_fast::kByteBlockBytes + 1;
        positions_.reserve(static_cast<size_t>(std::min(most, answer_bound(messages_, count_))));
        KV_STATUS status = STATUS_SUCCESS;
        for (uint32_t m = 0; m < count_ && status == STATUS_SUCCESS; ++m) status = add_message(m);
        if (status == STATUS_SUCCESS) status = flush();
        if (status == STATUS_NO_DEVICE || status == STATUS_WRITE_REFUSED) {
            if (fault) *fault = fault_;
            if (!stopped_) I2C_Stop(handle_);  // the failing piece was not the last
        }
        return status;
    }

private:
    // The most a transaction can put in the stream: per message a start, the address, a block
    // per byte and a stop; and an answer for the address and for each byte.
    static uint64_t command_bound(const I2CMessage *messages, uint32_t count) {
        uint64_t bytes = 0;
        for (uint32_t m = 0; m < count; ++m)
            bytes += 2 * kConditionLength + kAddressBlockLength + uint64_t{messages[m].length} * i2c_fast::kByteBlockBytes;
        return bytes;
    }
    static uint64_t answer_bound(const I2CMessage *messages, uint32_t count) {
        uint64_t answers = 0;
        for (uint32_t m = 0; m < count; ++m) answers += 1 + uint64_t{messages[m].length};
        return answers;
    }

    struct Position {
        uint32_t message;
        uint32_t byte;  // I2C_FAULT_ADDRESS for the address
    };

    KV_STATUS add_message(uint32_t m) {
        const I2CMessage &message = messages_[m];
        const bool read = (message.flags & I2C_MSG_READ) != 0;
        // The engine cannot branch: a write that followed a refused acknowledge in the same
        // piece would still reach its device. Acknowledges already due are checked first.
        const bool new_write = !read && !(message.flags & I2C_MSG_NO_START);
        KV_STATUS status = new_write && checked_pending_ ? flush() : STATUS_SUCCESS;
        if (status == STATUS_SUCCESS && !(message.flags & I2C_MSG_NO_START)) {
            const uint8_t address = static_cast<uint8_t>(message.address * 2 + (read ? 1 : 0));
            status = add([&](CommandStream &s) { s.start(); s.write_bits_get_ack(8, address); },
                         Position{m, I2C_FAULT_ADDRESS});
        }
        for (uint32_t k = 0; k < message.length && status == STATUS_SUCCESS; ++k) {
            if (read) {
                const bool ack = k + 1 < message.length || continues_read(m);
                status = add([&](CommandStream &s) { s.read_bits(8); s.give_ack(ack); }, Position{m, k});
            } else {
                status = add([&](CommandStream &s) { s.write_bits_get_ack(8, message.buffer[k]); }, Position{m, k});
            }
        }
        if (status == STATUS_SUCCESS && ((message.flags & I2C_MSG_STOP) || m + 1 == count_))
            status = add([](CommandStream &s) { s.stop(); }, nullptr);
        return status;
    }

    bool continues_read(uint32_t m) const {
        return m + 1 < count_ && (messages_[m + 1].flags & I2C_MSG_NO_START) && (messages_[m + 1].flags & I2C_MSG_READ);
    }

    // Appends the commands `build` makes, with the answer of `position` if there is one.
    template <typename Build>
    KV_STATUS add(Build build, const Position *position) {
        uint8_t bytes[kConditionLength + kAddressBlockLength];
        CommandStream stream(bytes, sizeof bytes);
        build(stream);
        const size_t answers = position ? 1 : 0;
        if (!pieces_.fits(stream.length(), answers)) {
            const KV_STATUS status = flush();
            if (status != STATUS_SUCCESS) return status;
            if (!pieces_.fits(stream.length(), answers)) return Infra_Report(STATUS_FAILURE);
        }
        pieces_.append(bytes, stream.length());
        pieces_.expect(answers);
        if (position) {
            positions_.push_back(*position);
            checked_pending_ = checked_pending_ || acknowledge_checked(*position);
        }
        stopped_ = !position;
        return STATUS_SUCCESS;
    }
    template <typename Build>
    KV_STATUS add(Build build, Position position) {
        return add(build, &position);
    }

    bool acknowledge_checked(const Position &at) const {
        const uint32_t flags = messages_[at.message].flags;
        if (flags & I2C_MSG_IGNORE_NACK) return false;
        return !(flags & I2C_MSG_READ) || at.byte == I2C_FAULT_ADDRESS;
    }

    // Sends the piece, stores the bytes read and finds the first missing acknowledge.
    KV_STATUS flush() {
        checked_pending_ = false;
        KV_STATUS status = pieces_.flush();
        for (size_t i = 0; status == STATUS_SUCCESS && i < positions_.size(); ++i) {
            const Position &at = positions_[i];
            const I2CMessage &message = messages_[at.message];
            const uint8_t answer = pieces_.answers()[i];
            if ((message.flags & I2C_MSG_READ) && at.byte != I2C_FAULT_ADDRESS) {
                message.buffer[at.byte] = answer;
            } else if ((answer & kAckMask) && !(message.flags & I2C_MSG_IGNORE_NACK)) {
                fault_ = I2CTransferFault{at.message, at.byte};
                status = Infra_Report(at.byte == I2C_FAULT_ADDRESS ? STATUS_NO_DEVICE : STATUS_WRITE_REFUSED);
            }
        }
        positions_.clear();
        return status;
    }

    KV_HANDLE handle_;
    StreamPieces pieces_;
    const I2CMessage *messages_;
    uint32_t count_;
    std::vector<Position> positions_;
    I2CTransferFault fault_{};
    bool stopped_ = false;  // the last thing appended was a stop
    bool checked_pending_ = false;  // the piece holds acknowledges that must come back
};

// What a transaction refuses before it sends anything.
KV_STATUS transaction_refusal(const I2CMessage *messages, uint32_t count) {
    if (messages == nullptr && count != 0) return Infra_Report(STATUS_BAD_PARAMETER);
    for (uint32_t m = 0; m < count; ++m) {
        const I2CMessage &message = messages[m];
        if (message.flags & I2C_MSG_TEN_BIT) return Infra_Report(STATUS_UNSUPPORTED);
        const bool continues = (message.flags & I2C_MSG_NO_START) != 0;
        const bool after_stop = m > 0 && (messages[m - 1].flags & I2C_MSG_STOP);
        if (message.address > kHighest7BitAddress || (message.length && !message.buffer) ||
            (continues && (m == 0 || after_stop)))
            return Infra_Report(STATUS_BAD_PARAMETER);
    }
    return STATUS_SUCCESS;
}

}  // namespace

extern "C" {

// ---- channel operations ----

KV_API KV_STATUS I2C_GetNumChannels(uint32_t *numChannels) {
    if (!numChannels) return Infra_NullArgument(kSourcePath, kLineGetNumChannelsCount, "I2C_GetNumChannels");
    return KV_GetNumChannels(PROTOCOL_I2C, numChannels);
}

KV_API KV_STATUS I2C_GetChannelInfo(uint32_t index, DeviceListEntry *chanInfo) {
    if (!chanInfo) return Infra_NullArgument(kSourcePath, kLineGetChannelInfoEntry, "I2C_GetChannelInfo");
    return KV_GetChannelInfo(PROTOCOL_I2C, index + 1, chanInfo);
}

KV_API KV_STATUS I2C_OpenChannel(uint32_t index, KV_HANDLE *handle) {
    if (!handle) return Infra_NullArgument(kSourcePath, kLineOpenChannelHandle, "I2C_OpenChannel");
    return KV_OpenChannel(PROTOCOL_I2C, index + 1, handle);
}

KV_API KV_STATUS I2C_InitChannel(KV_HANDLE handle, I2CChannelConfig *config) {
    if (!config) return Infra_NullArgument(kSourcePath, kLineInitChannelConfig, "I2C_InitChannel");
    if (!handle) return Infra_NullArgument(kSourcePath, kLineInitChannelHandle, "I2C_InitChannel");
    const bool stretching = (config->configOptions & I2C_CFG_CLOCK_STRETCHING) != 0;
    if (stretching) {
        const KV_STATUS refused = stretching_refusal(handle);
        if (refused != STATUS_SUCCESS) return refused;
    }
    const bool three_phase = !(config->configOptions & I2C_CFG_NO_THREE_PHASE);
    if (three_phase) {
        // Computed wide: a 32-bit product would wrap a huge rate into a small, accepted one.
        const uint64_t scaled = uint64_t{config->ClockRate} * 3 / 2;
        config->ClockRate = scaled > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(scaled);
    }
    KV_STATUS status = KV_InitChannel(PROTOCOL_I2C, handle, config->ClockRate, uint32_t{config->LatencyTimer},
                                      config->configOptions);
    if (status != STATUS_SUCCESS) return status;
    if (three_phase) {
        status = three_phase_on(handle);
        if (status != STATUS_SUCCESS) return status;
    }
    status = I2C_SaveChannelConfig(handle, config);
    if (status != STATUS_SUCCESS || !stretching) return status;
    return adaptive_clocking_on(handle);
}

KV_API KV_STATUS I2C_CloseChannel(KV_HANDLE handle) {
    if (!handle) return Infra_NullArgument(kSourcePath, kLineCloseChannelHandle, "I2C_CloseChannel");
    return KV_CloseChannel(PROTOCOL_I2C, handle);
}

KV_API KV_STATUS I2C_SaveChannelConfig(KV_HANDLE handle, I2CChannelConfig *config) {
    (void)handle;
    return config ? STATUS_SUCCESS : Infra_Report(STATUS_BAD_PARAMETER);
}

KV_API KV_STATUS I2C_GetChannelConfig(KV_HANDLE handle, I2CChannelConfig *config) {
    (void)handle;
    return config ? STATUS_SUCCESS : Infra_Report(STATUS_BAD_PARAMETER);
}

// ---- bus primitives ----

KV_API KV_STATUS I2C_Start(KV_HANDLE handle) { return send_condition(handle, true); }

KV_API KV_STATUS I2C_Stop(KV_HANDLE handle) { return send_condition(handle, false); }

KV_API KV_STATUS I2C_WriteDeviceAddress(KV_HANDLE handle, uint32_t deviceAddress, uint8_t read,
                                        uint8_t addressLen10bit, uint8_t *ack) {
    if (!ack) return Infra_Report(STATUS_BAD_PARAMETER);
    if (addressLen10bit) return Infra_Report(STATUS_UNSUPPORTED);
    const uint8_t address_byte = static_cast<uint8_t>(deviceAddress * 2 + (read ? 1 : 0));
    return I2C_Write8bitsAndGetAck(handle, address_byte, ack);
}

KV_API KV_STATUS I2C_Write8bitsAndGetAck(KV_HANDLE handle, uint8_t data, uint8_t *ack) {
    if (!ack) return Infra_Report(STATUS_BAD_PARAMETER);
    uint8_t bytes[kBytePrimitiveLength];
    CommandStream stream(bytes, sizeof bytes);
    stream.write_bits_get_ack(8, data);
    stream.send_immediate();
    uint8_t answer = 0;
    KV_STATUS status = exchange_byte(handle, stream, true, &answer);
    if (status == STATUS_SUCCESS) *ack = answer & kAckMask;
    return status;
}

KV_API KV_STATUS I2C_Read8bitsAndGiveAck(KV_HANDLE handle, uint8_t *data, uint8_t ack) {
    if (!data) return Infra_Report(STATUS_BAD_PARAMETER);
    uint8_t bytes[kBytePrimitiveLength];
    CommandStream stream(bytes, sizeof bytes);
    stream.read_bits(8);
    stream.send_immediate();
    stream.give_ack(ack != 0);
    return exchange_byte(handle, stream, false, data);
}

// ---- device transfers ----

KV_API KV_STATUS I2C_DeviceWrite(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                                 uint8_t *buffer, uint32_t *sizeTransferred, uint32_t options) {
    if (!handle) return Infra_NullArgument(kSourcePath, kLineDeviceWriteHandle, "I2C_DeviceWrite");
    if (!buffer) return Infra_NullArgument(kSourcePath, kLineDeviceWriteBuffer, "I2C_DeviceWrite");
    if (!sizeTransferred) return Infra_NullArgument(kSourcePath, kLineDeviceWriteCount, "I2C_DeviceWrite");
    // Only seven address bits reach the bus: a wider address would reach another device.
    if (deviceAddress > kHighest7BitAddress || conflicting_fast_modes(options))
        return Infra_Report(STATUS_BAD_PARAMETER);
    Mid_PurgeDevice(handle);
    if (fast_mode(options))
        return I2C_FastWrite(handle, deviceAddress, sizeToTransfer, buffer, nullptr, sizeTransferred, options);

    KV_STATUS status = open_transaction(handle, deviceAddress, false, options);
    if (status != STATUS_SUCCESS) return status;
    uint32_t counted = 0;
    while (counted < sizeToTransfer) {
        uint8_t ack = 0;
        status = I2C_Write8bitsAndGetAck(handle, buffer[counted], &ack);
        ++counted;
        if (abort_on_nack(options) && (ack & kAckMask)) return Infra_Report(STATUS_WRITE_REFUSED);
        if (status != STATUS_SUCCESS) break;
    }
    return close_transaction(handle, sizeToTransfer, counted, status, sizeTransferred, options);
}

KV_API KV_STATUS I2C_DeviceRead(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                                uint8_t *buffer, uint32_t *sizeTransferred, uint32_t options) {
    if (!handle) return Infra_NullArgument(kSourcePath, kLineDeviceReadHandle, "I2C_DeviceRead");
    if (!buffer) return Infra_NullArgument(kSourcePath, kLineDeviceReadBuffer, "I2C_DeviceRead");
    if (!sizeTransferred) return Infra_NullArgument(kSourcePath, kLineDeviceReadCount, "I2C_DeviceRead");
    if (deviceAddress > kHighest7BitAddress || conflicting_fast_modes(options))
        return Infra_Report(STATUS_BAD_PARAMETER);
    if (fast_mode(options))
        return I2C_FastRead(handle, deviceAddress, sizeToTransfer, buffer, nullptr, sizeTransferred, options);

    KV_STATUS status = open_transaction(handle, deviceAddress, true, options);
    if (status != STATUS_SUCCESS) return status;
    uint32_t counted = 0;
    while (counted < sizeToTransfer) {
        const bool last = counted + 1 == sizeToTransfer;
        const bool give_ack = !(last && (options & I2C_OPT_NACK_FINAL_BYTE));
        status = I2C_Read8bitsAndGiveAck(handle, &buffer[counted], give_ack ? 1 : 0);
        ++counted;
        if (status != STATUS_SUCCESS) break;
    }
    return close_transaction(handle, sizeToTransfer, counted, status, sizeTransferred, options);
}

KV_API KV_STATUS I2C_FastWrite(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                               uint8_t *buffer, uint8_t *ackBuffer, uint32_t *sizeTransferred,
                               uint32_t options) {
    if (!buffer || !sizeTransferred) return Infra_Report(STATUS_BAD_PARAMETER);
    KV_STATUS status = fast_refusal(deviceAddress, sizeToTransfer, options, false);
    if (status != STATUS_SUCCESS) return status;
    // The acknowledges' values are the caller's to examine.
    return send_fast_stream(handle, fast_shape(sizeToTransfer, options, false), deviceAddress, buffer, options, false,
                            ackBuffer, sizeToTransfer, sizeTransferred);
}

KV_API KV_STATUS I2C_Transfer(KV_HANDLE handle, const I2CMessage *messages, uint32_t count,
                              I2CTransferFault *fault) {
    if (handle == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    KV_STATUS status = transaction_refusal(messages, count);
    if (status != STATUS_SUCCESS || count == 0) return status;
    try {
        Transaction transaction(handle, messages, count);
        if (!transaction.ready()) return Infra_Report(STATUS_NO_RESOURCES);
        return transaction.run(fault);
    } catch (...) {  // the position list could not be reserved: no exception leaves the library
        return Infra_Report(STATUS_NO_RESOURCES);
    }
}

KV_API KV_STATUS I2C_FastRead(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                              uint8_t *buffer, uint8_t *unused, uint32_t *sizeTransferred,
                              uint32_t options) {
    (void)unused;
    if (!buffer || !sizeTransferred) return Infra_Report(STATUS_BAD_PARAMETER);
    KV_STATUS status = fast_refusal(deviceAddress, sizeToTransfer, options, true);
    if (status != STATUS_SUCCESS) return status;
    return send_fast_stream(handle, fast_shape(sizeToTransfer, options, true), deviceAddress, nullptr, options, true,
                            buffer, sizeToTransfer, sizeTransferred);
}

}  // extern "C"
