#include "channel.h"

namespace kvsim {

namespace {
constexpr std::uint8_t kEngineMode = 2;
constexpr std::size_t kLogLimit = 64u << 20;  // the log keeps the most recent 64 MiB
}  // namespace

Channel::Channel(ChannelInfo info, std::unique_ptr<Bus> bus) : info_(std::move(info)), bus_(std::move(bus)) {
    if (info_.has_engine) engine_ = std::make_unique<Engine>(info_.type == 4, *bus_, answers_);
}

void Channel::open(bool wall_clock) {
    open_ = true;
    wall_clock_ = wall_clock;
    opened_at_ = std::chrono::steady_clock::now();
    opened_at_virtual_ = engine_ ? engine_->wires().now() : 0;
}

void Channel::close() {
    open_ = false;
    if (trace_) trace_->end(engine_->wires().now());
}

void Channel::follow_wall_clock() {
    if (!wall_clock_ || !engine_) return;
    Picos elapsed = replayed_time_;
    if (!replaying_) {
        auto real = std::chrono::steady_clock::now() - opened_at_;
        elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(real).count() * 1000ULL;
    }
    engine_->wires().advance_to(opened_at_virtual_ + elapsed);
}

std::size_t Channel::write(const std::uint8_t *bytes, std::size_t count) {
    if (engine_ && bit_mode_ == kEngineMode) {
        follow_wall_clock();
        count = engine_->feed(bytes, count);
    }
    if (log_.size() + count > kLogLimit && log_.size() > kLogLimit / 2)
        log_.erase(log_.begin(), log_.begin() + static_cast<std::ptrdiff_t>(log_.size() / 2));
    log_.insert(log_.end(), bytes, bytes + count);
    return count;
}

void Channel::purge(bool receive, bool transmit) {
    if (receive) answers_.clear();
    if (transmit && engine_) engine_->clear_partial();
}

bool Channel::set_bit_mode(std::uint8_t mode) {
    if (mode == 0) {
        if (engine_) engine_->reset();
        bit_mode_ = 0;
        return true;
    }
    if (mode != kEngineMode || !engine_) return false;
    if (bit_mode_ != kEngineMode) engine_->clear_partial();
    bit_mode_ = kEngineMode;
    return true;
}

void Channel::set_trace(std::unique_ptr<VcdWriter> trace) {
    if (trace_) trace_->end(engine_->wires().now());
    if (engine_) engine_->wires().set_trace(trace.get());
    trace_ = std::move(trace);
}

}  // namespace kvsim
