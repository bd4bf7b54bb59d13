// libVELTA channel and engine layer: finds and opens the engine-carrying bridge channels, brings
// the engine into a known state, carries command bytes to it and answer bytes back, and drives
// its high pins. Every driver call goes through the slot table the infrastructure filled.
#include "korvin_mid.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

#include "korvin_infra.h"
#include "korvin_report.h"
#include "korvin_transport.h"
#include "velta_engine.h"

static_assert(offsetof(DeviceListEntry, StateFlags) == 0, "driver record layout");
static_assert(offsetof(DeviceListEntry, DeviceType) == 4, "driver record layout");
static_assert(offsetof(DeviceListEntry, DeviceId) == 8, "driver record layout");
static_assert(offsetof(DeviceListEntry, Location) == 12, "driver record layout");
static_assert(offsetof(DeviceListEntry, SerialText) == 16, "driver record layout");
static_assert(offsetof(DeviceListEntry, DescriptionText) == 32, "driver record layout");
static_assert(offsetof(DeviceListEntry, OpenHandle) == 96, "driver record layout");
static_assert(sizeof(DeviceListEntry) == (sizeof(void *) == 8 ? 104 : 100), "driver record size");

namespace {

constexpr uint32_t kMaxClockRate = 30000000;
constexpr uint32_t kMaxLatencyTimer = 255;
constexpr uint32_t kFastClockBase = 30000000;  // divide-by-5 off
constexpr uint32_t kSlowClockBase = 6000000;   // divide-by-5 on
constexpr uint32_t kMaxDivisor = 0xFFFF;       // the divisor travels in two bytes
constexpr uint32_t kUsbTransferSize = 65536;
constexpr uint32_t kTimeoutMs = 5000;
constexpr uint32_t kPurgeReceiveAndTransmit = 3;
constexpr uint8_t kBitModeReset = 0;
constexpr uint8_t kBitModeEngine = 2;
constexpr uint32_t kScratchSize = 4096;
constexpr uint32_t kEchoPasses = 4097;
constexpr useconds_t kWaitAfterSyncUs = 50000;
constexpr useconds_t kWaitAfterClockUs = 20000;
constexpr useconds_t kWaitPerPollUs = 1000;
constexpr uint8_t kI2cIdlePins = VELTA_PIN_CLOCK | VELTA_PIN_DATA_OUT | VELTA_PIN_I2C_SPARE;  // outputs, all high
constexpr uint32_t kOptionDriveZeroOnly = 2;
constexpr size_t kDeviceInfoTextSize = 300;

// Calls a driver entry point, or refuses with STATUS_FAILURE when the driver did not export it.
// Driver failures are found here, so this is where they are reported.
template <typename Slot, typename... Args>
KV_STATUS callDriver(Slot slot, Args... args) {
    if (slot == nullptr) return Infra_Report(STATUS_FAILURE);
    return Infra_Report(slot(args...));
}

// Heap buffers are owned for the length of one call; a null result means no memory.
template <typename T>
std::unique_ptr<T[]> allocateArray(size_t count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}

// All the bytes, or an I/O failure: a driver that reports success having moved fewer bytes
// than asked has left the engine mid-command or the answers out of step with the host. The
// count it gives is kept, never above what was asked.
KV_STATUS wholeTransfer(KV_STATUS status, uint32_t asked, uint32_t *done, bool *cutShort) {
    if (status == STATUS_SUCCESS) *done = std::min(*done, asked);
    const bool shortened = status == STATUS_SUCCESS && *done < asked;
    if (cutShort != nullptr) *cutShort = shortened;
    return shortened ? Infra_Report(STATUS_IO_FAILURE) : status;
}

KV_STATUS writeAll(KV_HANDLE handle, uint32_t count, const uint8_t *buffer, uint32_t *done, bool *cutShort) {
    KV_STATUS status = callDriver(varFunctionPtrLst.KV_Write, handle,
                                  static_cast<void *>(const_cast<uint8_t *>(buffer)), count, done);
    return wholeTransfer(status, count, done, cutShort);
}

KV_STATUS readAll(KV_HANDLE handle, uint32_t count, uint8_t *buffer, uint32_t *done) {
    KV_STATUS status = callDriver(varFunctionPtrLst.KV_Read, handle, static_cast<void *>(buffer), count, done);
    return wholeTransfer(status, count, done, nullptr);
}

// Sends a short engine command (at most four bytes) in one write.
KV_STATUS writeCommand(KV_HANDLE handle, const uint8_t *bytes, size_t count) {
    uint32_t written = 0;
    return writeAll(handle, static_cast<uint32_t>(count), bytes, &written, nullptr);
}
KV_STATUS writeCommand(KV_HANDLE handle, std::initializer_list<uint8_t> bytes) {
    return writeCommand(handle, bytes.begin(), bytes.size());
}
// A pin command, built by the vocabulary's encoder.
KV_STATUS writePins(KV_HANDLE handle, uint8_t command, uint8_t value, uint8_t direction) {
    uint8_t bytes[3];
    return writeCommand(handle, bytes, velta_encode_pins(bytes, command, value, direction));
}

uint32_t clockBase(uint32_t deviceType, uint32_t clockRate) {
    if (deviceType == KV_DEVICE_FULL_SPEED_DUAL || clockRate > kSlowClockBase) return kFastClockBase;
    return kSlowClockBase;
}

// A rate fits when it is in range and its divisor base / rate - 1 fits the engine's 16 bits.
bool clockRateFits(uint32_t base, uint32_t clockRate) {
    return clockRate != 0 && clockRate <= kMaxClockRate && base / clockRate <= kMaxDivisor + 1;
}

// The device list of one call: an array sized for the count the driver first reported. The
// walks read only the entries the driver listed, never more than were allocated.
class DeviceList {
public:
    bool allocate(uint32_t devices) {
        entries_ = allocateArray<DeviceListEntry>(devices);
        allocated_ = entries_ ? devices : 0;
        return allocated_ != 0;
    }
    KV_STATUS fetch() {
        uint32_t count = allocated_;
        KV_STATUS status = callDriver(varFunctionPtrLst.KV_GetDeviceInfoList, entries_.get(), &count);
        listed_ = std::min(count, allocated_);
        return status;
    }
    uint32_t listed() const { return listed_; }
    const DeviceListEntry &operator[](uint32_t position) const { return entries_[position]; }

private:
    std::unique_ptr<DeviceListEntry[]> entries_;
    uint32_t allocated_ = 0;
    uint32_t listed_ = 0;
};

// Finds the index-th engine-carrying channel (1-based) and hands it, with its 0-based list
// position, to act. An index that names no such channel gives STATUS_BAD_HANDLE.
template <typename Act>
KV_STATUS walkToChannel(uint32_t index, Act act) {
    uint32_t devices = 0;
    KV_STATUS status = callDriver(varFunctionPtrLst.KV_CreateDeviceInfoList, &devices);
    if (status != STATUS_SUCCESS) return status;
    if (index == 0 || devices < index) return Infra_Report(STATUS_BAD_HANDLE);
    DeviceList list;
    if (!list.allocate(devices)) return Infra_Report(STATUS_NO_RESOURCES);
    status = list.fetch();
    if (status != STATUS_SUCCESS) return status;
    uint32_t found = 0;
    for (uint32_t position = 0; position < list.listed(); ++position) {
        if (!Mid_CheckVELTAAvailable(list[position])) continue;
        if (++found == index) return act(position, list[position]);
    }
    return Infra_Report(STATUS_BAD_HANDLE);
}

// Scans answer bytes for the echo marker followed by the command. The marker survives between calls, so an echo
// split across two reads is still seen.
bool scanForEcho(const uint8_t *bytes, uint32_t count, uint8_t command, bool &marker) {
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes[i] == VELTA_ECHO_MARKER) {
            marker = true;
            continue;
        }
        bool echo = marker && bytes[i] == command;
        marker = false;
        if (echo) return true;
    }
    return false;
}

