#include "call_shape.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kvrec {

namespace {

const char *const kEntryNames[KVSIM_ENTRY_COUNT] = {"KV_GetLibraryVersion",
                                                    "KV_CreateDeviceInfoList",
                                                    "KV_GetDeviceInfoList",
                                                    "KV_Open",
                                                    "KV_Close",
                                                    "KV_ResetDevice",
                                                    "KV_Purge",
                                                    "KV_SetUSBParameters",
                                                    "KV_SetChars",
                                                    "KV_SetTimeouts",
                                                    "KV_SetLatencyTimer",
                                                    "KV_SetBitMode",
                                                    "KV_GetQueueStatus",
                                                    "KV_Read",
                                                    "KV_Write",
                                                    "KV_GetDeviceInfo"};

// The serial and description buffers the program hands KV_GetDeviceInfo hold 300 bytes.
constexpr std::size_t kTextRoom = 300;
constexpr std::size_t kShownBytes = 32;  // longer data is cut short in messages

std::uint64_t handle_id(KV_HANDLE handle) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
}

const Json &field(const Json &object, const char *key) {
    if (!object.is_object()) throw ShapeFault("expected an object holding \"" + std::string(key) + "\"");
    auto it = object.find(key);
    if (it == object.end()) throw ShapeFault("\"" + std::string(key) + "\" is missing");
    return *it;
}

std::uint64_t number(const Json &object, const char *key, std::uint64_t limit) {
    const Json &value = field(object, key);
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > limit)
        throw ShapeFault("\"" + std::string(key) + "\": expected a whole number from 0 to " +
                         std::to_string(limit));
    return value.get<std::uint64_t>();
}

std::uint32_t u32(const Json &object, const char *key) {
    return static_cast<std::uint32_t>(number(object, key, UINT32_MAX));
}

std::uint8_t u8(const Json &object, const char *key) {
    return static_cast<std::uint8_t>(number(object, key, 0xFF));
}

const std::string &text(const Json &object, const char *key) {
    const Json &value = field(object, key);
    if (!value.is_string()) throw ShapeFault("\"" + std::string(key) + "\": expected a string");
    return value.get_ref<const std::string &>();
}

KV_HANDLE handle_of(const Json &args) {
    return reinterpret_cast<KV_HANDLE>(static_cast<std::uintptr_t>(number(args, "handle", UINTPTR_MAX)));
}

// Text written into a program's buffer of `room` bytes, NUL included.
void put_text(char *buffer, std::size_t room, const std::string &value, const char *key) {
    if (value.size() >= room || value.find('\0') != std::string::npos)
        throw ShapeFault("\"" + std::string(key) + "\": expected text of at most " +
                         std::to_string(room - 1) + " characters");
    std::memcpy(buffer, value.c_str(), value.size() + 1);
}

std::string read_text(const char *buffer, std::size_t room) {
    return std::string(buffer, strnlen(buffer, room));
}

void write_entry(Fields &f, const DeviceListEntry &e) {
    f.text("description", read_text(e.DescriptionText, sizeof e.DescriptionText))
        .number("flags", e.StateFlags)
        .number("handle", handle_id(e.OpenHandle))
        .number("id", e.DeviceId)
        .number("location", e.Location)
        .text("serial", read_text(e.SerialText, sizeof e.SerialText))
        .number("type", e.DeviceType);
}

void restore_entry(const Json &j, DeviceListEntry *e) {
    std::memset(e, 0, sizeof *e);
    e->StateFlags = u32(j, "flags");
    e->DeviceType = u32(j, "type");
    e->DeviceId = u32(j, "id");
    e->Location = u32(j, "location");
    put_text(e->SerialText, sizeof e->SerialText, text(j, "serial"), "serial");
    put_text(e->DescriptionText, sizeof e->DescriptionText, text(j, "description"), "description");
    e->OpenHandle = handle_of(j);
}

