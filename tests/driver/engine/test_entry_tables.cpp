// The entry's pure parts: range tables, the host callback table and its wrappers, and the classic
// bytes-per-line rule.
#include "ebase.h"
#include "host_callbacks.h"
#include "range_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// {10, 20, 11}, {30, 50, 3}, terminated: indices 0-10 are 10..20, 11-13 are 30, 40, 50.
const ERangeEntry kTable[] = {{10, 20, 11}, {30, 50, 3}, {0, 0, 0}};
const ERangeEntry kEmpty[] = {{0, 0, 0}};

TEST(RangeTable, IndicesRunOnAcrossEntries)
{
    int32_t out = -1;
    EXPECT_EQ(Index2Value(12, &out, kTable), 1);
    EXPECT_EQ(out, 40);
    EXPECT_EQ(Index2Value(0, &out, kTable), 1);
    EXPECT_EQ(out, 10);
    EXPECT_EQ(Index2Value(10, &out, kTable), 1);
    EXPECT_EQ(out, 20);
    out = -1;
    EXPECT_EQ(Index2Value(14, &out, kTable), -108);
    EXPECT_EQ(Index2Value(-1, &out, kTable), -108);
    EXPECT_EQ(out, -1);

    EXPECT_EQ(Value2Index(45, &out, kTable), 1);
    EXPECT_EQ(out, 12);
    EXPECT_EQ(Value2Index(10, &out, kTable), 1);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(Value2Index(51, &out, kTable), -108);
    // Below the first minimum is outside the table, not a negative index.
    EXPECT_EQ(Value2Index(9, &out, kTable), -108);
    EXPECT_EQ(Value2Index(-2000000000, &out, kTable), -108);
}

TEST(RangeTable, ConformingLandsOnATableValue)
{
    int32_t out = 0;
    EXPECT_EQ(DoConverSetting(99, &out, kTable), 1);
    EXPECT_EQ(out, 50);
    EXPECT_EQ(DoConverSetting(25, &out, kTable), 1); // between the entries: the next one's minimum
    EXPECT_EQ(out, 30);
    EXPECT_EQ(DoConverSetting(-5, &out, kTable), 1);
    EXPECT_EQ(out, 10);
    EXPECT_EQ(DoConverSetting(44, &out, kTable), 1);
    EXPECT_EQ(out, 40);

    ERangeCap cap{7, 7, 7};
    EXPECT_EQ(GetCapab(cap, kTable), 2);
    EXPECT_EQ(cap.minimum, 10);
    EXPECT_EQ(cap.maximum, 50);
    EXPECT_EQ(cap.count, 14u);
}

TEST(RangeTable, EmptyAndUnterminatedTablesRefuse)
{
    int32_t out = 77;
    EXPECT_EQ(DoConverSetting(5, &out, kEmpty), -108);
    EXPECT_EQ(Index2Value(0, &out, kEmpty), -108);
    EXPECT_EQ(Value2Index(0, &out, kEmpty), -108);
    EXPECT_EQ(out, 77);
    ERangeCap cap{7, 8, 9};
    EXPECT_EQ(GetCapab(cap, kEmpty), 0);
    EXPECT_EQ(cap.count, 0u);
    EXPECT_EQ(cap.minimum, 7); // only the count is written

    // Fifty entries without an end are no table at all.
    std::vector<ERangeEntry> full(ERANGE_MAX_ENTRIES, ERangeEntry{0, 10, 11});
    cap = {1, 2, 3};
    EXPECT_EQ(GetCapab(cap, full.data()), 0);
    EXPECT_EQ(cap.count, 0u);
}

TEST(RangeTable, WideEntriesDoNotOverflow)
{
    const ERangeEntry wide[] = {{-2000000000, 2000000000, 5}, {0, 0, 0}};
    int32_t out = 0;
    EXPECT_EQ(Index2Value(4, &out, wide), 1);
    EXPECT_EQ(out, 2000000000);
    EXPECT_EQ(Value2Index(-2000000000, &out, wide), 1);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(Value2Index(1000000000, &out, wide), 1);
    EXPECT_EQ(out, 3);
}

TEST(RowBytes, ClassicRuleAndItsEdges)
{
    EXPECT_EQ(calculateRowBytes(1000, 64, 128), 3000u);
    EXPECT_EQ(calculateRowBytes(1000, 64, 32768), 6000u);
    EXPECT_EQ(calculateRowBytes(1000, 64, 1), 0u);
    EXPECT_EQ(calculateRowBytes(1001, 1, 1), 126u);
    EXPECT_EQ(calculateRowBytes(1001, 2, 1), 126u);
    EXPECT_EQ(calculateRowBytes(1000, 4, 128), 1000u);
    EXPECT_EQ(calculateRowBytes(1000, 4, 32768), 2000u);
    EXPECT_EQ(calculateRowBytes(1000, 8, 128), 0u);
    EXPECT_EQ(calculateRowBytes(0, 64, 128), 0u);
}

// ---------------------------------------------------------------------------------------------
// Host callbacks

struct Calls {
    int freeSpace = 0;
    uint64_t reference = 0;
    int32_t lastDone = 0;
    int16_t lastCode = 0;
    int16_t answer = 0;
    int32_t wideAnswer = 0;
};
Calls calls;

