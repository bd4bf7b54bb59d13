// The kvsim_ control API for tests and tools.
#include <cstdio>
#include <cstring>

#include "kvsim.h"
#include "simulator.h"

using kvsim::Channel;
using kvsim::Simulator;

namespace {

template <class Body>
int controlled(Body &&body, bool load_first = true) {
    try {
        std::lock_guard<std::recursive_mutex> hold(Simulator::lock());
        if (load_first) Simulator::instance().ensure_loaded();
        return body(Simulator::instance());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kvzubr-sim: %s\n", e.what());
        return -1;
    }
}

Channel *channel_at(Simulator &sim, unsigned position) {
    Channel *c = sim.channel(position);
    if (!c) std::fprintf(stderr, "kvzubr-sim: no channel at position %u\n", position);
    return c;
}

kvsim::Engine *engine_at(Simulator &sim, unsigned position) {
    Channel *c = channel_at(sim, position);
    if (c && !c->engine()) std::fprintf(stderr, "kvzubr-sim: channel %u carries no engine\n", position);
    return c ? c->engine() : nullptr;
}

kvsim::Device *device_at(Simulator &sim, unsigned position, const char *name) {
    Channel *c = channel_at(sim, position);
    if (!c || !name) return nullptr;
    kvsim::Device *d = c->bus().find(name);
    if (!d) std::fprintf(stderr, "kvzubr-sim: no device \"%s\" on channel %u\n", name, position);
    return d;
}

bool valid_entry(kvsim_entry entry) { return entry >= 0 && entry < KVSIM_ENTRY_COUNT; }

struct DriverStatusText {
    KV_STATUS status;
    const char *text;
};

const DriverStatusText kDriverStatusTexts[] = {
    {KVSIM_STATUS_BAD_HANDLE, "simulated driver: handle not open"},
    {KVSIM_STATUS_NOT_FOUND, "simulated driver: no channel at that position"},
    {KVSIM_STATUS_ALREADY_OPEN, "simulated driver: channel already open"},
    {KVSIM_STATUS_BAD_ARGUMENT, "simulated driver: null pointer or value out of range"},
    {KVSIM_STATUS_UNSUPPORTED, "simulated driver: bit mode not offered by the channel"},
    {KVSIM_STATUS_INTERNAL, "simulated driver: internal fault"},
    {KVSIM_STATUS_QUEUE_FULL, "simulated driver: answer queue full, read the pending answers first"},
    {KVSIM_STATUS_REPLAY_MISMATCH, "simulated driver: replay: not the call the recording holds here"},
    {KVSIM_STATUS_BAD_RECORDING, "simulated driver: replay: the recording is unreadable, cut short or corrupt"},
};

}  // namespace

