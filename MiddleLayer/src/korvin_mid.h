/**
 * @file korvin_mid.h
 * @brief libVELTA channel and engine layer: channel discovery, engine set-up, command
 *        transport, GPIO. Plain C.
 *
 * **Channel indexes here count the engine-carrying channels from 1**, in the driver's list
 * order (the SPI and I2C families count the same channels from 0). Every call asks the driver
 * for a fresh device list, so an index names whatever channel is in that place at the time.
 *
 * The `KV_` operations check every pointer parameter and return #STATUS_BAD_PARAMETER for a
 * null one, silently, before any driver call; so do the two `Mid_` steps that take a pointer
 * (Mid_GetKvDeviceType(), Mid_SendReceiveCmdFromVELTA()). No `Mid_` step checks its handle:
 * pass an open channel. A ::BusProtocol argument changes nothing except in
 * KV_InitChannel(). Any operation whose driver entry point is missing fails with
 * #STATUS_FAILURE; every other driver failure comes back as the driver's status.
 *
 * The engine's pins come in two bytes: the **low pins** (0 clock, 1 data out, 2 data in, 3 to
 * 7 chip-selects or free lines), which the SPI and I2C families drive, and the **high pins**,
 * eight general-purpose lines that only KV_WriteGPIO() and KV_ReadGPIO() touch. In a direction
 * byte a 1 bit makes the pin an output; in a value byte a 1 bit is a high level; bit i is pin i.
 */
#ifndef KORVIN_MID_H
#define KORVIN_MID_H

#include "korvin_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @brief Counts the bridge channels that carry the engine.
 * @param[in] protocol Ignored.
 * @param[out] channelCount Receives the count; set to 0 first. After a driver failure it is
 *             not meaningful.
 * @retval STATUS_SUCCESS counted (0 when no device is attached).
 * @retval STATUS_NO_RESOURCES no memory for the device list; the count is 0.
 * @retval STATUS_BAD_PARAMETER @p channelCount is null.
 * @retval STATUS_FAILURE the driver lacks a list entry point.
 * @return Otherwise the driver's status from building or fetching its device list.
 */
KV_API KV_STATUS KV_GetNumChannels(BusProtocol protocol, uint32_t *channelCount);
/**
 * @brief Copies the driver's record of one engine-carrying channel.
 * @param[in] protocol Ignored.
 * @param[in] index Channel index **from 1**.
 * @param[out] info Caller-owned record that receives a copy of the whole entry; untouched on
 *             failure.
 * @retval STATUS_SUCCESS copied.
 * @retval STATUS_BAD_HANDLE @p index is 0 or names no engine-carrying channel.
 * @retval STATUS_NO_RESOURCES no memory for the device list.
 * @retval STATUS_BAD_PARAMETER @p info is null.
 * @retval STATUS_FAILURE the driver lacks a list entry point.
 * @return Otherwise the driver's status from building or fetching its device list.
 */
KV_API KV_STATUS KV_GetChannelInfo(BusProtocol protocol, uint32_t index, DeviceListEntry *info);
/**
 * @brief Opens one engine-carrying channel.
 *
 * The channel still has to be initialised (KV_InitChannel(), or through SPI_InitChannel() or
 * I2C_InitChannel()) and is closed with KV_CloseChannel().
 * @param[in] protocol Ignored.
 * @param[in] index Channel index **from 1**.
 * @param[out] handle Receives the channel's handle; untouched on failure.
 * @retval STATUS_SUCCESS opened.
 * @retval STATUS_BAD_HANDLE @p index is 0 or names no engine-carrying channel.
 * @retval STATUS_NO_RESOURCES no memory for the device list.
 * @retval STATUS_BAD_PARAMETER @p handle is null.
 * @retval STATUS_FAILURE the driver lacks an entry point needed.
 * @return Otherwise the driver's status, for example when the channel is open already.
 */
KV_API KV_STATUS KV_OpenChannel(BusProtocol protocol, uint32_t index, KV_HANDLE *handle);
/**
 * @brief Closes a channel (driver `KV_Close`). The handle is invalid afterwards.
 *
 * Sends nothing first: an SPI channel is closed with SPI_CloseChannel(), which also drives
 * its final pin state and frees its configuration node.
 * @param[in] protocol Ignored.
 * @param[in] handle An open channel.
 * @retval STATUS_SUCCESS closed.
 * @retval STATUS_FAILURE the driver lacks `KV_Close`.
 * @return Otherwise the driver's status (for example for a handle that is not open).
 */
