/**
 * @file libVELTA_i2c.h
 * @brief libVELTA I2C master. Plain C. **I2C channel indexes count from 0.**
 *
 * A channel's life: I2C_GetNumChannels(), optionally I2C_GetChannelInfo(), I2C_OpenChannel(),
 * I2C_InitChannel(), then transfers (I2C_DeviceWrite(), I2C_DeviceRead()) or bus primitives,
 * last I2C_CloseChannel(). The module keeps no state of its own: a channel's state is in the
 * driver, the engine and on the bus.
 *
 * Lines: low pin 0 is SCL, pin 1 drives SDA, pin 2 samples SDA (wire it to pin 1), pin 4 is
 * an output the module drives (high after I2C_InitChannel(), low during transfers). Both
 * lines need pull-ups.
 *
 * **Device addresses are 7-bit** (0 to 127, for example 0x50), not the address byte with the
 * direction bit (0xA0/0xA1); the module shifts them and adds the direction itself. Ten-bit
 * addresses are not supported.
 *
 * **Acknowledge polarity**: an acknowledge flag that the module *reports* is 0 when the device
 * acknowledged (held SDA low) and 1 when it did not. The flag that I2C_Read8bitsAndGiveAck()
 * *takes* is the other way round: non-zero gives an acknowledge, 0 a not-acknowledge.
 *
 * Null arguments: the operations that name a source line below report a null pointer or a
 * null handle with one line on **standard output**,
 * `../../TopLayer/I2C/src/korvin_i2c:<line>:<operation>(): NULL expression encountered`, and
 * return #STATUS_BAD_PARAMETER; every other pointer parameter is checked silently
 * (#STATUS_BAD_PARAMETER). Nothing is sent in either case.
 *
 * A transfer that ends early (#STATUS_NO_DEVICE, #STATUS_WRITE_REFUSED, #STATUS_IO_FAILURE)
 * sends no stop condition: SCL stays low and the device may hold the bus. End it with
 * I2C_Stop(). A transfer without #I2C_OPT_STOP keeps the bus claimed; the next one with
 * #I2C_OPT_START makes a repeated start.
 *
 * Threads: calls on different channels may run at the same time from different threads; the
 * module has no shared state. Calls on **one** channel must not overlap: its command and
 * answer bytes form a single stream, so serialising them is the caller's task.
 */
#ifndef LIBVELTA_I2C_H
#define LIBVELTA_I2C_H

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @brief configOptions bit 0: keep three-phase data clocking off and program `ClockRate`
 *        unchanged.
 *
 * Clear (the usual choice): I2C_InitChannel() switches three-phase clocking on, in which each
 * bit takes three half clock periods and data is held half a period past the clock edge, and
 * scales the engine clock by 3/2 to keep the bus at the requested rate. A
 * #KV_DEVICE_FULL_SPEED_DUAL bridge has no three-phase clocking: its engine answers the command
 * as an unknown byte (the set-up collects that answer) and the bus then runs at 3/2 of the
 * requested rate, so set this bit on such a bridge.
 */
#define I2C_CFG_NO_THREE_PHASE 0x01u  /* keep three-phase data clocking off, rate unscaled */
/** @brief configOptions bit 1: SCL and SDA only pull low, never drive high (open drain). Only a
 *  high-speed single-channel bridge (type 8) offers it; elsewhere it is ignored. Bits 3 to 31
 *  are not interpreted. */
