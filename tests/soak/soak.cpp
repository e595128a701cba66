// A seeded soak of the application's scan session on the driver bundle as built, on the simulated
// scanner: many scans with random settings, a share of them with device faults (one, or two in
// the same scan). A faulted scan comes between two fault-free scans of the same settings: the first
// is the reference, the second proves the recovery. Promises checked after every scan:
// - a failed scan leaves no file; a delivered image decodes whole at the size announced;
// - a faulted scan either fails, or delivers the reference's pixels exactly; a page that ended
//   early may deliver a partial image whose rows up to where the device stopped are the
//   reference's; corrupted image bytes may change only the pixels made from them;
// - every fault-free scan of settings seen before delivers the same pixels as before, and the
//   scan after a fault delivers the reference's;
// - the scan ended within kScanBound, and the calibration file, when present, opens as a store.
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

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <random>
#include <string>

#include <sched.h>
#include <time.h>

using namespace lumenfield;

namespace {

using namespace std::chrono_literals;
using Result = std::optional<QString>;

// No scan, faulted or not, may take longer than this. One that does is a failure, and the soak
// waits for it up to kScanLimit before it gives up the run.
constexpr auto kScanBound = 90s;
constexpr auto kScanLimit = 600s;

// The driver in the loaded plug-in gives a device that has stopped reporting data up after 1800
// polls 100 ms apart, each wait a call of nanosleep. While this is set, the program's own nanosleep,
// which those calls reach because the program exports it, only yields: that fault then ends within
// the bound, after the same polls.
std::atomic<bool> waitsHurried{false};

enum class Fault {
    none,
    refusal,
    stall,
    shortRead,
    disconnect,
    noData,
    wrongWidth,
    unterminatedText,
    noAnswer,
    earlyEnd,
    endWithoutData,
    wrongHeight,
    wrongJobId,
    corruptImage,
    twoFaults,
};
constexpr std::array kFaults{Fault::refusal,      Fault::stall,          Fault::shortRead,        Fault::disconnect,
                             Fault::noData,       Fault::wrongWidth,     Fault::unterminatedText, Fault::noAnswer,
                             Fault::earlyEnd,     Fault::endWithoutData, Fault::wrongHeight,      Fault::wrongJobId,
                             Fault::corruptImage, Fault::twoFaults};
// What a scan with two faults combines: any two of these, on one device that stays on the bus.
constexpr std::array kCombinable{Fault::refusal,     Fault::stall,      Fault::shortRead,   Fault::noData,
                                 Fault::wrongWidth,  Fault::noAnswer,   Fault::earlyEnd,    Fault::endWithoutData,
                                 Fault::wrongHeight, Fault::wrongJobId, Fault::corruptImage};

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
    case Fault::noAnswer: return "no answer";
    case Fault::earlyEnd: return "page ends early";
    case Fault::endWithoutData: return "page ends, no data";
    case Fault::wrongHeight: return "wrong height";
    case Fault::wrongJobId: return "wrong job reply id";
    case Fault::corruptImage: return "corrupted image";
    case Fault::twoFaults: return "two faults";
    }
    return "?";
}

bool has(const std::vector<Fault>& faults, Fault f)
{
    return std::find(faults.begin(), faults.end(), f) != faults.end();
}

