#include "fault_env.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "simulator.h"

namespace kvsim {

namespace {

// Driver entry-point names without their "KV_", in slot order.
const char *const kEntryNames[KVSIM_ENTRY_COUNT] = {
    "GetLibraryVersion", "CreateDeviceInfoList", "GetDeviceInfoList", "Open",       "Close",
    "ResetDevice",       "Purge",                "SetUSBParameters",  "SetChars",   "SetTimeouts",
    "SetLatencyTimer",   "SetBitMode",           "GetQueueStatus",    "Read",       "Write",
    "GetDeviceInfo"};

struct PlannedFault {
    kvsim_entry entry;
    unsigned nth;
    bool is_short;
    std::uint32_t value;  // the status, or the byte count of a short transfer
};

bool parse_unsigned(const std::string &text, unsigned long long limit, unsigned long long *value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0 && *value <= limit;
}

// ENTRY:NTH:STATUS or ENTRY:NTH:short=COUNT (Read and Write only).
bool parse_fault(const std::string &item, PlannedFault *fault) {
    const std::size_t first = item.find(':'), second = item.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) return false;
    const std::string name = item.substr(0, first), what = item.substr(second + 1);
    int entry = 0;
    while (entry < KVSIM_ENTRY_COUNT && name != kEntryNames[entry]) ++entry;
    unsigned long long nth = 0, value = 0;
    if (entry == KVSIM_ENTRY_COUNT || !parse_unsigned(item.substr(first + 1, second - first - 1), 0xFFFFFFFFu, &nth) ||
        nth == 0)
        return false;
    fault->entry = static_cast<kvsim_entry>(entry);
    fault->nth = static_cast<unsigned>(nth);
    fault->is_short = what.compare(0, 6, "short=") == 0;
    if (fault->is_short && entry != KVSIM_Read && entry != KVSIM_Write) return false;
    if (!parse_unsigned(fault->is_short ? what.substr(6) : what, 0xFFFFFFFFu, &value)) return false;
    if (!fault->is_short && value == 0) return false;
    fault->value = static_cast<std::uint32_t>(value);
    return true;
}

bool parse_faults(const std::string &text, std::vector<PlannedFault> *faults) {
    for (std::size_t begin = 0; begin <= text.size();) {
        std::size_t end = text.find(',', begin);
        if (end == std::string::npos) end = text.size();
        PlannedFault fault{};
        if (!parse_fault(text.substr(begin, end - begin), &fault)) return false;
        faults->push_back(fault);
        begin = end + 1;
    }
    return true;
}

std::string &calls_file() {
    static std::string *path = new std::string;
    return *path;
}

__attribute__((destructor)) void write_call_counts() {
    if (calls_file().empty()) return;
    FILE *out = std::fopen(calls_file().c_str(), "w");
    if (!out) return;
    const Simulator &sim = Simulator::instance();
    for (int entry = 0; entry < KVSIM_ENTRY_COUNT; ++entry) {
        const unsigned calls = sim.call_count(static_cast<kvsim_entry>(entry));
        if (calls != 0) std::fprintf(out, "%s %u\n", kEntryNames[entry], calls);
    }
    std::fclose(out);
}

}  // namespace

void plan_faults_from_environment(Simulator &sim) {
    const char *calls = std::getenv("KVZUBR_SIM_CALLS");
    calls_file() = calls ? calls : "";
    const char *text = std::getenv("KVZUBR_SIM_FAULTS");
    if (!text || !*text) return;
    std::vector<PlannedFault> faults;
    if (!parse_faults(text, &faults)) {
        std::fprintf(stderr,
                     "kvzubr-sim: KVZUBR_SIM_FAULTS: \"%s\" is not a list of ENTRY:NTH:STATUS or "
                     "ENTRY:NTH:short=COUNT; no fault planned\n",
                     text);
        return;
    }
    for (const PlannedFault &fault : faults) {
        if (fault.is_short)
            sim.short_transfer(fault.entry, fault.nth, fault.value);
        else
            sim.fail_call(fault.entry, fault.nth, fault.value);
    }
}

}  // namespace kvsim
