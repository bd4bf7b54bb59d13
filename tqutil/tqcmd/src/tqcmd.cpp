// tqcmd: sends a command word to a Torqa sensor, then a 16-bit data word, or reads twelve
// bytes back and shows them bit by bit.
#include "parser.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tq_api.h"

namespace {

const char kTool[] = "tqcmd";
const int answer_bytes = 12;
const int group_bytes = 3;

void print_group(const uint8_t *group) {
    std::fputs("Data:", stdout);
    for (int i = 0; i < group_bytes; ++i) {
        std::putchar(' ');
        for (int bit = 7; bit >= 0; --bit) {
            std::printf("%d", (group[i] >> bit) & 1);
        }
    }
    std::putchar('\n');
}

int send_data_word(KV_HANDLE handle, uint8_t *buffer, int data_in) {
    buffer[0] = static_cast<uint8_t>((data_in >> 8) & 0xFF);
    buffer[1] = static_cast<uint8_t>(data_in & 0xFF);
    const int status = KORVIN_WriteStream(handle, buffer, 2);
    if (status != 0) cli_report_failure(kTool, "sending the data word", status);
    return status;
}

// The answer is shown only when all of it came.
int read_answer(KV_HANDLE handle, uint8_t *buffer) {
    const int status = KORVIN_ReadStream(handle, buffer, answer_bytes);
    if (status != 0) {
        cli_report_failure(kTool, "reading the answer", status);
        return status;
    }
    for (int i = 0; i < answer_bytes; i += group_bytes) {
        print_group(buffer + i);
    }
    return 0;
}

int transfer(KV_HANDLE handle, const PARSER_PARAM &parser, uint8_t *buffer) {
    const int status = TQ_Cmd(handle, parser.data_in);
    if (status != 0) {
        cli_report_failure(kTool, "sending the command word", status);
        return status;
    }
    return parser.trnsfr16b ? send_data_word(handle, buffer, parser.data_in) : read_answer(handle, buffer);
}

} // namespace

int main(int argc, char **argv) {
    GEN_PARAM gen;
    cli_set_defaults(&gen);
    PARSER_PARAM parser = {};
    parser.trnsfr16b = 0;
    TQ_AutoChannel(&gen);

    uint8_t *buffer = static_cast<uint8_t *>(std::calloc(answer_bytes, 1));
    if (buffer == nullptr) {
        std::puts("ERROR: Could not allocate memory");
        return 1;
    }
    if (arg_parser(&gen, &parser, argc, argv) == PARSER_EXIT) {
        std::free(buffer);
        return cli_finish(kTool, 0);
    }

    KV_HANDLE handle = nullptr;
    ChannelConfig channelConf = {};
    int status = TQ_Open(&handle, gen.channel, gen.muted, gen.spimode, gen.baudrate, &channelConf);
    if (status != 0) {
        cli_report_failure(kTool, ("opening channel " + std::to_string(gen.channel)).c_str(), status);
    } else {
        status = transfer(handle, parser, buffer);
        TQ_Close(handle);
    }
    std::free(buffer);
    return cli_finish(kTool, status == 0 ? 0 : 1);
}
