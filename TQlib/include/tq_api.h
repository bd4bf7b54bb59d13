/**
 * @file tq_api.h
 * @brief TQlib: access to a Torqa magnetic angle sensor over a libVELTA SPI channel. Plain C.
 *
 * Every entry point returns 0 on success and non-zero when anything under it failed:
 * #STATUS_BAD_PARAMETER (6) for a null pointer argument, refused before anything is sent or
 * printed; -1 when TQlib refuses the request itself (a null handle, a register number out of
 * range, a wrong key, a channel that does not exist, an output that could not be written,
 * memory it could not get); otherwise the libVELTA status that failed (VELTA_StatusText()
 * describes it). Buffers a failing call could not fill are left as they were. No entry point
 * ends the process or lets an exception out.
 *
 * **Channels count from 1 here**, as in the channel layer (TQlib passes channel - 1 to the
 * SPI family). The sensor sits on chip-select pin 3, active low; every exchange is one
 * chip-select frame (protocol: docs/torqa-protocol.md).
 */
#ifndef TQ_API_H
#define TQ_API_H

#include <stdint.h>
#include <stdio.h>

#include "libVELTA_spi.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
/** @brief Marks a declaration as part of TQlib's exported interface. */
#define TQ_API __attribute__((visibility("default")))
#else
#define TQ_API
#endif

/** @brief Number of sensor registers, 0 to 9. */
#define TQ_REG_COUNT 10
/** @brief Bytes per sample: angle high, angle low, status. */
#define TQ_SAMPLE_BYTES 3
/** @brief The largest piece of a burst that the tools read with one TQ_ReadData(). */
#define TQ_PIECE_BYTES 7500
/** @brief Key that permits programming the one-time-programmable register 9. */
#define TQ_OTP_KEY 0x7A3C

/** @brief Connection record of the tools. */
typedef struct GenParam_t {
    /** Channel number **from 1**. */
    uint32_t channel;
    /** 0: TQ_Open() lists the channels first. */
    int muted;    /* 0: TQ_Open lists the channels first */
    /** SPI mode, 0 to 3 (the sensor answers in 0 and 3). */
    int spimode;  /* 0..3 */
    /** SPI clock in Hz. */
    int baudrate; /* SPI clock in Hz */
} GEN_PARAM;

/** @brief tqreg's register selection, one entry per register. */
typedef struct RegParam_t {
    /** 1: the register is to be written. */
    uint8_t reg2write[TQ_REG_COUNT];
    /** The bits of the register the write sets. */
    uint8_t reg2write_msk[TQ_REG_COUNT];
    /** 1: the register is to be read and printed. */
    uint8_t reg2read[TQ_REG_COUNT];
    /** The bits of the register the read names. */
    uint8_t reg2read_msk[TQ_REG_COUNT];
    /** 1: the whole register was named, not a field. */
    uint8_t reg2read_block[TQ_REG_COUNT];
} REG_PARAM;

/** @brief tqreg's register values. */
typedef struct RegVal_t {
    /** Value of each register, 0 to 9. */
    uint8_t regval[TQ_REG_COUNT];
} REG_VAL;

/** @brief Output radix: binary digits, no prefix. */
#define TQ_RADIX_BIN 0
/** @brief Output radix: decimal. */
#define TQ_RADIX_DEC 1
/** @brief Output radix: hexadecimal digits, no prefix. */
#define TQ_RADIX_HEX 2
/** @brief Output radix: binary with "0b". Any code outside 0 to 4 prints as #TQ_RADIX_HEX_PREFIX. */
#define TQ_RADIX_BIN_PREFIX 3
/** @brief Output radix: hexadecimal with "0x". */
#define TQ_RADIX_HEX_PREFIX 4

/** @brief Output format: aligned text with a header line. Any code other than 1 and 2 prints as text. */
#define TQ_FORMAT_TEXT 0
/** @brief Output format: comma-separated values with a header line. */
#define TQ_FORMAT_CSV 1
/** @brief Output format: one bare value per line. */
#define TQ_FORMAT_PLAIN 2

/**
 * @brief Finds a channel on which a Torqa sensor answers.
 *
 * Probes @p param->channel first, if it exists, then every channel in order: each is opened at
 * 1 MHz, asked to identify itself in SPI mode 0 and, failing that, in mode 3, and closed again.
 * @param[in,out] param On success `channel` names the sensor's channel (from 1) and, if the
 *                sensor answers in mode 3 only, `spimode` becomes 3; nothing else changes.
 * @return 0 when a sensor answered; 1 when none did (@p param unchanged);
 *         #STATUS_BAD_PARAMETER when @p param is null.
 */
