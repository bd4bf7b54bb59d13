/**
 * @file libVELTA_spi.h
 * @brief libVELTA SPI master. Plain C. **SPI channel indexes count from 0.**
 *
 * A channel's life: SPI_GetNumChannels(), optionally SPI_GetChannelInfo(), SPI_OpenChannel(),
 * SPI_InitChannel(), any number of transfers and SPI_ChangeCS() calls, SPI_CloseChannel().
 * The indexes count the bridge channels that carry the engine, in the driver's list order.
 *
 * The low pins of the engine: pin 0 the clock, pin 1 data out (MOSI), pin 2 data in (MISO),
 * pins 3 to 7 chip-select candidates or free lines. Every transfer shifts the most significant
 * bit first; the SPI mode picks the clock edges and the clock's idle level. A device in
 * another mode than the channel's sees and answers shifted bits.
 *
 * Null arguments: the operations that name a source line below report a null pointer or a
 * null handle with one line on **standard output**,
 * `../../TopLayer/SPI/src/korvin_spi:<line>:<operation>(): NULL expression encountered`,
 * and return #STATUS_BAD_PARAMETER; every other pointer parameter is checked silently
 * (#STATUS_BAD_PARAMETER). Nothing is sent in either case.
 *
 * Threads: calls on **different** channels may run at the same time from different threads
 * (the module's one shared thing, the list of channel configurations, is locked). Calls on
 * **one** channel must not overlap: its command and answer bytes form a single stream, so
 * serialising them is the caller's task.
 */
#ifndef LIBVELTA_SPI_H
#define LIBVELTA_SPI_H

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @brief configOptions bits 0-1: the SPI mode, 0 to 3.
 *
 * Bit 1 is the clock polarity: in modes 2 and 3 the clock idles high. Modes 0 and 3 change
 * data out on the falling edge and sample data in on the rising edge; modes 1 and 2 the other
 * way round.
 */
#define SPI_CFG_MODE_BITS 0x03u      /* SPI mode 0..3; bit 1 = clock idles high */
/**
 * @brief configOptions bits 2-4: chip-select selector n; the chip-select is low pin 3 + n.
 *
 * n = (configOptions & 0x1C) >> 2, from 0 to 4 (pins 3 to 7, masks 0x08 << n). Values 5 to 7
 * name no pin and are refused with #STATUS_BAD_PARAMETER.
 */
#define SPI_CFG_CS_PIN_BITS 0x1Cu    /* chip-select selector n: low pin 3 + n, n = 0..4 */
/** @brief configOptions bit 5: chip-select is active low (driven low while asserted, high
 *  while released). Clear: active high. Bits 6 to 31 are not interpreted. */
#define SPI_CFG_CS_ACTIVE_LOW 0x20u  /* chip-select driven low while asserted */

/**
 * @brief Transfer option: the length counts bits, not bytes.
 *
 * Bit mode moves chunks of up to 8 bits, chunk k on buffer byte k, so a buffer holds
 * (length + 7) / 8 bytes. Every chunk is 8 bits but the last. A partial chunk sends the top
 * bits of its byte; a partial chunk read stores the engine's answer byte as it comes (the
 * simulated engine puts the bits read in the low bits).
 */
#define SPI_XFER_IN_BITS 0x01u            /* length counts bits, not bytes */
/** @brief Transfer option: assert chip-select (SPI_ToggleCS(handle, 1)) before the transfer.
 *
 * Chip-select stays as the last operation left it, so a frame may span several calls: the
 * first with this option, the last with #SPI_XFER_CS_RELEASE_AT_END. Other option bits are
 * ignored. */
#define SPI_XFER_CS_ASSERT_AT_START 0x02u
/** @brief Transfer option: release chip-select (SPI_ToggleCS(handle, 0)) after the transfer,
 *  which first waits 2 ms, so such a call lasts at least 2 ms. */
#define SPI_XFER_CS_RELEASE_AT_END 0x04u

/**
 * @brief The SPI channel configuration a caller hands to SPI_InitChannel(): 20 bytes.
 *
 * SPI_InitChannel() writes back into it (`Pin` adjusted, `reserved` filled) and keeps a copy
 * in the channel's configuration node.
 */
