// The recording driver: a libkvzubr.so of its own that loads the driver named by
// KVZUBR_RECORD_DRIVER, passes every call through to it and writes each call to the file named by
// KVZUBR_RECORD, one line per call, flushed as it is written. A record that cannot be written
// stops the program: a recording never silently lacks a call.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "recording_file.h"

#define KVREC_API extern "C" __attribute__((visibility("default")))

KVREC_API KV_STATUS KV_DRIVER_CALL KV_Open(uint32_t position, KV_HANDLE *handle);

namespace {

const char kRecordVariable[] = "KVZUBR_RECORD";
const char kDriverVariable[] = "KVZUBR_RECORD_DRIVER";
// Room for the line of a 64 KiB transfer (the largest most programs make), so the buffer is
// made once and not grown, copied and faulted in again call by call.
constexpr std::size_t kLineRoom = 2 * 65536 + 512;

// The inner driver's entry points, null where it lacks one.
struct Inner {
    KV_GetLibraryVersion_t KV_GetLibraryVersion;
    KV_CreateDeviceInfoList_t KV_CreateDeviceInfoList;
    KV_GetDeviceInfoList_t KV_GetDeviceInfoList;
    KV_Open_t KV_Open;
    KV_Close_t KV_Close;
    KV_ResetDevice_t KV_ResetDevice;
    KV_Purge_t KV_Purge;
    KV_SetUSBParameters_t KV_SetUSBParameters;
    KV_SetChars_t KV_SetChars;
    KV_SetTimeouts_t KV_SetTimeouts;
    KV_SetLatencyTimer_t KV_SetLatencyTimer;
    KV_SetBitMode_t KV_SetBitMode;
    KV_GetQueueStatus_t KV_GetQueueStatus;
    KV_Read_t KV_Read;
    KV_Write_t KV_Write;
    KV_GetDeviceInfo_t KV_GetDeviceInfo;
    const char *(*status_text)(KV_STATUS);
};

[[noreturn]] void stop(const std::string &what) {
    std::fprintf(stderr, "kvzubr-rec: %s\n", what.c_str());
    std::fflush(stderr);
    std::exit(1);
}

class Recorder {
public:
    Recorder() {
        const char *file = std::getenv(kRecordVariable);
        const char *driver = std::getenv(kDriverVariable);
        if (!file || !*file) stop(std::string(kRecordVariable) + " is not set: name the file to record to");
        if (!driver || !*driver)
            stop(std::string(kDriverVariable) + " is not set: name the driver to record (a path)");
        path_ = file;
        line_.reserve(kLineRoom);
        load(driver);
        out_ = ::open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        owner_ = ::getpid();
        if (out_ < 0) fail();
        line_.assign(kvrec::header_line(driver));
        put();
    }

    ~Recorder() {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        // A forked child that exits shares the file but not the session: the end is its parent's.
        if (out_ < 0 || failed_ || ::getpid() != owner_) return;
        line_.assign(kvrec::closing_line(calls_));
        put();
        ::close(out_);
        out_ = -1;
    }

    const Inner &inner() const { return inner_; }

    // Passes the call on and records it; the arguments were taken before the call.
    template <class Forward>
    KV_STATUS record(const kvrec::Call &call, Forward &&forward) {
        std::lock_guard<std::recursive_mutex> hold(lock_);
        const auto now = std::chrono::steady_clock::now();
        if (calls_ == 0) started_ = now;
        const KV_STATUS status = forward();
        try {
            const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now - started_).count();
            line_.clear();
            kvrec::append_call_line(line_, ++calls_, static_cast<std::uint64_t>(micros), call, status);
            put();
        } catch (const std::exception &e) {
            failed_ = true;
            stop("cannot record call " + std::to_string(calls_) + " to " + path_ + ": " + e.what());
        }
        return status;
    }

private:
    void load(const char *driver) {
        void *library = dlopen(driver, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            stop(std::string("cannot load the driver to record (") + kDriverVariable + "): " + dlerror());
        if (dlsym(library, "KV_Open") == reinterpret_cast<void *>(&KV_Open))
            stop(std::string(kDriverVariable) +
                 " names the recording driver itself; name the driver to record");
#define KVREC_BIND(entry) inner_.entry = reinterpret_cast<entry##_t>(dlsym(library, #entry))
        KVREC_BIND(KV_GetLibraryVersion);
        KVREC_BIND(KV_CreateDeviceInfoList);
        KVREC_BIND(KV_GetDeviceInfoList);
        KVREC_BIND(KV_Open);
        KVREC_BIND(KV_Close);
        KVREC_BIND(KV_ResetDevice);
        KVREC_BIND(KV_Purge);
        KVREC_BIND(KV_SetUSBParameters);
        KVREC_BIND(KV_SetChars);
        KVREC_BIND(KV_SetTimeouts);
        KVREC_BIND(KV_SetLatencyTimer);
        KVREC_BIND(KV_SetBitMode);
        KVREC_BIND(KV_GetQueueStatus);
        KVREC_BIND(KV_Read);
        KVREC_BIND(KV_Write);
        KVREC_BIND(KV_GetDeviceInfo);
#undef KVREC_BIND
        inner_.status_text =
            reinterpret_cast<const char *(*)(KV_STATUS)>(dlsym(library, "kvsim_status_text"));
    }

    // One write per line as a rule, straight to the file: what a crash leaves is every line
    // written before it (the system keeps them; no sync per call, which would cost a disk wait).
    void put() {
        for (std::size_t done = 0; done < line_.size();) {
            errno = 0;
            const ssize_t n = ::write(out_, line_.data() + done, line_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) fail();
            done += static_cast<std::size_t>(n);
        }
    }

    [[noreturn]] void fail() {
        failed_ = true;
        stop("cannot write the recording " + path_ + ": " + (errno ? std::strerror(errno) : "write failed") +
             "; the program is stopped so that no call goes unrecorded");
    }

    std::string path_;
    int out_ = -1;
    pid_t owner_ = 0;  // the process that opened the file
    std::string line_;  // the line being written, its room kept from call to call
    Inner inner_ = {};
    std::recursive_mutex lock_;
    unsigned calls_ = 0;
    bool failed_ = false;
    std::chrono::steady_clock::time_point started_;
};

Recorder *recorder = nullptr;

// Made at load, so a recording that cannot start stops the program before it does anything.
__attribute__((constructor)) void start_recording() { recorder = new Recorder; }
__attribute__((destructor)) void end_recording() { delete recorder; }

// Forwards to the inner driver's slot, or fails as libVELTA does for a slot the driver lacks.
template <class Slot, class... Args>
KV_STATUS pass(const kvrec::Call &call, Slot Inner::*slot, Args... args) {
    return recorder->record(call, [&] {
        const Slot entry = recorder->inner().*slot;
        return entry ? entry(args...) : STATUS_FAILURE;
    });
}

}  // namespace

