// How each driver entry point appears in a recording: the arguments the program passed (what a
// replay compares) and the results the driver handed back through the program's pointers. The
// recording driver and the simulated driver's replay both describe calls here, so they agree on
// every field.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "kvsim.h"

namespace kvrec {

using Json = nlohmann::json;

// The first line of every recording names the format and its version.
constexpr char kFormatName[] = "kvzubr-recording";
constexpr int kFormatVersion = 1;

// Thrown for a field of a recorded call that has the wrong name, type or size.
struct ShapeFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Appends one JSON object to a line of text, field by field in the order given, with no values
// built on the way: the recording writes every call this way into one buffer it keeps.
class Fields {
public:
    explicit Fields(std::string &line) : line_(line) { line_ += '{'; }
    ~Fields() { line_ += '}'; }
    Fields(const Fields &) = delete;
    Fields &operator=(const Fields &) = delete;

    Fields &number(const char *key, std::uint64_t value);
    Fields &text(const char *key, const std::string &value);
    // Text known to need no escaping (a name of this program's own).
    Fields &word(const char *key, const char *value) {
        name(key);
        line_.append("\"").append(value).append("\"");
        return *this;
    }
    Fields &hex(const char *key, const void *bytes, std::size_t count);
    // A nested object, written by `write`.
    Fields &object(const char *key, const std::function<void(Fields &)> &write) {
        name(key);
        Fields inner(line_);
        write(inner);
        return *this;
    }
    // An array of objects; `each(fields, i)` writes the i-th.
    template <class Each>
    Fields &objects(const char *key, std::size_t count, Each &&each) {
        name(key);
        line_ += '[';
        for (std::size_t i = 0; i < count; ++i) {
            if (i) line_ += ',';
            Fields item(line_);
            each(item, i);
        }
        line_ += ']';
        return *this;
    }

private:
    void name(const char *key);

    std::string &line_;
    bool first_ = true;
};

using FieldWriter = std::function<void(Fields &)>;

// Fields are written in the order a JSON object prints them (by name), with byte data last so
// the short fields stay readable at the start of a long line.
struct Call {
    kvsim_entry entry;
    // The arguments as the program passed them (taken when the call is made).
    FieldWriter args;
    // The outputs after the call, for the record.
    FieldWriter results;
    // Writes recorded outputs back through the program's pointers; throws ShapeFault on a
    // result that does not fit them.
    std::function<void(const Json &)> restore;
};

// The object a writer writes, as a JSON value (for comparing with a recorded call).
Json to_json(const FieldWriter &write);

// "KV_Open" for KVSIM_Open; false from entry_by_name for an unknown name.
const char *entry_name(kvsim_entry entry);
bool entry_by_name(const std::string &name, kvsim_entry *entry);

// Results are kept for calls that succeeded, and always for reads and writes, whose counts say
// how far a failing transfer got.
bool keeps_results(kvsim_entry entry, KV_STATUS status);

Call get_library_version(std::uint32_t *version);
Call create_device_info_list(std::uint32_t *count);
Call get_device_info_list(DeviceListEntry *list, std::uint32_t *count);
Call open(std::uint32_t position, KV_HANDLE *handle);
Call close(KV_HANDLE handle);
Call reset_device(KV_HANDLE handle);
Call purge(KV_HANDLE handle, std::uint32_t mask);
Call set_usb_parameters(KV_HANDLE handle, std::uint32_t in_size, std::uint32_t out_size);
Call set_chars(KV_HANDLE handle, std::uint8_t event, std::uint8_t event_on, std::uint8_t error,
               std::uint8_t error_on);
Call set_timeouts(KV_HANDLE handle, std::uint32_t read_ms, std::uint32_t write_ms);
Call set_latency_timer(KV_HANDLE handle, std::uint8_t ms);
Call set_bit_mode(KV_HANDLE handle, std::uint8_t mask, std::uint8_t mode);
Call get_queue_status(KV_HANDLE handle, std::uint32_t *pending);
Call read(KV_HANDLE handle, void *buffer, std::uint32_t count, std::uint32_t *count_read);
Call write(KV_HANDLE handle, const void *buffer, std::uint32_t count, std::uint32_t *count_written);
Call get_device_info(KV_HANDLE handle, std::uint32_t *type, std::uint32_t *id, char *serial,
                     char *description);

// Checks a recorded call: its arguments are exactly those the entry point takes and its results
// fit them. Throws ShapeFault naming the field at fault.
void check_call(kvsim_entry entry, const Json &args, const Json &results);

// One line naming how a call differs from the recorded one (no newline).
std::string describe_difference(kvsim_entry expected_entry, const Json &expected_args, kvsim_entry entry,
                                const Json &args);
// The call as a short text: KV_Write(handle=4096, count=3, data=aa0102).
std::string describe(kvsim_entry entry, const Json &args);

// Throws ShapeFault for text that is not an even number of hex digits.
std::vector<std::uint8_t> from_hex(const std::string &text);

}  // namespace kvrec