typedef struct ChannelConfig_t {
    /** SPI clock in Hz, 92 to 30,000,000 (458 to 30,000,000 on a full-speed bridge); the
     *  engine runs at the lowest rate it can make that is not below it (see KV_InitChannel()). */
    uint32_t ClockRate;
    /** The driver's receive latency timer in ms, 0 to 255. */
    uint8_t LatencyTimer;
    /** Option bits: #SPI_CFG_MODE_BITS, #SPI_CFG_CS_PIN_BITS, #SPI_CFG_CS_ACTIVE_LOW. */
    uint32_t configOptions;
    /**
     * The low pins' states, one byte each, from the low byte up: **initial direction**
     * (bits 0-7), **initial value** (8-15), **final direction** (16-23), **final value**
     * (24-31); bit i of a byte is low pin i, direction 1 = output, value 1 = high.
     *
     * SPI_InitChannel() drives the initial bytes after forcing pins 0 (clock), 1 (data out)
     * and the chip-select pin to outputs, pin 2 (data in) to an input, and the clock's initial
     * level to the mode's idle level; it writes the adjusted bytes back here. Everything else
     * is yours: **set the chip-select pin's initial value to its released level** (high for an
     * active-low chip-select), or the device is selected from the start, and give free pins
     * their direction and level. SPI_CloseChannel() drives the final bytes unchanged.
     */
    uint32_t Pin;      /* initial direction, initial value, final direction, final value (low to high byte) */
    /** Written by the library: the low pins' current state, direction in the low byte,
     *  value in the high byte. A caller need not set it. */
    uint16_t reserved; /* written by the library: current low-pin state, direction low byte, value high byte */
} ChannelConfig;
/** @cond */
KV_CHECK_RECORD_SIZE(ChannelConfig, 20);
/** @endcond */

/** @name Channel management
 *  @{ */

/**
 * @brief Counts the bridge channels that carry the engine (KV_GetNumChannels()).
 * @param[out] numChannels Receives the count.
 * @retval STATUS_SUCCESS counted.
 * @retval STATUS_BAD_PARAMETER @p numChannels is null; reported on standard output (line 105).
 * @return Otherwise a status of KV_GetNumChannels().
 */
KV_API KV_STATUS SPI_GetNumChannels(uint32_t *numChannels);
/**
 * @brief Copies the driver's record of a channel (KV_GetChannelInfo() with @p index + 1).
 * @param[in] index Channel index **from 0**, below SPI_GetNumChannels()'s count.
 * @param[out] chanInfo Caller-owned record that receives the copy.
 * @retval STATUS_SUCCESS copied.
 * @retval STATUS_BAD_HANDLE no such channel.
 * @retval STATUS_BAD_PARAMETER @p chanInfo is null; reported on standard output (line 134).
 * @return Otherwise a status of KV_GetChannelInfo().
 */
KV_API KV_STATUS SPI_GetChannelInfo(uint32_t index, DeviceListEntry *chanInfo);
/**
 * @brief Opens a channel and registers it in the SPI configuration list.
 * @param[in] index Channel index **from 0**.
 * @param[out] handle Receives the channel's handle, for every later call. Close it with
 *             SPI_CloseChannel().
 * @retval STATUS_SUCCESS opened and registered.
 * @retval STATUS_BAD_HANDLE no such channel.
 * @retval STATUS_NO_RESOURCES no memory for the list node; the channel is closed again.
 * @retval STATUS_BAD_PARAMETER @p handle is null; reported on standard output (line 159).
 * @return Otherwise a status of KV_OpenChannel(), for example the driver's when the channel is
 *         open already.
 */
KV_API KV_STATUS SPI_OpenChannel(uint32_t index, KV_HANDLE *handle);
/**
 * @brief Initialises an opened channel as an SPI master and saves its configuration.
 *
 * Adjusts `Pin` in @p config and fills `reserved` (see ::ChannelConfig), runs KV_InitChannel()
 * with `ClockRate`, `LatencyTimer` and `configOptions` (at least 70 ms), drives the initial pin
 * state (#VELTA_CMD_SET_LOW_PINS, value, direction), and copies the record into the channel's node. The adjusted
 * `Pin` and `reserved` are written back even when a later step fails.
 * @param[in] handle A channel opened with SPI_OpenChannel().
 * @param[in,out] config Caller-owned record; read, adjusted, and copied. The library keeps no
 *                pointer to it.
 * @retval STATUS_SUCCESS the channel is ready.
 * @retval STATUS_BAD_PARAMETER @p config is null (reported, line 196; tested first) or
 *         @p handle is null (reported, line 197); the chip-select selector is 5 to 7 (not
 *         reported, nothing changed); or the clock rate or latency timer is out of range.
 * @retval STATUS_FAILURE the handle was not opened with SPI_OpenChannel() (the engine and
 *         pins are set by then), or the engine did not synchronise.
 * @return Otherwise a status of KV_InitChannel() or of the pin write.
 */