#define I2C_CFG_DRIVE_ZERO_ONLY 0x02u /* SCL and SDA only pull low (high-speed single-channel bridge) */
/**
 * @brief configOptions bit 2: support devices that stretch the clock (hold SCL low until they
 *        are ready).
 *
 * After its usual initialisation I2C_InitChannel() turns the engine's adaptive clocking on
 * (#VELTA_CMD_ADAPTIVE_CLOCKING_ON): every clock edge the engine drives then waits until low pin 7 shows the same level.
 * It needs this wiring:
 * - SCL on pin 0 **and** on pin 7;
 * - SCL only pulled low by the engine: #I2C_CFG_DRIVE_ZERO_ONLY on the high-speed
 *   single-channel bridge (type 8); on the high-speed dual and quad bridges (types 6 and 7),
 *   whose pins drive high, a diode in series with pin 0 (cathode at the bridge), so the
 *   engine can only pull SCL low.
 *
 * The full-speed dual bridge (type 4) has no adaptive clocking: I2C_InitChannel() then
 * returns #STATUS_BAD_PARAMETER with nothing sent and the record unchanged. A bridge whose
 * pin 7 is not wired waits for ever on its first rising clock edge.
 *
 * Without this bit the engine clocks at its own pace: bits it clocks while a device holds SCL
 * are lost to the device, so written data shift and reads return wrong data or a
 * not-acknowledged status. With it, a device that holds SCL low for good stalls the engine;
 * the transfer then ends with #STATUS_IO_FAILURE (its answer never comes) and the next
 * I2C_InitChannel() makes the channel usable again.
 *
 * Pin-state commands (start and stop conditions) do not wait: a stretch after the last byte
 * must end within the stop condition's ten clock-low commands (10 periods of the engine
 * clock).
 */
#define I2C_CFG_CLOCK_STRETCHING 0x04u /* adaptive clocking for devices that stretch SCL */

/** @brief Transfer option: a start condition (a repeated start if the bus is claimed) before the
 *  address. */
#define I2C_OPT_START 0x01u
/** @brief Transfer option: a stop condition at the end of a transfer that succeeded. */
#define I2C_OPT_STOP 0x02u
/** @brief Transfer option, ordinary writes: the first data byte not acknowledged ends the write
 *  with #STATUS_WRITE_REFUSED (no stop). Without it the data bytes' acknowledges are not examined.
 *  Ignored by reads and in fast mode. */
#define I2C_OPT_ABORT_ON_NACK 0x04u
/** @brief Transfer option, ordinary reads: answer the last byte with a not-acknowledge, as a read
 *  before a stop should; without it every byte is acknowledged. Ignored by writes and in fast mode. */
#define I2C_OPT_NACK_FINAL_BYTE 0x08u
/** @brief Transfer option: fast mode, the size counts bytes. The whole transaction goes out in one
 *  channel write. Writes read each byte's acknowledge back, but nothing examines them; reads
 *  acknowledge every byte, the last one included. */
#define I2C_OPT_FAST_BYTES 0x10u
/** @brief Transfer option: fast mode, the size counts bits, moved in groups of up to 8 (group k on
 *  buffer byte k; a partial group takes the top bits of its byte). No acknowledge bits. Do not
 *  combine with #I2C_OPT_FAST_BYTES (#STATUS_BAD_PARAMETER). */
#define I2C_OPT_FAST_BITS 0x20u
/** @brief Transfer option, fast mode only: no address byte is sent (ordinary mode always sends it).
 *  Other option bits are ignored. */
#define I2C_OPT_SKIP_ADDRESS 0x40u

/** @brief The I2C channel configuration a caller hands to I2C_InitChannel(): 12 bytes, the
 *  first three fields of ::ChannelConfig. */
typedef struct I2CChannelConfig_t {
    /** I2C clock rate in Hz. Without #I2C_CFG_NO_THREE_PHASE, I2C_InitChannel() replaces it
     *  with the engine rate it programs, 3/2 of it (so at most 20,000,000 can be asked), **and
     *  a second initialisation with the same record scales it again**. */
    uint32_t ClockRate;
    /** The driver's receive latency timer in ms, 0 to 255. */
    uint8_t LatencyTimer;
    /** Option bits: #I2C_CFG_NO_THREE_PHASE, #I2C_CFG_DRIVE_ZERO_ONLY, #I2C_CFG_CLOCK_STRETCHING. */
    uint32_t configOptions;
} I2CChannelConfig;
/** @cond */
KV_CHECK_RECORD_SIZE(I2CChannelConfig, 12);
/** @endcond */

/** @name Channel management
 *  @{ */

