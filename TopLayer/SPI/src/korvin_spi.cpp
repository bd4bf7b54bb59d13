// SPI master over a bridge channel: channel management, the module-wide configuration list,
// chip-select handling and transfers. All bytes go through the channel layer with PROTOCOL_SPI.
#include "libVELTA_spi.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "korvin_infra.h"
#include "korvin_mid.h"
#include "korvin_report.h"
#include "korvin_transport.h"
#include "velta_engine.h"

struct ConfigListNode {
    KV_HANDLE channelHandle;
    ChannelConfig savedConfig;
    ConfigListNode *next;
};

static ConfigListNode *ListHead = nullptr;
// The list is the one thing SPI channels share: calls on different channels may come from
// different threads, so every walk and change of it holds this lock.
static std::mutex ListLock;

namespace {

// The null report names a fixed source path and, for each test, a fixed line number, so that
// the reports stay the same whatever becomes of this file's layout.
constexpr const char *kSourcePath = "../../TopLayer/SPI/src/korvin_spi";
constexpr int kLineNumChannelsCount = 105;
constexpr int kLineChannelInfo = 134;
constexpr int kLineOpenHandle = 159;
constexpr int kLineInitConfig = 196;
constexpr int kLineInitHandle = 197;
constexpr int kLineCloseHandle = 285;
constexpr int kLineReadHandle = 341;
constexpr int kLineReadBuffer = 342;
constexpr int kLineReadCount = 343;
constexpr int kLineWriteHandle = 465;
constexpr int kLineWriteBuffer = 466;
constexpr int kLineWriteCount = 467;
constexpr int kLineReadWriteHandle = 594;
constexpr int kLineReadWriteIn = 595;
constexpr int kLineReadWriteOut = 596;
constexpr int kLineReadWriteCount = 597;
constexpr int kLineChangeCsHandle = 803;

constexpr uint32_t kMaxByteTransfer = 65536;
constexpr useconds_t kReleasePauseUs = 2000;

KV_STATUS null_reported(int line, const char *function) { return Infra_NullArgument(kSourcePath, line, function); }

unsigned cs_selector(uint32_t options) { return (options & SPI_CFG_CS_PIN_BITS) >> 2; }
bool cs_selector_valid(uint32_t options) { return cs_selector(options) <= 4; }
// Selectors 5 to 7 name no pin; they are refused where a configuration comes in, and give no
// bit here should one reach the list through SPI_SaveChannelConfig.
uint8_t cs_mask(uint32_t options) {
    return cs_selector_valid(options) ? static_cast<uint8_t>(VELTA_PIN_CHIP_SELECT_FIRST << cs_selector(options)) : 0;
}
bool clock_idles_high(uint32_t options) { return (options & 0x02u) != 0; }
bool cs_active_low(uint32_t options) { return (options & SPI_CFG_CS_ACTIVE_LOW) != 0; }

uint8_t direction_of(uint16_t state) { return static_cast<uint8_t>(state); }
uint8_t value_of(uint16_t state) { return static_cast<uint8_t>(state >> 8); }
uint16_t pin_state(uint8_t value, uint8_t direction) {
    return static_cast<uint16_t>(value << 8 | direction);
}
uint8_t with_bit(uint8_t byte, uint8_t mask, bool set) {
    return static_cast<uint8_t>(set ? byte | mask : byte & ~mask);
}

// Opcodes of the channel's SPI mode.
struct Opcodes {
    uint8_t write_bytes, write_bits, read_bytes, read_bits, exchange_bytes, exchange_bits;
};
Opcodes opcodes_for(const ChannelConfig &config) {
    const unsigned mode = config.configOptions & SPI_CFG_MODE_BITS;
    const unsigned out = VELTA_SHIFT_OUT, in = VELTA_SHIFT_IN, bits = VELTA_SHIFT_BITS;
    return {velta_spi_shift(out, mode),      velta_spi_shift(out | bits, mode),
            velta_spi_shift(in, mode),       velta_spi_shift(in | bits, mode),
            velta_spi_shift(out | in, mode), velta_spi_shift(out | in | bits, mode)};
}

// One engine command of at most four bytes.
struct Command {
    uint8_t bytes[4];
    uint32_t count;
};

Command length_command(uint8_t opcode, uint32_t length) {
    Command command{};
    command.count = static_cast<uint32_t>(velta_encode_shift_bytes(command.bytes, opcode, length));
    return command;
}
Command bits_command(uint8_t opcode, uint8_t bits, uint8_t data) {
    Command command{};
    command.count = static_cast<uint32_t>(velta_encode_shift_bits(command.bytes, opcode, bits, data));
    return command;
}
Command pins_command(uint16_t state) {
    Command command{};
    command.count = static_cast<uint32_t>(
        velta_encode_pins(command.bytes, VELTA_CMD_SET_LOW_PINS, value_of(state), direction_of(state)));
    return command;
}
Command with_send_immediate(Command command) {
    command.bytes[command.count++] = VELTA_CMD_SEND_IMMEDIATE;
    return command;
}

KV_STATUS send(KV_HANDLE handle, Command command) {
    uint32_t done = 0;
    return KV_Channel_Write(PROTOCOL_SPI, handle, command.count, command.bytes, &done);
}

// Reads the one answer byte of a bit command or pin read; `*byte` is written only when it came.
KV_STATUS receive_one(KV_HANDLE handle, uint8_t *byte) {
    uint8_t answer = 0;
    uint32_t done = 0;
    KV_STATUS status = KV_Channel_Read(PROTOCOL_SPI, handle, 1, &answer, &done);
    if (status == STATUS_SUCCESS) *byte = answer;
    return status;
}

// The data of a byte-mode write command. The engine counts the bytes the command announced: a
// write the driver cut short would make it take the commands that follow as data, so the rest
// goes after it and the engine is back in step. The call still fails; *completed tells whether
// the engine got the whole command.
KV_STATUS write_data(KV_HANDLE handle, uint8_t *data, uint32_t length, uint32_t *transferred, bool *completed) {
    bool cut_short = false;
    KV_STATUS status = Mid_WriteChannel(handle, length, data, transferred, &cut_short);
    *completed = status == STATUS_SUCCESS;
    if (!cut_short) return status;
    uint32_t rest = 0;
    *completed = Mid_WriteChannel(handle, length - *transferred, data + *transferred, &rest, nullptr) ==
                 STATUS_SUCCESS;
    return status;
}

KV_STATUS look_up(KV_HANDLE handle, ChannelConfig **config) { return SPI_GetChannelConfig(handle, config); }

// The low pins' state with chip-select asserted or released (and its pin made an output).
uint16_t with_cs(const ChannelConfig &config, bool asserted) {
    const uint8_t mask = cs_mask(config.configOptions);
    const bool level_high = asserted != cs_active_low(config.configOptions);
    return pin_state(with_bit(value_of(config.reserved), mask, level_high),
                     static_cast<uint8_t>(direction_of(config.reserved) | mask));
}

bool bits_in_range(uint8_t bits) { return bits >= 1 && bits <= 8; }

// Byte mode announces length − 1 in 16 bits: 0 would read as 65,536 and more would be cut.
bool byte_length_invalid(uint32_t length, uint32_t options) {
    return (options & SPI_XFER_IN_BITS) == 0 && (length == 0 || length > kMaxByteTransfer);
}

KV_STATUS assert_cs_if_asked(KV_HANDLE handle, uint32_t options) {
    return (options & SPI_XFER_CS_ASSERT_AT_START) ? SPI_ToggleCS(handle, 1) : STATUS_SUCCESS;
}
KV_STATUS release_cs_if_asked(KV_HANDLE handle, uint32_t options) {
    return (options & SPI_XFER_CS_RELEASE_AT_END) ? SPI_ToggleCS(handle, 0) : STATUS_SUCCESS;
}

// Bit mode: chunks of up to 8 bits, chunk k on buffer byte k; the count grows chunk by chunk
// so that after a failure it holds the bits of the chunks that completed.
template <typename ChunkTransfer>
KV_STATUS transfer_chunks(uint32_t length, uint32_t *transferred, ChunkTransfer chunk) {
    *transferred = 0;
    for (uint32_t k = 0; *transferred < length; ++k) {
        uint8_t bits = static_cast<uint8_t>(std::min<uint32_t>(8, length - *transferred));
        KV_STATUS status = chunk(k, bits);
        if (status != STATUS_SUCCESS) return status;
        *transferred += bits;
    }
    return STATUS_SUCCESS;
}

// ---- transfer sets ----

// A set of transfers as one engine stream, in bounded pieces: chip-select changes, shifts of
// at most the engine's limit, and the answers scattered back into the receive buffers when a
// piece comes back. The saved pin state follows every chip-select change the stream makes.
class TransferStream {
public:
    TransferStream(KV_HANDLE handle, ChannelConfig &config, const SPITransfer *transfers, uint32_t count)
        : pieces_(handle, command_bound(transfers, count), answer_bound(transfers, count)),
          config_(config),
          opcodes_(opcodes_for(config)) {}
    bool ready() const { return pieces_.ready(); }