KV_API KV_STATUS SPI_InitChannel(KV_HANDLE handle, ChannelConfig *config);
/**
 * @brief Switches an initialised channel to another SPI mode or chip-select pin.
 *
 * Stores @p configOptions in the saved configuration, makes the new chip-select pin an output
 * and sets the clock to the new mode's idle level, then drives the low pins (#VELTA_CMD_SET_LOW_PINS, value,
 * direction). The previous chip-select pin keeps its direction and level. **The new pin keeps
 * the level its bit has in the current value byte** (0 unless `Pin` set it), so an active-low
 * device on it is selected until the next release (SPI_ToggleCS(handle, 0) or a transfer with
 * #SPI_XFER_CS_RELEASE_AT_END). `Pin` and the caller's own record do not change.
 * @param[in] handle An initialised channel.
 * @param[in] configOptions New option bits (mode, chip-select selector 0 to 4, polarity).
 * @retval STATUS_SUCCESS switched.
 * @retval STATUS_BAD_PARAMETER @p handle is null (reported, line 803), or the selector is 5 to 7
 *         (not reported; nothing changed).
 * @retval STATUS_FAILURE the handle is not registered.
 * @return Otherwise the channel layer's status of the pin write; the saved options and state
 *         have changed already.
 */
KV_API KV_STATUS SPI_ChangeCS(KV_HANDLE handle, uint32_t configOptions);
/**
 * @brief Drives the final pin state (#VELTA_CMD_SET_LOW_PINS, `Pin` bits 24-31, `Pin` bits 16-23), closes the
 *        channel and frees its configuration node. The handle is invalid afterwards.
 * @param[in] handle A registered channel.
 * @retval STATUS_SUCCESS closed.
 * @retval STATUS_BAD_PARAMETER @p handle is null; reported on standard output (line 285).
 * @retval STATUS_FAILURE the handle is not registered; nothing is sent or closed.
 * @return Otherwise the status of the pin write (the channel stays open and registered) or of
 *         KV_CloseChannel() (the node stays).
 */
KV_API KV_STATUS SPI_CloseChannel(KV_HANDLE handle);
/**
 * @brief Finds a channel's saved configuration.
 * @param[in] handle A registered channel.
 * @param[out] config Receives a pointer **into the library's node**, not a copy: it stays valid
 *             until the channel is closed, and transfers change its `configOptions` and
 *             `reserved` through it. Untouched on failure. If a handle was registered twice,
 *             the later node's.
 * @retval STATUS_SUCCESS found.
 * @retval STATUS_FAILURE the handle is not registered.
 * @retval STATUS_BAD_PARAMETER @p config is null.
 */
KV_API KV_STATUS SPI_GetChannelConfig(KV_HANDLE handle, ChannelConfig **config);
/**
 * @brief Copies a whole configuration into the saved one of every node of the handle.
 *
 * Bypasses SPI_InitChannel(): nothing is sent, so a `reserved` that differs from the pins'
 * real state makes the next chip-select change drive that state.
 * @param[in] handle A registered channel.
 * @param[in] config The record to copy; only read.
 * @retval STATUS_SUCCESS copied.
 * @retval STATUS_FAILURE the handle is not registered.
 * @retval STATUS_BAD_PARAMETER @p config is null.
 */
KV_API KV_STATUS SPI_SaveChannelConfig(KV_HANDLE handle, ChannelConfig *config);
/**
 * @brief Appends a zero-filled configuration node for a handle; SPI_OpenChannel() calls it.
 *        Nothing stops a handle from being registered twice.
 * @param[in] handle The key; not checked.
 * @retval STATUS_SUCCESS appended.
 * @retval STATUS_NO_RESOURCES no memory; the list is unchanged.
 */
KV_API KV_STATUS SPI_AddChannelConfig(KV_HANDLE handle);
/**
 * @brief Removes and frees the first configuration node of a handle; SPI_CloseChannel()
 *        calls it. Nothing is sent or closed.
 * @param[in] handle The key.
 * @retval STATUS_SUCCESS always, also when no node matched.
 */
