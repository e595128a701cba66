// Shading and calibration-parameter transfers: their order inside one job, their payloads and
// block bytes, failures, missing data and the multiple-light form.
#include "gl_scanner.h"
#include "protocol_bytes.h"
#include "scanner_shading.h"
#include "scanner_test.h"

#include <gtest/gtest.h>

#include <string>

using namespace lftest;
using sim::Injection;
using sim::Target;
using Briefs = std::vector<std::string>;

namespace {

class ScannerShading : public ScannerTest {
protected:
    // Distinct data per level and side, `side` bytes each.
    void set_shading(uint32_t side, uint32_t format, bool with_back)
    {
        for (int i = 0; i < 4; ++i) data_[i] = Bytes(side, static_cast<uint8_t>(0x10 * (i + 1)));
        ShadingState& sh = g()->shading;
        sh.value = 0x0258;
        sh.bytes_per_side = side;
        sh.format = format;
        sh.level0_front = data_[0].data();
        sh.level1_front = data_[1].data();
        sh.level0_back = with_back ? data_[2].data() : nullptr;
        sh.level1_back = with_back ? data_[3].data() : nullptr;
    }
    // The payload of a shading send (after the block).
    static Bytes payload(const sim::Transaction& tx) { return Bytes(tx.data.begin() + 16, tx.data.end()); }
    static Bytes join(const Bytes& a, const Bytes& b)
    {
        Bytes out = a;
        out.insert(out.end(), b.begin(), b.end());
        return out;
    }

