// A test device: records every chip-select frame it saw and answers scripted bytes, then 0xFF.
// get("frames"): per frame a little-endian u32 bit count, then (bits + 7) / 8 bytes; a partial
// last byte is left-aligned (its first bit in bit 7), its unused low bits 0.
#include <vector>

#include "spi_device.h"

namespace kvsim {

namespace {

class SpiTestDevice : public SpiDevice {
public:
    explicit SpiTestDevice(const DeviceConfig &config) {
        const Json *answers = config.find("answers");
        if (!answers) return;
        if (!answers->is_array()) throw ConfigFault("answers", "must be an array of bytes");
        for (const Json &a : *answers) {
            std::uint64_t value = 0;
            if (!json_uint(a, &value) || value > 255) throw ConfigFault("answers", "must be an array of bytes");
            answers_.push_back(static_cast<std::uint8_t>(value));
        }
    }

    void frame_begin(Picos) override { frame_ = Frame{}; }

    // Each byte position of the exchange takes the next answer, a partial last byte too.
    std::uint8_t next_out(Picos) override { return cursor_ < answers_.size() ? answers_[cursor_] : 0xFF; }

    void byte_in(Picos, std::uint8_t value) override {
        frame_.bytes.push_back(value);
        frame_.bits += 8;
        ++cursor_;
    }

    void frame_end(Picos, unsigned bits, std::uint8_t partial) override {
        if (bits != 0) {
            frame_.bytes.push_back(static_cast<std::uint8_t>(partial << (8 - bits)));
            frame_.bits += bits;
            ++cursor_;
        }
        frames_.push_back(std::move(frame_));
        frame_ = Frame{};
    }

    bool get(const std::string &key, std::vector<std::uint8_t> &out) const override {
        if (key != "frames") return false;
        out.clear();
        for (const Frame &frame : frames_) {
            for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(frame.bits >> shift));
            out.insert(out.end(), frame.bytes.begin(), frame.bytes.end());
        }
        return true;
    }

    bool put(const std::string &key, const std::uint8_t *data, std::size_t length) override {
        if (key == "frames") {
            frames_.clear();
            return true;
        }
        if (key != "answers") return false;
        answers_.assign(data, data + length);
        cursor_ = 0;
        return true;
    }

private:
    struct Frame {
        std::uint32_t bits = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<std::uint8_t> answers_;
    std::size_t cursor_ = 0;
    Frame frame_;
    std::vector<Frame> frames_;
};

const SpiDeviceRegistrar test_kind("spi-test",
                                   [](const DeviceConfig &config) { return std::make_unique<SpiTestDevice>(config); });

}  // namespace

}  // namespace kvsim