    KV_STATUS chip_select(bool asserted) {
        KV_STATUS status = make_room(3, 0);
        if (status != STATUS_SUCCESS) return status;
        config_.reserved = with_cs(config_, asserted);
        pieces_.commit(velta_encode_pins(pieces_.tail(), VELTA_CMD_SET_LOW_PINS, value_of(config_.reserved),
                                         direction_of(config_.reserved)));
        return STATUS_SUCCESS;
    }

    KV_STATUS shift(const SPITransfer &transfer) {
        for (uint32_t done = 0; done < transfer.length;) {
            const uint32_t n = std::min(transfer.length - done, VELTA_MAX_SHIFT_BYTES);
            const uint32_t answers = transfer.rxBuffer ? n : 0;
            KV_STATUS status = make_room(3 + size_t{n}, answers);
            if (status != STATUS_SUCCESS) return status;
            const uint8_t opcode = transfer.rxBuffer ? opcodes_.exchange_bytes : opcodes_.write_bytes;
            pieces_.commit(velta_encode_shift_bytes(pieces_.tail(), opcode, n));
            if (transfer.txBuffer)
                pieces_.append(transfer.txBuffer + done, n);
            else
                std::memset(pieces_.extend(n), transfer.fillByte, n);
            if (answers) {
                pieces_.expect(answers);
                sinks_.push_back({transfer.rxBuffer + done, answers});
            }
            done += n;
        }
        return STATUS_SUCCESS;
    }

