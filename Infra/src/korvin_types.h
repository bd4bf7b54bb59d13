/**
 * @file korvin_types.h
 * @brief Types shared by libVELTA, its applications and the bridge driver. Plain C.
 *
 * Every libVELTA operation returns a ::KV_STATUS: 0 (#STATUS_SUCCESS) or the first failure of
 * the operation. The values below are libVELTA's own; any other non-zero value is the bridge
 * driver's, passed through every layer unchanged (the simulated driver's are the
 * KVSIM_STATUS_* codes of kvsim.h). VELTA_StatusText() gives a short text for any of them.
 */
#ifndef KORVIN_TYPES_H
#define KORVIN_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
/** @brief Marks a declaration as part of the library's exported interface. */
#define KV_API __attribute__((visibility("default")))
#else
#define KV_API
#endif

/** @brief Status of every libVELTA operation and driver entry point: 0 success, else the failure. */
typedef uint32_t KV_STATUS;
/**
 * @brief Opaque, pointer-sized handle of one open bridge channel.
 *
 * Issued by the driver when a channel is opened (SPI_OpenChannel(), I2C_OpenChannel(),
 * KV_OpenChannel()) and valid until that channel is closed. libVELTA never dereferences it.
 */
typedef void *KV_HANDLE;

/** @brief The operation succeeded. */
#define STATUS_SUCCESS 0u
/** @brief No engine-carrying channel has that index (channel layer index 0, or beyond the last). */
#define STATUS_BAD_HANDLE 1u
/** @brief An I2C device did not acknowledge its address (ordinary-mode I2C transfers). */
#define STATUS_NO_DEVICE 2u
/** @brief Fewer bytes moved than asked, or an expected answer byte did not arrive. */
#define STATUS_IO_FAILURE 4u
/** @brief Out of memory, a length too large to handle, or more than 4096 bytes pending while
 *  the engine is synchronised. */
#define STATUS_NO_RESOURCES 5u
/** @brief A null pointer, or a value outside the range the operation documents. */
#define STATUS_BAD_PARAMETER 6u
/** @brief An I2C data byte was not acknowledged while #I2C_OPT_ABORT_ON_NACK was set. */
#define STATUS_WRITE_REFUSED 10u
/** @brief A ten-bit I2C address was requested; only 7-bit addresses are supported. */
#define STATUS_UNSUPPORTED 17u
/** @brief The engine did not answer its synchronisation, an SPI handle is not registered, the
 *  driver lacks the entry point needed, or a placeholder operation was called. */
#define STATUS_FAILURE 18u

/**
 * @brief The bus family a channel-layer call is made for.
 *
 * Only KV_InitChannel() acts on it (I2C channels get their idle line levels there); every other
 * channel-layer operation ignores it.
 */
typedef enum BusProtocol { PROTOCOL_SPI = 0, PROTOCOL_I2C = 1 } BusProtocol;

/**
 * @brief Stops the compilation of an application whose packing gives a record another size
 *        than the driver and libVELTA use (works in C89 and C++).
 */
#define KV_CHECK_RECORD_SIZE(record, size) typedef char kv_record_size_check_##record[(sizeof(record) == (size)) ? 1 : -1]
/** @var PROTOCOL_SPI
 *  @brief Called for an SPI channel. */
/** @var PROTOCOL_I2C
 *  @brief Called for an I2C channel. */

/** @brief Device type of a full-speed dual-channel bridge: the engine on channel 1 only,
 *  clock base always 30 MHz. */
#define KV_DEVICE_FULL_SPEED_DUAL 4u
/** @brief Device type of a high-speed dual-channel bridge: the engine on channels 1 and 2. */
#define KV_DEVICE_HIGH_SPEED_DUAL 6u
/** @brief Device type of a high-speed quad-channel bridge: the engine on channels 1 and 2. */
#define KV_DEVICE_HIGH_SPEED_QUAD 7u
/** @brief Device type of a high-speed single-channel bridge: the engine on its channel. */
#define KV_DEVICE_HIGH_SPEED_SINGLE 8u

/**
 * @brief One channel as the driver lists it.
 *
 * The driver fills these records, so the layout is fixed: 100 bytes in 32-bit builds, 104 in
 * 64-bit builds. SPI_GetChannelInfo(), I2C_GetChannelInfo() and KV_GetChannelInfo() copy one
 * into a record the caller owns.
 */
typedef struct DeviceListEntry_t {
    /** Flag word as the driver reports it; not read by libVELTA. */
    uint32_t StateFlags;
    /** Device-type code: #KV_DEVICE_FULL_SPEED_DUAL to #KV_DEVICE_HIGH_SPEED_SINGLE, or another. */
    uint32_t DeviceType;
    /** Identifier word as the driver reports it; not read by libVELTA. */
    uint32_t DeviceId;
    uint32_t Location; /**< low four bits: channel position in its device, 1 for the first */
    /** Serial number, NUL-terminated text. */
    char SerialText[16];
    /** Description, NUL-terminated text. */
    char DescriptionText[64];
    /** Handle slot as the driver reports it; not read by libVELTA. */
    KV_HANDLE OpenHandle;
} DeviceListEntry;
/** @cond */
KV_CHECK_RECORD_SIZE(DeviceListEntry, 96 + sizeof(KV_HANDLE)); /* 100 bytes in 32-bit builds, 104 in 64-bit */
/** @endcond */