KV_API KV_STATUS SPI_DelChannelConfig(KV_HANDLE handle);
/**
 * @brief Placeholder: prints nothing, changes nothing.
 * @retval STATUS_FAILURE always.
 */
KV_API KV_STATUS SPI_DisplayList(void);
/** @} */

/** @name Transfers
 *  Every transfer needs an initialised channel; it uses the saved mode's opcodes. After a
 *  failure the call ends at once: a chip-select it asserted is not released, and answer
 *  bytes may still be queued.
 *  @{ */

/**
 * @brief Writes bytes or bits to the device.
 *
 * Byte mode sends the write command (the byte shift out of the mode, see velta_spi_shift(), then
 * length - 1 in two bytes) and the data in one channel write. Bit mode sends one
 * SPI_Write8bits() per chunk of up to 8 bits (see #SPI_XFER_IN_BITS).
 * @param[in] handle An initialised channel.
 * @param[in] buffer The data: @p sizeToTransfer bytes, or (@p sizeToTransfer + 7) / 8 in bit
 *            mode; only read.
 * @param[in] sizeToTransfer Bytes, 1 to 65,536; or, with #SPI_XFER_IN_BITS, bits (0 moves
 *            nothing but still handles chip-select).
 * @param[out] sizeTransferred Receives the count moved, in the length's unit. Byte mode: what
 *             the driver reports for the data write. Bit mode: the bits of the chunks
 *             completed. A data write the driver cut short is #STATUS_IO_FAILURE; the rest of
 *             the data still follows, so the engine stays in step and chip-select is released
 *             as asked.
 * @param[in] transferOptions #SPI_XFER_IN_BITS, #SPI_XFER_CS_ASSERT_AT_START,
 *            #SPI_XFER_CS_RELEASE_AT_END.
 * @retval STATUS_SUCCESS written.
 * @retval STATUS_BAD_PARAMETER @p handle, @p buffer or @p sizeTransferred is null (reported on
 *         standard output, lines 465, 466, 467), or a byte-mode length outside 1 to 65,536
 *         (not reported).
 * @retval STATUS_FAILURE the handle is not registered; nothing sent.
 * @return Otherwise the channel layer's status.
 */
KV_API KV_STATUS SPI_Write(KV_HANDLE handle, uint8_t *buffer, uint32_t sizeToTransfer,
                           uint32_t *sizeTransferred, uint32_t transferOptions);
/**
 * @brief Reads bytes or bits from the device.
 *
 * Byte mode sends the read command (the byte shift in of the mode, length - 1,
 * then #VELTA_CMD_SEND_IMMEDIATE) and reads the answer in one channel read. Bit mode reads one SPI_Read8bits() per
 * chunk (see #SPI_XFER_IN_BITS).
 * @param[in] handle An initialised channel.
 * @param[out] buffer Receives the data: room for @p sizeToTransfer bytes, or
 *             (@p sizeToTransfer + 7) / 8 in bit mode. Caller-owned.
 * @param[in] sizeToTransfer Bytes, 1 to 65,536; or bits with #SPI_XFER_IN_BITS.
 * @param[out] sizeTransferred Receives the count moved, in the length's unit. Byte mode: the
 *             bytes that arrived within the driver's read time-out (#STATUS_IO_FAILURE when
 *             fewer came). Bit mode: the bits of the chunks completed.
 * @param[in] transferOptions #SPI_XFER_IN_BITS, #SPI_XFER_CS_ASSERT_AT_START,
 *            #SPI_XFER_CS_RELEASE_AT_END.
 * @retval STATUS_SUCCESS read.
 * @retval STATUS_BAD_PARAMETER @p handle, @p buffer or @p sizeTransferred is null (reported on
 *         standard output, lines 341, 342, 343), or a byte-mode length outside 1 to 65,536
 *         (not reported).
 * @retval STATUS_FAILURE the handle is not registered.
 * @retval STATUS_IO_FAILURE bit mode: a chunk's answer byte did not arrive.
 * @return Otherwise the channel layer's status.
 */
KV_API KV_STATUS SPI_Read(KV_HANDLE handle, uint8_t *buffer, uint32_t sizeToTransfer,
                          uint32_t *sizeTransferred, uint32_t transferOptions);
