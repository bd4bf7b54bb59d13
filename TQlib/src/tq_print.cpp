// Printing a burst of samples (TQ_PrintData) and the report on it (TQ_PrintError).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "tq_api.h"
#include "tq_guard.h"
#include "tq_radix.h"

namespace {

constexpr std::uint8_t kWeakFlag = 0x80, kStrongFlag = 0x40;
constexpr std::uint32_t kTurn = 65536;

struct Sample {
    std::uint16_t angle;
    std::uint8_t status;
    std::uint32_t word() const { return static_cast<std::uint32_t>(angle) << 8 | status; }
    bool flagged() const { return (status & (kWeakFlag | kStrongFlag)) != 0; }
    bool parity_ok() const { return __builtin_popcount(word()) % 2 == 1; }
};

Sample sample_at(const std::uint8_t *samples, std::size_t i) {
    const std::uint8_t *s = samples + 3 * i;
    return {static_cast<std::uint16_t>(s[0] << 8 | s[1]), s[2]};
}

double degrees(double angle) { return angle * 360.0 / kTurn; }

// Buffered output: a million lines cost a few hundred fwrite calls, not a million fprintf.
class LineWriter {
public:
    explicit LineWriter(FILE *stream) : stream_(stream) {}
    static constexpr std::size_t kLineMax = 256;
    // Room for one line.
    char *line() {
        if (used_ + kLineMax > sizeof buffer_) flush();
        return buffer_ + used_;
    }
    void commit(char *end) { used_ = static_cast<std::size_t>(end - buffer_); }
    bool finish() {
        flush();
        return ok_ && std::fflush(stream_) == 0;
    }

private:
    void flush() {
        if (used_ != 0 && std::fwrite(buffer_, 1, used_, stream_) != used_) ok_ = false;
        used_ = 0;
    }
    FILE *stream_;
    char buffer_[1 << 16];
    std::size_t used_ = 0;
    bool ok_ = true;
};

char *put_text(char *out, const char *text) {
    std::size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return out + n;
}

// Degrees with four decimals, rounded half up: 0.0000 to 359.9945.
char *put_degrees(char *out, std::uint16_t angle) {
    std::uint32_t tenths_of_millis = static_cast<std::uint32_t>((static_cast<std::uint64_t>(angle) * 3600000 + kTurn / 2) / kTurn);
    out = tq::put_decimal(out, tenths_of_millis / 10000);
    *out++ = '.';
    std::uint32_t fraction = tenths_of_millis % 10000;
    for (std::uint32_t scale = 1000; scale != 0; scale /= 10) *out++ = static_cast<char>('0' + fraction / scale % 10);
    return out;
}

// Writes text [begin, end) right-aligned in `width` columns at `out`; begin may lie in a scratch area.
char *put_right(char *out, const char *begin, const char *end, int width) {
    for (int pad = width - static_cast<int>(end - begin); pad > 0; --pad) *out++ = ' ';
    std::memmove(out, begin, static_cast<std::size_t>(end - begin));
    return out + (end - begin);
}

template <typename Put>
char *column(char *out, int width, Put put) {
    char scratch[64];
    return put_right(out, scratch, put(scratch), width);
}

char *put_flags(char *out, Sample s) {
    const char *separator = "";
    auto flag = [&](bool set, const char *name) {
        if (!set) return;
        out = put_text(put_text(out, separator), name);
        separator = ",";
    };
    flag((s.status & kWeakFlag) != 0, "weak");
    flag((s.status & kStrongFlag) != 0, "strong");
    flag(!s.parity_ok(), "parity");
    return *separator == '\0' ? put_text(out, "ok") : out;
}

struct TextColumns {
    int sample = 8, angle, degrees = 8, status;
    explicit TextColumns(int radix)
        : angle(std::max(5, tq::number_width(16, radix))), status(std::max(6, tq::number_width(8, radix))) {}
};

void print_text(LineWriter &out, const std::uint8_t *samples, std::size_t first, std::size_t count, int radix) {
    TextColumns w(radix);
    char *p = out.line();
    p += std::snprintf(p, LineWriter::kLineMax, "%*s  %*s  %*s  %*s  %s\n", w.sample, "Sample", w.angle, "Angle",
                       w.degrees, "Degrees", w.status, "Status", "Flags");
    out.commit(p);
    for (std::size_t i = 0; i < count; ++i) {
        Sample s = sample_at(samples, first + i);
        p = column(out.line(), w.sample, [&](char *q) { return tq::put_decimal(q, first + i); });
        p = column(put_text(p, "  "), w.angle, [&](char *q) { return tq::put_number(q, s.angle, 16, radix); });
        p = column(put_text(p, "  "), w.degrees, [&](char *q) { return put_degrees(q, s.angle); });
        p = column(put_text(p, "  "), w.status, [&](char *q) { return tq::put_number(q, s.status, 8, radix); });
        p = put_flags(put_text(p, "  "), s);
        *p++ = '\n';
        out.commit(p);
    }
}

void print_csv(LineWriter &out, const std::uint8_t *samples, std::size_t first, std::size_t count, int radix) {
    out.commit(put_text(out.line(), "sample,angle,degrees,status\n"));
    for (std::size_t i = 0; i < count; ++i) {
        Sample s = sample_at(samples, first + i);
        char *p = tq::put_decimal(out.line(), first + i);
        *p++ = ',';
        p = tq::put_number(p, s.angle, 16, radix);
        *p++ = ',';
        p = put_degrees(p, s.angle);
        *p++ = ',';
        p = tq::put_number(p, s.status, 8, radix);
        *p++ = '\n';
        out.commit(p);
    }
}

void print_plain(LineWriter &out, const std::uint8_t *samples, std::size_t first, std::size_t count, int radix) {
    for (std::size_t i = 0; i < count; ++i) {
        char *p = tq::put_number(out.line(), sample_at(samples, first + i).word(), 24, radix);
        *p++ = '\n';
        out.commit(p);
    }
}

bool valid_request(FILE *stream, const std::uint8_t *samples, int first, int count) {
    return stream != nullptr && first >= 0 && count >= 0 && (samples != nullptr || count == 0);
}

// What the report says about a burst.
struct Report {
    std::size_t count = 0, flagged = 0, weak = 0, strong = 0, parity_errors = 0;
    std::uint16_t min = 0, max = 0;
    double mean = 0, noise_deviation = 0, noise_peak_to_peak = 0;  // degrees
};

// The angle sequence made continuous across the 0/360 wrap, in angle units.
class Unwrapper {
public:
    double next(std::uint16_t angle) {
        if (started_) {
            auto step = static_cast<std::int16_t>(static_cast<std::uint16_t>(angle - last_));
            value_ += step;
        } else {
            value_ = angle;
            started_ = true;
        }
        last_ = angle;
        return value_;
    }

private:
    bool started_ = false;
    std::uint16_t last_ = 0;
    double value_ = 0;
};

// Mean and noise come from the unwrapped angles: angles either side of 0 do not average to
// 180, and noise is measured about the straight line that best fits them, so that a steady
// rotation does not count as noise.
void measure_along_the_turn(Report &r, const std::uint8_t *samples, std::size_t n) {
    double centre = (static_cast<double>(n) - 1) / 2, sum_y = 0, sum_xy = 0;
    Unwrapper pass1;
    for (std::size_t i = 0; i < n; ++i) {
        double y = pass1.next(sample_at(samples, i).angle);
        sum_y += y;
        sum_xy += (static_cast<double>(i) - centre) * y;
    }
    double dn = static_cast<double>(n), sum_xx = dn * (dn * dn - 1) / 12;
    double mean_y = sum_y / dn, slope = sum_xx > 0 ? sum_xy / sum_xx : 0;
    double mean = std::fmod(mean_y, static_cast<double>(kTurn));
    r.mean = degrees(mean < 0 ? mean + kTurn : mean);
    double squares = 0, low = 0, high = 0;
    Unwrapper pass2;
    for (std::size_t i = 0; i < n; ++i) {
        double residual = pass2.next(sample_at(samples, i).angle) - mean_y - slope * (static_cast<double>(i) - centre);
        squares += residual * residual;
        low = i == 0 ? residual : std::min(low, residual);
        high = i == 0 ? residual : std::max(high, residual);
    }
    r.noise_deviation = degrees(std::sqrt(squares / dn));
    r.noise_peak_to_peak = degrees(high - low);
}

Report make_report(const std::uint8_t *samples, std::size_t n) {
    Report r;
    r.count = n;
    if (n == 0) return r;
    r.min = r.max = sample_at(samples, 0).angle;
    for (std::size_t i = 0; i < n; ++i) {
        Sample s = sample_at(samples, i);
        r.min = std::min(r.min, s.angle);
        r.max = std::max(r.max, s.angle);
        r.flagged += s.flagged();
        r.weak += (s.status & kWeakFlag) != 0;
        r.strong += (s.status & kStrongFlag) != 0;
        r.parity_errors += !s.parity_ok();
    }
    measure_along_the_turn(r, samples, n);
    return r;
}

// Degrees for the report, or "-" when there are no samples.
std::string report_degrees(const Report &r, double value) {
    if (r.count == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

std::string report_angle(const Report &r, std::uint16_t angle, int radix) {
    if (r.count == 0) return "-";
    char number[tq::kNumberTextMax + 1];
    *tq::put_number(number, angle, 16, radix) = '\0';
    return report_degrees(r, degrees(angle)) + " deg (" + number + ")";
}

bool print_report(FILE *f, const Report &r, int format, int radix) {
    std::string min = report_degrees(r, degrees(r.min)), max = report_degrees(r, degrees(r.max)),
                mean = report_degrees(r, r.mean), deviation = report_degrees(r, r.noise_deviation),
                peak = report_degrees(r, r.noise_peak_to_peak);
    if (format == TQ_FORMAT_CSV) {
        std::fprintf(f, "samples,min_deg,max_deg,mean_deg,noise_std_deg,noise_pp_deg,flagged,parity_errors\n");
        std::fprintf(f, "%zu,%s,%s,%s,%s,%s,%zu,%zu\n", r.count, min.c_str(), max.c_str(), mean.c_str(),
                     deviation.c_str(), peak.c_str(), r.flagged, r.parity_errors);
    } else if (format == TQ_FORMAT_PLAIN) {
        std::fprintf(f, "%zu\n%s\n%s\n%s\n%s\n%s\n%zu\n%zu\n", r.count, min.c_str(), max.c_str(), mean.c_str(),
                     deviation.c_str(), peak.c_str(), r.flagged, r.parity_errors);
    } else {
        std::fprintf(f, "Samples:              %zu\n", r.count);
        std::fprintf(f, "Minimum angle:        %s\n", report_angle(r, r.min, radix).c_str());
        std::fprintf(f, "Maximum angle:        %s\n", report_angle(r, r.max, radix).c_str());
        std::fprintf(f, "Mean angle:           %s%s\n", mean.c_str(), r.count ? " deg" : "");
        std::fprintf(f, "Noise, std deviation: %s%s\n", deviation.c_str(), r.count ? " deg" : "");
        std::fprintf(f, "Noise, peak to peak:  %s%s\n", peak.c_str(), r.count ? " deg" : "");
        std::fprintf(f, "Flagged samples:      %zu (field too weak %zu, too strong %zu)\n", r.flagged, r.weak,
                     r.strong);
        std::fprintf(f, "Parity errors:        %zu\n", r.parity_errors);
    }
    return std::fflush(f) == 0 && !std::ferror(f);
}

}  // namespace

extern "C" {

// Formats: 0 text, 1 csv, 2 plain; any other code (the tools OR codes together) prints text.
int TQ_PrintData(FILE *stream, const uint8_t *samples, int first, int sampleCount, int format, int radix) {
    return tq::guarded([&] {
        if (stream == nullptr || (samples == nullptr && sampleCount != 0)) return tq::kNullArgument;
        if (!valid_request(stream, samples, first, sampleCount)) return tq::kRefused;
        LineWriter out(stream);
        auto start = static_cast<std::size_t>(first), count = static_cast<std::size_t>(sampleCount);
        if (format == TQ_FORMAT_CSV) {
            print_csv(out, samples, start, count, radix);
        } else if (format == TQ_FORMAT_PLAIN) {
            print_plain(out, samples, start, count, radix);
        } else {
            print_text(out, samples, start, count, radix);
        }
        return out.finish() ? 0 : tq::kRefused;
    });
}

int TQ_PrintError(FILE *stream, const uint8_t *samples, int first, int sampleCount, int format, int radix) {
    return tq::guarded([&] {
        if (stream == nullptr || (samples == nullptr && sampleCount != 0)) return tq::kNullArgument;
        if (!valid_request(stream, samples, first, sampleCount)) return tq::kRefused;
        Report report = make_report(samples + 3 * static_cast<std::size_t>(first), static_cast<std::size_t>(sampleCount));
        return print_report(stream, report, format, radix) ? 0 : tq::kRefused;
    });
}

}  // extern "C"
