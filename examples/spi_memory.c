/* Writes 300 bytes into a 25-series serial memory and reads them back: write enable, page
 * program split at page boundaries, status polling until each write cycle ends, one read.
 * On the simulated bridge's default board the memory is on SPI index 1, chip select 3.
 *
 * Each step is one SPI_Transfer() call: an array of transfers, each with bytes to send (or
 * none: a fill byte goes out), room for the bytes that come back (or none), and whether
 * chip-select is released after it. Chip-select is asserted at the start of the call. */
#include <stdio.h>
#include <string.h>

#include "libVELTA.h"
#include "libVELTA_spi.h"

enum { kChannel = 1, kPageSize = 256, kLength = 300, kStartAddress = 0x0180 };
enum { kWriteEnable = 0x06, kPageProgram = 0x02, kReadStatus = 0x05, kRead = 0x03 };

static KV_STATUS waitWhileWriting(KV_HANDLE handle) {
    static const uint8_t command = kReadStatus;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        uint8_t statusByte = 0;
        SPITransfer poll[] = {{&command, NULL, 1, 0, 0, 0}, {NULL, &statusByte, 1, 0, 1, 0}};
        KV_STATUS status = SPI_Transfer(handle, poll, 2);
        if (status != STATUS_SUCCESS) return status;
        if ((statusByte & 0x01) == 0) return STATUS_SUCCESS;
    }
    return STATUS_FAILURE;
}

/* Programs bytes that lie within one page: write enable in a frame of its own, then the page
 * program command, its address and the data in the next frame. */
static KV_STATUS programPage(KV_HANDLE handle, uint32_t address, const uint8_t *data, uint32_t count) {
    static const uint8_t enable = kWriteEnable;
    const uint8_t command[3] = {kPageProgram, (uint8_t)(address >> 8), (uint8_t)address};
    SPITransfer program[] = {{&enable, NULL, 1, 0, 1, 0}, {command, NULL, 3, 0, 0, 0}, {data, NULL, count, 0, 1, 0}};
    KV_STATUS status = SPI_Transfer(handle, program, 3);
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
    const uint8_t command[3] = {kRead, (uint8_t)(address >> 8), (uint8_t)address};
    SPITransfer read[] = {{command, NULL, 3, 0, 0, 0}, {NULL, data, count, 0, 1, 0}};
    return SPI_Transfer(handle, read, 2);
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
