/* A process that uses the simulated bridge the way an application does, for the tests of the
 * state file and of traces named by the environment. Channel 0 carries an SPI memory named
 * "mem" on chip select 3 (mode 0, active low).
 *
 *   program HEX close|unload|abandon  page-programs HEX at address 0 through the engine, then
 *                                     closes the channel, or leaves it open and exits normally,
 *                                     or leaves it open and ends without any exit handler
 *   dump COUNT                        prints the first COUNT bytes of the memory in hex
 *   hold MARKER RELEASE               loads the configuration, creates MARKER, waits for RELEASE
 *                                     to exist (two minutes at most), then exits normally
 *   hammer BYTE ROUNDS                fills the memory with BYTE + round and saves, ROUNDS times
 *   trace                             opens channels 0 and 1 and shifts one byte out on each
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "kvsim.h"

KV_STATUS KV_Open(uint32_t position, KV_HANDLE *handle);
KV_STATUS KV_Close(KV_HANDLE handle);
KV_STATUS KV_SetBitMode(KV_HANDLE handle, uint8_t pinMask, uint8_t mode);
KV_STATUS KV_Write(KV_HANDLE handle, void *buffer, uint32_t count, uint32_t *countWritten);

enum { kMaxData = 256, kCsHigh = 0x08, kCsLow = 0x00, kPinDirections = 0x0B };

static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

static int writeAll(KV_HANDLE handle, uint8_t *bytes, uint32_t count) {
    uint32_t done = 0;
    return KV_Write(handle, bytes, count, &done) == 0 && done == count ? 0 : -1;
}

/* Chip select low, the bytes out on the falling edge (mode 0), chip select high. */
static int frame(KV_HANDLE handle, const uint8_t *data, uint32_t count) {
    uint8_t stream[6 + 3 + kMaxData + 4];
    uint32_t n = 0;
    stream[n++] = 0x80, stream[n++] = kCsLow, stream[n++] = kPinDirections;
    stream[n++] = 0x11, stream[n++] = (uint8_t)((count - 1) & 0xFF), stream[n++] = (uint8_t)((count - 1) >> 8);
    memcpy(stream + n, data, count);
    n += count;
    stream[n++] = 0x80, stream[n++] = kCsHigh, stream[n++] = kPinDirections;
    return writeAll(handle, stream, n);
}

static int openEngine(uint32_t position, KV_HANDLE *handle) {
    uint8_t idle[] = {0x80, kCsHigh, kPinDirections};
    if (KV_Open(position, handle) != 0 || KV_SetBitMode(*handle, 0, 2) != 0) return -1;
    return writeAll(*handle, idle, sizeof idle);
}

static int program(const char *hex, const char *finish) {
    uint8_t command[3 + kMaxData] = {0x02, 0x00, 0x00};
    size_t length = strlen(hex) / 2;
    if (length == 0 || length > kMaxData) return 2;
    for (size_t i = 0; i < length; ++i) {
        int high = hexValue(hex[2 * i]), low = hexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) return 2;
        command[3 + i] = (uint8_t)(high << 4 | low);
    }
    KV_HANDLE handle = NULL;
    uint8_t writeEnable = 0x06;
    if (openEngine(0, &handle) != 0 || frame(handle, &writeEnable, 1) != 0 ||
        frame(handle, command, (uint32_t)(3 + length)) != 0)
        return 1;
    fflush(stdout);
    if (strcmp(finish, "close") == 0) {
        if (KV_Close(handle) != 0) return 1;
        _exit(0);
    }
    if (strcmp(finish, "abandon") == 0) _exit(0);
    return 0;
}

static int dump(size_t count) {
    uint8_t memory[kMaxData];
    size_t length = 0;
    if (count > kMaxData || kvsim_device_get(0, "mem", "memory", memory, sizeof memory, &length) != 0 ||
        length < count)
        return 1;
    for (size_t i = 0; i < count; ++i) printf("%02x", memory[i]);
    printf("\n");
    return 0;
}

static int hold(const char *marker, const char *release) {
    if (kvsim_channel_count() == 0) return 1;
    FILE *created = fopen(marker, "w");
    if (!created) return 1;
    fclose(created);
    for (int polls = 0; access(release, F_OK) != 0; ++polls) {
        if (polls == 120000) return 1; /* the test went away */
        usleep(1000);
    }
    return 0;
}

static int hammer(unsigned byte, unsigned rounds) {
    size_t length = 0;
    if (kvsim_device_get(0, "mem", "memory", NULL, 0, &length) != 0 || length == 0) return 1;
    uint8_t *memory = malloc(length);
    if (!memory) return 1;
    int result = 0;
    for (unsigned round = 0; round < rounds && result == 0; ++round) {
        memset(memory, (int)((byte + round) & 0xFF), length);
        if (kvsim_device_put(0, "mem", "memory", memory, length) != 0 || kvsim_save_state() != 0) result = 1;
    }
    free(memory);
    return result;
}

static int trace(void) {
    uint8_t byte[] = {0x10, 0x00, 0x00, 0xA5};
    for (uint32_t position = 0; position < 2; ++position) {
        KV_HANDLE handle = NULL;
        if (openEngine(position, &handle) != 0 || writeAll(handle, byte, sizeof byte) != 0 || KV_Close(handle) != 0)
            return 1;
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 4 && strcmp(argv[1], "program") == 0) return program(argv[2], argv[3]);
    if (argc == 3 && strcmp(argv[1], "dump") == 0) return dump((size_t)strtoul(argv[2], NULL, 10));
    if (argc == 4 && strcmp(argv[1], "hold") == 0) return hold(argv[2], argv[3]);
    if (argc == 4 && strcmp(argv[1], "hammer") == 0)
        return hammer((unsigned)strtoul(argv[2], NULL, 0), (unsigned)strtoul(argv[3], NULL, 10));
    if (argc == 2 && strcmp(argv[1], "trace") == 0) return trace();
    return 2;
}