KV_API KV_STATUS KV_CloseChannel(BusProtocol protocol, KV_HANDLE handle);
/**
 * @brief Tells whether a listed channel carries the engine.
 *
 * Reads only `DeviceType` and the low four bits of `Location`: type 4 channel 1, types 6 and 7
 * channels 1 and 2, every type 8 channel; no other type.
 * @param[in] entry The driver's record, by value.
 * @return 1 if the channel carries the engine, else 0.
 */
KV_API int Mid_CheckVELTAAvailable(DeviceListEntry entry);
/**
 * @brief Asks the driver for an open channel's device-type code (driver `KV_GetDeviceInfo`).
 * @param[in] handle An open channel.
 * @param[out] deviceType Receives the code (`KV_DEVICE_...`).
 * @retval STATUS_SUCCESS written.
 * @retval STATUS_BAD_PARAMETER @p deviceType is null; nothing asked.
 * @retval STATUS_FAILURE the driver lacks `KV_GetDeviceInfo`.
 * @return Otherwise the driver's status.
 */
KV_API KV_STATUS Mid_GetKvDeviceType(KV_HANDLE handle, uint32_t *deviceType);

/**
 * @brief Brings an open channel into a known engine state at a clock rate.
 *
 * Resets and purges the channel, sets 65536-byte USB transfers, 5000 ms read and write
 * time-outs and the latency timer, switches the channel to the engine, synchronises the engine
 * (resends #VELTA_BOGUS_COMMAND until its echo, #VELTA_ECHO_MARKER and the byte, comes
 * back, then #VELTA_BOGUS_COMMAND_ONCE), sets the clock and drains the
 * input. It waits 50 ms after synchronising and 20 ms after setting the clock, so it lasts
 * at least 70 ms; a silent engine makes it poll for over 4 s per phase before it gives up.
 * For #PROTOCOL_I2C it then sets the low pins to value 0x13, direction 0x13 (SCL, SDA and pin
 * 4 driven high) and, on a #KV_DEVICE_HIGH_SPEED_SINGLE bridge with options bit 1
 * (#I2C_CFG_DRIVE_ZERO_ONLY), sends #VELTA_CMD_DRIVE_ZERO_ONLY with masks 0x03, 0x00: SCL and SDA only pull low. For
 * #PROTOCOL_SPI the pins are left alone (SPI_InitChannel() sets them next).
 *
 * The engine rate is the lowest the 16-bit divisor allows that is not below @p clockRate:
 * base / (divisor + 1), base 30 MHz above 6 MHz and 6 MHz otherwise (always 30 MHz on a
 * #KV_DEVICE_FULL_SPEED_DUAL bridge).
 *
 * **Three arguments follow the handle through the variable argument list, each read as a
 * uint32_t**: pass uint32_t values (cast them), not wider types.
 * - clockRate: engine clock in Hz, 92 to 30,000,000 (458 to 30,000,000 on a
 *   #KV_DEVICE_FULL_SPEED_DUAL bridge, whose base cannot be divided by 5);
 * - latencyTimer: the driver's receive latency timer in ms, 0 to 255;
 * - options: bit 1 (#I2C_CFG_DRIVE_ZERO_ONLY) is read for #PROTOCOL_I2C; other bits are ignored.
 *
 * @param[in] protocol #PROTOCOL_SPI or #PROTOCOL_I2C, as above.
 * @param[in] handle An open channel.
 * @retval STATUS_SUCCESS the engine is ready.
 * @retval STATUS_BAD_PARAMETER latencyTimer above 255 or clockRate out of range: refused before
 *         anything is sent.
 * @retval STATUS_FAILURE the engine did not echo within 4097 polls, or the driver lacks an
 *         entry point needed.
 * @retval STATUS_NO_RESOURCES no memory for a scratch buffer, or more than 4096 bytes waiting
 *         during the echo wait.
 * @retval STATUS_IO_FAILURE a read while draining the input brought nothing.
 * @return Otherwise the status of the driver call that failed. A failure leaves the channel as
 *         far as the failed step took it.
 */
