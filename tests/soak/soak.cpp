// A seeded soak of the application's scan session on the driver bundle as built, on the simulated
// scanner: many scans with random settings, a random share of them with one device fault at a random
// transaction. After every scan: an image of the announced size or no file at all; the scan ended
// within kScanBound; the calibration file, when present, opens as a valid store; and after a faulted
// scan the next, fault-free one succeeds (after a disconnect, once the device is back and the driver
// has connected again).
//
// LF_SOAK_SCANS (default 50) and LF_SOAK_SEED (default 1) choose the run; the counts by fault kind
// and outcome are printed at the end; LF_SOAK_TRACE lists the transactions of every faulted scan.
#include "chart_scan_engine.h"
#include "scan_manager.h"
#include "scan_waits.h"
#include "shd_file.h"
#include "varnoth_session.h"

#include <gtest/gtest.h>
#include <vips/vips8>

#include <QCoreApplication>
#include <QFile>

#include <array>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <map>
#include <random>
#include <string>

#include <sched.h>
#include <time.h>

namespace {

using namespace std::chrono_literals;
using Result = std::optional<QString>;

// No scan, faulted or not, may take longer than this.
constexpr auto kScanBound = 90s;

// The driver in the loaded plug-in gives a device that has stopped reporting data up after 1800
// polls 100 ms apart, each wait a call of nanosleep. While this is set, the program's own nanosleep,
// which those calls reach because the program exports it, only yields: that fault then ends within
// the bound, after the same polls.
std::atomic<bool> waitsHurried{false};

enum class Fault { none, refusal, stall, shortRead, disconnect, noData, wrongWidth, unterminatedText };
constexpr std::array kFaults{Fault::refusal, Fault::stall,      Fault::shortRead,       Fault::disconnect,
                             Fault::noData,  Fault::wrongWidth, Fault::unterminatedText};

const char* name(Fault f)
{
    switch (f) {
    case Fault::none: return "none";
    case Fault::refusal: return "refusal";
    case Fault::stall: return "stall";
    case Fault::shortRead: return "short read";
    case Fault::disconnect: return "disconnect";
    case Fault::noData: return "stops reporting data";
    case Fault::wrongWidth: return "wrong width";
    case Fault::unterminatedText: return "unterminated text";
    }
    return "?";
}

long envNumber(const char* variable, long fallback)
{
    const char* text = std::getenv(variable);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == 0 && value > 0 ? value : fallback;
}

using varnoth_test::rawImagePath;

// The width and height of an image file read whole (a truncated file fails here), or none.
std::optional<std::pair<int, int>> decodedSize(const QString& path)
{
    try {
        vips::VImage image = vips::VImage::new_from_file(QFile::encodeName(path).constData(),
                                                         vips::VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        (void)image.avg();
        return std::make_pair(image.width(), image.height());
    } catch (const vips::VError&) {
        return std::nullopt;
    }
}

struct Scan {
    ScanSettings::Values values = ScanSettings().values();
    ScanMode mode = ScanMode::scan;
    qint64 exposureRatio = 100;
    VekScanQuality quality = VekScanQuality::quality;
    VekCalibrationMode calibration = VekCalibrationMode::smart;
};

class Soak : public ::testing::Test {
protected:
    void SetUp() override
    {
        model = &bench.addScanner();
        scanner = varnoth_test::connectManager(bench, manager);
        ASSERT_TRUE(scanner);
    }
    void TearDown() override
    {
        if (scanner) varnoth_test::disconnectManager(manager, scanner);
        QCoreApplication::processEvents();
        bench.shutdown();
    }

    Scan randomScan()
    {
        Scan s;
        const auto pick = [&](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(random)); };
        constexpr VekScanSource sources[] = {VekScanSource::reflective, VekScanSource::reflective,
                                             VekScanSource::positiveFilm, VekScanSource::negativeFilm};
        s.values.scanSource = sources[pick(4)];
        s.values.colorType = VekColorType(pick(3));
        constexpr int resolutions[] = {50, 75, 100, 150, 200, 300, 400, 600, 1200};
        s.values.resolution = resolutions[pick(9)];
        s.values.previewImageScale = 1.0;
        // A frame on a preview at 150 dpi, inside the film unit's area as well as the flatbed's, and
        // at least a pixel at the lowest resolution: the driver refuses a frame of no pixels.
        const double x = pick(150), y = pick(900);
        s.values.previewRect = QRectF(x, y, 4 + pick(70), 4 + pick(298));
        s.mode = pick(6) == 0 ? ScanMode::preview : ScanMode::scan;
        s.exposureRatio = pick(2) ? 100 : 50 + pick(151);
        s.quality = pick(2) ? VekScanQuality::quality : VekScanQuality::speed;
        s.calibration = pick(4) == 0 ? VekCalibrationMode::typical : VekCalibrationMode::smart;
        return s;
    }

    Result run(const Scan& s)
    {
        auto promise = std::make_shared<std::promise<Result>>();
        std::future<Result> result = promise->get_future();
        manager.runOnWorker([=, this] {
            promise->set_value(manager.scan(s.values, s.mode, s.exposureRatio, s.quality, s.calibration));
        });
        return finish(result, std::chrono::duration_cast<std::chrono::seconds>(kScanBound));
    }

    // The device leaves the bus and comes back (changed by `tweak`); the driver connects again.
    bool reconnect(const std::function<void(varnoth_test::HookedScannerModel&)>& tweak = {})
    {
        manager.runOnWorker([s = scanner] { s->unloadDriver(); });
        manager.waitForWorker();
        model = &bench.replugScanner();
        if (tweak) tweak(*model);
        bool loaded = false;
        manager.runOnWorker([&, s = scanner] { loaded = s->loadDriver(); });
        manager.waitForWorker();
        return loaded;
    }

    // Arms the fault on the device; the transaction-aimed ones hit transaction `at`.
    void arm(Fault f, uint64_t at)
    {
        const auto pick = [&](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(random)); };
        const sim::Target target = sim::Target::transaction(at);
        constexpr sim::Phase phases[] = {sim::Phase::Header, sim::Phase::Data, sim::Phase::Reply};
        switch (f) {
        case Fault::refusal: model->inject(sim::Injection::refuse(target, uint8_t(2 + pick(5)), uint8_t(pick(256)))); break;
        case Fault::stall: model->inject(sim::Injection::stall(target, phases[pick(3)])); break;
        case Fault::shortRead: model->inject(sim::Injection::short_reply(target, size_t(pick(12)))); break;
        case Fault::disconnect: model->inject(sim::Injection::disconnect(target, phases[pick(3)])); break;
        case Fault::wrongWidth: {
            const uint16_t width = uint16_t(pick(3) == 0 ? pick(65536) : 1 + pick(4000));
            model->with_chart_engine([=](sim::ChartScanEngine& e) { e.set_geometry_fault({.width = width}); });
            break;
        }
        case Fault::noData:
            model->with_chart_engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({.never_ready = true}); });
            break;
        case Fault::unterminatedText: break; // armed by reconnecting
        case Fault::none: break;
        }
    }

    // Checks what a finished scan left; answers its outcome.
    std::string check(const Result& path, Fault fault, int index)
    {
        const bool file = QFile::exists(rawImagePath());
        if (!path) {
            EXPECT_FALSE(file) << "scan " << index << " (" << name(fault) << ") failed but left a file";
            return "error";
        }
        EXPECT_EQ(*path, rawImagePath());
        const EIMAGEINFO info = manager.imageInfo();
        const auto size = decodedSize(*path);
        EXPECT_TRUE(size) << "scan " << index << " (" << name(fault) << ") reported success with an unreadable file";
        if (size) {
            EXPECT_EQ(size->first, int(info.WidthPixels)) << "scan " << index << " (" << name(fault) << ")";
            EXPECT_EQ(size->second, int(info.HeightLines)) << "scan " << index << " (" << name(fault) << ")";
        }
        return "image";
    }

    void checkCalibrationStore(int index)
    {
        const std::string path = bench.calibrationFile().string();
        if (!std::filesystem::exists(path)) return;
        CShdFile store;
        EXPECT_EQ(store.Open(path.c_str(), 1), SHD_OK) << "calibration store damaged after scan " << index;
        store.Drop();
    }

    varnoth_test::Bench bench;
    varnoth_test::HookedScannerModel* model = nullptr;
    std::shared_ptr<QuorvaneScanner> scanner;
    ScanManager manager;
    std::mt19937_64 random;
};

