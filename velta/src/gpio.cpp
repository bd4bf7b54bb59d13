#include <signal.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <cerrno>
#include <cmath>
#include <ctime>

#include "commands.h"
#include "korvin_mid.h"

namespace velta {

namespace {

#ifdef _WIN32
// Windows has no signal masks: Ctrl-C and termination set a flag the hold polls.
volatile std::sig_atomic_t g_hold_ended = 0;
extern "C" void end_hold(int) { g_hold_ended = 1; }

class HoldSignals {
public:
    HoldSignals() {
        std::signal(SIGINT, end_hold);
        std::signal(SIGTERM, end_hold);
    }
    ~HoldSignals() {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
    }
    HoldSignals(const HoldSignals &) = delete;
    HoldSignals &operator=(const HoldSignals &) = delete;

    // Until Ctrl-C or termination, or `seconds` pass (forever when infinite).
    void wait(double seconds) const {
        const auto end = std::chrono::steady_clock::now() +
                         std::chrono::duration<double>(std::isinf(seconds) ? 1e9 : seconds);
        while (!g_hold_ended && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
};
#else
// The signals that end a hold. They are blocked before the channel opens, so one that comes
// early waits for the hold instead of killing velta with the pins half set.
class HoldSignals {
public:
    HoldSignals() {
        sigemptyset(&set_);
        for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set_, signal);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
    }
    ~HoldSignals() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    HoldSignals(const HoldSignals &) = delete;
    HoldSignals &operator=(const HoldSignals &) = delete;

    // Until one of the signals comes, or `seconds` pass (forever when infinite).
    void wait(double seconds) const {
        if (std::isinf(seconds)) {
            while (sigwaitinfo(&set_, nullptr) < 0 && errno == EINTR) {
            }
            return;
        }
        timespec now{}, end{};
        clock_gettime(CLOCK_MONOTONIC, &end);
        end.tv_sec += static_cast<time_t>(seconds);
        end.tv_nsec += static_cast<long>((seconds - std::floor(seconds)) * 1e9);
        if (end.tv_nsec >= 1000000000L) end.tv_sec += 1, end.tv_nsec -= 1000000000L;
        for (;;) {
            clock_gettime(CLOCK_MONOTONIC, &now);
            timespec left{end.tv_sec - now.tv_sec, end.tv_nsec - now.tv_nsec};
            if (left.tv_nsec < 0) left.tv_sec -= 1, left.tv_nsec += 1000000000L;
            if (left.tv_sec < 0) return;
            if (sigtimedwait(&set_, nullptr, &left) >= 0 || errno != EINTR) return;
        }
    }

private:
    sigset_t set_{}, old_{};
};

#endif

}  // namespace

std::string gpio_get(unsigned channel, const std::vector<unsigned> &pins, bool numeric) {
    EngineChannel engine(channel);
    std::uint8_t levels = 0;
    check(KV_ReadGPIO(engine.handle(), &levels), "cannot read the high pins");
    std::string text;
    for (unsigned pin : pins) {
        const bool high = (levels >> pin & 1u) != 0;
        if (!text.empty()) text += ' ';
        text += numeric ? (high ? "1" : "0") : "\"" + std::to_string(pin) + "\"=" + (high ? "active" : "inactive");
    }
    return text + "\n";
}

void gpio_set(unsigned channel, const std::vector<PinValue> &pins, double hold_seconds) {
    std::uint8_t direction = 0, value = 0;
    for (const PinValue &p : pins) {
        direction = static_cast<std::uint8_t>(direction | 1u << p.pin);
        if (p.high) value = static_cast<std::uint8_t>(value | 1u << p.pin);
    }
    const HoldSignals signals;
    EngineChannel engine(channel);
    check(KV_WriteGPIO(engine.handle(), direction, value), "cannot set the high pins");
    if (hold_seconds > 0) signals.wait(hold_seconds);
}

}  // namespace velta
