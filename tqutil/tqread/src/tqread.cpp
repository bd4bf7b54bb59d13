// tqread: reads a burst of Torqa sensor samples and prints it, or writes it to a file with a
// report file beside it.
#include "parser.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tq_api.h"

namespace {

// The report file's name appends ".info", which must still fit the name field.
const std::size_t max_file_name_length = TQREAD_FILE_NAME_SIZE - sizeof(".info");
// The burst and its 3 spare bytes must be countable in an int.
const int max_sample_size = (INT_MAX - TQ_SAMPLE_BYTES) / TQ_SAMPLE_BYTES;

// Refuses, before anything is acquired or written, what the burst or the files cannot hold.
bool request_is_sound(const PARSER_PARAM &parser) {
    if (std::strlen(parser.file_name) > max_file_name_length) {
        std::printf("ERROR: File name too long: at most %d characters\n",
                    static_cast<int>(max_file_name_length));
        return false;
    }
    if (parser.sample_size < 0) {
        std::printf("ERROR: Invalid sample size %d: must not be negative\n", parser.sample_size);
        return false;
    }
    if (parser.sample_size > max_sample_size) {
        std::printf("ERROR: Sample size too large: at most %d samples\n", max_sample_size);
        return false;
    }
    return true;
}

// Every full piece but the last goes through the stream read, the last piece through
// TQ_ReadData.
void acquire(KV_HANDLE handle, uint8_t *buffer, int remaining_size) {
    int buffer_write_count = 0;
    while (remaining_size > TQ_PIECE_BYTES) {
        KORVIN_ReadStream(handle, buffer + buffer_write_count * TQ_PIECE_BYTES, TQ_PIECE_BYTES);
        remaining_size -= TQ_PIECE_BYTES;
        ++buffer_write_count;
    }
    TQ_ReadData(handle, buffer + buffer_write_count * TQ_PIECE_BYTES, remaining_size);
}

// The output file, then its report. The report is opened only once the output file is, so a
// failed open leaves an existing report as it was.
int write_files(const PARSER_PARAM &parser, const uint8_t *buffer) {
    const char *mode = parser.append ? "a" : "w";
    FILE *outfile = std::fopen(parser.file_name, mode);
    if (outfile == nullptr) {
        std::puts("ERROR: Could not open file");
        return 1;
    }
    const std::string report_name = std::string(parser.file_name) + ".info";
    FILE *outerror = std::fopen(report_name.c_str(), mode);
    if (outerror == nullptr) {
        std::fclose(outfile);
        std::puts("ERROR: Could not open error file");
        return 1;
    }
    TQ_PrintData(outfile, buffer, 0, parser.sample_size, parser.output_format, parser.output_radix);
    TQ_PrintError(outerror, buffer, 0, parser.sample_size, parser.output_format, parser.output_radix);
    std::fclose(outfile);
    std::fclose(outerror);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    GEN_PARAM gen = {};
    PARSER_PARAM parser = {};
    TQ_AutoChannel(&gen);
    if (arg_parser(&gen, &parser, argc, argv) == PARSER_EXIT) {
        return 0;
    }
    if (!request_is_sound(parser)) {
        return 1;
    }

    KV_HANDLE handle = nullptr;
    ChannelConfig channelConf = {};
    TQ_Open(&handle, gen.channel, gen.muted, gen.spimode, gen.baudrate, &channelConf);

    const int remaining_size = parser.sample_size * TQ_SAMPLE_BYTES;
    // Zeroed, so that a piece the library could not read shows as zeros, not as stale memory.
    uint8_t *buffer = static_cast<uint8_t *>(std::calloc(static_cast<std::size_t>(remaining_size) + 3, 1));
    if (buffer == nullptr) {
        std::puts("ERROR: Could not allocate memory");
        TQ_Close(handle);
        return 1;
    }
    acquire(handle, buffer, remaining_size);

    int status = 0;
    if (parser.file_name[0] != '\0') {
        status = write_files(parser, buffer);
    } else {
        TQ_PrintData(stdout, buffer, 0, parser.sample_size, parser.output_format, parser.output_radix);
    }
    std::free(buffer);
    TQ_Close(handle);
    return status;
}