/**
 * @brief Counts the bridge channels that carry the engine (KV_GetNumChannels()).
 * @param[out] numChannels Receives the count.
 * @retval STATUS_SUCCESS counted.
 * @retval STATUS_BAD_PARAMETER @p numChannels is null; reported on standard output (line 154).
 * @return Otherwise a status of KV_GetNumChannels().
 */
KV_API KV_STATUS I2C_GetNumChannels(uint32_t *numChannels);
/**
 * @brief Copies the driver's record of a channel (KV_GetChannelInfo() with @p index + 1).
 * @param[in] index Channel index **from 0**.
 * @param[out] chanInfo Caller-owned record that receives the copy.
 * @retval STATUS_SUCCESS copied.
 * @retval STATUS_BAD_HANDLE no such channel.
 * @retval STATUS_BAD_PARAMETER @p chanInfo is null; reported on standard output (line 183).
 * @return Otherwise a status of KV_GetChannelInfo().
 */
KV_API KV_STATUS I2C_GetChannelInfo(uint32_t index, DeviceListEntry *chanInfo);
/**
 * @brief Opens a channel (KV_OpenChannel() with @p index + 1).
 * @param[in] index Channel index **from 0**.
 * @param[out] handle Receives the channel's handle; close it with I2C_CloseChannel().
 * @retval STATUS_SUCCESS opened.
 * @retval STATUS_BAD_HANDLE no such channel.
 * @retval STATUS_BAD_PARAMETER @p handle is null; reported on standard output (line 209).
 * @return Otherwise a status of KV_OpenChannel(), for example the driver's when the channel is
 *         open already.
 */
KV_API KV_STATUS I2C_OpenChannel(uint32_t index, KV_HANDLE *handle);
/**
 * @brief Initialises an opened channel as an I2C master: KV_InitChannel() for I2C (at least
 *        70 ms; SCL and SDA end up driven high), then, unless #I2C_CFG_NO_THREE_PHASE,
 *        three-phase clocking on (#VELTA_CMD_THREE_PHASE_ON; on a full-speed bridge, whose
 *        engine answers it as an unknown byte, that answer is waited for and collected), and with
 *        #I2C_CFG_CLOCK_STRETCHING adaptive clocking on (#VELTA_CMD_ADAPTIVE_CLOCKING_ON).
 * @param[in] handle A channel opened with I2C_OpenChannel().
 * @param[in,out] config Caller-owned record. Without #I2C_CFG_NO_THREE_PHASE its `ClockRate`
 *                is replaced by 3/2 of itself before anything is sent, and stays so on
 *                failure. The library keeps no pointer to it.
 * @retval STATUS_SUCCESS the channel is ready.
 * @retval STATUS_BAD_PARAMETER @p config is null (reported, line 238; tested first) or
 *         @p handle is null (reported, line 239); or the (scaled) clock rate or the latency
 *         timer is out of range (not reported); or #I2C_CFG_CLOCK_STRETCHING on a
 *         #KV_DEVICE_FULL_SPEED_DUAL bridge (not reported; nothing sent, record unchanged).
 * @retval STATUS_FAILURE the engine did not synchronise, or a full-speed engine did not answer
 *         the three-phase command.
 * @return Otherwise a status of KV_InitChannel(), of Mid_GetKvDeviceType() (with
 *         #I2C_CFG_CLOCK_STRETCHING, or three-phase clocking), or of the three-phase or
 *         adaptive-clocking command's write.
 */
KV_API KV_STATUS I2C_InitChannel(KV_HANDLE handle, I2CChannelConfig *config);
/**
 * @brief Closes the channel (KV_CloseChannel()); nothing is sent first, so end a claimed bus
 *        with I2C_Stop() before. The handle is invalid afterwards.
 * @param[in] handle An open channel.
 * @retval STATUS_SUCCESS closed.
 * @retval STATUS_BAD_PARAMETER @p handle is null; reported on standard output (line 287).
 * @return Otherwise the driver's status.
 */
KV_API KV_STATUS I2C_CloseChannel(KV_HANDLE handle);
/**
 * @brief Does nothing: the I2C module keeps no configuration.
 * @param[in] handle Ignored.
 * @param[in] config Ignored.
 * @retval STATUS_SUCCESS for any non-null @p config.
 * @retval STATUS_BAD_PARAMETER @p config is null.
 */
