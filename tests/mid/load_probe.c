/* Loads the libVELTA named on the command line in a process of its own. With "slots" it then
 * lists the empty driver slots and runs a few operations, printing their statuses; with
 * "texts" it prints the texts of a driver status and of one of libVELTA's own. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "korvin_infra.h"
#include "korvin_mid.h"

typedef KV_STATUS (*OpenChannel_t)(BusProtocol, uint32_t, KV_HANDLE *);
typedef KV_STATUS (*CloseChannel_t)(BusProtocol, KV_HANDLE);
typedef KV_STATUS (*InitChannel_t)(BusProtocol, KV_HANDLE, ...);
typedef KV_STATUS (*WriteGPIO_t)(KV_HANDLE, uint8_t, uint8_t);
typedef KV_STATUS (*ChannelWrite_t)(BusProtocol, KV_HANDLE, uint32_t, uint8_t *, uint32_t *);

static void printEmptySlots(const varFunctionPtrLst_t *table) {
    const unsigned char *bytes = (const unsigned char *)table;
    void (*slot)(void);
    printf("empty slots:");
    for (unsigned i = 0; i < sizeof *table / sizeof slot; ++i) {
        memcpy(&slot, bytes + i * sizeof slot, sizeof slot);
        if (slot == NULL) printf(" %u", i);
    }
    printf("\n");
}

static int runOperations(void *library) {
    const varFunctionPtrLst_t *table = (const varFunctionPtrLst_t *)dlsym(library, "varFunctionPtrLst");
    OpenChannel_t openChannel = (OpenChannel_t)dlsym(library, "KV_OpenChannel");
    CloseChannel_t closeChannel = (CloseChannel_t)dlsym(library, "KV_CloseChannel");
    InitChannel_t initChannel = (InitChannel_t)dlsym(library, "KV_InitChannel");
    WriteGPIO_t writeGpio = (WriteGPIO_t)dlsym(library, "KV_WriteGPIO");
    ChannelWrite_t channelWrite = (ChannelWrite_t)dlsym(library, "KV_Channel_Write");
    if (!table || !openChannel || !closeChannel || !initChannel || !writeGpio || !channelWrite) return 3;
    printEmptySlots(table);
    KV_HANDLE handle = NULL;
    printf("KV_OpenChannel %u\n", (unsigned)openChannel(PROTOCOL_SPI, 1, &handle));
    printf("KV_WriteGPIO %u\n", (unsigned)writeGpio(handle, 0xFF, 0x0F));
    uint8_t bytes[] = {0x80, 0x00, 0x0B};
    uint32_t done = 0;
    printf("KV_Channel_Write %u\n", (unsigned)channelWrite(PROTOCOL_SPI, handle, sizeof bytes, bytes, &done));
    printf("KV_InitChannel %u\n", (unsigned)initChannel(PROTOCOL_SPI, handle, 1000000u, 16u, 0u));
    printf("KV_CloseChannel %u\n", (unsigned)closeChannel(PROTOCOL_SPI, handle));
    return 0;
}

typedef const char *(*StatusText_t)(KV_STATUS);

static int printStatusTexts(void *library) {
    StatusText_t statusText = (StatusText_t)dlsym(library, "VELTA_StatusText");
    if (!statusText) return 3;
    printf("101: %s\n4: %s\n", statusText(101u), statusText(STATUS_IO_FAILURE));
    return 0;
}

static int runMode(void *library, const char *mode) {
    if (strcmp(mode, "slots") == 0) return runOperations(library);
    if (strcmp(mode, "texts") == 0) return printStatusTexts(library);
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        printf("cannot load %s: %s\n", argv[1], dlerror());
        return 2;
    }
    printf("loaded\n");
    int result = argc > 2 ? runMode(library, argv[2]) : 0;
    dlclose(library);
    return result;
}