// A call whose only output is one 32-bit count.
Call counted(kvsim_entry entry, FieldWriter args, const char *key, std::uint32_t *out) {
    return {entry, std::move(args),
            [=](Fields &f) {
                if (out) f.number(key, *out);
            },
            [=](const Json &r) {
                const std::uint32_t value = u32(r, key);
                if (out) *out = value;
            }};
}

// A call with no outputs.
Call plain(kvsim_entry entry, FieldWriter args) {
    return {entry, std::move(args), [](Fields &) {}, [](const Json &) {}};
}

void no_fields(Fields &) {}

std::string shown(const std::string &hex) {
    if (hex.size() <= 2 * kShownBytes) return hex;
    return hex.substr(0, 2 * kShownBytes) + "...(" + std::to_string(hex.size() / 2) + " bytes)";
}

std::string shown(const Json &value) {
    return value.is_string() ? shown(value.get<std::string>()) : value.dump();
}

std::string byte_text(const std::string &hex, std::size_t at) {
    return at * 2 + 2 <= hex.size() ? "0x" + hex.substr(at * 2, 2) : "nothing";
}

std::string data_difference(const std::string &expected, const std::string &got) {
    std::size_t at = 0;
    while (at * 2 + 2 <= std::min(expected.size(), got.size()) &&
           expected.compare(at * 2, 2, got, at * 2, 2) == 0)
        ++at;
    return "data byte " + std::to_string(at) + ": expected " + byte_text(expected, at) + ", got " +
           byte_text(got, at);
}

}  // namespace

const char *entry_name(kvsim_entry entry) {
    return entry >= 0 && entry < KVSIM_ENTRY_COUNT ? kEntryNames[entry] : "an unknown entry point";
}

bool entry_by_name(const std::string &name, kvsim_entry *entry) {
    for (int e = 0; e < KVSIM_ENTRY_COUNT; ++e) {
        if (name == kEntryNames[e]) {
            *entry = static_cast<kvsim_entry>(e);
            return true;
        }
    }
    return false;
}

bool keeps_results(kvsim_entry entry, KV_STATUS status) {
    return status == STATUS_SUCCESS || entry == KVSIM_Read || entry == KVSIM_Write;
}

Call get_library_version(std::uint32_t *version) {
    return counted(KVSIM_GetLibraryVersion, no_fields, "version", version);
}

Call create_device_info_list(std::uint32_t *count) {
    return counted(KVSIM_CreateDeviceInfoList, no_fields, "count", count);
}

// The capacity the program offers is an argument; the entries the driver filled are results.
Call get_device_info_list(DeviceListEntry *list, std::uint32_t *count) {
    const std::uint32_t capacity = count ? *count : 0;
    return {KVSIM_GetDeviceInfoList, [=](Fields &f) { f.number("capacity", capacity); },
            [=](Fields &f) {
                const std::uint32_t filled = count && list ? std::min(*count, capacity) : 0;
                f.number("count", count ? *count : 0).objects("list", filled, [&](Fields &item, std::size_t i) {
                    write_entry(item, list[i]);
                });
            },
            [=](const Json &r) {
                const Json &entries = field(r, "list");
                if (!entries.is_array() || entries.size() > capacity || (entries.size() && !list))
                    throw ShapeFault("\"list\": expected an array of at most " + std::to_string(capacity) +
                                     " entries");
                for (std::size_t i = 0; i < entries.size(); ++i) restore_entry(entries[i], &list[i]);
                const std::uint32_t filled = u32(r, "count");
                if (count) *count = filled;
            }};
}

Call open(std::uint32_t position, KV_HANDLE *handle) {
    return {KVSIM_Open, [=](Fields &f) { f.number("position", position); },
            [=](Fields &f) {
                if (handle) f.number("handle", handle_id(*handle));
            },
            [=](const Json &r) {
                const KV_HANDLE value = handle_of(r);
                if (handle) *handle = value;
            }};
}

Call close(KV_HANDLE handle) {
    return plain(KVSIM_Close, [=](Fields &f) { f.number("handle", handle_id(handle)); });
}