    // The host waits once the engine has run everything so far: a pin read answers only then.
    KV_STATUS pause(uint32_t microseconds) {
        KV_STATUS status = make_room(1, 1);
        if (status != STATUS_SUCCESS) return status;
        *pieces_.extend(1) = VELTA_CMD_READ_LOW_PINS;
        pieces_.expect(1);
        sinks_.push_back({nullptr, 1});
        status = flush();
        if (status == STATUS_SUCCESS) usleep(microseconds);
        return status;
    }

    KV_STATUS flush() {
        KV_STATUS status = pieces_.flush();
        if (status == STATUS_SUCCESS) {
            const uint8_t *answer = pieces_.answers();
            for (const Sink &sink : sinks_) {
                if (sink.to) std::memcpy(sink.to, answer, sink.count);
                answer += sink.count;
            }
        }
        sinks_.clear();
        return status;
    }

private:
    struct Sink {
        uint8_t *to;  // null: discarded
        uint32_t count;
    };
    // Sends the piece so far when the next commands or answers do not fit; a stream that
    // outgrew its bound (nothing fits an empty piece) fails rather than overrun the buffers.
    KV_STATUS make_room(size_t bytes, size_t answers) {
        if (pieces_.fits(bytes, answers)) return STATUS_SUCCESS;
        const KV_STATUS status = flush();
        if (status != STATUS_SUCCESS) return status;
        return pieces_.fits(bytes, answers) ? STATUS_SUCCESS : Infra_Report(STATUS_FAILURE);
    }
    // The most a set can put in the stream: each transfer's chip-select changes, shift
    // headers, data and delay's pin read; and the answers of its receive buffers and delays.
    static uint64_t command_bound(const SPITransfer *transfers, uint32_t count) {
        uint64_t bytes = 0;
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t shifts = (uint64_t{transfers[i].length} + VELTA_MAX_SHIFT_BYTES - 1) / VELTA_MAX_SHIFT_BYTES;
            bytes += 3 + 3 * shifts + transfers[i].length + 3 + 1;
        }
        return bytes;
    }
    static uint64_t answer_bound(const SPITransfer *transfers, uint32_t count) {
        uint64_t answers = 0;
        for (uint32_t i = 0; i < count; ++i)
            answers += (transfers[i].rxBuffer ? uint64_t{transfers[i].length} : 0) + (transfers[i].delayUs ? 1 : 0);
        return answers;
    }

