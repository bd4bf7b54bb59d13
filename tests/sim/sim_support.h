// Helpers of the simulator's own tests: a loaded configuration and an open engine channel.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "engine_log.h"
#include "kvsim.h"

extern "C" {
KV_STATUS KV_CreateDeviceInfoList(uint32_t *);
KV_STATUS KV_GetDeviceInfoList(DeviceListEntry *, uint32_t *);
KV_STATUS KV_Open(uint32_t, KV_HANDLE *);
KV_STATUS KV_Close(KV_HANDLE);
KV_STATUS KV_Purge(KV_HANDLE, uint32_t);
KV_STATUS KV_SetBitMode(KV_HANDLE, uint8_t, uint8_t);
KV_STATUS KV_GetQueueStatus(KV_HANDLE, uint32_t *);
KV_STATUS KV_Read(KV_HANDLE, void *, uint32_t, uint32_t *);
KV_STATUS KV_Write(KV_HANDLE, void *, uint32_t, uint32_t *);
KV_STATUS KV_GetDeviceInfo(KV_HANDLE, uint32_t *, uint32_t *, char *, char *, void *);
}

using kvtest::Bytes;
using kvtest::engine_log;

inline const char *kOneBridge(const char *type) {
    static std::string json;
    json = std::string(R"({"wall_clock": false, "bridges": [{"type": )") + type + R"(, "serial": "KVT0001"}]})";
    return json.c_str();
}

// A configuration with one bridge of the given type, channel 0 open in engine mode.
class EngineChannel : public ::testing::Test {
protected:
    void open(const char *type = "8") {
        ASSERT_EQ(kvsim_load_config_json(kOneBridge(type)), 0);
        ASSERT_EQ(KV_Open(0, &handle), 0u);
        ASSERT_EQ(KV_SetBitMode(handle, 0, 2), 0u);
    }
    void SetUp() override { open(); }
    void write(const Bytes &bytes) {
        uint32_t done = 0;
        ASSERT_EQ(KV_Write(handle, const_cast<uint8_t *>(bytes.data()), uint32_t(bytes.size()), &done), 0u);
        ASSERT_EQ(done, bytes.size());
    }
    Bytes read_all() {
        uint32_t pending = 0;
        EXPECT_EQ(KV_GetQueueStatus(handle, &pending), 0u);
        Bytes out(pending + 16);
        uint32_t got = 0;
        EXPECT_EQ(KV_Read(handle, out.data(), uint32_t(out.size()), &got), 0u);
        out.resize(got);
        return out;
    }
    KV_HANDLE handle = nullptr;
};
