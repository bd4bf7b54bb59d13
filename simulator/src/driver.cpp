// The sixteen driver entry points. Each counts its call, honours injected faults, refuses
// handles that are not open without touching them, and lets no exception escape.
#include <cstring>

#include "call_shape.h"
#include "kvsim.h"
#include "simulator.h"

using kvsim::Channel;
using kvsim::Simulator;

namespace {

constexpr std::uint32_t kDeviceId = 0x00005A4Bu;  // made up, no real maker's identifier
constexpr std::uint32_t kLibraryVersion = 0x00010000u;
constexpr std::uint32_t kFlagOpen = 1u;

// `describe` gives the call as a recording holds it; it is made only when a recording is replayed.
template <class Describe, class Body>
KV_STATUS guarded(kvsim_entry entry, Describe &&describe, Body &&body) {
    try {
        std::lock_guard<std::recursive_mutex> hold(Simulator::lock());
        Simulator &sim = Simulator::instance();
        sim.ensure_loaded();
        if (kvsim::Replay *replay = sim.replay()) return replay->serve(describe());
        kvsim::CallFault fault = sim.on_call(entry);
        if (fault.status) return fault.status;
        return body(sim, fault);
    } catch (...) {
        return KVSIM_STATUS_INTERNAL;
    }
}

template <class Describe, class Body>
KV_STATUS with_channel(kvsim_entry entry, KV_HANDLE handle, Describe &&describe, Body &&body) {
    return guarded(entry, describe, [&](Simulator &sim, const kvsim::CallFault &fault) -> KV_STATUS {
        Channel *channel = sim.by_handle(handle);
        if (!channel) return KVSIM_STATUS_BAD_HANDLE;
        return body(*channel, fault);
    });
}

void copy_text(char *field, std::size_t size, const std::string &text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

}  // namespace

extern "C" {

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_GetLibraryVersion(uint32_t *version) {
    return guarded(
        KVSIM_GetLibraryVersion, [&] { return kvrec::get_library_version(version); },
        [&](Simulator &, const kvsim::CallFault &) -> KV_STATUS {
            if (!version) return KVSIM_STATUS_BAD_ARGUMENT;
            *version = kLibraryVersion;
            return STATUS_SUCCESS;
        });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_CreateDeviceInfoList(uint32_t *deviceCount) {
    return guarded(
        KVSIM_CreateDeviceInfoList, [&] { return kvrec::create_device_info_list(deviceCount); },
        [&](Simulator &sim, const kvsim::CallFault &) -> KV_STATUS {
            if (!deviceCount) return KVSIM_STATUS_BAD_ARGUMENT;
            *deviceCount = static_cast<uint32_t>(sim.channel_count());
            return STATUS_SUCCESS;
        });
}

// *deviceCount is the array's capacity on entry and the number of entries filled on return.
KVSIM_API KV_STATUS KV_DRIVER_CALL KV_GetDeviceInfoList(DeviceListEntry *list, uint32_t *deviceCount) {
    return guarded(
        KVSIM_GetDeviceInfoList, [&] { return kvrec::get_device_info_list(list, deviceCount); },
        [&](Simulator &sim, const kvsim::CallFault &) -> KV_STATUS {
            if (!deviceCount || (!list && *deviceCount)) return KVSIM_STATUS_BAD_ARGUMENT;
            const std::size_t n = std::min<std::size_t>(*deviceCount, sim.channel_count());
            for (std::size_t i = 0; i < n; ++i) {
                Channel &c = *sim.channel(i);
                DeviceListEntry &e = list[i];
                std::memset(&e, 0, sizeof e);
                e.StateFlags = c.is_open() ? kFlagOpen : 0;
                e.DeviceType = c.info().type;
                e.DeviceId = kDeviceId;
                e.Location = c.info().location;
                copy_text(e.SerialText, sizeof e.SerialText, c.info().serial);
                copy_text(e.DescriptionText, sizeof e.DescriptionText, c.info().description);
                e.OpenHandle = sim.handle_of(&c);
            }
            *deviceCount = static_cast<uint32_t>(n);
            return STATUS_SUCCESS;
        });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_Open(uint32_t position, KV_HANDLE *handle) {
    return guarded(
        KVSIM_Open, [&] { return kvrec::open(position, handle); },
        [&](Simulator &sim, const kvsim::CallFault &) -> KV_STATUS {
            if (!handle) return KVSIM_STATUS_BAD_ARGUMENT;
            return sim.open(position, handle);
        });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_Close(KV_HANDLE handle) {
    return guarded(
        KVSIM_Close, [&] { return kvrec::close(handle); },
        [&](Simulator &sim, const kvsim::CallFault &) { return sim.close(handle); });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_ResetDevice(KV_HANDLE handle) {
    return with_channel(
        KVSIM_ResetDevice, handle, [&] { return kvrec::reset_device(handle); },
        [](Channel &c, const kvsim::CallFault &) {
            c.purge(true, true);
            return STATUS_SUCCESS;
        });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_Purge(KV_HANDLE handle, uint32_t mask) {
    return with_channel(
        KVSIM_Purge, handle, [&] { return kvrec::purge(handle, mask); },
        [&](Channel &c, const kvsim::CallFault &) -> KV_STATUS {
            if (mask & ~3u) return KVSIM_STATUS_BAD_ARGUMENT;
            c.purge(mask & 1u, mask & 2u);
            return STATUS_SUCCESS;
        });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_SetUSBParameters(KV_HANDLE handle, uint32_t inSize, uint32_t outSize) {
    return with_channel(
        KVSIM_SetUSBParameters, handle, [&] { return kvrec::set_usb_parameters(handle, inSize, outSize); },
        [&](Channel &, const kvsim::CallFault &) -> KV_STATUS {
            return inSize && outSize ? STATUS_SUCCESS : KVSIM_STATUS_BAD_ARGUMENT;
        });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_SetChars(KV_HANDLE handle, uint8_t eventChar, uint8_t eventOn,
                                               uint8_t errorChar, uint8_t errorOn) {
    return with_channel(
        KVSIM_SetChars, handle,
        [&] { return kvrec::set_chars(handle, eventChar, eventOn, errorChar, errorOn); },
        [](Channel &, const kvsim::CallFault &) { return STATUS_SUCCESS; });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_SetTimeouts(KV_HANDLE handle, uint32_t readMs, uint32_t writeMs) {
    return with_channel(
        KVSIM_SetTimeouts, handle, [&] { return kvrec::set_timeouts(handle, readMs, writeMs); },
        [](Channel &, const kvsim::CallFault &) { return STATUS_SUCCESS; });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_SetLatencyTimer(KV_HANDLE handle, uint8_t ms) {
    return with_channel(
        KVSIM_SetLatencyTimer, handle, [&] { return kvrec::set_latency_timer(handle, ms); },
        [](Channel &, const kvsim::CallFault &) { return STATUS_SUCCESS; });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_SetBitMode(KV_HANDLE handle, uint8_t pinMask, uint8_t mode) {
    return with_channel(
        KVSIM_SetBitMode, handle, [&] { return kvrec::set_bit_mode(handle, pinMask, mode); },
        [&](Channel &c, const kvsim::CallFault &) {
            return c.set_bit_mode(mode) ? STATUS_SUCCESS : KVSIM_STATUS_UNSUPPORTED;
        });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_GetQueueStatus(KV_HANDLE handle, uint32_t *pending) {
    return with_channel(
        KVSIM_GetQueueStatus, handle, [&] { return kvrec::get_queue_status(handle, pending); },
        [&](Channel &c, const kvsim::CallFault &) -> KV_STATUS {
            if (!pending) return KVSIM_STATUS_BAD_ARGUMENT;
            *pending = static_cast<uint32_t>(std::min<std::size_t>(c.pending(), UINT32_MAX));
            return STATUS_SUCCESS;
        });
}

// Returns at once with what is queued, as a real read does once its time-out has passed.
KVSIM_API KV_STATUS KV_DRIVER_CALL KV_Read(KV_HANDLE handle, void *buffer, uint32_t count,
                                           uint32_t *countRead) {
    return with_channel(
        KVSIM_Read, handle, [&] { return kvrec::read(handle, buffer, count, countRead); },
        [&](Channel &c, const kvsim::CallFault &fault) -> KV_STATUS {
            if (!countRead || (!buffer && count)) return KVSIM_STATUS_BAD_ARGUMENT;
            const uint32_t wanted = fault.limited ? std::min(count, fault.limit) : count;
            *countRead = static_cast<uint32_t>(c.read(static_cast<uint8_t *>(buffer), wanted));
            return STATUS_SUCCESS;
        });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_Write(KV_HANDLE handle, void *buffer, uint32_t count,
                                            uint32_t *countWritten) {
    return with_channel(
        KVSIM_Write, handle, [&] { return kvrec::write(handle, buffer, count, countWritten); },
        [&](Channel &c, const kvsim::CallFault &fault) -> KV_STATUS {
            if (!countWritten || (!buffer && count)) return KVSIM_STATUS_BAD_ARGUMENT;
            const uint32_t offered = fault.limited ? std::min(count, fault.limit) : count;
            *countWritten = static_cast<uint32_t>(c.write(static_cast<const uint8_t *>(buffer), offered));
            // A stalled engine makes a real write time out with part of the data sent.
            return *countWritten < offered ? KVSIM_STATUS_QUEUE_FULL : STATUS_SUCCESS;
        });
}

KVSIM_API KV_STATUS KV_DRIVER_CALL KV_GetDeviceInfo(KV_HANDLE handle, uint32_t *deviceType,
                                                    uint32_t *deviceId, char *serial, char *description,
                                                    void *) {
    return with_channel(
        KVSIM_GetDeviceInfo, handle,
        [&] { return kvrec::get_device_info(handle, deviceType, deviceId, serial, description); },
        [&](Channel &c, const kvsim::CallFault &) {
            if (deviceType) *deviceType = c.info().type;
            if (deviceId) *deviceId = kDeviceId;
            if (serial) copy_text(serial, sizeof(DeviceListEntry::SerialText), c.info().serial);
            if (description)
                copy_text(description, sizeof(DeviceListEntry::DescriptionText), c.info().description);
            return STATUS_SUCCESS;
        });
}

}  // extern "C"

// Devices keep their state when the driver is unloaded.
__attribute__((destructor)) static void save_state_on_unload() {
    try {
        std::lock_guard<std::recursive_mutex> hold(Simulator::lock());
        Simulator &sim = Simulator::instance();
        if (sim.replay()) sim.replay()->finish();
        if (sim.channel_count()) sim.save_state();
    } catch (...) {
    }
}