KV_STATUS initEngine(KV_HANDLE handle, uint32_t deviceType, uint32_t clockRate, uint32_t latencyTimer) {
    KV_STATUS status = Mid_ResetDevice(handle);
    if (status == STATUS_SUCCESS) status = Mid_PurgeDevice(handle);
    if (status == STATUS_SUCCESS) status = Mid_SetUSBParameters(handle, kUsbTransferSize, kUsbTransferSize);
    if (status == STATUS_SUCCESS) status = Mid_SetDeviceSpecialChar(handle, 0, 0, 0, 0);
    if (status == STATUS_SUCCESS) status = Mid_SetDeviceTimeOut(handle, kTimeoutMs, kTimeoutMs);
    if (status == STATUS_SUCCESS) status = Mid_SetLatencyTimer(handle, latencyTimer);
    if (status == STATUS_SUCCESS) status = Mid_ResetVELTA(handle);
    if (status == STATUS_SUCCESS) status = Mid_EnableVELTAIn(handle);
    if (status == STATUS_SUCCESS) status = Mid_SetDeviceLoopbackState(handle, 1);
    if (status == STATUS_SUCCESS) status = Mid_SyncVELTA(handle);
    if (status == STATUS_SUCCESS) {
        usleep(kWaitAfterSyncUs);
        status = Mid_SetClock(handle, deviceType, clockRate);
    }
    if (status == STATUS_SUCCESS) {
        usleep(kWaitAfterClockUs);
        status = Mid_SetDeviceLoopbackState(handle, 0);
    }
    if (status == STATUS_SUCCESS) status = Mid_EmptyDeviceInputBuff(handle);
    return status;
}

