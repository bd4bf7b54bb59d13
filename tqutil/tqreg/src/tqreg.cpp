// tqreg: reads, writes, verifies and programs the registers of a Torqa sensor.
#include "parser.h"

#include "tq_api.h"

namespace {

void open_sensor(KV_HANDLE *handle, const GEN_PARAM &gen, ChannelConfig *channelConf) {
    TQ_Open(handle, gen.channel, gen.muted, gen.spimode, gen.baudrate, channelConf);
}

// The registers as they stand, so that a field assignment changes only that field's bits.
void take_snapshot(const GEN_PARAM &gen, REG_VAL *val) {
    KV_HANDLE handle = nullptr;
    ChannelConfig channelConf = {};
    open_sensor(&handle, gen, &channelConf);
    for (int r = 0; r < TQ_REG_COUNT; ++r) {
        TQ_ReadReg(handle, r, &val->regval[r]);
    }
    TQ_Close(handle);
}

void read_and_print(KV_HANDLE handle, const uint8_t *selected, REG_VAL *val, int radix) {
    for (int r = 0; r < TQ_REG_COUNT; ++r) {
        if (selected[r]) {
            TQ_ReadReg(handle, r, &val->regval[r]);
            TQ_RegPrint(val->regval[r], r, radix);
        }
    }
}

void write_registers(KV_HANDLE handle, const PARSER_PARAM &parser, const REG_PARAM &reg,
                     REG_VAL *val) {
    for (int r = 0; r < TQ_REG_COUNT; ++r) {
        if (reg.reg2write[r]) {
            TQ_WriteReg_Restricted(handle, r, val->regval[r], parser.key);
        }
        val->regval[r] = 0;
    }
}

} // namespace

int main(int argc, char **argv) {
    GEN_PARAM gen;
    cli_set_defaults(&gen);
    PARSER_PARAM parser = {};
    REG_PARAM reg = {};
    REG_VAL val = {};

    if (TQ_AutoChannel(&gen) == 0) {
        take_snapshot(gen, &val);
    }
    if (arg_parser(&gen, &parser, &reg, &val, argc, argv) == PARSER_EXIT) {
        return 0;
    }

    KV_HANDLE handle = nullptr;
    ChannelConfig channelConf = {};
    open_sensor(&handle, gen, &channelConf);
    if (parser.write) {
        write_registers(handle, parser, reg, &val);
        if (parser.verify) {
            read_and_print(handle, reg.reg2write, &val, parser.output_radix);
        }
    }
    if (parser.read) {
        read_and_print(handle, reg.reg2read, &val, parser.output_radix);
    }
    TQ_Close(handle);
    return 0;
}
