// tqread's acquisition against a stand-in sensor library that records the reads it is asked
// for: every full 7500-byte piece but the last goes through the stream read, the last piece,
// whatever its size, through TQ_ReadData.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquire.h"

namespace {

std::vector<std::string> reads;
int failing_read = -1; // index of the read that fails, -1 for none

int record(const char *name, uint8_t *destination, int byteCount) {
    const int index = static_cast<int>(reads.size());
    reads.push_back(std::string(name) + " " + std::to_string(byteCount));
    if (index == failing_read) return 4;
    for (int i = 0; i < byteCount; ++i) destination[i] = static_cast<uint8_t>(index + 1);
    return 0;
}

} // namespace

extern "C" int KORVIN_ReadStream(KV_HANDLE, uint8_t *destination, int byteCount) {
    return record("KORVIN_ReadStream", destination, byteCount);
}

extern "C" int TQ_ReadData(KV_HANDLE, uint8_t *destination, int byteCount) {
    return record("TQ_ReadData", destination, byteCount);
}

namespace {

TEST(AcquirePieces, FullPiecesFirstAndTheLastPieceThroughReadData) {
    const std::pair<int, std::vector<std::string>> cases[] = {
        {0, {"TQ_ReadData 0"}},
        {75, {"TQ_ReadData 75"}},
        {7500, {"TQ_ReadData 7500"}},
        {7503, {"KORVIN_ReadStream 7500", "TQ_ReadData 3"}},
        {15000, {"KORVIN_ReadStream 7500", "TQ_ReadData 7500"}},
        {15003, {"KORVIN_ReadStream 7500", "KORVIN_ReadStream 7500", "TQ_ReadData 3"}},
    };
    for (const auto &[bytes, expected] : cases) {
        reads.clear();
        failing_read = -1;
        std::vector<uint8_t> buffer(static_cast<std::size_t>(bytes) + 3);
        int failed_at = -1;
        EXPECT_EQ(acquire(nullptr, buffer.data(), bytes, &failed_at), 0) << bytes;
        EXPECT_EQ(reads, expected) << bytes;
        if (bytes > 7500) {
            EXPECT_EQ(buffer[7500], 2) << "the second piece lands after the first";
        }
    }
}

TEST(AcquirePieces, AFailingPieceEndsTheBurstThere) {
    reads.clear();
    failing_read = 1;
    std::vector<uint8_t> buffer(22503);
    int failed_at = -1;
    EXPECT_EQ(acquire(nullptr, buffer.data(), 22500, &failed_at), 4);
    EXPECT_EQ(failed_at, 7500);
    EXPECT_EQ(reads, (std::vector<std::string>{"KORVIN_ReadStream 7500", "KORVIN_ReadStream 7500"}));
}

} // namespace