// I2C lines idle high; on the single-channel high-speed bridge SCL and SDA may be switched to
// drive only zeros. The masks travel with the opcode, so the engine never takes later I2C
// commands as masks.
KV_STATUS initI2cLines(KV_HANDLE handle, uint32_t deviceType, uint32_t options) {
    KV_STATUS status = Mid_SetGPIOLow(handle, kI2cIdlePins, kI2cIdlePins);
    if (status != STATUS_SUCCESS || deviceType != KV_DEVICE_HIGH_SPEED_SINGLE ||
        (options & kOptionDriveZeroOnly) == 0)
        return status;
    uint8_t driveZeroOnly[] = {VELTA_CMD_DRIVE_ZERO_ONLY, VELTA_PIN_CLOCK | VELTA_PIN_DATA_OUT, 0x00};
    uint32_t written = 0;
    return KV_Channel_Write(PROTOCOL_I2C, handle, sizeof driveZeroOnly, driveZeroOnly, &written);
}

// The slowest rate any device type can divide down to is base 6 MHz / 65536, so rates below
// 92 Hz are refused before the device type is known; on the full-speed bridge (fixed 30 MHz
// base) the limit is 458 Hz, checked as soon as the type is read.
KV_STATUS initChannel(BusProtocol protocol, KV_HANDLE handle, uint32_t clockRate, uint32_t latencyTimer,
                      uint32_t options) {
    if (latencyTimer > kMaxLatencyTimer || !clockRateFits(kSlowClockBase, clockRate))
        return Infra_Report(STATUS_BAD_PARAMETER);
    uint32_t deviceType = 0;
    KV_STATUS status = Mid_GetKvDeviceType(handle, &deviceType);
    if (status != STATUS_SUCCESS) return status;
    if (!clockRateFits(clockBase(deviceType, clockRate), clockRate)) return Infra_Report(STATUS_BAD_PARAMETER);
    status = initEngine(handle, deviceType, clockRate, latencyTimer);
    if (status != STATUS_SUCCESS || protocol != PROTOCOL_I2C) return status;
    return initI2cLines(handle, deviceType, options);
}

}  // namespace