    std::array<Bytes, 4> data_; // level-0 front, level-1 front, level-0 back, level-1 back
};

TEST_F(ScannerShading, WithoutMedia3OnlyTheFrontIsSentAtBothLevels)
{
    for (uint32_t format : {6u, 2u}) {
        set_shading(500, format, true);
        model().clear_transcript();
        EXPECT_EQ(scanner_send_shading_data(g()), STATUS_GOOD);
        EXPECT_EQ(briefs(), (Briefs{"JOB C", "SHAD send 1 1", "SHAD send 1 0", "JOB E"}));
        const auto txs = model().transactions();
        for (size_t i : {1u, 2u}) {
            EXPECT_EQ(txs[i].block[13], format == 6 ? 4 : 3);
            EXPECT_EQ(txs[i].block[5], 0x58);
            EXPECT_EQ(txs[i].block[6], 0x02);
        }
        EXPECT_EQ(payload(txs[1]), data_[1]);
        EXPECT_EQ(payload(txs[2]), data_[0]);
    }
    EXPECT_EQ(scanner_read_shading_data(g()), STATUS_GOOD);
}

class FeederShading : public ScannerShading {
protected:
    std::string profile() const override { return "feeder"; }
};

TEST_F(FeederShading, Media3AddsBothSidesAndTheBackWithReadBacks)
{
    set_shading(300, 6, true);
    EXPECT_EQ(scanner_send_shading_data(g()), STATUS_GOOD);
    const Briefs ten = {"JOB C",         "SHAD send 3 1", "SHAD send 3 0", "SHAD 3 1", "SHAD 3 0", "SHAD send 1 1",
                        "SHAD send 1 0", "SHAD send 2 1", "SHAD send 2 0", "SHAD 2 1", "SHAD 2 0", "JOB E"};
    EXPECT_EQ(briefs(), ten);
    auto txs = model().transactions();
    EXPECT_EQ(payload(txs[1]), join(data_[1], data_[3]));
    EXPECT_EQ(payload(txs[2]), join(data_[0], data_[2]));
    EXPECT_EQ(txs[3].length, 8u + 600u);
    EXPECT_EQ(payload(txs[7]), data_[3]);
    EXPECT_EQ(txs[9].length, 8u + 300u);

    // Front data only: the back halves go out as zeros, in the same transfers.
    set_shading(300, 6, false);
    model().clear_transcript();
    EXPECT_EQ(scanner_send_shading_data(g()), STATUS_GOOD);
    EXPECT_EQ(briefs(), ten);
    txs = model().transactions();
    EXPECT_EQ(payload(txs[1]), join(data_[1], Bytes(300, 0)));
    EXPECT_EQ(payload(txs[8]), Bytes(300, 0));

    // Without front data nothing is sent.
    g()->shading.level1_front = nullptr;
    model().clear_transcript();
    EXPECT_EQ(scanner_send_shading_data(g()), STATUS_TRANSFER_FAILED);
    EXPECT_TRUE(briefs().empty());
}

TEST_F(ScannerShading, FailuresEndTheJob)
{
    set_shading(64, 2, true);
    model().inject(Injection::refuse(Target::next("SHAD", 2), 5, 0x24));
    EXPECT_EQ(scanner_send_shading_data(g()), STATUS_TRANSFER_FAILED);
    EXPECT_EQ(briefs(), (Briefs{"JOB C", "SHAD send 1 1", "SHAD send 1 0", "JOB E"}));
    EXPECT_FALSE(model().job_open());

    model().clear_transcript();
    model().inject(Injection::refuse(Target::next("CALI"), 5, 0x24));
    EXPECT_EQ(scanner_send_calibration_data(g(), 600, 1), STATUS_REFUSED_REQUEST);
    EXPECT_EQ(briefs(), (Briefs{"JOB C", "CALI send 600 1", "JOB E"}));

    // A failed create is answered at once.
    for (auto call : {+[](GLScanner* s) { return scanner_send_shading_data(s); },
                      +[](GLScanner* s) { return scanner_read_calibration_data(s, 600, 1); },
                      +[](GLScanner* s) { return scanner_send_calibration_data(s, 600, 1); }}) {
        model().clear_transcript();
        model().inject(Injection::refuse(Target::next("JOB"), 5, 0x2C));
        EXPECT_EQ(call(g()), STATUS_REFUSED_REQUEST);
        EXPECT_EQ(briefs(), (Briefs{"JOB C"}));
    }
}

TEST_F(ScannerShading, CalibrationBlocksRoundTripThroughTheDevice)
{
    g()->calibration = pattern<128>(77);
    EXPECT_EQ(scanner_send_calibration_data(g(), 1200, 1), STATUS_GOOD);
    g()->calibration.fill(0);
    EXPECT_EQ(scanner_read_calibration_data(g(), 1200, 1), STATUS_GOOD);
    EXPECT_EQ(g()->calibration, pattern<128>(77));
    // A block the device never stored reads as its key's pattern.
    EXPECT_EQ(scanner_read_calibration_data(g(), 300, 2), STATUS_GOOD);
    for (size_t i = 0; i < 128; ++i) ASSERT_EQ(g()->calibration[i], static_cast<uint8_t>(302 + i));
    EXPECT_EQ(briefs(),
              (Briefs{"JOB C", "CALI send 1200 1", "JOB E", "JOB C", "CALI 1200 1", "JOB E", "JOB C", "CALI 300 2",
                      "JOB E"}));
}

TEST_F(ScannerShading, MultipleLightsGoInTheOrderTwoOneFour)
{
    // Light data per level and side: 4 bytes per light, recognisable as (level, side, light).
    constexpr uint32_t per_light = 4;
    g()->shading.per_light_size = per_light;
    g()->light_ids = {4, 2, 1};
    std::array<Bytes, 4> buffers; // level-0 front, level-0 back, level-1 front, level-1 back
    for (size_t b = 0; b < 4; ++b)
        for (uint8_t light : {4, 2, 1})
            buffers[b].insert(buffers[b].end(), per_light, static_cast<uint8_t>(b * 16 + light));
    set_shading_data_point(g(), buffers[0].data(), buffers[1].data(), buffers[2].data(), buffers[3].data());
    auto light_bytes = [&](size_t buffer, uint32_t mask) {
        Bytes out;
        for (uint8_t light : {2, 1, 4})
            if ((mask & light) != 0) out.insert(out.end(), per_light, static_cast<uint8_t>(buffer * 16 + light));
        return out;
    };
    const uint32_t masks[] = {7, 3, 5, 1};
    for (int mode = 0; mode < 4; ++mode) {
        model().clear_transcript();
        EXPECT_EQ(scanner_send_multilight_shading_data(g(), mode), STATUS_GOOD);
        EXPECT_EQ(briefs(), (Briefs{"JOB C", "SHAD send 1 1", "SHAD send 1 0", "JOB E"}));
        const auto txs = model().transactions();
        EXPECT_EQ(payload(txs[1]), light_bytes(2, masks[mode])) << "mode " << mode;
        EXPECT_EQ(payload(txs[2]), light_bytes(0, masks[mode])) << "mode " << mode;
    }
    model().clear_transcript();
    EXPECT_EQ(scanner_send_multilight_shading_data(g(), 4), STATUS_TRANSFER_FAILED);
    EXPECT_TRUE(briefs().empty());

    // A light the record does not list sends zeros; kinds with a back side append the backs.
    g()->light_ids = {4, 2};
    set_shading_data_point(g(), buffers[0].data(), buffers[1].data(), buffers[2].data(), buffers[3].data());
    g()->media[3] = 1;
    model().clear_transcript();
    EXPECT_EQ(scanner_send_multilight_shading_data(g(), 3), STATUS_GOOD); // light 1 alone
    EXPECT_EQ(briefs(),
              (Briefs{"JOB C", "SHAD send 3 1", "SHAD send 3 0", "SHAD send 1 1", "SHAD send 1 0", "SHAD send 2 1",
                      "SHAD send 2 0", "JOB E"}));
    const auto txs = model().transactions();
    EXPECT_EQ(payload(txs[1]), Bytes(2 * per_light, 0));
    EXPECT_EQ(payload(txs[3]), Bytes(per_light, 0));
    model().clear_transcript();
    EXPECT_EQ(scanner_send_multilight_shading_data(g(), 2), STATUS_GOOD); // lights 4 and 1
    const Bytes none(per_light, 0);
    EXPECT_EQ(payload(model().transactions()[1]), join(join(none, light_bytes(2, 4)), join(none, light_bytes(3, 4))));
}

} // namespace