TEST_F(Soak, ScansWithInjectedFaultsKeepTheirPromises)
{
    const long scans = envNumber("LF_SOAK_SCANS", 50);
    const long seed = envNumber("LF_SOAK_SEED", 1);
    random.seed(uint64_t(seed));
    std::printf("soak: %ld scans, seed %ld\n", scans, seed);

    std::map<std::string, std::map<std::string, int>> counts;
    uint64_t scanLength = 40; // transactions of the last fault-free scan
    bool faultedBefore = false;
    for (int i = 0; i < scans && !HasFatalFailure(); ++i) {
        QFile::remove(rawImagePath());
        const Scan s = randomScan();
        // Never two faults in a row: the scan after a fault proves the recovery.
        const bool faulted = !faultedBefore && i > 0 && std::uniform_int_distribution<int>(0, 2)(random) == 0;
        const Fault fault =
            faulted ? kFaults[std::uniform_int_distribution<size_t>(0, kFaults.size() - 1)(random)] : Fault::none;
        bool loaded = true;
        if (fault == Fault::unterminatedText)
            loaded = reconnect([&](varnoth_test::HookedScannerModel& m) {
                const size_t at = std::array<size_t, 4>{48, 104, 136, 168}[std::uniform_int_distribution<int>(0, 3)(random)];
                m.edit([at](sim::ScannerRecords& r) { std::fill(r.inquiry.begin() + long(at), r.inquiry.end(), 'T'); });
            });
        const uint64_t first = model->next_transaction();
        const uint64_t at = first + std::uniform_int_distribution<uint64_t>(0, scanLength - 1)(random);
        arm(fault, at);

        const auto started = std::chrono::steady_clock::now();
        waitsHurried = fault == Fault::noData;
        const Result path = loaded ? run(s) : Result{};
        waitsHurried = false;
        if (HasFatalFailure()) {
            ADD_FAILURE() << "scan " << i << " (" << name(fault) << ") did not end within the bound";
            break;
        }
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LT(took, kScanBound);
        std::string outcome = loaded ? check(path, fault, i) : "not connected";
        checkCalibrationStore(i);

        if (fault == Fault::none) {
            EXPECT_TRUE(path.has_value()) << "fault-free scan " << i << (faultedBefore ? " after a fault" : "")
                                          << " failed: source " << int64_t(s.values.scanSource) << ", colour "
                                          << int64_t(s.values.colorType) << ", " << s.values.resolution << " dpi";
            if (path) scanLength = std::max<uint64_t>(model->next_transaction() - first, 1);
            if (!path) {
                // What the device saw of the failed scan, for the report.
                for (const sim::Transaction& tx : model->transactions())
                    if (tx.number >= first) std::printf("  #%llu %s key %d code 0x%02x\n", (unsigned long long)tx.number, tx.brief().c_str(), tx.sense_key, tx.sense_code);
                for (const std::string& v : model->violations()) std::printf("  violation: %s\n", v.c_str());
            }
        } else {
            const bool aimed = fault != Fault::noData && fault != Fault::wrongWidth && fault != Fault::unterminatedText;
            const bool missed = aimed && model->next_transaction() <= at;
            if (missed) outcome = "missed";
            if (std::getenv("LF_SOAK_TRACE"))
                for (const sim::Transaction& tx : model->transactions())
                    if (tx.number >= first) std::printf("  #%llu %s key %d code 0x%02x\n", (unsigned long long)tx.number, tx.brief().c_str(), tx.sense_key, tx.sense_code);
            if (bench.scannerGone() || fault == Fault::unterminatedText || missed) {
                // The device left (or is still the changed one, or still holds the unused fault): it
                // returns as it was and the driver connects again.
                if (bench.scannerGone()) outcome += ", reconnected";
                EXPECT_TRUE(reconnect()) << "no reconnect after scan " << i;
            }
            model->with_chart_engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({}); });
        }
        ++counts[name(fault)][outcome];
        std::printf("soak: scan %d, fault %s: %s\n", i, name(fault), outcome.c_str());
        std::fflush(stdout);
        faultedBefore = fault != Fault::none;
    }

    std::printf("soak: counts by fault kind and outcome\n");
    for (const auto& [kind, outcomes] : counts)
        for (const auto& [outcome, n] : outcomes) std::printf("  %-18s %-14s %6d\n", kind.c_str(), outcome.c_str(), n);
    std::fflush(stdout);
}

} // namespace

extern "C" int nanosleep(const timespec* request, timespec* remaining)
{
    if (waitsHurried.load(std::memory_order_relaxed)) {
        sched_yield();
        return 0;
    }
    if (const int error = clock_nanosleep(CLOCK_MONOTONIC, 0, request, remaining)) {
        errno = error;
        return -1;
    }
    return 0;
}