TQ_API int TQ_AutoChannel(GEN_PARAM *param);
/**
 * @brief Opens and initialises the sensor's channel (chip-select pin 3 active low, released
 *        at open and close; latency timer 2 ms) and identifies the sensor on it.
 *
 * With @p muted 0 it first prints the channel list on standard output ("SPI channels
 * found: N" and a line per channel). A channel, mode or rate it cannot use gets one line on
 * standard error. If initialising fails, the channel is closed again. The channel is kept
 * only when a Torqa sensor answers the identify frame in @p spimode; otherwise it is closed
 * and "TQlib: no Torqa sensor answers on channel I in SPI mode M (status S)" goes to standard
 * error.
 * @param[out] handle Set to null first, then, on success only, to the channel's handle for
 *             every later call; close it with TQ_Close().
 * @param[in] channel Channel number **from 1**.
 * @param[in] muted 0 lists the channels first; other values do not.
 * @param[in] spimode SPI mode, 0 to 3.
 * @param[in] baudrate SPI clock in Hz, as SPI_InitChannel() accepts it.
 * @param[out] channelConf A caller-owned record, not null, that receives the configuration
 *             used, as SPI_InitChannel() left it; its contents on entry are not read.
 * @return 0 when open and the sensor answered; #STATUS_BAD_PARAMETER for a null @p handle or
 *         @p channelConf (nothing printed, nothing opened); -1 for a channel that does not
 *         exist or a mode outside 0 to 3; otherwise the libVELTA status that failed, or that
 *         of the identify frame (#STATUS_NO_DEVICE when something other than a Torqa sensor
 *         answered, as with no sensor or in SPI mode 1 or 2).
 */
TQ_API int TQ_Open(KV_HANDLE *handle, uint32_t channel, int muted, int spimode, int baudrate,
                   ChannelConfig *channelConf);
/**
 * @brief Closes the sensor's channel (SPI_CloseChannel()); the handle is invalid afterwards.
 * @param[in] handle A handle from TQ_Open().
 * @return 0 when closed; -1 for a null handle; otherwise the libVELTA status.
 */
TQ_API int TQ_Close(KV_HANDLE handle);
/**
 * @brief Writes TQlib's version, a NUL-terminated text of at most 29 characters.
 * @param[out] version A buffer of at least 30 bytes.
 * @return 0; #STATUS_BAD_PARAMETER when @p version is null.
 */
TQ_API int TQ_LibVer(char *version); /* 30-byte buffer */
/**
 * @brief Reads a register: one frame that returns the value and its complement.
 * @param[in] handle A handle from TQ_Open().
 * @param[in] reg Register number, 0 to 9.
 * @param[out] value Receives the value; written only when the value and its complement match.
 * @return 0 when read; #STATUS_BAD_PARAMETER for a null @p value; -1 for a null handle or a
 *         register out of range; otherwise the libVELTA status that failed
 *         (#STATUS_IO_FAILURE when the complement did not match, as with no sensor or in SPI
 *         mode 1 or 2). @p value is unchanged whenever the result is not 0.
 */
TQ_API int TQ_ReadReg(KV_HANDLE handle, int reg, uint8_t *value);
/**
 * @brief Writes a register. Registers 0 to 8 take any key. Register 9 is one-time
 *        programmable: it takes only #TQ_OTP_KEY, its bits can only be set (the value's bits
 *        are added to those programmed), and the result is read back.
 *
 * The sensor takes a write when chip-select is released; registers 0 to 8 are not read back
 * (read them with TQ_ReadReg() to verify).
 * @param[in] handle A handle from TQ_Open().
 * @param[in] reg Register number, 0 to 9.
 * @param[in] value The 8-bit value (for register 9: the bits to program).
 * @param[in] key The key; ignored for registers 0 to 8.
 * @return 0 when written; -1 for a null handle, a register out of range or a wrong key for
 *         register 9; #STATUS_WRITE_REFUSED when register 9's bits did not all read back set;
 *         otherwise the libVELTA status that failed.
 */
TQ_API int TQ_WriteReg_Restricted(KV_HANDLE handle, int reg, uint8_t value, int key);
/**
 * @brief Prints a register and its named fields on standard output, one line, for example
 *        "Register 5: 0x25  ZL=0x5 ETX=0x0 ETY=0x1 BIX=0x0 BIY=0x0" in radix 4.
 * @param[in] value The register's value.
 * @param[in] reg Register number, 0 to 9.
 * @param[in] radix Radix code, #TQ_RADIX_BIN to #TQ_RADIX_HEX_PREFIX.
 * @return 0 when printed; -1 for a register out of range or when standard output could not be
 *         written.
 */
