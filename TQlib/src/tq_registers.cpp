// The sensor's ten registers: reading, writing under the key rules, printing with fields.
#include <cstdio>

#include "tq_api.h"
#include "tq_guard.h"
#include "tq_radix.h"
#include "tq_wire.h"

namespace {

struct FieldName {
    const char *name;
    int reg;
    unsigned shift, bits;
};

// In register order, lowest bit first.
constexpr FieldName kFields[] = {
    {"EDF", 0, 0, 1}, {"FWS", 0, 1, 1}, {"FR", 0, 2, 1},  {"FLL", 0, 3, 2}, {"FI", 0, 5, 3},  {"BCT", 3, 0, 8},
    {"ZH", 4, 0, 8},  {"ZL", 5, 0, 4},  {"ETX", 5, 4, 1}, {"ETY", 5, 5, 1}, {"BIX", 5, 6, 1}, {"BIY", 5, 7, 1},
    {"PWM", 7, 0, 1}, {"RD", 7, 1, 1},  {"UVW", 7, 2, 1}, {"ABZ", 7, 3, 1}, {"EPT", 7, 4, 2}, {"AF", 7, 6, 2},
};

bool valid_register(int reg) { return reg >= 0 && reg < TQ_REG_COUNT; }

KV_STATUS program_register9(KV_HANDLE handle, std::uint8_t bits) {
    KV_STATUS status = tq::program_otp(handle, TQ_OTP_KEY, bits);
    if (status != STATUS_SUCCESS) return status;
    std::uint8_t programmed = 0;
    status = tq::read_register(handle, tq::kOtpRegister, &programmed);
    if (status != STATUS_SUCCESS) return status;
    return (programmed & bits) == bits ? STATUS_SUCCESS : STATUS_WRITE_REFUSED;
}

}  // namespace

extern "C" {

int TQ_ReadReg(KV_HANDLE handle, int reg, uint8_t *value) {
    return tq::guarded([&] {
        if (value == nullptr) return tq::kNullArgument;
        if (handle == nullptr || !valid_register(reg)) return tq::kRefused;
        return tq::result(tq::read_register(handle, reg, value));
    });
}

// Registers 0..8 take any key. Register 9 is one-time programmable: only with TQ_OTP_KEY,
// and the value's bits are added to those already programmed.
int TQ_WriteReg_Restricted(KV_HANDLE handle, int reg, uint8_t value, int key) {
    return tq::guarded([&] {
        if (handle == nullptr || !valid_register(reg)) return tq::kRefused;
        if (reg != tq::kOtpRegister) return tq::result(tq::write_register(handle, reg, value));
        if (key != TQ_OTP_KEY) return tq::kRefused;
        return tq::result(program_register9(handle, value));
    });
}

int TQ_RegPrint(uint8_t value, int reg, int radix) {
    return tq::guarded([&] {
        if (!valid_register(reg)) return tq::kRefused;
        // "Register 5: 0x25  ZL=0x5 ETX=0x0 ...": two spaces before the first field.
        char line[256];
        char *p = line + std::snprintf(line, 32, "Register %d: ", reg);
        p = tq::put_number(p, value, 8, radix);
        bool first = true;
        for (const FieldName &field : kFields) {
            if (field.reg != reg) continue;
            p += std::snprintf(p, 16, "%s%s=", first ? "  " : " ", field.name);
            p = tq::put_number(p, static_cast<std::uint32_t>(value) >> field.shift, field.bits, radix);
            first = false;
        }
        *p++ = '\n';
        auto length = static_cast<std::size_t>(p - line);
        return std::fwrite(line, 1, length, stdout) == length ? 0 : tq::kRefused;
    });
}

}  // extern "C"