extern "C" {

KVSIM_API int kvsim_load_config_file(const char *path) {
    return controlled([&](Simulator &sim) { return path && sim.load_file(path) ? 0 : -1; }, false);
}

KVSIM_API int kvsim_load_config_json(const char *json) {
    return controlled([&](Simulator &sim) { return json && sim.load_text(json, "configuration text") ? 0 : -1; }, false);
}

KVSIM_API int kvsim_reset(void) {
    return controlled([](Simulator &sim) { return sim.load_from_environment() ? 0 : -1; }, false);
}

KVSIM_API unsigned kvsim_channel_count(void) {
    return static_cast<unsigned>(controlled([](Simulator &sim) { return static_cast<int>(sim.channel_count()); }));
}

KVSIM_API size_t kvsim_log_size(unsigned position) {
    size_t size = 0;
    controlled([&](Simulator &sim) {
        if (Channel *c = sim.channel(position)) size = c->log().size();
        return 0;
    });
    return size;
}

KVSIM_API size_t kvsim_log_read(unsigned position, uint8_t *buffer, size_t capacity) {
    size_t copied = 0;
    controlled([&](Simulator &sim) {
        Channel *c = channel_at(sim, position);
        if (!c || !buffer) return -1;
        copied = std::min(capacity, c->log().size());
        if (copied) std::memcpy(buffer, c->log().data(), copied);
        return 0;
    });
    return copied;
}

KVSIM_API void kvsim_log_clear(unsigned position) {
    controlled([&](Simulator &sim) {
        if (Channel *c = channel_at(sim, position)) c->clear_log();
        return 0;
    });
}

KVSIM_API int kvsim_queue_answer(unsigned position, const uint8_t *bytes, size_t count) {
    return controlled([&](Simulator &sim) {
        Channel *c = channel_at(sim, position);
        if (!c || (!bytes && count)) return -1;
        c->answers().push(bytes, count);
        return 0;
    });
}

KVSIM_API size_t kvsim_pending(unsigned position) {
    size_t pending = 0;
    controlled([&](Simulator &sim) {
        if (Channel *c = channel_at(sim, position)) pending = c->pending();
        return 0;
    });
    return pending;
}

KVSIM_API int kvsim_fail_call(kvsim_entry entry, unsigned nth, KV_STATUS status) {
    return controlled([&](Simulator &sim) {
        if (!valid_entry(entry) || nth == 0 || status == 0) return -1;
        sim.fail_call(entry, nth, status);
        return 0;
    });
}

KVSIM_API int kvsim_short_transfer(kvsim_entry entry, unsigned nth, uint32_t count) {
    return controlled([&](Simulator &sim) {
        if ((entry != KVSIM_Read && entry != KVSIM_Write) || nth == 0) return -1;
        sim.short_transfer(entry, nth, count);
        return 0;
    });
}

KVSIM_API int kvsim_set_echo(unsigned position, int enabled) {
    return controlled([&](Simulator &sim) {
        kvsim::Engine *e = engine_at(sim, position);
        if (!e) return -1;
        e->set_echo(enabled != 0);
        return 0;
    });
}

KVSIM_API int kvsim_flood(unsigned position, size_t count) {
    return controlled([&](Simulator &sim) {
        Channel *c = channel_at(sim, position);
        if (!c) return -1;
        c->answers().extend(count);
        return 0;
    });
}

KVSIM_API void kvsim_clear_faults(void) {
    controlled([](Simulator &sim) {
        sim.clear_faults();
        return 0;
    });
}

KVSIM_API unsigned kvsim_call_count(kvsim_entry entry) {
    unsigned count = 0;
    controlled([&](Simulator &sim) {
        if (valid_entry(entry)) count = sim.call_count(entry);
        return 0;
    });
    return count;
}

KVSIM_API int kvsim_get_pins(unsigned position, kvsim_pins *pins) {
    return controlled([&](Simulator &sim) {
        Channel *c = channel_at(sim, position);
        if (!c || !pins) return -1;
        std::memset(pins, 0, sizeof *pins);
        pins->bit_mode = c->bit_mode();
        kvsim::Engine *e = c->engine();
        if (!e) return 0;
        kvsim::Wires &w = e->wires();
        pins->low_value = w.low().value;
        pins->low_direction = w.low().direction;
        pins->high_value = w.high_value();
        pins->high_direction = w.high_direction();
        pins->low_levels = w.sense_low();
        pins->loopback = e->loopback();
        pins->three_phase = e->three_phase();
        pins->divide_by_5 = e->divide_by_5();
        pins->zero_only_low = w.low().zero_only;
        pins->zero_only_high = w.high_zero_only();
        pins->divisor = e->divisor();
        pins->adaptive_clocking = e->adaptive_clocking();
        pins->stalled = e->stalled();
        return 0;
    });
}

KVSIM_API uint64_t kvsim_time_ps(unsigned position) {
    uint64_t t = 0;
    controlled([&](Simulator &sim) {
        Channel *c = sim.channel(position);
        if (c && c->engine()) t = c->engine()->wires().now();
        return 0;
    });
    return t;
}

KVSIM_API int kvsim_advance_time(unsigned position, uint64_t picoseconds) {
    return controlled([&](Simulator &sim) {
        kvsim::Engine *e = engine_at(sim, position);
        if (!e) return -1;
        e->wires().advance(picoseconds);
        return 0;
    });
}

KVSIM_API int kvsim_trace_start(unsigned position, const char *path) {
    return controlled([&](Simulator &sim) {
        Channel *c = channel_at(sim, position);
        if (!c || !c->engine() || !path) return -1;
        std::array<std::string, 8> names;
        for (int pin = 0; pin < 8; ++pin) {
            names[pin] = c->bus().pin_name(pin);
            if (names[pin].empty()) names[pin] = "pin" + std::to_string(pin);
        }
        c->set_trace(std::make_unique<kvsim::VcdWriter>(path, names));
        return 0;
    });
}

KVSIM_API int kvsim_trace_stop(unsigned position) {
    return controlled([&](Simulator &sim) {
        Channel *c = channel_at(sim, position);
        if (!c) return -1;
        c->set_trace(nullptr);
        return 0;
    });
}

KVSIM_API int kvsim_attach_device(unsigned position, const char *deviceJson) {
    return controlled([&](Simulator &sim) {
        Channel *c = channel_at(sim, position);
        if (!c || !deviceJson) return -1;
        c->bus().attach(kvsim::Json::parse(deviceJson));
        return 0;
    });
}

KVSIM_API int kvsim_device_get(unsigned position, const char *device, const char *key, uint8_t *buffer,
                               size_t capacity, size_t *length) {
    return controlled([&](Simulator &sim) {
        kvsim::Device *d = device_at(sim, position, device);
        std::vector<uint8_t> data;
        if (!d || !key || !d->get(key, data)) return -1;
        if (length) *length = data.size();
        if (buffer && capacity && !data.empty()) std::memcpy(buffer, data.data(), std::min(capacity, data.size()));
        return 0;
    });
}

KVSIM_API int kvsim_device_put(unsigned position, const char *device, const char *key, const uint8_t *data,
                               size_t length) {
    return controlled([&](Simulator &sim) {
        kvsim::Device *d = device_at(sim, position, device);
        return d && key && d->put(key, data, length) ? 0 : -1;
    });
}

KVSIM_API int kvsim_device_set(unsigned position, const char *device, const char *key, double value) {
    return controlled([&](Simulator &sim) {
        kvsim::Device *d = device_at(sim, position, device);
        return d && key && d->set(key, value) ? 0 : -1;
    });
}

KVSIM_API int kvsim_save_state(void) {
    return controlled([](Simulator &sim) { return sim.save_state() ? 0 : -1; });
}

KVSIM_API const char *kvsim_status_text(KV_STATUS status) {
    for (const DriverStatusText &entry : kDriverStatusTexts)
        if (entry.status == status) return entry.text;
    return nullptr;
}

}  // extern "C"
