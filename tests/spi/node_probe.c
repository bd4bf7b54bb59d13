/* Loads the libVELTA named on the command line and watches its configuration-list nodes, which
 * are the only memory it takes with calloc:
 *   node_probe LIB refuse  - SPI_OpenChannel with every calloc refused;
 *   node_probe LIB unload  - two channels opened and never closed, then the library unloaded;
 *                            prints how many nodes were left unfreed.
 * Under AddressSanitizer calloc cannot be replaced, and the probe prints "skip". */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include "kvsim.h"
#include "libVELTA_spi.h"

#if defined(__SANITIZE_ADDRESS__)
#define PROBE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PROBE_SANITIZED 1
#endif
#endif

#ifndef PROBE_SANITIZED
static const char *kConfig =
    "{\"wall_clock\": false, \"bridges\": [{\"type\": 6, \"channels\": [{\"bus\": \"spi\"}, {\"bus\": \"spi\"}]}]}";

extern void *__libc_calloc(size_t count, size_t size);
extern void __libc_free(void *pointer);

enum { kWatchMax = 16 };
static int refuse, watch;
static void *watched[kWatchMax];

/* Exported, so they stand in for the C library's in libVELTA too. */
__attribute__((visibility("default"))) void *calloc(size_t count, size_t size) {
    if (refuse) return NULL;
    void *pointer = __libc_calloc(count, size);
    for (int i = 0; watch && pointer && i < kWatchMax; ++i)
        if (!watched[i]) {
            watched[i] = pointer;
            break;
        }
    return pointer;
}

__attribute__((visibility("default"))) void free(void *pointer) {
    for (int i = 0; pointer && i < kWatchMax; ++i)
        if (watched[i] == pointer) watched[i] = NULL;
    __libc_free(pointer);
}

static int unfreed(void) {
    int count = 0;
    for (int i = 0; i < kWatchMax; ++i) count += watched[i] != NULL;
    return count;
}

typedef KV_STATUS (*Open_t)(uint32_t, KV_HANDLE *);
typedef KV_STATUS (*GetConfig_t)(KV_HANDLE, ChannelConfig **);
typedef int (*Load_t)(const char *);
typedef unsigned (*Calls_t)(kvsim_entry);

static int probe(const char *path, const char *mode) {
    void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    void *driver = dlopen("libkvzubr.so", RTLD_NOW | RTLD_NOLOAD);
    if (!library || !driver) return 3;
    Open_t open = (Open_t)dlsym(library, "SPI_OpenChannel");
    GetConfig_t get = (GetConfig_t)dlsym(library, "SPI_GetChannelConfig");
    Load_t load = (Load_t)dlsym(driver, "kvsim_load_config_json");
    Calls_t calls = (Calls_t)dlsym(driver, "kvsim_call_count");
    if (!open || !get || !load || !calls || load(kConfig) != 0) return 3;

    KV_HANDLE first = NULL, second = NULL;
    ChannelConfig *config = NULL;
    if (strcmp(mode, "refuse") == 0) {
        refuse = 1;
        KV_STATUS status = open(0, &first);
        refuse = 0;
        printf("open %u, registered %u, closes %u\n", (unsigned)status, (unsigned)get(first, &config),
               calls(KVSIM_Close));
        /* The channel was closed again, so it opens anew. */
        printf("reopen %u\n", (unsigned)open(0, &second));
        return 0;
    }
    watch = 1;
    KV_STATUS one = open(0, &first), two = open(1, &second);
    watch = 0;
    printf("open %u %u, nodes %d\n", (unsigned)one, (unsigned)two, unfreed());
    dlclose(library);
    printf("after unload %d\n", unfreed());
    return 0;
}
#endif

int main(int argc, char **argv) {
    if (argc < 3) return 2;
#ifdef PROBE_SANITIZED
    (void)argv;
    puts("skip");
    return 0;
#else
    return probe(argv[1], argv[2]);
#endif
}