Call reset_device(KV_HANDLE handle) {
    return plain(KVSIM_ResetDevice, [=](Fields &f) { f.number("handle", handle_id(handle)); });
}

Call purge(KV_HANDLE handle, std::uint32_t mask) {
    return plain(KVSIM_Purge, [=](Fields &f) { f.number("handle", handle_id(handle)).number("mask", mask); });
}

Call set_usb_parameters(KV_HANDLE handle, std::uint32_t in_size, std::uint32_t out_size) {
    return plain(KVSIM_SetUSBParameters, [=](Fields &f) {
        f.number("handle", handle_id(handle)).number("in", in_size).number("out", out_size);
    });
}

Call set_chars(KV_HANDLE handle, std::uint8_t event, std::uint8_t event_on, std::uint8_t error,
               std::uint8_t error_on) {
    return plain(KVSIM_SetChars, [=](Fields &f) {
        f.number("error", error)
            .number("error_on", error_on)
            .number("event", event)
            .number("event_on", event_on)
            .number("handle", handle_id(handle));
    });
}

Call set_timeouts(KV_HANDLE handle, std::uint32_t read_ms, std::uint32_t write_ms) {
    return plain(KVSIM_SetTimeouts, [=](Fields &f) {
        f.number("handle", handle_id(handle)).number("read_ms", read_ms).number("write_ms", write_ms);
    });
}

Call set_latency_timer(KV_HANDLE handle, std::uint8_t ms) {
    return plain(KVSIM_SetLatencyTimer, [=](Fields &f) { f.number("handle", handle_id(handle)).number("ms", ms); });
}

Call set_bit_mode(KV_HANDLE handle, std::uint8_t mask, std::uint8_t mode) {
    return plain(KVSIM_SetBitMode, [=](Fields &f) {
        f.number("handle", handle_id(handle)).number("mask", mask).number("mode", mode);
    });
}

Call get_queue_status(KV_HANDLE handle, std::uint32_t *pending) {
    return counted(
        KVSIM_GetQueueStatus, [=](Fields &f) { f.number("handle", handle_id(handle)); }, "pending", pending);
}

Call read(KV_HANDLE handle, void *buffer, std::uint32_t count, std::uint32_t *count_read) {
    auto *bytes = static_cast<std::uint8_t *>(buffer);
    return {KVSIM_Read, [=](Fields &f) { f.number("count", count).number("handle", handle_id(handle)); },
            [=](Fields &f) {
                const std::uint32_t got = count_read ? *count_read : 0;
                f.number("count", got).hex("data", bytes, bytes ? std::min(got, count) : 0);
            },
            [=](const Json &r) {
                const std::vector<std::uint8_t> data = from_hex(text(r, "data"));
                const std::uint32_t got = u32(r, "count");
                // Exactly the bytes the count says were delivered: a program trusts the count.
                const std::size_t delivered = std::min(got, count);
                if (data.size() != delivered || (delivered && !bytes))
                    throw ShapeFault("\"data\": expected the " + std::to_string(delivered) + " bytes delivered, not " +
                                     std::to_string(data.size()));
                std::copy(data.begin(), data.end(), bytes);
                if (count_read) *count_read = got;
            }};
}

Call write(KV_HANDLE handle, const void *buffer, std::uint32_t count, std::uint32_t *count_written) {
    return counted(
        KVSIM_Write,
        [=](Fields &f) {
            f.number("count", count).number("handle", handle_id(handle)).hex("data", buffer, buffer ? count : 0);
        },
        "count", count_written);
}

Call get_device_info(KV_HANDLE handle, std::uint32_t *type, std::uint32_t *id, char *serial,
                     char *description) {
    return {KVSIM_GetDeviceInfo, [=](Fields &f) { f.number("handle", handle_id(handle)); },
            [=](Fields &f) {
                f.text("description", description ? read_text(description, kTextRoom) : "")
                    .number("id", id ? *id : 0)
                    .text("serial", serial ? read_text(serial, kTextRoom) : "")
                    .number("type", type ? *type : 0);
            },
            [=](const Json &r) {
                const std::uint32_t t = u32(r, "type"), i = u32(r, "id");
                char scratch[kTextRoom];
                put_text(serial ? serial : scratch, kTextRoom, text(r, "serial"), "serial");
                put_text(description ? description : scratch, kTextRoom, text(r, "description"),
                         "description");
                if (type) *type = t;
                if (id) *id = i;
            }};
}

