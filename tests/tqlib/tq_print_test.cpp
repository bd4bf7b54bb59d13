// TQlib's printed forms: registers with their fields, samples in three formats, the report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "capture.h"
#include "tq_api.h"

namespace {

// angle, status (parity is the caller's business)
std::vector<std::uint8_t> samples(std::initializer_list<std::pair<std::uint16_t, std::uint8_t>> list) {
    std::vector<std::uint8_t> bytes;
    for (auto [angle, status] : list) bytes.insert(bytes.end(), {std::uint8_t(angle >> 8), std::uint8_t(angle), status});
    return bytes;
}

TEST(TqPrint, RegisterInEveryRadixWithFields) {
    EXPECT_EQ(capture_stdout([] { TQ_RegPrint(0x25, 5, TQ_RADIX_HEX_PREFIX); }),
              "Register 5: 0x25  ZL=0x5 ETX=0x0 ETY=0x1 BIX=0x0 BIY=0x0\n");
    EXPECT_EQ(capture_stdout([] { TQ_RegPrint(0x3A, 0, TQ_RADIX_BIN); }),
              "Register 0: 00111010  EDF=0 FWS=1 FR=0 FLL=11 FI=001\n");
    EXPECT_EQ(capture_stdout([] { TQ_RegPrint(200, 4, TQ_RADIX_DEC); }), "Register 4: 200  ZH=200\n");
    EXPECT_EQ(capture_stdout([] { TQ_RegPrint(0x0F, 7, TQ_RADIX_HEX); }),
              "Register 7: 0F  PWM=1 RD=1 UVW=1 ABZ=1 EPT=0 AF=0\n");
    EXPECT_EQ(capture_stdout([] { TQ_RegPrint(0x81, 9, TQ_RADIX_BIN_PREFIX); }), "Register 9: 0b10000001\n");
}

TEST(TqPrint, CombinedRadixCodesPrintPrefixedHexAndBadRegistersAreRefused) {
    EXPECT_EQ(capture_stdout([] { TQ_RegPrint(0x01, 1, TQ_RADIX_HEX | TQ_RADIX_HEX_PREFIX); }), "Register 1: 0x01\n");
    EXPECT_EQ(capture_stdout([] { EXPECT_NE(TQ_RegPrint(1, 10, 2), 0); EXPECT_NE(TQ_RegPrint(1, -1, 2), 0); }), "");
}

TEST(TqPrint, DataInTextCsvAndPlain) {
    auto data = samples({{0x0000, 0x01}, {0x4000, 0x80}, {0xFFFF, 0x01}});
    EXPECT_EQ(capture_stream([&](FILE *f) { TQ_PrintData(f, data.data(), 0, 3, TQ_FORMAT_CSV, TQ_RADIX_HEX_PREFIX); }),
              "sample,angle,degrees,status\n0,0x0000,0.0000,0x01\n1,0x4000,90.0000,0x80\n2,0xFFFF,359.9945,0x01\n");
    EXPECT_EQ(capture_stream([&](FILE *f) { TQ_PrintData(f, data.data(), 1, 2, TQ_FORMAT_PLAIN, TQ_RADIX_DEC); }),
              "4194432\n16776961\n");
    EXPECT_EQ(capture_stream([&](FILE *f) { TQ_PrintData(f, data.data(), 0, 3, TQ_FORMAT_TEXT, TQ_RADIX_HEX); }),
              "  Sample  Angle   Degrees  Status  Flags\n"
              "       0   0000    0.0000      01  ok\n"
              "       1   4000   90.0000      80  weak,parity\n"
              "       2   FFFF  359.9945      01  ok\n");
    EXPECT_EQ(capture_stream([&](FILE *f) { TQ_PrintData(f, nullptr, 0, 0, TQ_FORMAT_CSV, 2); }),
              "sample,angle,degrees,status\n");
}

TEST(TqPrint, ReportMeasuresNoiseAboutTheRotation) {
    // A steady rotation through the wrap with +-1 unit of noise: the rotation is no noise.
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 100; ++i) {
        auto angle = static_cast<std::uint16_t>(65000 + 20 * i + (i % 2 ? 1 : -1));
        data.insert(data.end(), {std::uint8_t(angle >> 8), std::uint8_t(angle), std::uint8_t(i < 3 ? 0x40 : 0x01)});
    }
    std::string csv = capture_stream([&](FILE *f) { TQ_PrintError(f, data.data(), 0, 100, TQ_FORMAT_CSV, 2); });
    double count, min, max, mean, deviation, peak, flagged;
    ASSERT_EQ(std::sscanf(csv.c_str(), "%*[^\n]\n%lf,%lf,%lf,%lf,%lf,%lf,%lf", &count, &min, &max, &mean, &deviation,
                          &peak, &flagged), 7);
    EXPECT_EQ(count, 100);
    EXPECT_NEAR(deviation, 360.0 / 65536, 1e-4);
    EXPECT_NEAR(peak, 2 * 360.0 / 65536, 5e-4);  // the fit tilts slightly to the noise
    EXPECT_EQ(flagged, 3);
    EXPECT_LT(min, 1.0);
    EXPECT_GT(max, 359.0);
    EXPECT_NEAR(mean, std::fmod(65000 + 20 * 49.5, 65536) * 360 / 65536, 1e-3);  // the middle of the turn
    // Standing still across 0: the mean is 0, not 180.
    auto still = samples({{0xFFFE, 0x00}, {0x0002, 0x00}, {0x0002, 0x00}, {0xFFFE, 0x00}});
    std::string plain = capture_stream([&](FILE *f) { TQ_PrintError(f, still.data(), 0, 4, TQ_FORMAT_PLAIN, 2); });
    EXPECT_EQ(plain, "4\n0.0110\n359.9890\n0.0000\n0.0110\n0.0220\n0\n0\n");
    std::string empty = capture_stream([&](FILE *f) { TQ_PrintError(f, nullptr, 0, 0, TQ_FORMAT_TEXT, 2); });
    EXPECT_NE(empty.find("Samples:              0\nMinimum angle:        -\n"), std::string::npos) << empty;
}

