#include "spi_bus.h"

#include <stdexcept>

#include "velta_engine.h"

namespace kvsim {

namespace {

constexpr std::uint8_t kSck = VELTA_PIN_CLOCK;
constexpr std::uint8_t kMosi = VELTA_PIN_DATA_OUT;
constexpr std::uint8_t kMiso = VELTA_PIN_DATA_IN;
constexpr int kFirstCsPin = 3;
constexpr int kLastCsPin = 7;

bool bit_of(std::uint8_t byte, unsigned bit) { return ((byte >> bit) & 1u) != 0; }

bool same_drive(const LowPinDrive &a, const LowPinDrive &b) {
    return a.value == b.value && a.direction == b.direction && a.zero_only == b.zero_only;
}

const BusRegistrar spi_bus_kind("spi", [](const Json &) { return std::make_unique<SpiBus>(); });

}  // namespace

SpiDeviceKinds &spi_device_kinds() {
    static SpiDeviceKinds kinds("SPI device");
    return kinds;
}

std::uint8_t SpiBus::levels_from(const LowPinDrive &drive) const {
    const std::uint8_t pulled_high = wiring().pulled_up;
    std::uint8_t driven = driven_pins(drive);
    return static_cast<std::uint8_t>((drive.value & driven) | (pulled_high & ~driven));
}

Wiring SpiBus::wiring() const {
    Wiring wiring;
    for (const Slot &slot : slots_)
        if (slot.active_low) wiring.pulled_up |= slot.cs_mask;
    return wiring;
}

void SpiBus::drive(Picos t, const LowPinDrive &drive) {
    std::uint8_t next = levels_from(drive);
    // Every device samples the lines as they were before this change.
    bool mosi_before = (levels_ & kMosi) != 0;
    if ((next ^ levels_) & kSck) {
        bool rising = (next & kSck) != 0;
        for (Slot &slot : slots_)
            if (slot.selected) clock_edge(slot, t, rising, mosi_before);
    }
    drive_ = drive;
    levels_ = next;
    for (Slot &slot : slots_) {
        bool selected = ((levels_ & slot.cs_mask) != 0) != slot.active_low;
        if (selected && !slot.selected) begin_frame(slot, t);
        if (!selected && slot.selected) end_frame(slot, t);
    }
}

std::uint8_t SpiBus::sense(Picos) {
    if (driven_pins(drive_) & kMiso) return levels_;
    return static_cast<std::uint8_t>((levels_ & ~kMiso) | (miso_level() ? kMiso : 0));
}

bool SpiBus::miso_level() const {
    for (const Slot &slot : slots_)
        if (slot.selected && slot.miso) return true;
    return false;
}

void SpiBus::clock_edge(Slot &slot, Picos t, bool rising, bool mosi) {
    bool leading = slot.is_leading(rising);
    if (leading != slot.cpha) {
        slot.shift_in = static_cast<std::uint8_t>(slot.shift_in << 1 | (mosi ? 1 : 0));
        if (++slot.bits_in == 8) {
            slot.device->byte_in(t, slot.shift_in);
            slot.bits_in = 0;
            slot.shift_in = 0;
        }
    } else if (slot.cpha) {
        // Phase 1: the leading edge puts the next bit out.
        present_bit(slot, t);
        advance_bit(slot);
    } else {
        // Phase 0: the first bit was out before the leading edge; the trailing edge moves on.
        advance_bit(slot);
        present_bit(slot, t);
    }
}

void SpiBus::present_bit(Slot &slot, Picos t) {
    if (slot.fetch_due) {
        slot.out = slot.device->next_out(t);
        slot.fetch_due = false;
    }
    slot.miso = bit_of(slot.out, 7 - slot.bits_out);
}

void SpiBus::advance_bit(Slot &slot) {
    if (++slot.bits_out == 8) {
        slot.bits_out = 0;
        slot.fetch_due = true;
    }
}

void SpiBus::begin_frame(Slot &slot, Picos t) {
    if (slot.modes_0_and_3) slot.cpol = slot.cpha = (levels_ & kSck) != 0;
    slot.selected = true;
    slot.bits_in = 0;
    slot.shift_in = 0;
    slot.bits_out = 0;
    slot.device->frame_begin(t);
    slot.fetch_due = true;
    present_bit(slot, t);
}

void SpiBus::end_frame(Slot &slot, Picos t) {
    slot.selected = false;
    slot.miso = false;
    slot.device->frame_end(t, slot.bits_in, slot.shift_in);
}

SpiBus::Slot *SpiBus::only_selected(bool *none) {
    Slot *found = nullptr;
    unsigned count = 0;
    for (Slot &slot : slots_)
        if (slot.selected) found = &slot, ++count;
    *none = count == 0;
    return count == 1 ? found : nullptr;
}

// The byte path is taken only where it is exact: the clock rests at the device's idle level, no
// bit of a byte is half way, and the master shifts on the device's edges.
bool SpiBus::fast_path_fits(const Slot &slot, const ShiftForm &form, const LowPinDrive &drive) const {
    bool clock_high = (levels_from(drive) & kSck) != 0;
    if (clock_high != slot.cpol || slot.bits_in != 0 || slot.bits_out != 0) return false;
    if (form.out && form.out_on_falling == slot.samples_on_falling()) return false;
    if (form.in && form.in_on_falling != slot.samples_on_falling()) return false;
    return true;
}

bool SpiBus::shift_bytes(Picos *t, Picos half_period, const ShiftForm &form, const LowPinDrive &drive,
                         const std::uint8_t *out, std::uint8_t *in, std::size_t count) {
    if (form.three_phase || !same_drive(drive, drive_) || count == 0) return false;
    bool none = false;
    Slot *slot = only_selected(&none);
    if (slot == nullptr && !none) return false;
    if (slot != nullptr && !fast_path_fits(*slot, form, drive)) return false;

    bool engine_drives_miso = (driven_pins(drive) & kMiso) != 0;
    std::uint8_t still_mosi = (levels_ & kMosi) ? 0xFF : 0x00;
    std::uint8_t still_miso = (engine_drives_miso && (levels_ & kMiso)) ? 0xFF : 0x00;
    Picos start = *t;
    for (std::size_t i = 0; i < count; ++i) {
        Picos byte_start = start + 16 * half_period * i;
        std::uint8_t sent = form.out ? out[i] : still_mosi;
        std::uint8_t answer = still_miso;
        if (slot != nullptr) {
            if (slot->cpha) present_bit(*slot, byte_start + half_period);
            if (!engine_drives_miso) answer = slot->out;
            slot->device->byte_in(byte_start + (slot->cpha ? 16 : 15) * half_period, sent);
            slot->fetch_due = true;
            if (!slot->cpha) present_bit(*slot, byte_start + 16 * half_period);
            else slot->miso = bit_of(slot->out, 0);
        }
        if (form.in && in != nullptr) in[i] = answer;
    }
    *t = start + 16 * half_period * count;
    if (form.out) {
        std::uint8_t last_bit = (out[count - 1] & 1) ? kMosi : 0;
        drive_.value = static_cast<std::uint8_t>((drive_.value & ~kMosi) | last_bit);
        levels_ = levels_from(drive_);
    }
    return true;
}

std::string SpiBus::pin_name(int pin) const {
    static const char *const names[] = {"SCK", "MOSI", "MISO", "CS3", "CS4", "CS5", "CS6", "CS7"};
    return (pin >= 0 && pin < 8) ? names[pin] : "";
}

void SpiBus::attach(const Json &object) {
    const DeviceConfig config(object);
    std::unique_ptr<SpiDevice> device = make_device(spi_device_kinds(), config);
    int cs = static_cast<int>(config_uint(config, "cs", kFirstCsPin, kFirstCsPin, kLastCsPin));
    unsigned mode = static_cast<unsigned>(config_uint(config, "mode", 0, 0, 3));
    bool active_low = config_bool(config, "active_low", true);
    bool either = mode == 0 || mode == 3;
    bool modes_0_and_3 = config_bool(config, "modes_0_and_3", either && device->takes_modes_0_and_3());
    config.check_all_read();
    attach(std::move(device), cs, mode, active_low, modes_0_and_3);
}

void SpiBus::attach(std::unique_ptr<SpiDevice> device, int cs_pin, unsigned mode, bool active_low,
                    bool modes_0_and_3) {
    if (cs_pin < kFirstCsPin || cs_pin > kLastCsPin) throw ConfigFault("cs", "must be a pin from 3 to 7");
    if (mode > 3) throw ConfigFault("mode", "must lie between 0 and 3");
    if (modes_0_and_3 && mode != 0 && mode != 3) throw ConfigFault("modes_0_and_3", "needs \"mode\" 0 or 3");
    if (find(device->name()) != nullptr)
        throw ConfigFault("name", "a device named \"" + device->name() + "\" is already on this bus");
    Slot slot;
    slot.cs_mask = static_cast<std::uint8_t>(1u << cs_pin);
    for (const Slot &other : slots_)
        if (other.cs_mask == slot.cs_mask)
            throw ConfigFault("cs", "chip-select pin " + std::to_string(cs_pin) + " already has a device");
    slot.device = std::move(device);
    slot.active_low = active_low;
    slot.cpol = (mode & 2) != 0;
    slot.cpha = (mode & 1) != 0;
    slot.modes_0_and_3 = modes_0_and_3;
    slots_.push_back(std::move(slot));
    // A new chip-select pull changes the line levels; a device attached with its line already
    // at the active level starts a frame at once.
    drive(0, drive_);
}

Device *SpiBus::find(const std::string &name) {
    for (Slot &slot : slots_)
        if (slot.device->name() == name) return slot.device.get();
    return nullptr;
}

std::vector<Device *> SpiBus::devices() {
    std::vector<Device *> all;
    for (Slot &slot : slots_) all.push_back(slot.device.get());
    return all;
}

}  // namespace kvsim