namespace {

// Room for the outputs of a call rebuilt from its recorded arguments.
struct Scratch {
    std::uint32_t a = 0, b = 0;
    KV_HANDLE handle = nullptr;
    std::vector<std::uint8_t> bytes;
    std::vector<DeviceListEntry> list;
    char serial[kTextRoom] = {}, description[kTextRoom] = {};
};

// How many items the recorded results bring, so the scratch room holds them (the restore
// checks them against the arguments).
std::size_t recorded_size(const Json &results, const char *key, std::size_t unit) {
    if (!results.is_object() || !results.contains(key)) return 0;
    const Json &value = results[key];
    return value.is_string() ? value.get_ref<const std::string &>().size() / unit : value.size();
}

Call rebuild(kvsim_entry entry, const Json &args, const Json &results, Scratch &s) {
    switch (entry) {
        case KVSIM_GetLibraryVersion:
            return get_library_version(&s.a);
        case KVSIM_CreateDeviceInfoList:
            return create_device_info_list(&s.a);
        case KVSIM_GetDeviceInfoList:
            s.a = u32(args, "capacity");
            s.list.resize(std::min<std::size_t>(s.a, recorded_size(results, "list", 1)));
            return get_device_info_list(s.list.data(), &s.a);
        case KVSIM_Open:
            return open(u32(args, "position"), &s.handle);
        case KVSIM_Close:
            return close(handle_of(args));
        case KVSIM_ResetDevice:
            return reset_device(handle_of(args));
        case KVSIM_Purge:
            return purge(handle_of(args), u32(args, "mask"));
        case KVSIM_SetUSBParameters:
            return set_usb_parameters(handle_of(args), u32(args, "in"), u32(args, "out"));
        case KVSIM_SetChars:
            return set_chars(handle_of(args), u8(args, "event"), u8(args, "event_on"), u8(args, "error"),
                             u8(args, "error_on"));
        case KVSIM_SetTimeouts:
            return set_timeouts(handle_of(args), u32(args, "read_ms"), u32(args, "write_ms"));
        case KVSIM_SetLatencyTimer:
            return set_latency_timer(handle_of(args), u8(args, "ms"));
        case KVSIM_SetBitMode:
            return set_bit_mode(handle_of(args), u8(args, "mask"), u8(args, "mode"));
        case KVSIM_GetQueueStatus:
            return get_queue_status(handle_of(args), &s.a);
        case KVSIM_Read:
            s.a = u32(args, "count");
            s.bytes.resize(std::min<std::size_t>(s.a, recorded_size(results, "data", 2)));
            return read(handle_of(args), s.bytes.data(), s.a, &s.b);
        case KVSIM_Write:
            s.bytes = from_hex(text(args, "data"));
            if (s.bytes.size() != u32(args, "count")) throw ShapeFault("\"data\": expected \"count\" bytes");
            return write(handle_of(args), s.bytes.data(), u32(args, "count"), &s.a);
        case KVSIM_GetDeviceInfo:
            return get_device_info(handle_of(args), &s.a, &s.b, s.serial, s.description);
        default:
            throw ShapeFault("unknown entry point");
    }
}

}  // namespace

void check_call(kvsim_entry entry, const Json &args, const Json &results) {
    Scratch scratch;
    const Call call = rebuild(entry, args, results, scratch);
    const Json rebuilt = to_json(call.args);
    if (rebuilt != args)
        throw ShapeFault(std::string("\"args\": expected those of ") + entry_name(entry) + ", " +
                         describe(entry, rebuilt));
    if (!results.is_null()) call.restore(results);
}

