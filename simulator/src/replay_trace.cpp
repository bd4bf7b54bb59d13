#include "replay_trace.h"

#include <algorithm>

#include "simulator.h"

namespace kvsim {

namespace {

constexpr std::uint64_t kEngineMode = 2;

std::uint64_t number(const kvrec::Json &object, const char *key) { return object.at(key).get<std::uint64_t>(); }

// The bytes a recorded read delivered.
std::vector<std::uint8_t> read_data(const kvrec::RecordedCall &call) {
    return kvrec::from_hex(call.results.at("data").get<std::string>());
}

}  // namespace

ReplayTrace::ReplayTrace(Simulator &sim, const std::vector<kvrec::RecordedCall> &calls)
    : sim_(sim), calls_(calls) {
    scan();
}

// Ahead of the program: what each channel's reads deliver over the whole session (the answers
// its data-in line plays), and which opened channels the session puts in engine mode.
void ReplayTrace::scan() {
    std::map<std::uint64_t, std::size_t> open_calls;  // handle -> the KV_Open that gave it
    for (std::size_t i = 0; i < calls_.size(); ++i) {
        const kvrec::RecordedCall &call = calls_[i];
        if (call.entry == KVSIM_Open) {
            if (call.status == 0) open_calls[number(call.results, "handle")] = i;
            continue;
        }
        if (!call.args.contains("handle")) continue;
        const auto open = open_calls.find(number(call.args, "handle"));
        if (open == open_calls.end()) continue;
        if (call.entry == KVSIM_Read) {
            const std::vector<std::uint8_t> data = read_data(call);
            std::vector<std::uint8_t> &stream = positions_[number(calls_[open->second].args, "position")].answers.bytes;
            stream.insert(stream.end(), data.begin(), data.end());
        } else if (call.entry == KVSIM_SetBitMode && call.status == 0 && number(call.args, "mode") == kEngineMode) {
            engine_opens_.insert(open->second);
        } else if (call.entry == KVSIM_Close && call.status == 0) {
            open_calls.erase(open);
        }
    }
}

void ReplayTrace::follow(std::size_t index) {
    if (stopped_) return;
    const kvrec::RecordedCall &call = calls_[index];
    if (call.entry == KVSIM_GetDeviceInfoList && call.status == 0) {
        const kvrec::Json &list = call.results.at("list");
        for (std::size_t i = 0; i < list.size(); ++i)
            types_[i] = static_cast<std::uint32_t>(number(list[i], "type"));
    }
    if (call.entry == KVSIM_Open && engine_opens_.count(index)) open(index);
    Replayed *replayed = by_handle(call.args);
    if (!replayed) return;
    Channel &channel = *replayed->channel;
    // Reads and writes move data even when they fail part way; their counts say how far.
    if (call.entry == KVSIM_Write) {
        const std::vector<std::uint8_t> data = kvrec::from_hex(call.args.at("data").get<std::string>());
        const std::size_t taken = std::min<std::size_t>(data.size(), number(call.results, "count"));
        const std::uint64_t at = std::max(calls_.at(index).micros, replayed->opened_us);
        channel.set_replayed_time((at - replayed->opened_us) * kPicosPerMicro);
        channel.write(data.data(), taken);
    } else if (call.entry == KVSIM_Read) {
        const std::size_t delivered = read_data(call).size();
        replayed->answers.consumed += delivered;
        channel.answers().drop_front(delivered);
    }
    if (call.status != 0) return;
    switch (call.entry) {
    case KVSIM_Purge: {
        const std::uint64_t mask = number(call.args, "mask");
        channel.purge(mask & 1u, mask & 2u);
        break;
    }
    case KVSIM_ResetDevice: channel.purge(true, true); break;
    case KVSIM_SetBitMode: channel.set_bit_mode(static_cast<std::uint8_t>(number(call.args, "mode"))); break;
    case KVSIM_Close:
        channel.close();
        handles_.erase(number(call.args, "handle"));
        break;
    default: break;
    }
}

// As a live open does: the channel keeps its engine and trace from an earlier opening, and a
// trace is started for it the first time (KVZUBR_SIM_TRACE, named as for a live run).
void ReplayTrace::open(std::size_t index) {
    const kvrec::RecordedCall &call = calls_[index];
    const std::uint64_t position = number(call.args, "position");
    Replayed &replayed = positions_[position];
    if (!replayed.channel) {
        ChannelInfo info;
        info.type = types_.count(position) ? types_[position] : 0;
        info.has_engine = true;
        Channel *board = sim_.channel(position);
        auto bus = std::make_unique<ReplayBus>(board ? &board->bus() : nullptr, replayed.answers);
        replayed.channel = std::make_unique<Channel>(std::move(info), std::move(bus));
    }
    if (!replayed.channel->trace()) sim_.open_environment_trace(position, *replayed.channel);
    replayed.channel->open(sim_.wall_clock());
    replayed.opened_us = calls_.at(index).micros;
    handles_[number(call.results, "handle")] = &replayed;
}

ReplayTrace::Replayed *ReplayTrace::by_handle(const kvrec::Json &args) {
    if (!args.contains("handle")) return nullptr;
    const auto it = handles_.find(number(args, "handle"));
    return it == handles_.end() ? nullptr : it->second;
}

void ReplayTrace::stop() {
    if (stopped_) return;
    stopped_ = true;
    for (auto &entry : positions_)
        if (entry.second.channel) entry.second.channel->close();
}

}  // namespace kvsim