TEST(TqPrint, ReportInText) {
    // Fit through 22.5, 45, 67.5, 45 degrees: slope 9 per sample, residuals -9, 4.5, 18, -13.5.
    auto data = samples({{0x1000, 0x00}, {0x2000, 0x81}, {0x3000, 0x40}, {0x2000, 0x01}});
    EXPECT_EQ(capture_stream([&](FILE *f) { TQ_PrintError(f, data.data(), 0, 4, TQ_FORMAT_TEXT, TQ_RADIX_HEX_PREFIX); }),
              "Samples:              4\n"
              "Minimum angle:        22.5000 deg (0x1000)\n"
              "Maximum angle:        67.5000 deg (0x3000)\n"
              "Mean angle:           45.0000 deg\n"
              "Noise, std deviation: 12.3238 deg\n"
              "Noise, peak to peak:  31.5000 deg\n"
              "Flagged samples:      2 (field too weak 1, too strong 1)\n"
              "Parity errors:        1\n");
}

TEST(TqPrint, EntryPointsRefuseAHandleThatIsNotOpen) {
    std::uint8_t byte = 0, buffer[12] = {};
    EXPECT_NE(TQ_ReadReg(nullptr, 0, &byte), 0);
    EXPECT_NE(TQ_WriteReg_Restricted(nullptr, 0, 1, 0), 0);
    EXPECT_NE(KORVIN_ReadStream(nullptr, buffer, 12), 0);
    EXPECT_NE(TQ_ReadData(nullptr, buffer, 12), 0);
    EXPECT_NE(KORVIN_WriteStream(nullptr, buffer, 2), 0);
    EXPECT_NE(TQ_Cmd(nullptr, 0), 0);
    EXPECT_NE(TQ_Close(nullptr), 0);
    EXPECT_NE(TQ_PrintData(nullptr, buffer, 0, 4, 0, 2), 0);
    char version[30];
    EXPECT_EQ(TQ_LibVer(version), 0);
    EXPECT_LT(std::string(version).size(), 30u);
}

}  // namespace
