/* Writes 20 bytes into a 24-series EEPROM, reads them back with a random read, then scans the
 * bus for devices that acknowledge their address. On the simulated bridge's default board the
 * EEPROM (32 KiB, 64-byte pages, two address bytes) is at 0x50 on I2C index 2. */
#include <stdio.h>
#include <string.h>

#include "libVELTA.h"
#include "libVELTA_i2c.h"

enum { kChannel = 2, kEeprom = 0x50, kLength = 20, kMemoryAddress = 0x0120 };

/* Start, address for writing, stop: STATUS_SUCCESS when the device acknowledged. The buffer
 * must not be null even though no data byte is sent. */
static KV_STATUS probe(KV_HANDLE handle, uint32_t address) {
    uint8_t none = 0;
    uint32_t done = 0;
    return I2C_DeviceWrite(handle, address, 0, &none, &done, I2C_OPT_START | I2C_OPT_STOP);
}

/* Waits out the write cycle: the EEPROM does not acknowledge its address until it ends. */
static KV_STATUS waitForAcknowledge(KV_HANDLE handle) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        KV_STATUS status = probe(handle, kEeprom);
        if (status != STATUS_NO_DEVICE) return status;
    }
    return STATUS_NO_DEVICE;
}

static KV_STATUS writeEeprom(KV_HANDLE handle, const uint8_t *data) {
    uint8_t frame[2 + kLength] = {(uint8_t)(kMemoryAddress >> 8), (uint8_t)kMemoryAddress};
    memcpy(frame + 2, data, kLength);
    uint32_t done = 0;
    KV_STATUS status = I2C_DeviceWrite(handle, kEeprom, sizeof frame, frame, &done,
                                       I2C_OPT_START | I2C_OPT_STOP | I2C_OPT_ABORT_ON_NACK);
    return status == STATUS_SUCCESS ? waitForAcknowledge(handle) : status;
}

static KV_STATUS readEeprom(KV_HANDLE handle, uint8_t *data) {
    uint8_t address[2] = {(uint8_t)(kMemoryAddress >> 8), (uint8_t)kMemoryAddress};
    uint32_t done = 0;
    /* No stop after the address: the read follows with a repeated start. */
    KV_STATUS status = I2C_DeviceWrite(handle, kEeprom, sizeof address, address, &done, I2C_OPT_START);
    if (status == STATUS_SUCCESS)
        status = I2C_DeviceRead(handle, kEeprom, kLength, data, &done,
                                I2C_OPT_START | I2C_OPT_STOP | I2C_OPT_NACK_FINAL_BYTE);
    return status == STATUS_SUCCESS && done != kLength ? STATUS_IO_FAILURE : status;
}

static KV_STATUS scanBus(KV_HANDLE handle) {
    printf("devices:");
    for (uint32_t address = 0x08; address <= 0x77; ++address) {
        KV_STATUS status = probe(handle, address);
        if (status == STATUS_SUCCESS) printf(" 0x%02X", (unsigned)address);
        else if (status != STATUS_NO_DEVICE) return status;
    }
    printf("\n");
    return STATUS_SUCCESS;
}

static int fail(const char *what, KV_STATUS status) {
    fprintf(stderr, "i2c_eeprom: %s failed: %s\n", what, VELTA_StatusText(status));
    return 1;
}

int main(void) {
    uint8_t written[kLength], readBack[kLength];
    for (int i = 0; i < kLength; ++i) written[i] = (uint8_t)(0xA0 + i);

    KV_HANDLE handle = NULL;
    KV_STATUS status = I2C_OpenChannel(kChannel, &handle);
    if (status != STATUS_SUCCESS) return fail("opening I2C channel 2", status);
    I2CChannelConfig config = {100000, 2, 0}; /* 100 kHz, three-phase clocking */
    status = I2C_InitChannel(handle, &config);
    if (status == STATUS_SUCCESS) status = writeEeprom(handle, written);
    if (status == STATUS_SUCCESS) status = readEeprom(handle, readBack);
    if (status == STATUS_SUCCESS && memcmp(written, readBack, kLength) != 0) {
        fprintf(stderr, "i2c_eeprom: the bytes read back differ from those written\n");
        I2C_CloseChannel(handle);
        return 1;
    }
    if (status == STATUS_SUCCESS) {
        printf("wrote and read back %d bytes at 0x%04X\n", kLength, kMemoryAddress);
        status = scanBus(handle);
    }
    KV_STATUS closeStatus = I2C_CloseChannel(handle);
    if (status != STATUS_SUCCESS) return fail("the transfer", status);
    return closeStatus == STATUS_SUCCESS ? 0 : fail("closing the channel", closeStatus);
}
