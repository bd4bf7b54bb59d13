/* TQlib: access to a Torqa magnetic angle sensor over a libVELTA SPI channel. Plain C.
 * Every entry point returning int gives 0 on success and non-zero on failure. */
#ifndef TQ_API_H
#define TQ_API_H

#include <stdint.h>
#include <stdio.h>

#include "libVELTA_spi.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TQ_API __attribute__((visibility("default")))
#else
#define TQ_API
#endif

#define TQ_REG_COUNT 10
#define TQ_SAMPLE_BYTES 3
#define TQ_PIECE_BYTES 7500
/* Key that permits programming the one-time-programmable register 9. */
#define TQ_OTP_KEY 0x7A3C

/* Connection record of the tools. Channels count from 1. */
typedef struct GenParam_t {
    uint32_t channel;
    int muted;    /* 0: TQ_Open lists the channels first */
    int spimode;  /* 0..3 */
    int baudrate; /* SPI clock in Hz */
} GEN_PARAM;

typedef struct RegParam_t {
    uint8_t reg2write[TQ_REG_COUNT];
    uint8_t reg2write_msk[TQ_REG_COUNT];
    uint8_t reg2read[TQ_REG_COUNT];
    uint8_t reg2read_msk[TQ_REG_COUNT];
    uint8_t reg2read_block[TQ_REG_COUNT];
} REG_PARAM;

typedef struct RegVal_t {
    uint8_t regval[TQ_REG_COUNT];
} REG_VAL;

/* Output radix codes */
#define TQ_RADIX_BIN 0
#define TQ_RADIX_DEC 1
#define TQ_RADIX_HEX 2
#define TQ_RADIX_BIN_PREFIX 3
#define TQ_RADIX_HEX_PREFIX 4

/* Output format codes */
#define TQ_FORMAT_TEXT 0
#define TQ_FORMAT_CSV 1
#define TQ_FORMAT_PLAIN 2

TQ_API int TQ_AutoChannel(GEN_PARAM *param);
TQ_API int TQ_Open(KV_HANDLE *handle, uint32_t channel, int muted, int spimode, int baudrate,
                   ChannelConfig *channelConf);
TQ_API int TQ_Close(KV_HANDLE handle);
TQ_API int TQ_LibVer(char *version); /* 30-byte buffer */
TQ_API int TQ_ReadReg(KV_HANDLE handle, int reg, uint8_t *value);
TQ_API int TQ_WriteReg_Restricted(KV_HANDLE handle, int reg, uint8_t value, int key);
TQ_API int TQ_RegPrint(uint8_t value, int reg, int radix);
TQ_API int KORVIN_ReadStream(KV_HANDLE handle, uint8_t *destination, int byteCount);
TQ_API int TQ_ReadData(KV_HANDLE handle, uint8_t *destination, int byteCount);
TQ_API int TQ_PrintData(FILE *stream, const uint8_t *samples, int first, int sampleCount, int format,
                        int radix);
TQ_API int TQ_PrintError(FILE *stream, const uint8_t *samples, int first, int sampleCount, int format,
                         int radix);
TQ_API int TQ_Cmd(KV_HANDLE handle, int command);
TQ_API int KORVIN_WriteStream(KV_HANDLE handle, const uint8_t *source, int byteCount);

#ifdef __cplusplus
}
#endif

#endif