std::string describe(const std::vector<Fault>& faults)
{
    std::string out;
    for (Fault f : faults) out += (out.empty() ? "" : " + ") + std::string(name(f));
    return out;
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

// An image file's pixels as bytes, row after row.
struct Pixels {
    int width = 0;
    int height = 0;
    size_t rowBytes = 0;
    std::vector<uint8_t> data;

    bool sameSize(const Pixels& o) const { return width == o.width && height == o.height && rowBytes == o.rowBytes; }
    const uint8_t* row(int y) const { return data.data() + size_t(y) * rowBytes; }
    uint64_t hash() const
    {
        uint64_t h = 0xcbf29ce484222325ull ^ (uint64_t(width) << 32 | uint64_t(height));
        for (uint8_t b : data) h = (h ^ b) * 0x100000001b3ull;
        return h;
    }
};

// The file read whole (a truncated file fails here), or none.
std::optional<Pixels> decode(const QString& path)
{
    try {
        vips::VImage image = vips::VImage::new_from_file(QFile::encodeName(path).constData());
        size_t size = 0;
        void* memory = image.write_to_memory(&size);
        Pixels p;
        p.width = image.width();
        p.height = image.height();
        p.rowBytes = p.height > 0 ? size / size_t(p.height) : 0;
        p.data.assign(static_cast<uint8_t*>(memory), static_cast<uint8_t*>(memory) + size);
        g_free(memory);
        return p;
    } catch (const vips::VError&) {
        return std::nullopt;
    }
}

// How a delivered image differs from the reference: pixels that differ (a pixel being a row's
// bytes divided evenly by its width), and rows from the top that are equal.
struct Difference {
    size_t pixels = 0;
    int equalRows = 0;
};

Difference compare(const Pixels& got, const Pixels& want)
{
    Difference d;
    const size_t bytesPerPixel = want.width > 0 ? std::max<size_t>(want.rowBytes / size_t(want.width), 1) : 1;
    bool top = true;
    for (int y = 0; y < want.height; ++y) {
        const bool same = std::memcmp(got.row(y), want.row(y), want.rowBytes) == 0;
        if (same && top) ++d.equalRows;
        top = top && same;
        if (same) continue;
        for (size_t x = 0; x + bytesPerPixel <= want.rowBytes; x += bytesPerPixel)
            d.pixels += std::memcmp(got.row(y) + x, want.row(y) + x, bytesPerPixel) != 0;
    }
    return d;
}

struct Scan {
    ScanSettings::Values values = ScanSettings().values();
    ScanMode mode = ScanMode::scan;
    qint64 exposureRatio = 100;
    VekScanQuality quality = VekScanQuality::quality;
    VekCalibrationMode calibration = VekCalibrationMode::smart;
};

// The settings that decide the pixels. The calibration mode does not: a stored calibration gives
// what a fresh one does.
std::string key(const Scan& s)
{
    const QRectF& r = s.values.previewRect;
    char text[200];
    std::snprintf(text, sizeof text, "%lld/%lld/%lld/%g,%g,%g,%g/%d/%lld/%lld", (long long)s.values.scanSource,
                  (long long)s.values.colorType, (long long)s.values.resolution, r.x(), r.y(), r.width(), r.height(),
                  int(s.mode), (long long)s.exposureRatio, (long long)s.quality);
    return text;
}

// One armed fault and what it needs to be checked afterwards.
struct Armed {
    std::vector<Fault> faults;
    uint64_t at = 0;                                   // the transaction the aimed faults hit
    std::optional<std::pair<std::string, int>> tagged; // or the n-th transaction with this tag
    uint32_t endAfter = 0;                             // earlyEnd: lines the page delivers
    size_t corrupted = 0;                              // corruptImage: bytes changed
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

    int pick(int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(random)); }

    Scan randomScan()
    {
        Scan s;
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
        return finish(result, std::chrono::duration_cast<std::chrono::seconds>(kScanLimit));
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

    // Arms the faults on the device for a scan whose first transaction will be `first`; the
    // transaction-aimed ones hit one transaction within the length of the last fault-free scan.
    Armed arm(const std::vector<Fault>& faults, uint64_t first)
    {
        Armed a;
        a.faults = faults;
        a.at = first + std::uniform_int_distribution<uint64_t>(0, scanLength - 1)(random);
        const sim::Target target = sim::Target::transaction(a.at);
        constexpr sim::Phase phases[] = {sim::Phase::Header, sim::Phase::Data, sim::Phase::Reply};
        sim::GeometryFault geometry;
        for (Fault f : faults) {
            switch (f) {
            case Fault::refusal:
                model->inject(sim::Injection::refuse(target, uint8_t(2 + pick(5)), uint8_t(pick(256))));
                break;
            case Fault::stall: model->inject(sim::Injection::stall(target, phases[pick(3)])); break;
            case Fault::shortRead: model->inject(sim::Injection::short_reply(target, size_t(pick(12)))); break;
            case Fault::disconnect: model->inject(sim::Injection::disconnect(target, phases[pick(3)])); break;
            case Fault::noAnswer: model->inject(sim::Injection::no_answer(target)); break;
            case Fault::wrongWidth: geometry.width = uint16_t(pick(3) == 0 ? pick(65536) : 1 + pick(4000)); break;
            case Fault::wrongHeight: geometry.height = uint16_t(pick(3) == 0 ? pick(65536) : 1 + pick(4000)); break;
            case Fault::earlyEnd: geometry.end_after = a.endAfter = uint32_t(1 + pick(600)); break;
            case Fault::endWithoutData: geometry.end_without_data = true; break;
            case Fault::noData: geometry.never_ready = true; break;
            case Fault::wrongJobId: {
                constexpr const char* tags[] = {"JOB", "PAR", "SCAN", "STOP"};
                a.tagged = std::make_pair(std::string(tags[pick(4)]), 1 + pick(3));
                model->inject(sim::Injection::job_reply_id(sim::Target::next(a.tagged->first, a.tagged->second),
                                                           uint8_t(2 + pick(255))));
                break;
            }
            case Fault::corruptImage: {
                // The image page's reads only: the round reuses the stored calibration.
                a.tagged = std::make_pair(std::string("IMG"), 1 + pick(3));
                std::vector<std::pair<size_t, uint8_t>> xors;
                a.corrupted = size_t(1 + pick(4));
                for (size_t k = 0; k < a.corrupted; ++k)
                    xors.emplace_back(size_t(pick(1 << 20)), uint8_t(1 + pick(255)));
                model->inject(sim::Injection::image_bytes(sim::Target::next("IMG", a.tagged->second), std::move(xors)));
                break;
            }
            case Fault::unterminatedText: // armed by reconnecting
            case Fault::twoFaults:
            case Fault::none: break;
            }
        }
        model->with_chart_engine([=](sim::ChartScanEngine& e) { e.set_geometry_fault(geometry); });
        return a;
    }

    // Whether an aimed fault never met its transaction (it is still armed then).
    bool missed(const Armed& a, uint64_t first) const
    {
        bool missed = false;
        for (Fault f : a.faults) {
            if (f == Fault::refusal || f == Fault::stall || f == Fault::shortRead || f == Fault::disconnect ||
                f == Fault::noAnswer)
                missed = missed || model->next_transaction() <= a.at;
        }
        if (a.tagged) {
            int seen = 0;
            for (const sim::Transaction& tx : model->transactions())
                seen += tx.number >= first && tx.tag == a.tagged->first;
            missed = missed || seen < a.tagged->second;
        }
        return missed;
    }

    // What a finished scan left: its pixels, or none after a failure (which must leave no file).
    std::optional<Pixels> delivered(const Result& path, const std::string& what)
    {
        const bool file = QFile::exists(rawImagePath());
        if (!path) {
            EXPECT_FALSE(file) << what << " failed but left a file";
            return std::nullopt;
        }
        EXPECT_EQ(*path, rawImagePath());
        const EIMAGEINFO info = manager.imageInfo();
        std::optional<Pixels> pixels = decode(*path);
        EXPECT_TRUE(pixels) << what << " reported success with an unreadable file";
        if (pixels) {
            EXPECT_EQ(pixels->width, int(info.WidthPixels)) << what;
            EXPECT_EQ(pixels->height, int(info.HeightLines)) << what;
        }
        return pixels;
    }

    // A fault-free scan: it succeeds and, for settings seen before, gives the same pixels.
    std::string checkFaultFree(const Scan& s, const Result& path, const std::optional<Pixels>& pixels,
                               const std::string& what, uint64_t first)
    {
        EXPECT_TRUE(path.has_value()) << what << " failed: source " << int64_t(s.values.scanSource) << ", colour "
                                      << int64_t(s.values.colorType) << ", " << s.values.resolution << " dpi";
        if (!path) {
            // What the device saw of the failed scan, for the report.
            for (const sim::Transaction& tx : model->transactions())
                if (tx.number >= first)
                    std::printf("  #%llu %s key %d code 0x%02x\n", (unsigned long long)tx.number, tx.brief().c_str(),
                                tx.sense_key, tx.sense_code);
            for (const std::string& v : model->violations()) std::printf("  violation: %s\n", v.c_str());
            return "error";
        }
        if (!pixels) return "unreadable";
        const uint64_t h = pixels->hash();
        const auto [seen, fresh] = hashes.emplace(key(s), h);
        if (fresh) return "image";
        EXPECT_EQ(seen->second, h) << what << " gave other pixels than before with the same settings " << key(s);
        return seen->second == h ? "image, as before" : "image, other pixels";
    }

    // A faulted scan's outcome against the reference, under the driver's promises.
    std::string checkFaulted(const Armed& a, const std::optional<Pixels>& pixels, const Pixels& reference,
                             const std::string& what)
    {
        if (!pixels) return "error";
        if (!pixels->sameSize(reference)) {
            ADD_FAILURE() << what << " delivered " << pixels->width << " x " << pixels->height
                          << " where the reference is " << reference.width << " x " << reference.height;
            return "image, other size";
        }
        const Difference d = compare(*pixels, reference);
        if (d.pixels == 0) return "image, equal";
        if (has(a.faults, Fault::earlyEnd)) {
            // The rows made from the lines the device delivered are the reference's (less two rows
            // that an output row may blend from lines on both sides of the end).
            const auto page = model->lastImagePage();
            const uint64_t lines = page ? page->height : 0;
            const int scanned =
                lines > a.endAfter ? int(uint64_t(a.endAfter) * uint64_t(reference.height) / lines) : reference.height;
            if (d.equalRows >= scanned - 2) return "image, partial";
            ADD_FAILURE() << what << ": " << d.equalRows << " rows equal the reference, where the device delivered "
                          << a.endAfter << " of " << lines << " lines (" << scanned << " rows)";
            return "image, partial but wrong";
        }
        if (has(a.faults, Fault::corruptImage)) {
            // A changed byte may reach the few output pixels made from its sample, not more.
            if (d.pixels <= 16 * a.corrupted) return "image, corrupted locally";
            ADD_FAILURE() << what << ": " << d.pixels << " pixels differ after " << a.corrupted
                          << " bytes were corrupted";
            return "image, corrupted widely";
        }
        ADD_FAILURE() << what << " reported success with " << d.pixels << " of "
                      << size_t(reference.width) * size_t(reference.height) << " pixels unlike the fault-free scan";
        return "image, differs";
    }

    void checkCalibrationStore(const std::string& what)
    {
        const std::string path = bench.calibrationFile().string();
        if (!std::filesystem::exists(path)) return;
        CShdFile store;
        EXPECT_EQ(store.Open(path.c_str(), 1), SHD_OK) << "calibration store damaged after " << what;
        store.Drop();
    }

    std::vector<Fault> randomFaults()
    {
        const Fault f = kFaults[size_t(pick(int(kFaults.size())))];
        if (f != Fault::twoFaults) return {f};
        const Fault one = kCombinable[size_t(pick(int(kCombinable.size())))];
        Fault two = one;
        while (two == one) two = kCombinable[size_t(pick(int(kCombinable.size())))];
        return {one, two};
    }

    void trace(uint64_t first)
    {
        for (const sim::Transaction& tx : model->transactions())
            if (tx.number >= first)
                std::printf("  #%llu %s key %d code 0x%02x\n", (unsigned long long)tx.number, tx.brief().c_str(),
                            tx.sense_key, tx.sense_code);
    }

    varnoth_test::Bench bench;
    varnoth_test::HookedScannerModel* model = nullptr;
    std::shared_ptr<QuorvaneScanner> scanner;
    ScanManager manager;
    std::mt19937_64 random;
    uint64_t scanLength = 40;               // transactions of the last fault-free scan
    std::map<std::string, uint64_t> hashes; // pixels of every fault-free scan by its settings
};

TEST_F(Soak, ScansWithInjectedFaultsKeepTheirPromises)
{
    const long scans = envNumber("LF_SOAK_SCANS", 50);
    const long seed = envNumber("LF_SOAK_SEED", 1);
    random.seed(uint64_t(seed));
    std::printf("soak: %ld scans, seed %ld\n", scans, seed);

    std::map<std::string, std::map<std::string, int>> counts;
    int i = 0;
    const auto record = [&](const std::string& kind, const std::string& outcome) {
        ++counts[kind][outcome];
        std::printf("soak: scan %d, %s: %s\n", i, kind.c_str(), outcome.c_str());
        std::fflush(stdout);
        ++i;
    };
    // One scan without faults; its pixels, when it delivered any.
    const auto faultFree = [&](const Scan& s, const std::string& kind) -> std::optional<Pixels> {
        QFile::remove(rawImagePath());
        const uint64_t first = model->next_transaction();
        const auto started = std::chrono::steady_clock::now();
        const Result path = run(s);
        if (HasFatalFailure()) return std::nullopt;
        const std::string what = "fault-free scan " + std::to_string(i);
        const bool slow = std::chrono::steady_clock::now() - started >= kScanBound;
        EXPECT_FALSE(slow) << what << " took longer than the bound";
        std::optional<Pixels> pixels = delivered(path, what);
        record(kind, checkFaultFree(s, path, pixels, what, first) + (slow ? ", over the time bound" : ""));
        checkCalibrationStore(what);
        if (path) scanLength = std::max<uint64_t>(model->next_transaction() - first, 1);
        if (!path) {
            EXPECT_TRUE(reconnect()) << "no reconnect after " << what;
        }
        return path ? pixels : std::nullopt;
    };

    while (i < scans && !HasFatalFailure()) {
        Scan s = randomScan();
        if (i == 0 || i + 3 > scans || pick(2) == 0) {
            faultFree(s, name(Fault::none));
            continue;
        }
        const std::vector<Fault> faults = randomFaults();
        if (has(faults, Fault::corruptImage)) s.calibration = VekCalibrationMode::smart;
        const std::optional<Pixels> reference = faultFree(s, name(Fault::none));
        if (!reference || HasFatalFailure()) continue;

        QFile::remove(rawImagePath());
        const std::string kind = faults.size() > 1 ? name(Fault::twoFaults) : name(faults[0]);
        const std::string what = "scan " + std::to_string(i) + " (" + describe(faults) + ")";
        bool loaded = true;
        if (has(faults, Fault::unterminatedText))
            loaded = reconnect([&](varnoth_test::HookedScannerModel& m) {
                const size_t at = std::array<size_t, 4>{48, 104, 136, 168}[size_t(pick(4))];
                m.edit([at](sim::ScannerRecords& r) { std::fill(r.inquiry.begin() + long(at), r.inquiry.end(), 'T'); });
            });
        const uint64_t first = model->next_transaction();
        const Armed armed = arm(faults, first);
        const auto started = std::chrono::steady_clock::now();
        waitsHurried = has(faults, Fault::noData);
        const Result path = loaded ? run(s) : Result{};
        waitsHurried = false;
        if (HasFatalFailure()) {
            ADD_FAILURE() << what << " did not end within " << kScanLimit.count() << " s";
            break;
        }
        const bool slow = std::chrono::steady_clock::now() - started >= kScanBound;
        EXPECT_FALSE(slow) << what << " took longer than the bound";
        std::string outcome = "not connected";
        if (loaded) outcome = checkFaulted(armed, delivered(path, what), *reference, what);
        if (slow) outcome += ", over the time bound";
        checkCalibrationStore(what);
        if (std::getenv("LF_SOAK_TRACE")) trace(first);
        const bool miss = missed(armed, first);
        if (miss) outcome = "missed";
        model->with_chart_engine([](sim::ChartScanEngine& e) { e.set_geometry_fault({}); });
        if (bench.scannerGone() || has(faults, Fault::unterminatedText) || miss) {
            // The device left (or is still the changed one, or still holds the unused fault): it
            // returns as it was and the driver connects again.
            if (bench.scannerGone()) outcome += ", reconnected";
            EXPECT_TRUE(reconnect()) << "no reconnect after " << what;
        }
        record(kind, outcome);
        if (i >= scans || HasFatalFailure()) break;

        // The recovery: the same settings again, without a fault, give the reference's pixels.
        QFile::remove(rawImagePath());
        const uint64_t again = model->next_transaction();
        const auto restarted = std::chrono::steady_clock::now();
        const Result recovered = run(s);
        if (HasFatalFailure()) break;
        const std::string after = "the scan after " + what;
        EXPECT_LT(std::chrono::steady_clock::now() - restarted, kScanBound) << after;
        const std::optional<Pixels> pixels = delivered(recovered, after);
        std::string result = checkFaultFree(s, recovered, pixels, after, again);
        if (pixels && !pixels->sameSize(*reference)) {
            ADD_FAILURE() << after << " gave an image of another size than the reference";
            result = "image, other size";
        } else if (pixels && compare(*pixels, *reference).pixels != 0) {
            ADD_FAILURE() << after << " gave other pixels than the reference";
            result = "image, other pixels";
        }
        record("none, after a fault", result);
        checkCalibrationStore(after);
        if (recovered) scanLength = std::max<uint64_t>(model->next_transaction() - again, 1);
        // A device left in a state the driver does not recover from is plugged in afresh, so that
        // the rest of the run still tests something.
        if (!recovered) {
            EXPECT_TRUE(reconnect()) << "no reconnect after " << after;
        }
    }

    std::printf("soak: counts by fault kind and outcome\n");
    for (const auto& [kind, outcomes] : counts)
        for (const auto& [outcome, n] : outcomes) std::printf("  %-22s %-28s %6d\n", kind.c_str(), outcome.c_str(), n);
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
