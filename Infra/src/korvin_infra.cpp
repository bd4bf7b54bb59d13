// libVELTA infrastructure: binds the bridge driver library when libVELTA is loaded, releases it
// when libVELTA is unloaded, and offers the diagnostic hook and small helpers all modules use.
#include "korvin_infra.h"
#include "libVELTA.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

#include "korvin_report.h"

void *hdll_zubr = nullptr;
varFunctionPtrLst_t varFunctionPtrLst = {};

namespace {

#ifdef _WIN32
const char kDriverLibrary[] = "libkvzubr.dll";
#else
const char kDriverLibrary[] = "libkvzubr.so";
#endif
const char kInfraSourcePath[] = "../../Infra/src/korvin_infra";
constexpr int kDriverCheckLine = 243;

// The environment variable that names the driver by its path, for a driver the loader would
// not find by name (the simulated one of an installed prefix, a vendor driver outside the
// loader's path). Unset or empty: the driver is loaded by its name.
const char kDriverVariable[] = "VELTA_DRIVER";

const char *driverToLoad() {
    const char *chosen = std::getenv(kDriverVariable);
    return chosen != nullptr && chosen[0] != '\0' ? chosen : kDriverLibrary;
}

// The platform's dynamic loader: the one place that differs between Linux and Windows.
#ifdef _WIN32
void *loadDriver(const char *file) { return reinterpret_cast<void *>(LoadLibraryA(file)); }
void *driverSymbol(const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(hdll_zubr), name));
}
int unloadDriver() { return FreeLibrary(static_cast<HMODULE>(hdll_zubr)) ? 0 : -1; }
void clearLoaderError() {}
std::string loaderError() { return "system error " + std::to_string(GetLastError()); }
#else
void *loadDriver(const char *file) { return dlopen(file, RTLD_LAZY); }
void *driverSymbol(const char *name) { return dlsym(hdll_zubr, name); }
int unloadDriver() { return dlclose(hdll_zubr); }
void clearLoaderError() { static_cast<void>(dlerror()); }
std::string loaderError() {
    const char *reason = dlerror();
    return reason != nullptr ? reason : "unknown reason";
}
#endif

// A missing entry point leaves its slot null; callers refuse to call through it.
template <typename Slot>
void bindSlot(Slot &slot, const char *name) {
    slot = reinterpret_cast<Slot>(driverSymbol(name));
}

#define KV_BIND_SLOT(entry) bindSlot(varFunctionPtrLst.entry, #entry)

void bindEntryPoints() {
    KV_BIND_SLOT(KV_GetLibraryVersion);
    KV_BIND_SLOT(KV_CreateDeviceInfoList);
    KV_BIND_SLOT(KV_GetDeviceInfoList);
    KV_BIND_SLOT(KV_Open);
    KV_BIND_SLOT(KV_Close);
    KV_BIND_SLOT(KV_ResetDevice);
    KV_BIND_SLOT(KV_Purge);
    KV_BIND_SLOT(KV_SetUSBParameters);
    KV_BIND_SLOT(KV_SetChars);
    KV_BIND_SLOT(KV_SetTimeouts);
    KV_BIND_SLOT(KV_SetLatencyTimer);
    KV_BIND_SLOT(KV_SetBitMode);
    KV_BIND_SLOT(KV_GetQueueStatus);
    KV_BIND_SLOT(KV_Read);
    KV_BIND_SLOT(KV_Write);
    KV_BIND_SLOT(KV_GetDeviceInfo);
}

#undef KV_BIND_SLOT

struct StatusText {
    KV_STATUS status;
    const char *text;
};

const StatusText kOwnStatusTexts[] = {
    {STATUS_SUCCESS, "success"},
    {STATUS_BAD_HANDLE, "bad handle: no channel at that index"},
    {STATUS_NO_DEVICE, "no device: the device did not answer"},
    {STATUS_IO_FAILURE, "I/O failure: fewer bytes moved than asked, or an answer byte missing"},
    {STATUS_NO_RESOURCES, "no resources: out of memory, or too many bytes pending"},
    {STATUS_BAD_PARAMETER, "bad parameter"},
    {STATUS_WRITE_REFUSED, "write refused: an I2C data byte was not acknowledged"},
    {STATUS_UNSUPPORTED, "unsupported: ten-bit I2C addresses are not supported"},
    {STATUS_FAILURE, "failure: the engine did not answer, or the channel is not set up"},
};