/**
 * @brief Full duplex: sends @p outBuffer while receiving as many bytes or bits into
 *        @p inBuffer.
 *
 * **The receive buffer comes first**, the send buffer second. Byte mode sends the command
 * (the byte shift out and in of the mode, length - 1) and the data in one write, then
 * reads the answer in one read. Bit mode sends the mode's bit shift out and in per chunk and reads its answer
 * byte (see #SPI_XFER_IN_BITS).
 * @param[in] handle An initialised channel.
 * @param[out] inBuffer Receives the data read; same size as @p outBuffer. Caller-owned.
 * @param[in] outBuffer The data to send: @p sizeToTransfer bytes, or
 *            (@p sizeToTransfer + 7) / 8 in bit mode; only read.
 * @param[in] sizeToTransfer Bytes, 1 to 65,536; or bits with #SPI_XFER_IN_BITS.
 * @param[out] sizeTransferred Receives the count moved, in the length's unit. Byte mode: the
 *             bytes read back (#STATUS_IO_FAILURE when fewer came). Bit mode: the bits of the
 *             chunks completed.
 * @param[in] transferOptions #SPI_XFER_IN_BITS, #SPI_XFER_CS_ASSERT_AT_START,
 *            #SPI_XFER_CS_RELEASE_AT_END.
 * @retval STATUS_SUCCESS exchanged.
 * @retval STATUS_BAD_PARAMETER @p handle, @p inBuffer, @p outBuffer or @p sizeTransferred is
 *         null (reported on standard output, lines 594, 595, 596, 597), or a byte-mode length
 *         outside 1 to 65,536 (not reported).
 * @retval STATUS_FAILURE the handle is not registered; nothing sent.
 * @retval STATUS_IO_FAILURE bit mode: a chunk's answer byte did not arrive.
 * @return Otherwise the channel layer's status.
 */
KV_API KV_STATUS SPI_ReadWrite(KV_HANDLE handle, uint8_t *inBuffer, uint8_t *outBuffer,
                               uint32_t sizeToTransfer, uint32_t *sizeTransferred,
                               uint32_t transferOptions);
/**
 * @brief Clocks out the top @p numBits bits of @p data, most significant first (the mode's
 *        bit shift out). No chip-select handling.
 * @param[in] handle An initialised channel.
 * @param[in] data The bits, from bit 7 down.
 * @param[in] numBits 1 to 8.
 * @retval STATUS_SUCCESS written.
 * @retval STATUS_BAD_PARAMETER @p numBits is 0 or above 8; nothing sent.
 * @retval STATUS_FAILURE the handle is not registered.
 * @return Otherwise the channel layer's status.
 */
KV_API KV_STATUS SPI_Write8bits(KV_HANDLE handle, uint8_t data, uint8_t numBits);
/**
 * @brief Clocks in @p numBits bits (the mode's bit shift in, then #VELTA_CMD_SEND_IMMEDIATE)
 *        and reads the engine's answer byte. No chip-select handling.
 * @param[in] handle An initialised channel.
 * @param[out] data Receives the answer byte as the engine gives it (the simulated engine puts
 *             the bits in the low @p numBits bits); written only on success.
 * @param[in] numBits 1 to 8.
 * @retval STATUS_SUCCESS read.
 * @retval STATUS_BAD_PARAMETER @p data is null, or @p numBits is 0 or above 8; nothing sent.
 * @retval STATUS_FAILURE the handle is not registered.
 * @retval STATUS_IO_FAILURE the answer byte did not arrive.
 * @return Otherwise the channel layer's status.
 */
KV_API KV_STATUS SPI_Read8bits(KV_HANDLE handle, uint8_t *data, uint8_t numBits);
/**
 * @brief Asserts or releases the channel's chip-select, at the polarity its options give.
 *
 * A release first waits 2 ms, so every release comes at least 2 ms after the call begins.
 * The chip-select pin is made an output; no other pin changes. The saved pin state is updated
 * before the bytes are sent.
 * @param[in] handle An initialised channel.
 * @param[in] state 1 asserts, 0 releases.
 * @retval STATUS_SUCCESS done.
 * @retval STATUS_BAD_PARAMETER @p state is neither 0 nor 1; nothing sent.
 * @retval STATUS_FAILURE the handle is not registered (a release has waited 2 ms already).
 * @return Otherwise the channel layer's status.
 */