    StreamPieces pieces_;
    ChannelConfig &config_;
    const Opcodes opcodes_;
    std::vector<Sink> sinks_;
};

KV_STATUS run_transfers(KV_HANDLE handle, ChannelConfig &config, const SPITransfer *transfers, uint32_t count) {
    TransferStream stream(handle, config, transfers, count);
    if (!stream.ready()) return Infra_Report(STATUS_NO_RESOURCES);
    bool asserted = false;
    KV_STATUS status = STATUS_SUCCESS;
    for (uint32_t i = 0; i < count && status == STATUS_SUCCESS; ++i) {
        const SPITransfer &transfer = transfers[i];
        if (!asserted) status = stream.chip_select(true);
        asserted = true;
        if (status == STATUS_SUCCESS) status = stream.shift(transfer);
        if (status == STATUS_SUCCESS && transfer.releaseCS) {
            status = stream.chip_select(false);
            asserted = false;
        }
        if (status == STATUS_SUCCESS && transfer.delayUs) status = stream.pause(transfer.delayUs);
    }
    return status == STATUS_SUCCESS ? stream.flush() : status;
}

void free_list() {
    std::lock_guard<std::mutex> hold(ListLock);
    while (ListHead != nullptr) {
        ConfigListNode *node = ListHead;
        ListHead = node->next;
        std::free(node);
    }
}

// Channels left open when the library goes away must not leave their nodes behind.
__attribute__((destructor)) void release_list_at_unload() { free_list(); }

}  // namespace