KVREC_API KV_STATUS KV_DRIVER_CALL KV_GetLibraryVersion(uint32_t *version) {
    return pass(kvrec::get_library_version(version), &Inner::KV_GetLibraryVersion, version);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_CreateDeviceInfoList(uint32_t *count) {
    return pass(kvrec::create_device_info_list(count), &Inner::KV_CreateDeviceInfoList, count);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_GetDeviceInfoList(DeviceListEntry *list, uint32_t *count) {
    return pass(kvrec::get_device_info_list(list, count), &Inner::KV_GetDeviceInfoList, list, count);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_Open(uint32_t position, KV_HANDLE *handle) {
    return pass(kvrec::open(position, handle), &Inner::KV_Open, position, handle);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_Close(KV_HANDLE handle) {
    return pass(kvrec::close(handle), &Inner::KV_Close, handle);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_ResetDevice(KV_HANDLE handle) {
    return pass(kvrec::reset_device(handle), &Inner::KV_ResetDevice, handle);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_Purge(KV_HANDLE handle, uint32_t mask) {
    return pass(kvrec::purge(handle, mask), &Inner::KV_Purge, handle, mask);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_SetUSBParameters(KV_HANDLE handle, uint32_t in_size,
                                                       uint32_t out_size) {
    return pass(kvrec::set_usb_parameters(handle, in_size, out_size), &Inner::KV_SetUSBParameters, handle,
                in_size, out_size);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_SetChars(KV_HANDLE handle, uint8_t event, uint8_t event_on,
                                               uint8_t error, uint8_t error_on) {
    return pass(kvrec::set_chars(handle, event, event_on, error, error_on), &Inner::KV_SetChars, handle,
                event, event_on, error, error_on);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_SetTimeouts(KV_HANDLE handle, uint32_t read_ms, uint32_t write_ms) {
    return pass(kvrec::set_timeouts(handle, read_ms, write_ms), &Inner::KV_SetTimeouts, handle, read_ms,
                write_ms);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_SetLatencyTimer(KV_HANDLE handle, uint8_t ms) {
    return pass(kvrec::set_latency_timer(handle, ms), &Inner::KV_SetLatencyTimer, handle, ms);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_SetBitMode(KV_HANDLE handle, uint8_t mask, uint8_t mode) {
    return pass(kvrec::set_bit_mode(handle, mask, mode), &Inner::KV_SetBitMode, handle, mask, mode);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_GetQueueStatus(KV_HANDLE handle, uint32_t *pending) {
    return pass(kvrec::get_queue_status(handle, pending), &Inner::KV_GetQueueStatus, handle, pending);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_Read(KV_HANDLE handle, void *buffer, uint32_t count,
                                           uint32_t *count_read) {
    return pass(kvrec::read(handle, buffer, count, count_read), &Inner::KV_Read, handle, buffer, count,
                count_read);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_Write(KV_HANDLE handle, void *buffer, uint32_t count,
                                            uint32_t *count_written) {
    return pass(kvrec::write(handle, buffer, count, count_written), &Inner::KV_Write, handle, buffer, count,
                count_written);
}

KVREC_API KV_STATUS KV_DRIVER_CALL KV_GetDeviceInfo(KV_HANDLE handle, uint32_t *type, uint32_t *id,
                                                    char *serial, char *description, void *reserved) {
    return pass(kvrec::get_device_info(handle, type, id, serial, description), &Inner::KV_GetDeviceInfo,
                handle, type, id, serial, description, reserved);
}

// libVELTA asks the driver to describe its own statuses through this optional export; passing it
// on keeps a recorded program's messages what they are without the recording driver.
KVREC_API const char *kvsim_status_text(KV_STATUS status) {
    const auto describe = recorder->inner().status_text;
    return describe ? describe(status) : nullptr;
}