const char *ownStatusText(KV_STATUS status) {
    for (const StatusText &entry : kOwnStatusTexts)
        if (entry.status == status) return entry.text;
    return nullptr;
}

// A driver may describe its own statuses through this optional export; a null answer means
// it does not know the status either.
using DriverStatusText_t = const char *(*)(KV_STATUS status);

const char *driverStatusText(KV_STATUS status) {
    if (hdll_zubr == nullptr) return nullptr;
    auto describe = reinterpret_cast<DriverStatusText_t>(driverSymbol("kvsim_status_text"));
    return describe != nullptr ? describe(status) : nullptr;
}

void printNullReport(const char *sourcePath, int line, const char *function) {
    std::printf("%s:%d:%s(): NULL expression encountered\n", sourcePath, line, function);
    std::fflush(stdout);
}

#ifdef _WIN32
// No launcher script there: the simulated driver is named directly.
constexpr char kSimulatorAdvice[] = "or name the simulated driver in VELTA_DRIVER to use the simulated bridge";
#else
constexpr char kSimulatorAdvice[] = "or run the program as 'kvzubr-sim run PROGRAM' to use the simulated bridge";
#endif

// The line after the specified report, on standard error: which driver, why, and what to do.
void printDriverAdvice(const char *file, const std::string &reason) {
    const bool named = file != kDriverLibrary;
    std::fprintf(stderr, "libVELTA: cannot load the bridge driver %s%s: %s; %s, %s\n",
                 file, named ? " (named by VELTA_DRIVER)" : "", reason.c_str(),
                 named ? "point VELTA_DRIVER at the driver library or unset it"
                       : "install the bridge driver where the loader finds it, set VELTA_DRIVER to its path",
                 kSimulatorAdvice);
    std::fflush(stderr);
}

}  // namespace

KV_STATUS Infra_NullArgument(const char *sourcePath, int line, const char *function) {
    printNullReport(sourcePath, line, function);
    return Infra_Report(STATUS_BAD_PARAMETER);
}

extern "C" {

void Init_libVELTA(void) {
    const char *file = driverToLoad();
    hdll_zubr = loadDriver(file);
    if (hdll_zubr == nullptr) {
        std::string reason = loaderError();
        printNullReport(kInfraSourcePath, kDriverCheckLine, "Init_libVELTA");
        printDriverAdvice(file, reason);
        std::exit(1);
    }
    bindEntryPoints();
    clearLoaderError();
}

int Cleanup_libVELTA(void) {
    if (hdll_zubr == nullptr) return -1;
    int result = unloadDriver();
    // Forget the handle once released, so a second cleanup cannot drop a reference twice.
    if (result == 0) hdll_zubr = nullptr;
    return result;
}

void Infra_DbgPrintStatus(KV_STATUS status) { static_cast<void>(status); }

KV_STATUS Infra_Delay(void) { return Infra_Report(STATUS_FAILURE); }

KV_STATUS Infra_TestFunction(int32_t input, int32_t *output) {
    if (output == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    *output = static_cast<int32_t>(static_cast<uint32_t>(input) + 100u);
    return STATUS_SUCCESS;
}

const char *VELTA_GetVersion(unsigned *major, unsigned *minor, unsigned *patch) {
    if (major != nullptr) *major = VELTA_VERSION_MAJOR;
    if (minor != nullptr) *minor = VELTA_VERSION_MINOR;
    if (patch != nullptr) *patch = VELTA_VERSION_PATCH;
    return VELTA_VERSION_TEXT;
}

const char *VELTA_StatusText(KV_STATUS status) {
    if (const char *text = ownStatusText(status)) return text;
    if (const char *text = driverStatusText(status)) return text;
    thread_local char unknown[32];
    std::snprintf(unknown, sizeof unknown, "driver status %u", static_cast<unsigned>(status));
    return unknown;
}

__attribute__((constructor)) void my_init(void) { Init_libVELTA(); }

__attribute__((destructor)) void my_exit(void) { static_cast<void>(Cleanup_libVELTA()); }

}  // extern "C"