extern "C" {

KV_STATUS SPI_GetNumChannels(uint32_t *numChannels) {
    if (numChannels == nullptr) return null_reported(kLineNumChannelsCount, "SPI_GetNumChannels");
    return KV_GetNumChannels(PROTOCOL_SPI, numChannels);
}

KV_STATUS SPI_GetChannelInfo(uint32_t index, DeviceListEntry *chanInfo) {
    if (chanInfo == nullptr) return null_reported(kLineChannelInfo, "SPI_GetChannelInfo");
    return KV_GetChannelInfo(PROTOCOL_SPI, index + 1, chanInfo);
}

KV_STATUS SPI_OpenChannel(uint32_t index, KV_HANDLE *handle) {
    if (handle == nullptr) return null_reported(kLineOpenHandle, "SPI_OpenChannel");
    KV_STATUS status = KV_OpenChannel(PROTOCOL_SPI, index + 1, handle);
    if (status != STATUS_SUCCESS) return status;
    status = SPI_AddChannelConfig(*handle);
    if (status != STATUS_SUCCESS) {
        // An open channel that no SPI operation could find would only leak.
        KV_CloseChannel(PROTOCOL_SPI, *handle);
        return status;
    }
    return STATUS_SUCCESS;
}

KV_STATUS SPI_InitChannel(KV_HANDLE handle, ChannelConfig *config) {
    if (config == nullptr) return null_reported(kLineInitConfig, "SPI_InitChannel");
    if (handle == nullptr) return null_reported(kLineInitHandle, "SPI_InitChannel");
    if (!cs_selector_valid(config->configOptions)) return Infra_Report(STATUS_BAD_PARAMETER);

    uint8_t direction = static_cast<uint8_t>(config->Pin);
    direction = with_bit(direction, VELTA_PIN_CLOCK | VELTA_PIN_DATA_OUT | cs_mask(config->configOptions), true);
    direction = with_bit(direction, VELTA_PIN_DATA_IN, false);
    uint8_t value = with_bit(static_cast<uint8_t>(config->Pin >> 8), VELTA_PIN_CLOCK,
                             clock_idles_high(config->configOptions));
    config->Pin = (config->Pin & 0xFFFF0000u) | pin_state(value, direction);
    config->reserved = pin_state(value, direction);

    KV_STATUS status = KV_InitChannel(PROTOCOL_SPI, handle, config->ClockRate,
                                      static_cast<uint32_t>(config->LatencyTimer), config->configOptions);
    if (status != STATUS_SUCCESS) return status;
    status = send(handle, pins_command(config->reserved));
    if (status != STATUS_SUCCESS) return status;
    return SPI_SaveChannelConfig(handle, config);
}

KV_STATUS SPI_ChangeCS(KV_HANDLE handle, uint32_t configOptions) {
    if (handle == nullptr) return null_reported(kLineChangeCsHandle, "SPI_ChangeCS");
    if (!cs_selector_valid(configOptions)) return Infra_Report(STATUS_BAD_PARAMETER);
    ChannelConfig *config = nullptr;
    KV_STATUS status = look_up(handle, &config);
    if (status != STATUS_SUCCESS) return status;

    config->configOptions = configOptions;
    uint16_t state = config->reserved | cs_mask(configOptions);
    state = pin_state(with_bit(value_of(state), VELTA_PIN_CLOCK, clock_idles_high(configOptions)), direction_of(state));
    config->reserved = state;
    status = send(handle, pins_command(state));
    if (status != STATUS_SUCCESS) return status;
    return SPI_SaveChannelConfig(handle, config);
}

KV_STATUS SPI_CloseChannel(KV_HANDLE handle) {
    if (handle == nullptr) return null_reported(kLineCloseHandle, "SPI_CloseChannel");
    ChannelConfig *config = nullptr;
    KV_STATUS status = look_up(handle, &config);
    if (status != STATUS_SUCCESS) return status;

    uint8_t final_direction = static_cast<uint8_t>(config->Pin >> 16);
    uint8_t final_value = static_cast<uint8_t>(config->Pin >> 24);
    status = send(handle, pins_command(pin_state(final_value, final_direction)));
    if (status != STATUS_SUCCESS) return status;
    status = KV_CloseChannel(PROTOCOL_SPI, handle);
    if (status != STATUS_SUCCESS) return status;
    return SPI_DelChannelConfig(handle);
}

KV_STATUS SPI_GetChannelConfig(KV_HANDLE handle, ChannelConfig **config) {
    if (config == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    std::lock_guard<std::mutex> hold(ListLock);
    bool found = false;
    for (ConfigListNode *node = ListHead; node != nullptr; node = node->next) {
        if (node->channelHandle != handle) continue;
        *config = &node->savedConfig;
        found = true;
    }
    return found ? STATUS_SUCCESS : Infra_Report(STATUS_FAILURE);
}

KV_STATUS SPI_SaveChannelConfig(KV_HANDLE handle, ChannelConfig *config) {
    if (config == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    std::lock_guard<std::mutex> hold(ListLock);
    bool found = false;
    for (ConfigListNode *node = ListHead; node != nullptr; node = node->next) {
        if (node->channelHandle != handle) continue;
        if (&node->savedConfig != config) node->savedConfig = *config;
        found = true;
    }
    return found ? STATUS_SUCCESS : Infra_Report(STATUS_FAILURE);
}

KV_STATUS SPI_AddChannelConfig(KV_HANDLE handle) {
    // Zero-filled, so that anything used before SPI_InitChannel acts on defined settings.
    auto *node = static_cast<ConfigListNode *>(std::calloc(1, sizeof(ConfigListNode)));
    if (node == nullptr) return Infra_Report(STATUS_NO_RESOURCES);
    node->channelHandle = handle;
    node->next = nullptr;
    std::lock_guard<std::mutex> hold(ListLock);
    ConfigListNode **tail = &ListHead;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = node;
    return STATUS_SUCCESS;
}

KV_STATUS SPI_DelChannelConfig(KV_HANDLE handle) {
    std::lock_guard<std::mutex> hold(ListLock);
    for (ConfigListNode **link = &ListHead; *link != nullptr; link = &(*link)->next) {
        ConfigListNode *node = *link;
        if (node->channelHandle != handle) continue;
        *link = node->next;
        std::free(node);
        break;
    }
    return STATUS_SUCCESS;
}

KV_STATUS SPI_DisplayList(void) { return Infra_Report(STATUS_FAILURE); }

KV_STATUS SPI_ToggleCS(KV_HANDLE handle, uint8_t state) {
    if (state > 1) return Infra_Report(STATUS_BAD_PARAMETER);
    // The device gets at least 2 ms of its frame before every release.
    if (state == 0) usleep(kReleasePauseUs);
    ChannelConfig *config = nullptr;
    KV_STATUS status = look_up(handle, &config);
    if (status != STATUS_SUCCESS) return status;

    config->reserved = with_cs(*config, state == 1);
    return send(handle, pins_command(config->reserved));
}

KV_STATUS SPI_Write8bits(KV_HANDLE handle, uint8_t data, uint8_t numBits) {
    if (!bits_in_range(numBits)) return Infra_Report(STATUS_BAD_PARAMETER);
    ChannelConfig *config = nullptr;
    KV_STATUS status = look_up(handle, &config);
    if (status != STATUS_SUCCESS) return status;
    return send(handle, bits_command(opcodes_for(*config).write_bits, numBits, data));
}

KV_STATUS SPI_Read8bits(KV_HANDLE handle, uint8_t *data, uint8_t numBits) {
    if (data == nullptr || !bits_in_range(numBits)) return Infra_Report(STATUS_BAD_PARAMETER);
    ChannelConfig *config = nullptr;
    KV_STATUS status = look_up(handle, &config);
    if (status != STATUS_SUCCESS) return status;
    Command command = with_send_immediate(bits_command(opcodes_for(*config).read_bits, numBits, 0));
    status = send(handle, command);
    if (status == STATUS_SUCCESS) status = receive_one(handle, data);
    return status;
}

KV_STATUS SPI_Write(KV_HANDLE handle, uint8_t *buffer, uint32_t sizeToTransfer, uint32_t *sizeTransferred,
                    uint32_t transferOptions) {
    if (handle == nullptr) return null_reported(kLineWriteHandle, "SPI_Write");
    if (buffer == nullptr) return null_reported(kLineWriteBuffer, "SPI_Write");
    if (sizeTransferred == nullptr) return null_reported(kLineWriteCount, "SPI_Write");
    if (byte_length_invalid(sizeToTransfer, transferOptions)) return Infra_Report(STATUS_BAD_PARAMETER);
    ChannelConfig *config = nullptr;
    KV_STATUS status = look_up(handle, &config);
    if (status == STATUS_SUCCESS) status = assert_cs_if_asked(handle, transferOptions);
    if (status != STATUS_SUCCESS) return status;

    if (transferOptions & SPI_XFER_IN_BITS) {
        status = transfer_chunks(sizeToTransfer, sizeTransferred, [&](uint32_t k, uint8_t bits) {
            return SPI_Write8bits(handle, buffer[k], bits);
        });
    } else {
        status = send(handle, length_command(opcodes_for(*config).write_bytes, sizeToTransfer));
        bool completed = false;
        if (status == STATUS_SUCCESS) status = write_data(handle, buffer, sizeToTransfer, sizeTransferred, &completed);
        if (status != STATUS_SUCCESS && completed) {
            release_cs_if_asked(handle, transferOptions);
            return status;
        }
    }
    if (status == STATUS_SUCCESS) status = release_cs_if_asked(handle, transferOptions);
    return status;
}

KV_STATUS SPI_Read(KV_HANDLE handle, uint8_t *buffer, uint32_t sizeToTransfer, uint32_t *sizeTransferred,
                   uint32_t transferOptions) {
    if (handle == nullptr) return null_reported(kLineReadHandle, "SPI_Read");
    if (buffer == nullptr) return null_reported(kLineReadBuffer, "SPI_Read");
    if (sizeTransferred == nullptr) return null_reported(kLineReadCount, "SPI_Read");
    if (byte_length_invalid(sizeToTransfer, transferOptions)) return Infra_Report(STATUS_BAD_PARAMETER);
    KV_STATUS status = assert_cs_if_asked(handle, transferOptions);
    if (status != STATUS_SUCCESS) return status;

    if (transferOptions & SPI_XFER_IN_BITS) {
        status = transfer_chunks(sizeToTransfer, sizeTransferred, [&](uint32_t k, uint8_t bits) {
            return SPI_Read8bits(handle, &buffer[k], bits);
        });
    } else {
        ChannelConfig *config = nullptr;
        status = look_up(handle, &config);
        if (status == STATUS_SUCCESS)
            status = send(handle,
                          with_send_immediate(length_command(opcodes_for(*config).read_bytes, sizeToTransfer)));
        if (status == STATUS_SUCCESS)
            status = KV_Channel_Read(PROTOCOL_SPI, handle, sizeToTransfer, buffer, sizeTransferred);
    }
    if (status == STATUS_SUCCESS) status = release_cs_if_asked(handle, transferOptions);
    return status;
}

KV_STATUS SPI_ReadWrite(KV_HANDLE handle, uint8_t *inBuffer, uint8_t *outBuffer, uint32_t sizeToTransfer,
                        uint32_t *sizeTransferred, uint32_t transferOptions) {
    if (handle == nullptr) return null_reported(kLineReadWriteHandle, "SPI_ReadWrite");
    if (inBuffer == nullptr) return null_reported(kLineReadWriteIn, "SPI_ReadWrite");
    if (outBuffer == nullptr) return null_reported(kLineReadWriteOut, "SPI_ReadWrite");
    if (sizeTransferred == nullptr) return null_reported(kLineReadWriteCount, "SPI_ReadWrite");
    if (byte_length_invalid(sizeToTransfer, transferOptions)) return Infra_Report(STATUS_BAD_PARAMETER);
    ChannelConfig *config = nullptr;
    KV_STATUS status = look_up(handle, &config);
    if (status == STATUS_SUCCESS) status = assert_cs_if_asked(handle, transferOptions);
    if (status != STATUS_SUCCESS) return status;
    *sizeTransferred = 0;

    const Opcodes &opcodes = opcodes_for(*config);
    if (transferOptions & SPI_XFER_IN_BITS) {
        status = transfer_chunks(sizeToTransfer, sizeTransferred, [&](uint32_t k, uint8_t bits) {
            KV_STATUS chunk = send(handle, bits_command(opcodes.exchange_bits, bits, outBuffer[k]));
            return chunk == STATUS_SUCCESS ? receive_one(handle, &inBuffer[k]) : chunk;
        });
    } else {
        status = send(handle, length_command(opcodes.exchange_bytes, sizeToTransfer));
        bool completed = false;
        if (status == STATUS_SUCCESS) status = write_data(handle, outBuffer, sizeToTransfer, sizeTransferred, &completed);
        if (status != STATUS_SUCCESS && completed) {
            // The completed command answers every byte: collect them, then release.
            uint32_t answered = 0;
            if (KV_Channel_Read(PROTOCOL_SPI, handle, sizeToTransfer, inBuffer, &answered) == STATUS_SUCCESS)
                release_cs_if_asked(handle, transferOptions);
            return status;
        }
        if (status == STATUS_SUCCESS)
            status = KV_Channel_Read(PROTOCOL_SPI, handle, sizeToTransfer, inBuffer, sizeTransferred);
    }
    if (status == STATUS_SUCCESS) status = release_cs_if_asked(handle, transferOptions);
    return status;
}

KV_STATUS SPI_Transfer(KV_HANDLE handle, const SPITransfer *transfers, uint32_t count) {
    if (handle == nullptr || (transfers == nullptr && count != 0)) return Infra_Report(STATUS_BAD_PARAMETER);
    ChannelConfig *config = nullptr;
    KV_STATUS status = look_up(handle, &config);
    if (status != STATUS_SUCCESS) return status;
    try {
        return run_transfers(handle, *config, transfers, count);
    } catch (...) {  // the answer list could not grow: no exception leaves the library
        return Infra_Report(STATUS_NO_RESOURCES);
    }
}

KV_STATUS SPI_IsBusy(KV_HANDLE handle, uint8_t *busy) {
    if (busy == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    // The chip-select changes are best effort: the pin read is what answers the question.
    SPI_ToggleCS(handle, 1);
    uint8_t levels = 0;
    KV_STATUS status = send(handle, Command{{VELTA_CMD_READ_LOW_PINS, VELTA_CMD_SEND_IMMEDIATE, 0, 0}, 2});
    if (status == STATUS_SUCCESS) status = receive_one(handle, &levels);
    if (status != STATUS_SUCCESS) return status;
    *busy = levels != 0 ? 1 : 0;
    SPI_ToggleCS(handle, 0);
    return STATUS_SUCCESS;
}

}  // extern "C"