KV_API KV_STATUS KV_InitChannel(BusProtocol protocol, KV_HANDLE handle, ...);
/**
 * @brief One initialisation step: resets the device (driver `KV_ResetDevice`).
 * @param[in] handle An open channel.
 * @return The driver's status, or #STATUS_FAILURE when the entry point is missing.
 */
KV_API KV_STATUS Mid_ResetDevice(KV_HANDLE handle);
/**
 * @brief Discards the driver's receive and transmit buffers (driver `KV_Purge`, mask 3).
 * @param[in] handle An open channel.
 * @return The driver's status, or #STATUS_FAILURE when the entry point is missing.
 */
KV_API KV_STATUS Mid_PurgeDevice(KV_HANDLE handle);
/**
 * @brief One initialisation step: USB transfer sizes (driver `KV_SetUSBParameters`).
 * @param[in] handle An open channel.
 * @param[in] inSize Receive transfer size in bytes, passed through.
 * @param[in] outSize Transmit transfer size in bytes, passed through.
 * @return The driver's status, or #STATUS_FAILURE when the entry point is missing.
 */
KV_API KV_STATUS Mid_SetUSBParameters(KV_HANDLE handle, uint32_t inSize, uint32_t outSize);
/**
 * @brief One initialisation step: event and error characters (driver `KV_SetChars`), each
 *        value cut to its low 8 bits.
 * @param[in] handle An open channel.
 * @param[in] eventChar Event character.
 * @param[in] eventEnable Non-zero enables it.
 * @param[in] errorChar Error character.
 * @param[in] errorEnable Non-zero enables it.
 * @return The driver's status, or #STATUS_FAILURE when the entry point is missing.
 */
KV_API KV_STATUS Mid_SetDeviceSpecialChar(KV_HANDLE handle, uint32_t eventChar, uint32_t eventEnable,
                                          uint32_t errorChar, uint32_t errorEnable);
/**
 * @brief One initialisation step: read and write time-outs (driver `KV_SetTimeouts`).
 * @param[in] handle An open channel.
 * @param[in] readMs Read time-out in ms, passed through.
 * @param[in] writeMs Write time-out in ms, passed through.
 * @return The driver's status, or #STATUS_FAILURE when the entry point is missing.
 */
KV_API KV_STATUS Mid_SetDeviceTimeOut(KV_HANDLE handle, uint32_t readMs, uint32_t writeMs);
/**
 * @brief One initialisation step: receive latency timer (driver `KV_SetLatencyTimer`).
 * @param[in] handle An open channel.
 * @param[in] latency Milliseconds; only the low 8 bits are passed (no range check here).
 * @return The driver's status, or #STATUS_FAILURE when the entry point is missing.
 */
KV_API KV_STATUS Mid_SetLatencyTimer(KV_HANDLE handle, uint32_t latency);
/**
 * @brief One initialisation step: resets the bit mode (driver `KV_SetBitMode`, mask 0, mode 0).
 * @param[in] handle An open channel.
 * @return The driver's status, or #STATUS_FAILURE when the entry point is missing.
 */
KV_API KV_STATUS Mid_ResetVELTA(KV_HANDLE handle);
/**
 * @brief One initialisation step: switches the channel to the engine (driver `KV_SetBitMode`,
 *        mask 0, mode 2).
 * @param[in] handle An open channel.
 * @return The driver's status, or #STATUS_FAILURE when the entry point is missing.
 */
KV_API KV_STATUS Mid_EnableVELTAIn(KV_HANDLE handle);
/**
 * @brief Turns the engine's loopback (data out fed back to data in) on or off: writes the one
 *        #VELTA_CMD_LOOPBACK_ON or #VELTA_CMD_LOOPBACK_OFF.
 * @param[in] handle An open channel in engine mode.
 * @param[in] state Non-zero: on; 0: off.
 * @return The driver's status, or #STATUS_FAILURE when the entry point is missing.
 */