KV_API KV_STATUS I2C_SaveChannelConfig(KV_HANDLE handle, I2CChannelConfig *config);
/**
 * @brief Does nothing: the I2C module keeps no configuration, and @p config is not written.
 * @param[in] handle Ignored.
 * @param[out] config Left as it is.
 * @retval STATUS_SUCCESS for any non-null @p config.
 * @retval STATUS_BAD_PARAMETER @p config is null.
 */
KV_API KV_STATUS I2C_GetChannelConfig(KV_HANDLE handle, I2CChannelConfig *config);
/** @} */

/** @name Bus primitives
 *  One fixed engine command stream each, in one channel write; an initialised channel is
 *  assumed and not checked.
 *  @{ */

/**
 * @brief Sends a start condition (a repeated start when the bus is claimed): SCL and SDA high,
 *        SDA low, SCL low, in one 93-byte write. Leaves both lines driven low.
 * @param[in] handle An initialised channel.
 * @return The channel layer's status (#STATUS_IO_FAILURE when the write was cut short).
 */
KV_API KV_STATUS I2C_Start(KV_HANDLE handle);
/**
 * @brief Sends a stop condition and releases the bus: SCL and SDA low, SCL high, SDA high,
 *        then both released, in one 93-byte write.
 * @param[in] handle An initialised channel.
 * @return The channel layer's status (#STATUS_IO_FAILURE when the write was cut short).
 */
KV_API KV_STATUS I2C_Stop(KV_HANDLE handle);
/**
 * @brief Sends the address byte (@p deviceAddress × 2 + direction, modulo 256) and reads the
 *        device's acknowledge, as I2C_Write8bitsAndGetAck(). No start condition.
 * @param[in] handle An initialised channel, after I2C_Start().
 * @param[in] deviceAddress **7-bit** address. Not range-checked here: bits above bit 6 are
 *            lost (0xD0 addresses 0x50).
 * @param[in] read Non-zero: read direction (bit 0 of the address byte 1); 0: write.
 * @param[in] addressLen10bit Must be 0; non-zero gives #STATUS_UNSUPPORTED.
 * @param[out] ack Receives **0 if the device acknowledged, 1 if not**; written only on success.
 * @retval STATUS_SUCCESS the byte went out; examine @p ack.
 * @retval STATUS_UNSUPPORTED @p addressLen10bit is non-zero; nothing sent.
 * @retval STATUS_BAD_PARAMETER @p ack is null; nothing sent.
 * @retval STATUS_IO_FAILURE fewer than 12 command bytes were written, or no answer byte came.
 * @return Otherwise the channel layer's status.
 */
KV_API KV_STATUS I2C_WriteDeviceAddress(KV_HANDLE handle, uint32_t deviceAddress, uint8_t read,
                                        uint8_t addressLen10bit, uint8_t *ack);
/**
 * @brief Clocks one byte out, most significant bit first, releases SDA and reads the device's
 *        acknowledge bit: one 12-byte write, a 1 ms wait, one 1-byte read.
 * @param[in] handle An initialised channel, inside a transaction.
 * @param[in] data The byte.
 * @param[out] ack Receives **0 if the device acknowledged, 1 if not**; written only on success.
 * @retval STATUS_SUCCESS the byte went out; examine @p ack.
 * @retval STATUS_BAD_PARAMETER @p ack is null; nothing sent.
 * @retval STATUS_IO_FAILURE fewer than 12 command bytes were written (nothing read), or no
 *         answer byte came.
 * @return Otherwise the channel layer's status.
 */
KV_API KV_STATUS I2C_Write8bitsAndGetAck(KV_HANDLE handle, uint8_t data, uint8_t *ack);
/**
 * @brief Releases SDA, clocks one byte in, most significant bit first, and answers it with an
 *        acknowledge or a not-acknowledge: one 12-byte write, one 1-byte read.
 * @param[in] handle An initialised channel, inside a read transaction.
 * @param[out] data Receives the byte; written only on success.
 * @param[in] ack **Non-zero: acknowledge** (the device goes on sending); **0: not-acknowledge**
 *            (the last byte before a stop). The opposite of the flags this module reports.
 * @retval STATUS_SUCCESS read.
 * @retval STATUS_BAD_PARAMETER @p data is null; nothing sent.
 * @retval STATUS_IO_FAILURE fewer than 12 command bytes were written, or no answer byte came.
 * @return Otherwise the channel layer's status.
 */
