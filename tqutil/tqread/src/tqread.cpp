// tqread: reads a burst of Torqa sensor samples and prints it, or writes it to a file with a
// report file beside it.
#include "parser.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "acquire.h"
#include "tq_api.h"

namespace {

const char kTool[] = "tqread";

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

// The output file, then its report. The report is opened only once the output file is, so a
// failed open leaves an existing report as it was. Output that cannot be written is a failure.
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
    bool data_written =
        TQ_PrintData(outfile, buffer, 0, parser.sample_size, parser.output_format, parser.output_radix) == 0;
    data_written = std::fclose(outfile) == 0 && data_written;
    bool report_written =
        TQ_PrintError(outerror, buffer, 0, parser.sample_size, parser.output_format, parser.output_radix) == 0;
    report_written = std::fclose(outerror) == 0 && report_written;
    if (!data_written || !report_written) {
        cli_report_lost_output(kTool, (data_written ? report_name : std::string(parser.file_name)).c_str());
        return 1;
    }
    return 0;
}

// Reads the burst and puts it out. The files are opened only after the whole burst came, so a
// failed acquisition leaves them as they were.
int read_burst(KV_HANDLE handle, const PARSER_PARAM &parser) {
    const int remaining_size = parser.sample_size * TQ_SAMPLE_BYTES;
    uint8_t *buffer = static_cast<uint8_t *>(std::calloc(static_cast<std::size_t>(remaining_size) + 3, 1));
    if (buffer == nullptr) {
        std::puts("ERROR: Could not allocate memory");
        return 1;
    }
    int failed_offset = 0;
    int status = acquire(handle, buffer, remaining_size, &failed_offset);
    if (status != 0) {
        const std::string what = "reading the samples from byte " + std::to_string(failed_offset);
        cli_report_failure(kTool, what.c_str(), status);
        status = 1;
    } else if (parser.file_name[0] != '\0') {
        status = write_files(parser, buffer);
    } else {
        TQ_PrintData(stdout, buffer, 0, parser.sample_size, parser.output_format, parser.output_radix);
    }
    std::free(buffer);
    return status;
}

} // namespace

int main(int argc, char **argv) {
    GEN_PARAM gen = {};
    PARSER_PARAM parser = {};
    TQ_AutoChannel(&gen);
    if (arg_parser(&gen, &parser, argc, argv) == PARSER_EXIT) {
        return cli_finish(kTool, 0);
    }
    if (!request_is_sound(parser)) {
        return cli_finish(kTool, 1);
    }

    KV_HANDLE handle = nullptr;
    ChannelConfig channelConf = {};
    const int opened = TQ_Open(&handle, gen.channel, gen.muted, gen.spimode, gen.baudrate, &channelConf);
    if (opened != 0) {
        cli_report_failure(kTool, ("opening channel " + std::to_string(gen.channel)).c_str(), opened);
        return cli_finish(kTool, 1);
    }
    const int status = read_burst(handle, parser);
    TQ_Close(handle);
    return cli_finish(kTool, status);
}