std::string describe(kvsim_entry entry, const Json &args) {
    std::string out = std::string(entry_name(entry)) + "(";
    for (auto it = args.begin(); args.is_object() && it != args.end(); ++it)
        out += (it == args.begin() ? "" : ", ") + it.key() + "=" + shown(it.value());
    return out + ")";
}

std::string describe_difference(kvsim_entry expected_entry, const Json &expected_args, kvsim_entry entry,
                                const Json &args) {
    if (expected_entry != entry || !expected_args.is_object())
        return "expected " + describe(expected_entry, expected_args) + ", got " + describe(entry, args);
    std::string out = entry_name(entry);
    for (auto it = expected_args.begin(); it != expected_args.end(); ++it) {
        const Json got = args.value(it.key(), Json());
        if (got == it.value()) continue;
        if (it.key() == "data" && got.is_string() && it.value().is_string())
            return out + " " + data_difference(it.value().get<std::string>(), got.get<std::string>());
        return out + " " + it.key() + ": expected " + shown(it.value()) + ", got " + shown(got);
    }
    return "expected " + describe(expected_entry, expected_args) + ", got " + describe(entry, args);
}

void Fields::name(const char *key) {
    if (!first_) line_ += ',';
    first_ = false;
    line_.append("\"").append(key).append("\":");
}

Fields &Fields::number(const char *key, std::uint64_t value) {
    name(key);
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    line_.append(digits, end);
    return *this;
}

// Device text is not always UTF-8: odd bytes are replaced rather than failing the record.
Fields &Fields::text(const char *key, const std::string &value) {
    name(key);
    line_ += Json(value).dump(-1, ' ', false, Json::error_handler_t::replace);
    return *this;
}

namespace {
// Two lower-case hex digits for each byte value.
struct HexTable {
    char pairs[256][2];
    HexTable() {
        static const char digits[] = "0123456789abcdef";
        for (int b = 0; b < 256; ++b) {
            pairs[b][0] = digits[b >> 4];
            pairs[b][1] = digits[b & 0xF];
        }
    }
};
const HexTable kHex;

#if defined(__SSE2__)
// Sixteen bytes to thirty-two hex digits at once: recordings of long transfers are mostly this.
void hex16(const std::uint8_t *in, char *out) {
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
    const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble);
    const __m128i low = _mm_and_si128(bytes, nibble);
    const auto digits = [](__m128i n) {
        const __m128i letter = _mm_cmpgt_epi8(n, _mm_set1_epi8(9));
        return _mm_add_epi8(_mm_add_epi8(n, _mm_set1_epi8('0')), _mm_and_si128(letter, _mm_set1_epi8('a' - '0' - 10)));
    };
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), digits(_mm_unpacklo_epi8(high, low)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), digits(_mm_unpackhi_epi8(high, low)));
}
#endif
}  // namespace

Fields &Fields::hex(const char *key, const void *bytes, std::size_t count) {
    name(key);
    const std::size_t at = line_.size() + 1;
    line_.resize(at + 2 * count + 1, '"');
    const auto *in = static_cast<const std::uint8_t *>(bytes);
    char *out = &line_[at];
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; count - i >= 16; i += 16, out += 32) hex16(in + i, out);
#endif
    for (; i < count; ++i, out += 2) std::memcpy(out, kHex.pairs[in[i]], 2);
    return *this;
}

Json to_json(const FieldWriter &write) {
    std::string text;
    {
        Fields fields(text);
        write(fields);
    }
    return Json::parse(text);
}

namespace {
int digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::vector<std::uint8_t> from_hex(const std::string &text) {
    if (text.size() % 2) throw ShapeFault("hex data of odd length");
    std::vector<std::uint8_t> out(text.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const int high = digit(text[2 * i]), low = digit(text[2 * i + 1]);
        if (high < 0 || low < 0) throw ShapeFault("a character that is not a hex digit in data");
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return out;
}

}  // namespace kvrec