KV_API KV_STATUS I2C_Read8bitsAndGiveAck(KV_HANDLE handle, uint8_t *data, uint8_t ack);
/** @} */

/** @name Device transfers
 *  Ordinary mode costs one 12-byte write and one 1-byte read per byte (and 1 ms per byte
 *  written); fast mode (#I2C_OPT_FAST_BYTES or #I2C_OPT_FAST_BITS) sends the whole
 *  transaction in one write but examines no acknowledge.
 *  @{ */

/**
 * @brief Writes bytes to the device at a 7-bit address.
 *
 * Discards the driver's receive and transmit buffers first (always, fast mode too). Ordinary
 * mode: start (with #I2C_OPT_START), the address byte, which must be acknowledged, the data
 * bytes one by one, stop (with #I2C_OPT_STOP). Fast mode: I2C_FastWrite() with no
 * acknowledge buffer, so **a missing device or a refused byte is not reported**.
 * @param[in] handle An initialised channel.
 * @param[in] deviceAddress **7-bit** address, 0 to 127.
 * @param[in] sizeToTransfer Bytes to write (bits with #I2C_OPT_FAST_BITS); 0 sends only the
 *            address.
 * @param[in] buffer The data: @p sizeToTransfer bytes ((bits + 7) / 8 with
 *            #I2C_OPT_FAST_BITS); only read. Must not be null, also for size 0.
 * @param[out] sizeTransferred Receives the count: the size on success. Ordinary mode after a
 *             data byte failed: the bytes sent, the failed one included; untouched after
 *             #STATUS_NO_DEVICE, #STATUS_WRITE_REFUSED and the refusals before sending.
 * @param[in] options #I2C_OPT_START, #I2C_OPT_STOP, #I2C_OPT_ABORT_ON_NACK, and for fast mode
 *            #I2C_OPT_FAST_BYTES or #I2C_OPT_FAST_BITS and #I2C_OPT_SKIP_ADDRESS. Usually
 *            #I2C_OPT_START | #I2C_OPT_STOP.
 * @retval STATUS_SUCCESS written (and stopped, with #I2C_OPT_STOP). When the last byte's own
 *         transfer fails, the stop is still sent (with #I2C_OPT_STOP) and that byte's status
 *         is returned; otherwise, with #I2C_OPT_STOP, the stop's status.
 * @retval STATUS_NO_DEVICE the address was not acknowledged (ordinary mode); no stop sent.
 * @retval STATUS_WRITE_REFUSED a data byte was not acknowledged with #I2C_OPT_ABORT_ON_NACK;
 *         no further byte and no stop sent.
 * @retval STATUS_IO_FAILURE a data byte before the last failed; no stop sent.
 * @retval STATUS_BAD_PARAMETER @p handle, @p buffer or @p sizeTransferred is null (reported on
 *         standard output, lines 427, 428, 429); or, not reported, an address above 127 or
 *         both fast-mode bits set. Nothing sent.
 * @return Otherwise a status of I2C_FastWrite() or of the primitive that failed.
 */