KV_STATUS Mid_WriteChannel(KV_HANDLE handle, uint32_t byteCount, const uint8_t *buffer, uint32_t *bytesDone,
                           bool *cutShort) {
    if (buffer == nullptr || bytesDone == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    return writeAll(handle, byteCount, buffer, bytesDone, cutShort);
}

extern "C" {

// Channel discovery and access

int Mid_CheckVELTAAvailable(DeviceListEntry entry) {
    uint32_t channel = entry.Location & 0xF;
    switch (entry.DeviceType) {
        case KV_DEVICE_FULL_SPEED_DUAL:
            return channel == 1;
        case KV_DEVICE_HIGH_SPEED_DUAL:
        case KV_DEVICE_HIGH_SPEED_QUAD:
            return channel == 1 || channel == 2;
        case KV_DEVICE_HIGH_SPEED_SINGLE:
            return 1;
        default:
            return 0;
    }
}

KV_STATUS KV_GetNumChannels(BusProtocol protocol, uint32_t *channelCount) {
    static_cast<void>(protocol);
    if (channelCount == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    *channelCount = 0;
    uint32_t devices = 0;
    KV_STATUS status = callDriver(varFunctionPtrLst.KV_CreateDeviceInfoList, &devices);
    if (status != STATUS_SUCCESS || devices == 0) return status;
    DeviceList list;
    if (!list.allocate(devices)) return Infra_Report(STATUS_NO_RESOURCES);
    status = list.fetch();
    for (uint32_t position = 0; position < list.listed(); ++position) {
        if (Mid_CheckVELTAAvailable(list[position])) ++*channelCount;
    }
    return status;
}

KV_STATUS KV_GetChannelInfo(BusProtocol protocol, uint32_t index, DeviceListEntry *info) {
    static_cast<void>(protocol);
    if (info == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    return walkToChannel(index, [info](uint32_t, const DeviceListEntry &entry) {
        std::memcpy(info, &entry, sizeof entry);
        return STATUS_SUCCESS;
    });
}

KV_STATUS KV_OpenChannel(BusProtocol protocol, uint32_t index, KV_HANDLE *handle) {
    static_cast<void>(protocol);
    if (handle == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    return walkToChannel(index, [handle](uint32_t position, const DeviceListEntry &) {
        return callDriver(varFunctionPtrLst.KV_Open, position, handle);
    });
}

KV_STATUS KV_CloseChannel(BusProtocol protocol, KV_HANDLE handle) {
    static_cast<void>(protocol);
    return callDriver(varFunctionPtrLst.KV_Close, handle);
}

KV_STATUS Mid_GetKvDeviceType(KV_HANDLE handle, uint32_t *deviceType) {
    if (deviceType == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    uint32_t deviceId = 0;
    char serial[kDeviceInfoTextSize] = {};
    char description[kDeviceInfoTextSize] = {};
    return callDriver(varFunctionPtrLst.KV_GetDeviceInfo, handle, deviceType, &deviceId, serial,
                      description, static_cast<void *>(nullptr));
}

// Engine initialisation

KV_STATUS KV_InitChannel(BusProtocol protocol, KV_HANDLE handle, ...) {
    va_list args;
    va_start(args, handle);
    uint32_t clockRate = va_arg(args, uint32_t);
    uint32_t latencyTimer = va_arg(args, uint32_t);
    uint32_t options = va_arg(args, uint32_t);
    va_end(args);
    return initChannel(protocol, handle, clockRate, latencyTimer, options);
}

KV_STATUS Mid_ResetDevice(KV_HANDLE handle) { return callDriver(varFunctionPtrLst.KV_ResetDevice, handle); }

KV_STATUS Mid_PurgeDevice(KV_HANDLE handle) {
    return callDriver(varFunctionPtrLst.KV_Purge, handle, kPurgeReceiveAndTransmit);
}

KV_STATUS Mid_SetUSBParameters(KV_HANDLE handle, uint32_t inSize, uint32_t outSize) {
    return callDriver(varFunctionPtrLst.KV_SetUSBParameters, handle, inSize, outSize);
}

KV_STATUS Mid_SetDeviceSpecialChar(KV_HANDLE handle, uint32_t eventChar, uint32_t eventEnable,
                                   uint32_t errorChar, uint32_t errorEnable) {
    return callDriver(varFunctionPtrLst.KV_SetChars, handle, static_cast<uint8_t>(eventChar),
                      static_cast<uint8_t>(eventEnable), static_cast<uint8_t>(errorChar),
                      static_cast<uint8_t>(errorEnable));
}

KV_STATUS Mid_SetDeviceTimeOut(KV_HANDLE handle, uint32_t readMs, uint32_t writeMs) {
    return callDriver(varFunctionPtrLst.KV_SetTimeouts, handle, readMs, writeMs);
}

KV_STATUS Mid_SetLatencyTimer(KV_HANDLE handle, uint32_t latency) {
    return callDriver(varFunctionPtrLst.KV_SetLatencyTimer, handle, static_cast<uint8_t>(latency));
}

KV_STATUS Mid_ResetVELTA(KV_HANDLE handle) {
    return callDriver(varFunctionPtrLst.KV_SetBitMode, handle, uint8_t{0}, kBitModeReset);
}

KV_STATUS Mid_EnableVELTAIn(KV_HANDLE handle) {
    return callDriver(varFunctionPtrLst.KV_SetBitMode, handle, uint8_t{0}, kBitModeEngine);
}

KV_STATUS Mid_SetDeviceLoopbackState(KV_HANDLE handle, uint8_t state) {
    return writeCommand(handle, {static_cast<uint8_t>(state != 0 ? VELTA_CMD_LOOPBACK_ON : VELTA_CMD_LOOPBACK_OFF)});
}

// Picks the divide-by-5 setting and the divisor giving the lowest engine rate not below
// clockRate. A rate the 16-bit divisor cannot reach is refused before anything is sent.
KV_STATUS Mid_SetClock(KV_HANDLE handle, uint32_t deviceType, uint32_t clockRate) {
    uint32_t base = clockBase(deviceType, clockRate);
    if (!clockRateFits(base, clockRate)) return Infra_Report(STATUS_BAD_PARAMETER);
    if (deviceType != KV_DEVICE_FULL_SPEED_DUAL) {
        uint8_t divideBy5 = base == kFastClockBase ? VELTA_CMD_DIVIDE_BY_5_OFF : VELTA_CMD_DIVIDE_BY_5_ON;
        KV_STATUS status = writeCommand(handle, {divideBy5});
        if (status != STATUS_SUCCESS) return status;
    }
    uint8_t bytes[3];
    return writeCommand(handle, bytes, velta_encode_divisor(bytes, static_cast<uint16_t>(base / clockRate - 1)));
}

KV_STATUS Mid_EmptyDeviceInputBuff(KV_HANDLE handle) {
    auto scratch = allocateArray<uint8_t>(kScratchSize);
    if (!scratch) return Infra_Report(STATUS_NO_RESOURCES);
    uint32_t pending = 0;
    KV_STATUS status = callDriver(varFunctionPtrLst.KV_GetQueueStatus, handle, &pending);
    if (status != STATUS_SUCCESS) return status;
    while (pending > 0) {
        uint32_t delivered = 0;
        status = readAll(handle, std::min(pending, kScratchSize), scratch.get(), &delivered);
        if (status != STATUS_SUCCESS) return status;
        pending -= delivered;
    }
    return STATUS_SUCCESS;
}

KV_STATUS Mid_SyncVELTA(KV_HANDLE handle) {
    KV_STATUS status = Mid_EmptyDeviceInputBuff(handle);
    if (status != STATUS_SUCCESS) return status;
    uint8_t echoSeen = 0;
    status = Mid_SendReceiveCmdFromVELTA(handle, 1, VELTA_BOGUS_COMMAND, &echoSeen);
    if (status != STATUS_SUCCESS) return status;
    if (!echoSeen) return Infra_Report(STATUS_FAILURE);
    status = Mid_SendReceiveCmdFromVELTA(handle, 0, VELTA_BOGUS_COMMAND_ONCE, &echoSeen);
    if (status != STATUS_SUCCESS) return status;
    return echoSeen ? STATUS_SUCCESS : Infra_Report(STATUS_FAILURE);
}

// Polls for the engine's echo of the command; with resendFlag the command goes out again in
// every pass. The pass limit is checked before the echo, so the last pass always fails.
KV_STATUS Mid_SendReceiveCmdFromVELTA(KV_HANDLE handle, uint8_t resendFlag, uint8_t command,
                                      uint8_t *echoSeen) {
    if (echoSeen == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    auto scratch = allocateArray<uint8_t>(kScratchSize);
    if (!scratch) return Infra_Report(STATUS_NO_RESOURCES);
    *echoSeen = 0;
    KV_STATUS status = resendFlag ? STATUS_SUCCESS : writeCommand(handle, {command});
    if (status != STATUS_SUCCESS) return status;
    bool marker = false;
    for (uint32_t passesLeft = kEchoPasses;;) {
        status = resendFlag ? writeCommand(handle, {command}) : STATUS_SUCCESS;
        if (status != STATUS_SUCCESS) return status;
        uint32_t pending = 0;
        status = callDriver(varFunctionPtrLst.KV_GetQueueStatus, handle, &pending);
        if (status != STATUS_SUCCESS) return status;
        usleep(kWaitPerPollUs);
        if (pending > kScratchSize) return Infra_Report(STATUS_NO_RESOURCES);
        if (pending > 0) {
            uint32_t delivered = 0;
            status = readAll(handle, pending, scratch.get(), &delivered);
            if (status != STATUS_SUCCESS) return status;
            if (scanForEcho(scratch.get(), delivered, command, marker)) *echoSeen = 1;
        }
        if (--passesLeft == 0) return Infra_Report(STATUS_FAILURE);
        if (*echoSeen) return STATUS_SUCCESS;
    }
}

// Command transport and GPIO

KV_STATUS KV_Channel_Write(BusProtocol protocol, KV_HANDLE handle, uint32_t byteCount, uint8_t *buffer,
                           uint32_t *bytesDone) {
    static_cast<void>(protocol);
    return Mid_WriteChannel(handle, byteCount, buffer, bytesDone, nullptr);
}

KV_STATUS KV_Channel_Read(BusProtocol protocol, KV_HANDLE handle, uint32_t byteCount, uint8_t *buffer,
                          uint32_t *bytesDone) {
    static_cast<void>(protocol);
    if (buffer == nullptr || bytesDone == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    return readAll(handle, byteCount, buffer, bytesDone);
}

}  // extern "C"

namespace {

size_t capped(uint64_t wanted, size_t most) { return wanted < most ? static_cast<size_t>(wanted) : most; }

}  // namespace

StreamPieces::StreamPieces(KV_HANDLE handle, uint64_t commands, uint64_t answers)
    : handle_(handle),
      command_capacity_(capped(commands + 1, kCommandCapacity)),  // and a send-immediate
      answer_capacity_(capped(answers, kAnswerCapacity)),
      commands_(new (std::nothrow) uint8_t[command_capacity_]),
      answers_(new (std::nothrow) uint8_t[answer_capacity_ + 1]) {}

uint8_t *StreamPieces::extend(size_t count) {
    uint8_t *at = commands_.get() + length_;
    length_ += count;
    return at;
}

uint8_t *StreamPieces::append(const uint8_t *bytes, size_t count) {
    uint8_t *at = extend(count);
    std::memcpy(at, bytes, count);
    return at;
}

KV_STATUS StreamPieces::flush() {
    if (expected_ != 0) *extend(1) = VELTA_CMD_SEND_IMMEDIATE;
    const auto length = static_cast<uint32_t>(length_), expected = static_cast<uint32_t>(expected_);
    length_ = expected_ = answered_ = 0;
    if (length == 0) return STATUS_SUCCESS;
    uint32_t done = 0;
    bool cutShort = false;
    KV_STATUS status = Mid_WriteChannel(handle_, length, commands_.get(), &done, &cutShort);
    if (cutShort) {
        uint32_t rest = 0;
        if (Mid_WriteChannel(handle_, length - done, commands_.get() + done, &rest, nullptr) == STATUS_SUCCESS)
            readAll(handle_, expected, answers_.get(), &rest);  // keeps the next call's answers in step
        return status;
    }
    if (status != STATUS_SUCCESS || expected == 0) return status;
    uint32_t got = 0;
    status = readAll(handle_, expected, answers_.get(), &got);
    answered_ = got;
    // Answers that came too late must not be taken by the next call as its own.
    if (status != STATUS_SUCCESS) Mid_PurgeDevice(handle_);
    return status;
}

extern "C" {

KV_STATUS Mid_SetGPIOLow(KV_HANDLE handle, uint8_t value, uint8_t direction) {
    return writePins(handle, VELTA_CMD_SET_LOW_PINS, value, direction);
}

KV_STATUS KV_WriteGPIO(KV_HANDLE handle, uint8_t direction, uint8_t value) {
    return writePins(handle, VELTA_CMD_SET_HIGH_PINS, value, direction);
}

// Reads the high pin byte; the value is written only when the answer byte arrived.
KV_STATUS KV_ReadGPIO(KV_HANDLE handle, uint8_t *value) {
    if (value == nullptr) return Infra_Report(STATUS_BAD_PARAMETER);
    KV_STATUS status = writeCommand(handle, {VELTA_CMD_READ_HIGH_PINS, VELTA_CMD_SEND_IMMEDIATE});
    if (status != STATUS_SUCCESS) return status;
    uint8_t answer = 0;
    uint32_t delivered = 0;
    status = readAll(handle, 1, &answer, &delivered);
    if (status != STATUS_SUCCESS) return status;
    *value = answer;
    return STATUS_SUCCESS;
}

}  // extern "C"
