/* Writes 20 bytes into a 24-series EEPROM, reads them back with a random read, then scans the
 * bus for devices that acknowledge their address. On the simulated bridge's default board the
 * EEPROM (32 KiB, 64-byte pages, two address bytes) is at 0x50 on I2C index 2.
 *
 * Each transaction is one I2C_Transfer() call: an array of messages, each with an address, a
 * direction, a length and a buffer. The library adds the start, repeated start and stop
 * conditions, checks every acknowledge, and does not acknowledge the last byte read. */
#include <stdio.h>
#include <string.h>

#include "libVELTA.h"
#include "libVELTA_i2c.h"

enum { kChannel = 2, kEeprom = 0x50, kLength = 20, kMemoryAddress = 0x0120 };

static uint8_t memoryAddress[2] = {(uint8_t)(kMemoryAddress >> 8), (uint8_t)kMemoryAddress};

/* The address alone, no data: STATUS_SUCCESS when a device acknowledged it. */
static KV_STATUS probe(KV_HANDLE handle, uint16_t address) {
    I2CMessage message = {address, 0, 0, NULL};
    return I2C_Transfer(handle, &message, 1, NULL);
}

/* The memory address, then the data continuing the same write (I2C_MSG_NO_START). */
static KV_STATUS writeEeprom(KV_HANDLE handle, uint8_t *data) {
    I2CMessage write[] = {{kEeprom, 0, sizeof memoryAddress, memoryAddress},
                          {kEeprom, I2C_MSG_NO_START, kLength, data}};
    I2CTransferFault fault;
    KV_STATUS status = I2C_Transfer(handle, write, 2, &fault);
    if (status == STATUS_WRITE_REFUSED)
        fprintf(stderr, "i2c_eeprom: message %u, byte %u refused\n", (unsigned)fault.message, (unsigned)fault.byte);
    if (status != STATUS_SUCCESS) return status;
    /* The write cycle: the EEPROM does not acknowledge its address until it ends. */
    for (int attempt = 0; attempt < 100; ++attempt) {
        status = probe(handle, kEeprom);
        if (status != STATUS_NO_DEVICE) return status;
    }
    return STATUS_NO_DEVICE;
}

/* The memory address written, then a repeated start and the read. */
static KV_STATUS readEeprom(KV_HANDLE handle, uint8_t *data) {
    I2CMessage randomRead[] = {{kEeprom, 0, sizeof memoryAddress, memoryAddress},
                               {kEeprom, I2C_MSG_READ, kLength, data}};
    return I2C_Transfer(handle, randomRead, 2, NULL);
}

static KV_STATUS scanBus(KV_HANDLE handle) {
    printf("devices:");
    for (uint16_t address = 0x08; address <= 0x77; ++address) {
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