KV_API KV_STATUS I2C_DeviceWrite(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                                 uint8_t *buffer, uint32_t *sizeTransferred, uint32_t options);
/**
 * @brief Reads bytes from the device at a 7-bit address.
 *
 * Does not purge. Ordinary mode: start (with #I2C_OPT_START), the address byte with the read
 * bit, which must be acknowledged, the bytes one by one, each acknowledged except a last one
 * with #I2C_OPT_NACK_FINAL_BYTE, stop (with #I2C_OPT_STOP). Fast mode: I2C_FastRead().
 * @param[in] handle An initialised channel.
 * @param[in] deviceAddress **7-bit** address, 0 to 127.
 * @param[in] sizeToTransfer Bytes to read (bits with #I2C_OPT_FAST_BITS); 0 sends only the
 *            address.
 * @param[out] buffer Receives the data: room for @p sizeToTransfer bytes ((bits + 7) / 8 with
 *             #I2C_OPT_FAST_BITS). Caller-owned.
 * @param[out] sizeTransferred Receives the count, as for I2C_DeviceWrite().
 * @param[in] options #I2C_OPT_START, #I2C_OPT_STOP, #I2C_OPT_NACK_FINAL_BYTE, and for fast mode
 *            #I2C_OPT_FAST_BYTES or #I2C_OPT_FAST_BITS and #I2C_OPT_SKIP_ADDRESS. Usually
 *            #I2C_OPT_START | #I2C_OPT_STOP | #I2C_OPT_NACK_FINAL_BYTE.
 * @retval STATUS_SUCCESS read (and stopped, with #I2C_OPT_STOP). As for I2C_DeviceWrite(), a
 *         failure of the last byte's own transfer is returned after the stop is sent.
 * @retval STATUS_NO_DEVICE the address was not acknowledged (ordinary mode); no stop sent.
 * @retval STATUS_IO_FAILURE a byte before the last failed; no stop sent.
 * @retval STATUS_BAD_PARAMETER @p handle, @p buffer or @p sizeTransferred is null (reported on
 *         standard output, lines 324, 325, 326); or, not reported, an address above 127 or
 *         both fast-mode bits set. Nothing sent.
 * @return Otherwise a status of I2C_FastRead() or of the primitive that failed.
 */
KV_API KV_STATUS I2C_DeviceRead(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                                uint8_t *buffer, uint32_t *sizeTransferred, uint32_t options);
/**
 * @brief Fast-mode write: the whole transaction (start, address, data, stop, as the options
 *        ask) built in one buffer and sent in one channel write; then the address acknowledge
 *        and, with #I2C_OPT_FAST_BYTES, one acknowledge per data byte are read back.
 *
 * A stream longer than 64 KiB is built and sent in pieces of at most 64 KiB, each followed
 * by the reads of its own answers, so memory stays bounded whatever the size.
 *
 * **No acknowledge is examined**: a missing device or a refused byte is not reported; only
 * @p ackBuffer shows the data bytes' acknowledges. Called directly it does not purge.
 * @param[in] handle An initialised channel.
 * @param[in] deviceAddress **7-bit** address, 0 to 127.
 * @param[in] sizeToTransfer Bytes, or bits with #I2C_OPT_FAST_BITS.
 * @param[in] buffer The data: @p sizeToTransfer bytes, or (bits + 7) / 8; only read.
 * @param[out] ackBuffer Null, or room for @p sizeToTransfer bytes that receive the data bytes'
 *             acknowledges with #I2C_OPT_FAST_BYTES, each in bit 0: **0 acknowledged, 1 not**.
 *             Bytes that did not arrive are left as they were.
 * @param[out] sizeTransferred Receives @p sizeToTransfer once the stream has been sent,
 *             whatever the status of that write.
 * @param[in] options #I2C_OPT_FAST_BYTES or #I2C_OPT_FAST_BITS (one of them; with neither
 *            the size counts bytes and no acknowledge is read), #I2C_OPT_START, #I2C_OPT_STOP,
 *            #I2C_OPT_SKIP_ADDRESS.
 * @retval STATUS_SUCCESS sent and the acknowledges read back.
 * @retval STATUS_BAD_PARAMETER @p buffer or @p sizeTransferred is null, the address is above
 *         127, or both fast-mode bits are set; nothing sent, not reported.
 * @retval STATUS_NO_RESOURCES no memory for the stream, or its length does not fit 32 bits;
 *         nothing sent.
 * @retval STATUS_IO_FAILURE the channel took fewer bytes than the stream holds, or fewer
 *         acknowledges came back than the stream asks for (the engine did not run it, as when
 *         a device holds SCL for good); the acknowledges that came are in @p ackBuffer.
 * @return Otherwise the channel layer's status.
 */