/**
 * @brief Driver slot 0, `KV_GetLibraryVersion`: never called by libVELTA.
 * @param[out] version The driver's version word.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_GetLibraryVersion_t)(uint32_t *version);
/**
 * @brief Driver slot 1, `KV_CreateDeviceInfoList`: builds the device list.
 * @param[out] deviceCount Receives the number of channels listed.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_CreateDeviceInfoList_t)(uint32_t *deviceCount);
/**
 * @brief Driver slot 2, `KV_GetDeviceInfoList`: fills one record per listed channel, in list order.
 * @param[out] list Array of at least @p *deviceCount records.
 * @param[in,out] deviceCount The array's capacity in; the number of records filled out.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_GetDeviceInfoList_t)(DeviceListEntry *list, uint32_t *deviceCount);
/**
 * @brief Driver slot 3, `KV_Open`: opens a channel.
 * @param[in] position The channel's 0-based position in the device list.
 * @param[out] handle Receives the channel's handle.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_Open_t)(uint32_t position, KV_HANDLE *handle);
/**
 * @brief Driver slot 4, `KV_Close`: closes a channel.
 * @param[in] handle An open channel.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_Close_t)(KV_HANDLE handle);
/**
 * @brief Driver slot 5, `KV_ResetDevice`: resets the device.
 * @param[in] handle An open channel.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_ResetDevice_t)(KV_HANDLE handle);
/**
 * @brief Driver slot 6, `KV_Purge`: discards buffered bytes.
 * @param[in] handle An open channel.
 * @param[in] mask Bit 0 the receive buffer, bit 1 the transmit buffer (libVELTA passes 3).
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_Purge_t)(KV_HANDLE handle, uint32_t mask);
/**
 * @brief Driver slot 7, `KV_SetUSBParameters`: USB transfer sizes.
 * @param[in] handle An open channel.
 * @param[in] inSize Receive transfer size in bytes (libVELTA passes 65536).
 * @param[in] outSize Transmit transfer size in bytes (libVELTA passes 65536).
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_SetUSBParameters_t)(KV_HANDLE handle, uint32_t inSize, uint32_t outSize);
/**
 * @brief Driver slot 8, `KV_SetChars`: event and error characters (libVELTA passes all 0: none).
 * @param[in] handle An open channel.
 * @param[in] eventChar Event character.
 * @param[in] eventEnable Non-zero enables the event character.
 * @param[in] errorChar Error character.
 * @param[in] errorEnable Non-zero enables the error character.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_SetChars_t)(KV_HANDLE handle, uint8_t eventChar, uint8_t eventEnable,
                                   uint8_t errorChar, uint8_t errorEnable);
/**
 * @brief Driver slot 9, `KV_SetTimeouts`: read and write time-outs.
 * @param[in] handle An open channel.
 * @param[in] readMs Read time-out in milliseconds (libVELTA passes 5000).
 * @param[in] writeMs Write time-out in milliseconds (libVELTA passes 5000).
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_SetTimeouts_t)(KV_HANDLE handle, uint32_t readMs, uint32_t writeMs);
/**
 * @brief Driver slot 10, `KV_SetLatencyTimer`: receive latency timer.
 * @param[in] handle An open channel.
 * @param[in] latencyMs Latency in milliseconds, 0 to 255.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_SetLatencyTimer_t)(KV_HANDLE handle, uint8_t latencyMs);
/**
 * @brief Driver slot 11, `KV_SetBitMode`: switches the channel's mode.
 * @param[in] handle An open channel.
 * @param[in] pinMask Pin mask (libVELTA passes 0).
 * @param[in] mode 0 resets the bit mode; 2 switches the channel to the VELTA engine.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_SetBitMode_t)(KV_HANDLE handle, uint8_t pinMask, uint8_t mode);
/**
 * @brief Driver slot 12, `KV_GetQueueStatus`: bytes waiting to be read.
 * @param[in] handle An open channel.
 * @param[out] pending Receives the number of bytes waiting.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_GetQueueStatus_t)(KV_HANDLE handle, uint32_t *pending);
/**
 * @brief Driver slot 13, `KV_Read`: reads answer bytes; returns when @p count bytes arrived or
 *        the read time-out passed.
 * @param[in] handle An open channel.
 * @param[out] buffer At least @p count bytes.
 * @param[in] count Bytes asked for.
 * @param[out] countRead Receives the number of bytes delivered.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_Read_t)(KV_HANDLE handle, void *buffer, uint32_t count, uint32_t *countRead);
/**
 * @brief Driver slot 14, `KV_Write`: sends bytes to the engine, in order.
 * @param[in] handle An open channel.
 * @param[in] buffer @p count bytes.
 * @param[in] count Bytes to send.
 * @param[out] countWritten Receives the number of bytes sent.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_Write_t)(KV_HANDLE handle, void *buffer, uint32_t count, uint32_t *countWritten);
/**
 * @brief Driver slot 15, `KV_GetDeviceInfo`: describes an open channel's device.
 * @param[in] handle An open channel.
 * @param[out] deviceType Receives the device-type code.
 * @param[out] deviceId Receives the identifier word.
 * @param[out] serial Buffer for the serial text (libVELTA passes 300 bytes).
 * @param[out] description Buffer for the description (libVELTA passes 300 bytes).
 * @param reserved Null.
 * @return The driver's status.
 */
typedef KV_STATUS (*KV_GetDeviceInfo_t)(KV_HANDLE handle, uint32_t *deviceType, uint32_t *deviceId,
                                        char *serial, char *description, void *reserved);

#ifdef __cplusplus
}
#endif

#endif