KV_API KV_STATUS Mid_SetDeviceLoopbackState(KV_HANDLE handle, uint8_t state);
/**
 * @brief Sets the engine clock: #VELTA_CMD_DIVIDE_BY_5_OFF (base 30 MHz) for rates above 6 MHz or
 *        #VELTA_CMD_DIVIDE_BY_5_ON (base 6 MHz) otherwise, neither on a #KV_DEVICE_FULL_SPEED_DUAL bridge
 *        (fixed base 30 MHz); then #VELTA_CMD_SET_DIVISOR with the divisor base / @p clockRate - 1, low byte
 *        first.
 * @param[in] handle An open channel in engine mode.
 * @param[in] deviceType The channel's device-type code (Mid_GetKvDeviceType()).
 * @param[in] clockRate Hz, 92 to 30,000,000 (458 to 30,000,000 on type 4).
 * @retval STATUS_BAD_PARAMETER @p clockRate out of range; nothing sent.
 * @return Otherwise the driver's status, or #STATUS_FAILURE when `KV_Write` is missing.
 */
KV_API KV_STATUS Mid_SetClock(KV_HANDLE handle, uint32_t deviceType, uint32_t clockRate);
/**
 * @brief Reads and discards the bytes the driver holds at the time of the call; bytes that
 *        arrive later stay.
 * @param[in] handle An open channel.
 * @retval STATUS_SUCCESS drained.
 * @retval STATUS_NO_RESOURCES no memory for the 4096-byte scratch buffer.
 * @retval STATUS_IO_FAILURE a read brought nothing although bytes were said to be waiting.
 * @return Otherwise the driver's status, or #STATUS_FAILURE when an entry point is missing.
 */
KV_API KV_STATUS Mid_EmptyDeviceInputBuff(KV_HANDLE handle);
/**
 * @brief Synchronises the engine with the command stream: drains the input, resends
 *        #VELTA_BOGUS_COMMAND until the engine's echo arrives (#VELTA_ECHO_MARKER and the byte),
 *        then sends #VELTA_BOGUS_COMMAND_ONCE once and waits for its echo.
 * @param[in] handle An open channel in engine mode.
 * @retval STATUS_SUCCESS both echoes seen.
 * @retval STATUS_FAILURE an echo did not come within 4097 polls (over 4 s), or an entry point
 *         is missing.
 * @retval STATUS_NO_RESOURCES no memory, or more than 4096 bytes waiting in one poll.
 * @retval STATUS_IO_FAILURE draining the input brought nothing.
 * @return Otherwise the driver's status.
 */
KV_API KV_STATUS Mid_SyncVELTA(KV_HANDLE handle);
/**
 * @brief Sends a byte the engine does not know and polls (1 ms per pass, 4097 passes at most)
 *        for its echo #VELTA_ECHO_MARKER, @p command.
 * @param[in] handle An open channel in engine mode.
 * @param[in] resendFlag 1: send the byte again in every pass; 0: send it once.
 * @param[in] command The byte, one the engine does not know (#VELTA_BOGUS_COMMAND, #VELTA_BOGUS_COMMAND_ONCE).
 * @param[out] echoSeen Receives 1 when the echo was seen, else 0.
 * @retval STATUS_SUCCESS the echo was seen.
 * @retval STATUS_BAD_PARAMETER @p echoSeen is null; nothing sent.
 * @retval STATUS_FAILURE no echo within 4097 passes, or an entry point is missing.
 * @retval STATUS_NO_RESOURCES no memory (@p echoSeen untouched), or more than 4096 bytes
 *         waiting in one pass.
 * @return Otherwise the driver's status.
 */
KV_API KV_STATUS Mid_SendReceiveCmdFromVELTA(KV_HANDLE handle, uint8_t resendFlag, uint8_t command,
                                             uint8_t *echoSeen);

/**
 * @brief Sends engine command bytes to the channel, in order (driver `KV_Write`).
 *
 * **The count comes before the buffer here** (the driver takes them the other way round).
 * All the bytes, or a failure: a driver that reports success having taken fewer bytes than
 * @p byteCount gives #STATUS_IO_FAILURE, with the count it took in @p *bytesDone.
 * @param[in] protocol Ignored.
 * @param[in] handle An open channel.
 * @param[in] byteCount Number of bytes to send.
 * @param[in] buffer @p byteCount bytes; only read.
 * @param[out] bytesDone Receives the number of bytes the driver sent.
 * @retval STATUS_SUCCESS the driver took every byte.
 * @retval STATUS_IO_FAILURE the driver took fewer bytes than asked.
 * @retval STATUS_BAD_PARAMETER @p buffer or @p bytesDone is null; nothing sent.
 * @retval STATUS_FAILURE the driver lacks `KV_Write`.
 * @return Otherwise the driver's status.
 */