KV_API KV_STATUS I2C_FastWrite(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                               uint8_t *buffer, uint8_t *ackBuffer, uint32_t *sizeTransferred,
                               uint32_t options);
/**
 * @brief Fast-mode read: the whole transaction built in one buffer and sent in one channel
 *        write; then the address acknowledge (not examined) and the data are read back.
 *
 * A stream longer than 64 KiB is built and sent in pieces of at most 64 KiB, each followed
 * by the reads of its own answers, so memory stays bounded whatever the size.
 *
 * With #I2C_OPT_FAST_BYTES every byte is acknowledged, the last one included. **No
 * acknowledge is examined**: a missing device reads as whatever the released line gives (0xFF
 * with pull-ups). Fewer answer bytes than asked is #STATUS_IO_FAILURE. Called directly it does
 * not purge.
 * @param[in] handle An initialised channel.
 * @param[in] deviceAddress **7-bit** address, 0 to 127.
 * @param[in] sizeToTransfer Bytes, or bits with #I2C_OPT_FAST_BITS.
 * @param[out] buffer Receives the data: room for @p sizeToTransfer bytes, or (bits + 7) / 8,
 *             one answer byte per group of up to 8 bits as the engine gives it (the simulated
 *             engine puts a partial group's bits in the low bits).
 * @param unused Not used; pass null.
 * @param[out] sizeTransferred Receives @p sizeToTransfer before anything is sent.
 * @param[in] options #I2C_OPT_FAST_BYTES or #I2C_OPT_FAST_BITS (one of them),
 *            #I2C_OPT_START, #I2C_OPT_STOP, #I2C_OPT_SKIP_ADDRESS.
 * @retval STATUS_SUCCESS sent and read back.
 * @retval STATUS_BAD_PARAMETER @p buffer or @p sizeTransferred is null, the address is above
 *         127, or both fast-mode bits are set; nothing sent, not reported.
 * @retval STATUS_NO_RESOURCES no memory for the stream, or its length does not fit 32 bits;
 *         nothing sent.
 * @retval STATUS_IO_FAILURE the channel took fewer bytes than the stream holds, or fewer data
 *         bytes came back than asked; @p buffer then holds only those that came.
 * @return Otherwise the channel layer's status.
 */
KV_API KV_STATUS I2C_FastRead(KV_HANDLE handle, uint32_t deviceAddress, uint32_t sizeToTransfer,
                              uint8_t *buffer, uint8_t *unused, uint32_t *sizeTransferred,
                              uint32_t options);
/** @} */

/** @name Message transfers
 *  A whole transaction of one or more messages in one call: one engine stream, every
 *  acknowledge checked, fast-mode timing.
 *  @{ */

/** @brief Message flag: read @p length bytes from the device (clear: write them). */
#define I2C_MSG_READ 0x0001u
/** @brief Message flag: a ten-bit address. Not supported: I2C_Transfer() returns
 *  #STATUS_UNSUPPORTED with nothing sent. */
#define I2C_MSG_TEN_BIT 0x0010u
/** @brief Message flag: a missing acknowledge of this message's address or data bytes is not
 *  an error. */
#define I2C_MSG_IGNORE_NACK 0x1000u
/** @brief Message flag: no start condition and no address: this message's bytes continue the
 *  previous message (a read continuing a read keeps acknowledging). Not allowed on the first
 *  message or after one with #I2C_MSG_STOP. */
#define I2C_MSG_NO_START 0x4000u
/** @brief Message flag: a stop condition after this message; the next one then begins with a
 *  start, not a repeated start. The last message always ends with a stop. */
#define I2C_MSG_STOP 0x8000u

/** @brief One message of a transaction given to I2C_Transfer(). */
typedef struct I2CMessage_t {
    /** **7-bit** device address, 0 to 127; the library adds the direction bit. */
    uint16_t address;
    /** #I2C_MSG_READ, #I2C_MSG_IGNORE_NACK, #I2C_MSG_NO_START, #I2C_MSG_STOP
     *  (#I2C_MSG_TEN_BIT is refused); other bits are ignored. */
    uint16_t flags;
    /** Bytes to read or write; 0 sends only the address (a probe). */
    uint32_t length;
    /** @p length bytes to send, or room for @p length bytes read. Caller-owned; may be null
     *  only when @p length is 0. */
    uint8_t *buffer;
} I2CMessage;