KV_API KV_STATUS SPI_ToggleCS(KV_HANDLE handle, uint8_t state);
/**
 * @brief Asserts chip-select, reads the levels of the eight low pins (#VELTA_CMD_READ_LOW_PINS, #VELTA_CMD_SEND_IMMEDIATE), and releases
 *        chip-select (with its 2 ms wait).
 *
 * **Busy means any low pin reads high**, not just data in: it tells a device that shows
 * busy on MISO (a 25-series memory during a write cycle) only when every other low pin reads
 * low. The clock idles high in modes 2 and 3, so those always read busy. Failures of the two
 * chip-select changes are ignored.
 * @param[in] handle An initialised channel.
 * @param[out] busy Receives 1 (busy) or 0; written only on success.
 * @retval STATUS_SUCCESS read.
 * @retval STATUS_BAD_PARAMETER @p busy is null; nothing sent.
 * @retval STATUS_IO_FAILURE the answer byte did not arrive; chip-select stays asserted.
 * @return Otherwise the channel layer's status of the read; chip-select stays asserted.
 */
KV_API KV_STATUS SPI_IsBusy(KV_HANDLE handle, uint8_t *busy);
/** @} */

/** @name Transfer sets
 *  A whole SPI transaction in one call, the fast path for clients that own their protocol.
 *  @{ */

/**
 * @brief One transfer of a set given to SPI_Transfer(); zero-fill it and set what you need.
 *
 * Bytes go out of @p txBuffer while as many come into @p rxBuffer, most significant bit first,
 * on the clock edges of the channel's SPI mode.
 */
typedef struct SPITransfer_t {
    /** The bytes to send, @p length of them; null: send @p fillByte @p length times. */
    const uint8_t *txBuffer;
    /** Receives @p length bytes; null: what comes in is discarded. Caller-owned. */
    uint8_t *rxBuffer;
    /** Bytes to move; any count (the library splits at the engine's limits). 0 moves none,
     *  the chip-select change and the delay still happen. */
    uint32_t length;
    /** Microseconds the host waits after this transfer (and its chip-select release), counted
     *  from the moment the engine has run it; 0: no wait. */
    uint32_t delayUs;
    /** Non-zero: chip-select is released after this transfer, and asserted again before the
     *  next one. 0: it stays asserted, **also after the last transfer of the set** (the frame
     *  then goes on in the next call). */
    uint8_t releaseCS;
    /** The byte sent when @p txBuffer is null. */
    uint8_t fillByte;
} SPITransfer;

/**
 * @brief Runs a set of transfers as one engine command stream: chip-select asserted at the
 *        start, each transfer's bytes, chip-select changes between them where asked.
 *
 * Nothing is sent until the set is checked; then the stream goes to the engine in pieces of
 * at most about 64 KiB of commands and 64 KiB of answers (one channel write and one channel
 * read each), split only there and at the engine's 65,536 bytes per shift command. There is
 * no host round trip between transfers and no pause (unlike SPI_ToggleCS(), a release here
 * does not wait 2 ms) unless a transfer's @p delayUs asks for one. The chip-select pin,
 * polarity and SPI mode are the channel's saved configuration, and the saved pin state
 * (`reserved`) follows every change, so SPI_ToggleCS() and later sets continue from it.
 *
 * Memory: at most about 130 KiB per call, whatever the lengths; a short set takes about its
 * own length twice.
 * @param[in] handle An initialised channel; no other call on it may run meanwhile.
 * @param[in] transfers @p count transfers, in order; only read.
 * @param[in] count Transfers in the set; 0 sends nothing.
 * @retval STATUS_SUCCESS every byte moved; receive buffers filled.
 * @retval STATUS_BAD_PARAMETER @p handle is null, or @p transfers is null with @p count above
 *         0; nothing sent, not reported.
 * @retval STATUS_FAILURE the handle is not registered; nothing sent.
 * @retval STATUS_NO_RESOURCES no memory for the stream's pieces; nothing sent.
 * @retval STATUS_IO_FAILURE the driver took fewer command bytes than a piece holds, or fewer
 *         answers came back than it asks for. The rest of that piece is still handed to the
 *         engine so it is not left inside a command; no later piece is sent, chip-select may
 *         stay asserted and the receive buffers of that piece are not filled.
 * @return Otherwise the channel layer's status, with the same state left as for
 *         #STATUS_IO_FAILURE.
 */
KV_API KV_STATUS SPI_Transfer(KV_HANDLE handle, const SPITransfer *transfers, uint32_t count);
/** @} */

#ifdef __cplusplus
}
#endif

#endif