KV_API KV_STATUS KV_Channel_Write(BusProtocol protocol, KV_HANDLE handle, uint32_t byteCount,
                                  uint8_t *buffer, uint32_t *bytesDone);
/**
 * @brief Reads the engine's answer bytes (driver `KV_Read`).
 *
 * Returns when @p byteCount bytes have arrived or the driver's read time-out (5000 ms after
 * KV_InitChannel()) has passed; the simulated driver returns at once with what is queued.
 * A read that brings fewer bytes than asked is #STATUS_IO_FAILURE, with the count that came
 * in @p *bytesDone.
 * **The count comes before the buffer.**
 * @param[in] protocol Ignored.
 * @param[in] handle An open channel.
 * @param[in] byteCount Number of bytes asked for.
 * @param[out] buffer At least @p byteCount bytes, caller-owned.
 * @param[out] bytesDone Receives the number of bytes delivered.
 * @retval STATUS_SUCCESS every byte asked for arrived.
 * @retval STATUS_IO_FAILURE fewer bytes arrived.
 * @retval STATUS_BAD_PARAMETER @p buffer or @p bytesDone is null; nothing read.
 * @retval STATUS_FAILURE the driver lacks `KV_Read`.
 * @return Otherwise the driver's status.
 */
KV_API KV_STATUS KV_Channel_Read(BusProtocol protocol, KV_HANDLE handle, uint32_t byteCount,
                                 uint8_t *buffer, uint32_t *bytesDone);
/**
 * @brief Sets the **low** pins: writes #VELTA_CMD_SET_LOW_PINS, @p value, @p direction.
 *
 * **Argument order: value, then direction** (KV_WriteGPIO() takes direction first). The low
 * pins carry the SPI and I2C buses: on a channel the SPI family drives, the SPI module does
 * not learn of the change and restores its own state at the next chip-select change.
 * @param[in] handle An open channel in engine mode.
 * @param[in] value Levels of pins 0 to 7, bit i pin i, 1 high.
 * @param[in] direction Directions of pins 0 to 7, 1 output.
 * @return The driver's status, or #STATUS_FAILURE when `KV_Write` is missing.
 */
KV_API KV_STATUS Mid_SetGPIOLow(KV_HANDLE handle, uint8_t value, uint8_t direction);
/**
 * @brief Sets the eight **high** pins, the general-purpose lines: writes #VELTA_CMD_SET_HIGH_PINS, @p value,
 *        @p direction.
 *
 * **Argument order: direction, then value** (Mid_SetGPIOLow() takes value first, and the
 * engine command carries the value first). The SPI and I2C families never touch these pins.
 * @param[in] handle An open, initialised channel.
 * @param[in] direction Directions of high pins 0 to 7, bit i pin i, 1 output.
 * @param[in] value Levels of high pins 0 to 7, 1 high; only outputs take them.
 * @return The driver's status, or #STATUS_FAILURE when `KV_Write` is missing.
 */
KV_API KV_STATUS KV_WriteGPIO(KV_HANDLE handle, uint8_t direction, uint8_t value);
/**
 * @brief Reads the levels of the eight high pins: writes #VELTA_CMD_READ_HIGH_PINS and #VELTA_CMD_SEND_IMMEDIATE, reads one
 *        answer byte.
 * @param[in] handle An open, initialised channel.
 * @param[out] value Receives the levels, bit i high pin i; written only on success.
 * @retval STATUS_SUCCESS read.
 * @retval STATUS_IO_FAILURE the answer byte did not arrive (after the driver's read time-out).
 * @retval STATUS_BAD_PARAMETER @p value is null; nothing sent.
 * @retval STATUS_FAILURE the driver lacks `KV_Write` or `KV_Read`.
 * @return Otherwise the driver's status.
 */
KV_API KV_STATUS KV_ReadGPIO(KV_HANDLE handle, uint8_t *value);

#ifdef __cplusplus
}
#endif

#endif