/** @brief Where a transaction was not acknowledged: filled by I2C_Transfer() with
 *  #STATUS_NO_DEVICE or #STATUS_WRITE_REFUSED. */
typedef struct I2CTransferFault_t {
    /** Index of the message, from 0. */
    uint32_t message;
    /** Index of its data byte that was refused, from 0; #I2C_FAULT_ADDRESS when the address
     *  byte was not acknowledged. */
    uint32_t byte;
} I2CTransferFault;
/** @brief I2CTransferFault::byte of a missing address acknowledge. */
#define I2C_FAULT_ADDRESS 0xFFFFFFFFu

/**
 * @brief Runs a transaction of messages as one engine command stream: for each message a
 *        start (a repeated start after the first, unless #I2C_MSG_NO_START), the address
 *        byte, the data bytes; a stop after messages with #I2C_MSG_STOP and after the last.
 *
 * Every written byte and every address must be acknowledged (unless #I2C_MSG_IGNORE_NACK);
 * every read byte is acknowledged except the last of each read (unless the next message
 * continues that read with #I2C_MSG_NO_START). The signal shapes are those of I2C_Start(),
 * I2C_Stop() and the fast-mode byte blocks, with no host pause between bytes. The stream goes
 * to the engine in pieces of at most about 64 KiB of commands (one channel write, then one read
 * of all its answers); the acknowledges are checked as each piece comes back.
 *
 * A missing acknowledge ends the transaction with a stop: the bytes of the same message after
 * it, and of read messages that follow it in the same piece, were still clocked (a device that
 * did not acknowledge ignores them, and bytes read from no device read as 0xFF); no later piece
 * is sent. A write message that starts after acknowledges still to be checked begins a new
 * piece, so no write reaches a device after a refusal. Read buffers of messages from the
 * failing one on are then undefined.
 *
 * Memory: at most about 180 KiB per call, whatever the lengths; a short transaction takes
 * about 12 bytes per byte it moves.
 * @param[in] handle An initialised channel; no other call on it may run meanwhile.
 * @param[in] messages @p count messages, in order; read messages' buffers receive the data.
 * @param[in] count Messages in the transaction; 0 sends nothing.
 * @param[out] fault Null, or receives where the transaction was refused; written only with
 *             #STATUS_NO_DEVICE and #STATUS_WRITE_REFUSED.
 * @retval STATUS_SUCCESS every byte moved and acknowledged; the bus is released.
 * @retval STATUS_NO_DEVICE an address was not acknowledged; @p fault tells which; stopped.
 * @retval STATUS_WRITE_REFUSED a written byte was not acknowledged; @p fault tells which;
 *         stopped.
 * @retval STATUS_BAD_PARAMETER @p handle is null, @p messages is null with @p count above 0, a
 *         buffer is null with a length above 0, an address is above 127, or #I2C_MSG_NO_START
 *         is on the first message or after #I2C_MSG_STOP; nothing sent, not reported.
 * @retval STATUS_UNSUPPORTED a message has #I2C_MSG_TEN_BIT; nothing sent.
 * @retval STATUS_NO_RESOURCES no memory for the stream's pieces; nothing sent.
 * @retval STATUS_IO_FAILURE the driver took fewer command bytes than a piece holds (the rest
 *         is still handed over), or fewer answers came back than it asks for (the engine did
 *         not run it, as when a device holds SCL for good). No stop is added: end the bus with
 *         I2C_Stop().
 * @return Otherwise the channel layer's status, with the bus left as for #STATUS_IO_FAILURE.
 */
KV_API KV_STATUS I2C_Transfer(KV_HANDLE handle, const I2CMessage *messages, uint32_t count,
                              I2CTransferFault *fault);
/** @} */

#ifdef __cplusplus
}
#endif

#endif
