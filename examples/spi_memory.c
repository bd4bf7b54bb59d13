/* Writes 300 bytes into a 25-series serial memory and reads them back: write enable, page
 * program split at page boundaries, status polling until each write cycle ends, one read.
 * On the simulated bridge's default board the memory is on SPI index 1, chip select 3. */
#include <stdio.h>
#include <string.h>

#include "libVELTA.h"
#include "libVELTA_spi.h"

enum { kChannel = 1, kPageSize = 256, kLength = 300, kStartAddress = 0x0180 };
enum { kWriteEnable = 0x06, kPageProgram = 0x02, kReadStatus = 0x05, kRead = 0x03 };

static const uint32_t kWholeFrame = SPI_XFER_CS_ASSERT_AT_START | SPI_XFER_CS_RELEASE_AT_END;

static KV_STATUS send(KV_HANDLE handle, uint8_t *bytes, uint32_t count, uint32_t options) {
    uint32_t done = 0;
    KV_STATUS status = SPI_Write(handle, bytes, count, &done, options);
    return status == STATUS_SUCCESS && done != count ? STATUS_IO_FAILURE : status;
}

static KV_STATUS waitWhileWriting(KV_HANDLE handle) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        uint8_t command = kReadStatus, statusByte = 0;
        uint32_t done = 0;
        KV_STATUS status = send(handle, &command, 1, SPI_XFER_CS_ASSERT_AT_START);
        if (status == STATUS_SUCCESS) status = SPI_Read(handle, &statusByte, 1, &done, SPI_XFER_CS_RELEASE_AT_END);
        if (status != STATUS_SUCCESS) return status;
        if ((statusByte & 0x01) == 0) return STATUS_SUCCESS;
    }
    return STATUS_FAILURE;
}

/* Programs bytes that lie within one page. */
static KV_STATUS programPage(KV_HANDLE handle, uint32_t address, const uint8_t *data, uint32_t count) {
    uint8_t enable = kWriteEnable;
    uint8_t frame[3 + kPageSize];
    frame[0] = kPageProgram;
    frame[1] = (uint8_t)(address >> 8);
    frame[2] = (uint8_t)address;
    memcpy(frame + 3, data, count);
    KV_STATUS status = send(handle, &enable, 1, kWholeFrame);
    if (status == STATUS_SUCCESS) status = send(handle, frame, 3 + count, kWholeFrame);
    return status == STATUS_SUCCESS ? waitWhileWriting(handle) : status;
}

static KV_STATUS writeMemory(KV_HANDLE handle, uint32_t address, const uint8_t *data, uint32_t count) {
    while (count > 0) {
        uint32_t piece = kPageSize - address % kPageSize;
        if (piece > count) piece = count;
        KV_STATUS status = programPage(handle, address, data, piece);
        if (status != STATUS_SUCCESS) return status;
        address += piece;
        data += piece;
        count -= piece;
    }
    return STATUS_SUCCESS;
}

static KV_STATUS readMemory(KV_HANDLE handle, uint32_t address, uint8_t *data, uint32_t count) {
    uint8_t command[3] = {kRead, (uint8_t)(address >> 8), (uint8_t)address};
    uint32_t done = 0;
    KV_STATUS status = send(handle, command, sizeof command, SPI_XFER_CS_ASSERT_AT_START);
    if (status == STATUS_SUCCESS) status = SPI_Read(handle, data, count, &done, SPI_XFER_CS_RELEASE_AT_END);
    return status == STATUS_SUCCESS && done != count ? STATUS_IO_FAILURE : status;
}

static int fail(const char *what, KV_STATUS status) {
    fprintf(stderr, "spi_memory: %s failed: %s\n", what, VELTA_StatusText(status));
    return 1;
}

int main(void) {
    uint8_t written[kLength], readBack[kLength];
    for (int i = 0; i < kLength; ++i) written[i] = (uint8_t)(i * 7 + 3);

    KV_HANDLE handle = NULL;
    KV_STATUS status = SPI_OpenChannel(kChannel, &handle);
    if (status != STATUS_SUCCESS) return fail("opening SPI channel 1", status);
    ChannelConfig config = {0};
    config.ClockRate = 1000000;
    config.LatencyTimer = 2;
    config.configOptions = SPI_CFG_CS_ACTIVE_LOW; /* mode 0, chip select on pin 3 */
    status = SPI_InitChannel(handle, &config);
    if (status == STATUS_SUCCESS) status = writeMemory(handle, kStartAddress, written, kLength);
    if (status == STATUS_SUCCESS) status = readMemory(handle, kStartAddress, readBack, kLength);
    KV_STATUS closeStatus = SPI_CloseChannel(handle);
    if (status != STATUS_SUCCESS) return fail("the transfer", status);
    if (closeStatus != STATUS_SUCCESS) return fail("closing the channel", closeStatus);
    if (memcmp(written, readBack, kLength) != 0) {
        fprintf(stderr, "spi_memory: the bytes read back differ from those written\n");
        return 1;
    }
    printf("wrote and read back %d bytes at 0x%04X\n", kLength, kStartAddress);
    return 0;
}
