#include "recording_file.h"

namespace kvrec {

namespace {

constexpr int kMaxDepth = 6;  // a call line nests no deeper than its device list entries

Json parse_line(const std::string &text) {
    // Deeper nesting is refused as it is read, so no hostile line makes the parser recurse far.
    try {
        return Json::parse(text, [](int depth, Json::parse_event_t, Json &) {
            if (depth > kMaxDepth) throw ShapeFault("nested too deeply");
            return true;
        });
    } catch (const Json::parse_error &e) {
        // The parser counts lines and columns of the one line it was given: keep only its reason.
        const std::string what = e.what();
        const std::size_t reason = what.find(": ", what.find("column"));
        throw ShapeFault("not JSON at character " + std::to_string(e.byte) +
                         (reason == std::string::npos ? "" : ": " + what.substr(reason + 2)));
    }
}

std::uint64_t whole_number(const Json &line, const char *key) {
    const auto it = line.find(key);
    if (it == line.end() || !it->is_number_unsigned())
        throw ShapeFault("\"" + std::string(key) + "\": expected a whole number");
    return it->get<std::uint64_t>();
}

void check_header(const Json &line) {
    if (line.value("format", "") != kFormatName)
        throw ShapeFault("not a recording: no \"format\": \"" + std::string(kFormatName) + "\"");
    const std::uint64_t version = whole_number(line, "version");
    if (version != kFormatVersion)
        throw ShapeFault("format version " + std::to_string(version) + " is not read here (version " +
                         std::to_string(kFormatVersion) + " is)");
}

RecordedCall parse_call(const Json &line, unsigned expected_number) {
    if (whole_number(line, "n") != expected_number)
        throw ShapeFault("\"n\": expected call number " + std::to_string(expected_number));
    RecordedCall call;
    call.micros = whole_number(line, "t_us");
    const auto name = line.find("call");
    if (name == line.end() || !name->is_string() || !entry_by_name(name->get<std::string>(), &call.entry))
        throw ShapeFault("\"call\": expected the name of a driver entry point");
    const std::uint64_t status = whole_number(line, "status");
    if (status > UINT32_MAX) throw ShapeFault("\"status\": more than 32 bits");
    call.status = static_cast<KV_STATUS>(status);
    call.args = line.value("args", Json());
    call.results = line.value("result", Json());
    if (call.results.is_null() && keeps_results(call.entry, call.status))
        throw ShapeFault("\"result\" is missing: a call that succeeded, and every read and write, keeps what it gave");
    check_call(call.entry, call.args, call.results);
    return call;
}

}  // namespace

// Fields keep a reading order: number, time, call, then what the call took and gave.
std::string header_line(const std::string &driver) {
    std::string line;
    {
        Fields fields(line);
        fields.word("format", kFormatName).number("version", kFormatVersion).text("driver", driver);
    }
    return line + "\n";
}

void append_call_line(std::string &line, unsigned number, std::uint64_t micros, const Call &call,
                      KV_STATUS status) {
    {
        Fields fields(line);
        fields.number("n", number).number("t_us", micros);
        fields.word("call", entry_name(call.entry));
        fields.object("args", call.args).number("status", status);
        if (keeps_results(call.entry, status)) fields.object("result", call.results);
    }
    line += '\n';
}

std::string closing_line(unsigned calls) { return Json{{"end", true}, {"calls", calls}}.dump() + "\n"; }

std::vector<RecordedCall> read_recording(std::istream &in) {
    std::vector<RecordedCall> calls;
    std::string text;
    unsigned number = 0;
    bool closed = false;
    while (std::getline(in, text)) {
        ++number;
        try {
            if (in.eof()) throw ShapeFault("the line stops before its end: the recording was cut short");
            if (closed) throw ShapeFault("more text after the closing line");
            const Json line = parse_line(text);
            if (!line.is_object()) throw ShapeFault("expected a JSON object");
            if (number == 1) {
                check_header(line);
            } else if (line.contains("end")) {
                if (whole_number(line, "calls") != calls.size())
                    throw ShapeFault("the closing line counts " + line["calls"].dump() +
                                     " calls, the file holds " + std::to_string(calls.size()));
                closed = true;
            } else {
                calls.push_back(parse_call(line, static_cast<unsigned>(calls.size() + 1)));
                calls.back().line = number;
            }
        } catch (const std::exception &e) {
            throw RecordingFault(number, e.what());
        }
    }
    if (number == 0) throw RecordingFault(1, "empty file: not a recording");
    if (!closed)
        throw RecordingFault(number + 1, "the recording stops without its closing line: it was cut short");
    return calls;
}

}  // namespace kvrec