TQ_API int TQ_RegPrint(uint8_t value, int reg, int radix);
/**
 * @brief Reads bytes of the sensor's sample stream (three bytes a sample) in one chip-select
 *        frame, moved in transfers of up to 65,536 bytes.
 *
 * On failure the channel is purged and chip-select released, so the next frame starts clean.
 * @param[in] handle A handle from TQ_Open().
 * @param[out] destination Room for @p byteCount bytes; may be null when @p byteCount is 0.
 * @param[in] byteCount Bytes to read, 0 or more (0 sends nothing).
 * @return 0 when all bytes arrived; #STATUS_BAD_PARAMETER for a null @p destination with a
 *         non-zero count; -1 for a null handle, a negative count or no memory for the frame;
 *         otherwise the libVELTA status that failed (#STATUS_IO_FAILURE for a short read).
 *         @p destination is unchanged whenever the result is not 0.
 */
TQ_API int KORVIN_ReadStream(KV_HANDLE handle, uint8_t *destination, int byteCount);
/**
 * @brief Reads the last piece of a burst; the same as KORVIN_ReadStream().
 * @param[in] handle A handle from TQ_Open().
 * @param[out] destination Room for @p byteCount bytes.
 * @param[in] byteCount Bytes to read; the tools pass 0 to #TQ_PIECE_BYTES.
 * @return As KORVIN_ReadStream().
 */
TQ_API int TQ_ReadData(KV_HANDLE handle, uint8_t *destination, int byteCount);
/**
 * @brief Prints samples, one per line, in a format and radix: sample number, angle, degrees,
 *        status and flags (text); the same without flags (CSV); or the 24-bit sample word
 *        (plain).
 * @param[in] stream An open output stream; flushed before returning.
 * @param[in] samples The sample buffer, three bytes a sample; holds at least
 *            (@p first + @p sampleCount) × 3 bytes. Only read.
 * @param[in] first Index of the first sample to print (0 for a whole burst); numbers count from it.
 * @param[in] sampleCount Samples to print, 0 or more.
 * @param[in] format #TQ_FORMAT_TEXT, #TQ_FORMAT_CSV or #TQ_FORMAT_PLAIN.
 * @param[in] radix Radix code for the angle and status, #TQ_RADIX_BIN to #TQ_RADIX_HEX_PREFIX.
 * @return 0 when printed; #STATUS_BAD_PARAMETER for a null stream or a null buffer with samples
 *         to print; -1 for a negative @p first or @p sampleCount, or when the stream could not
 *         be written (also at its flush).
 */
TQ_API int TQ_PrintData(FILE *stream, const uint8_t *samples, int first, int sampleCount, int format,
                        int radix);
/**
 * @brief Prints a report on samples: count, minimum, maximum and mean angle, noise (standard
 *        deviation and peak to peak about the best straight line through the unwrapped
 *        angles), flagged samples and parity errors.
 * @param[in] stream An open output stream; flushed before returning.
 * @param[in] samples As for TQ_PrintData().
 * @param[in] first Index of the first sample the report covers.
 * @param[in] sampleCount Samples the report covers, 0 or more.
 * @param[in] format #TQ_FORMAT_TEXT, #TQ_FORMAT_CSV or #TQ_FORMAT_PLAIN.
 * @param[in] radix Radix code for the angles in text format.
 * @return As TQ_PrintData().
 */
TQ_API int TQ_PrintError(FILE *stream, const uint8_t *samples, int first, int sampleCount, int format,
                         int radix);
/**
 * @brief Sends a command word to the sensor: one frame 0xE0, word high byte, word low byte.
 * @param[in] handle A handle from TQ_Open().
 * @param[in] command The word; only its low 16 bits are sent.
 * @return 0 when sent; -1 for a null handle; otherwise the libVELTA status that failed.
 */
TQ_API int TQ_Cmd(KV_HANDLE handle, int command);
/**
 * @brief Sends bytes to the sensor, in order, in one chip-select frame, moved in transfers of
 *        up to 65,536 bytes.
 * @param[in] handle A handle from TQ_Open().
 * @param[in] source @p byteCount bytes; only read; may be null when @p byteCount is 0.
 * @param[in] byteCount Bytes to send, 0 or more (0 sends nothing).
 * @return 0 when all were sent; #STATUS_BAD_PARAMETER for a null @p source with a non-zero
 *         count; -1 for a null handle or a negative count; otherwise the libVELTA status that
 *         failed (#STATUS_IO_FAILURE for a short write).
 */
TQ_API int KORVIN_WriteStream(KV_HANDLE handle, const uint8_t *source, int byteCount);

#ifdef __cplusplus
}
#endif

#endif
