// tqreg: reads, writes, verifies and programs the registers of a Torqa sensor.
#include "parser.h"

#include <string>

#include "tq_api.h"

namespace {

const char kTool[] = "tqreg";

// A library call of the work that failed: reported once; the run then ends with status 1.
struct Failed {
    int status;
};

void check(int status, const std::string &what) {
    if (status == 0) return;
    cli_report_failure(kTool, what.c_str(), status);
    throw Failed{status};
}

std::string register_name(int r) { return "register " + std::to_string(r); }

int open_sensor(KV_HANDLE *handle, const GEN_PARAM &gen, ChannelConfig *channelConf) {
    return TQ_Open(handle, gen.channel, gen.muted, gen.spimode, gen.baudrate, channelConf);
}

// The registers as they stand, so that a field assignment changes only that field's bits.
// True only when every register was read.
bool take_snapshot(const GEN_PARAM &gen, REG_VAL *val) {
    KV_HANDLE handle = nullptr;
    ChannelConfig channelConf = {};
    if (open_sensor(&handle, gen, &channelConf) != 0) return false;
    bool complete = true;
    for (int r = 0; r < TQ_REG_COUNT && complete; ++r) {
        complete = TQ_ReadReg(handle, r, &val->regval[r]) == 0;
    }
    TQ_Close(handle);
    return complete;
}

// Without a snapshot, a register of which only some bits were named is read first and the
// named bits merged into it; register 9 in program mode keeps its own rules.
void merge_partial_assignments(KV_HANDLE handle, const REG_PARAM &reg, REG_VAL *val) {
    for (int r = 0; r < TQ_REG_COUNT - 1; ++r) {
        const uint8_t named = reg.reg2write_msk[r];
        if (!reg.reg2write[r] || named == 0xFF) continue;
        uint8_t current = 0;
        check(TQ_ReadReg(handle, r, &current), "reading " + register_name(r) + " before writing it");
        val->regval[r] = static_cast<uint8_t>((current & ~named) | (val->regval[r] & named));
    }
}

void read_and_print(KV_HANDLE handle, const uint8_t *selected, REG_VAL *val, int radix) {
    for (int r = 0; r < TQ_REG_COUNT; ++r) {
        if (selected[r]) {
            check(TQ_ReadReg(handle, r, &val->regval[r]), "reading " + register_name(r));
            TQ_RegPrint(val->regval[r], r, radix);
        }
    }
}

void write_registers(KV_HANDLE handle, const PARSER_PARAM &parser, const REG_PARAM &reg, REG_VAL *val) {
    for (int r = 0; r < TQ_REG_COUNT; ++r) {
        if (reg.reg2write[r]) {
            check(TQ_WriteReg_Restricted(handle, r, val->regval[r], parser.key), "writing " + register_name(r));
        }
    }
    for (uint8_t &value : val->regval) value = 0;
}

void work(KV_HANDLE handle, const PARSER_PARAM &parser, const REG_PARAM &reg, REG_VAL *val, bool snapshot) {
    if (parser.write) {
        if (!snapshot) merge_partial_assignments(handle, reg, val);
        write_registers(handle, parser, reg, val);
        if (parser.verify) {
            read_and_print(handle, reg.reg2write, val, parser.output_radix);
        }
    }
    if (parser.read) {
        read_and_print(handle, reg.reg2read, val, parser.output_radix);
    }
}

} // namespace

int main(int argc, char **argv) {
    GEN_PARAM gen;
    cli_set_defaults(&gen);
    PARSER_PARAM parser = {};
    REG_PARAM reg = {};
    REG_VAL val = {};

    const bool snapshot = TQ_AutoChannel(&gen) == 0 && take_snapshot(gen, &val);
    if (arg_parser(&gen, &parser, &reg, &val, argc, argv) == PARSER_EXIT) {
        return cli_finish(kTool, 0);
    }

    KV_HANDLE handle = nullptr;
    ChannelConfig channelConf = {};
    int status = 0;
    try {
        check(open_sensor(&handle, gen, &channelConf), "opening channel " + std::to_string(gen.channel));
        work(handle, parser, reg, &val, snapshot);
    } catch (const Failed &) {
        status = 1;
    }
    if (handle != nullptr) TQ_Close(handle);
    return cli_finish(kTool, status);
}