extern "C" int32_t fake_free_space(uint64_t ref)
{
    ++calls.freeSpace;
    calls.reference = ref;
    return 12345;
}
extern "C" int32_t fake_free(uint64_t ref, void*)
{
    calls.reference = ref;
    return 1;
}
extern "C" void fake_progress(uint64_t ref, int32_t done, int32_t)
{
    calls.reference = ref;
    calls.lastDone = done;
}
extern "C" void fake_error(uint64_t ref, int16_t code, const char*)
{
    calls.reference = ref;
    calls.lastCode = code;
}
extern "C" int16_t fake_calibration(int16_t code, void*)
{
    calls.lastCode = code;
    return calls.answer;
}
extern "C" int32_t fake_non_stop(void*, int32_t, int32_t)
{
    return calls.wideAnswer;
}
extern "C" void fake_yield(uint64_t) {}

class HostCallbacks : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear()
    {
        for (int16_t i = 0; i < 12; ++i) SetCallBackfunc(nullptr, i);
        SetCallBackfunc(nullptr, 255);
        calls = Calls{};
    }
};

TEST_F(HostCallbacks, IndicesOutsideTheTableStoreNothing)
{
    EXPECT_EQ(SetCallBackfunc(reinterpret_cast<void*>(&fake_free_space), 12), 0);
    EXPECT_EQ(SetCallBackfunc(reinterpret_cast<void*>(&fake_free_space), -1), 0);
    EXPECT_EQ(SetCallBackfunc(reinterpret_cast<void*>(&fake_free_space), 254), 0);
    EXPECT_EQ(FreeSpace1(), 0);
    EXPECT_EQ(calls.freeSpace, 0);
    EXPECT_EQ(SetCallBackfunc(reinterpret_cast<void*>(uintptr_t{0xABCD}), 255), 1);
    EXPECT_EQ(mRefCaller, 0xABCDu);
    EXPECT_EQ(SetCallBackfunc(reinterpret_cast<void*>(&fake_free_space), 0), 1);
    EXPECT_EQ(FreeSpace1(), 12345);
    EXPECT_EQ(calls.reference, 0xABCDu);
}

TEST_F(HostCallbacks, RegistrationTakesSevenSlotsAndTheReference)
{
    SECallbackBlock block{};
    block.reference = 0x1122334455667788ull;
    block.count = 0; // not read
    block.function[SE_CALLBACK_FREE_SPACE] = reinterpret_cast<uint64_t>(&fake_free_space);
    block.function[SE_CALLBACK_FREE] = reinterpret_cast<uint64_t>(&fake_free);
    block.function[SE_CALLBACK_YIELD] = reinterpret_cast<uint64_t>(&fake_yield);
    block.function[SE_CALLBACK_ERROR] = reinterpret_cast<uint64_t>(&fake_error);
    block.function[SE_CALLBACK_PROGRESS] = reinterpret_cast<uint64_t>(&fake_progress);
    RegisterHostCallbacks(block);
    EXPECT_EQ(mRefCaller, block.reference);
    EXPECT_EQ(CallBackYieldProc, nullptr) << "the yield slot is not taken";
    EXPECT_EQ(CallBackAllocMem, nullptr);
    EXPECT_EQ(FreeMem1(nullptr), 1);
    EXPECT_EQ(calls.reference, block.reference);
    EXPECT_EQ(pScanProGress1(7, 9), 1);
    EXPECT_EQ(calls.lastDone, 7);
    EXPECT_EQ(pErrorMsg1(-5, "x"), 1);
    EXPECT_EQ(calls.lastCode, -5);
    // Absent services answer neutrally and are never called.
    EXPECT_EQ(AllocMem1(16, nullptr), 0);
    EXPECT_EQ(LockMem1(nullptr), nullptr);
    EXPECT_EQ(UnLockMem1(nullptr), 0);
    EXPECT_EQ(YieldProc1(), 1);

    // A second block replaces what the first set, including with zeros.
    SECallbackBlock empty{};
    RegisterHostCallbacks(empty);
    EXPECT_EQ(FreeSpace1(), 0);
    EXPECT_EQ(CallBackpErrorMsg, nullptr);
    EXPECT_EQ(mRefCaller, 0u);
}

TEST_F(HostCallbacks, CancelAnswersOfTheUnregisteredServices)
{
    EXPECT_EQ(YieldProc2(1, nullptr), 0);
    EXPECT_EQ(NonStopCallbackProc1(nullptr, 0, 0), 0);
    SetCallBackfunc(reinterpret_cast<void*>(&fake_calibration), 9);
    SetCallBackfunc(reinterpret_cast<void*>(&fake_calibration), 10);
    SetCallBackfunc(reinterpret_cast<void*>(&fake_calibration), 8);
    SetCallBackfunc(reinterpret_cast<void*>(&fake_non_stop), 11);
    calls.answer = 0;
    EXPECT_EQ(YieldProc2(3, nullptr), CALLBACK_CANCELLED);
    EXPECT_EQ(pFullCalibration(3, nullptr), CALLBACK_CANCELLED);
    EXPECT_EQ(pLLD35Calibration1(4, nullptr), 0);
    EXPECT_EQ(calls.lastCode, 4);
    calls.answer = 7;
    EXPECT_EQ(YieldProc2(3, nullptr), 7);
    EXPECT_EQ(pLLD35Calibration1(4, nullptr), 7);
    calls.wideAnswer = 1;
    EXPECT_EQ(NonStopCallbackProc1(nullptr, 1, 2), CALLBACK_CANCELLED);
    calls.wideAnswer = 5;
    EXPECT_EQ(NonStopCallbackProc1(nullptr, 1, 2), 5);
}

} // namespace
