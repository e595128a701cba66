// A host that loads the built plug-in the way the application does: a copy of the bundle, the
// module opened with RTLD_NOW | RTLD_LOCAL, SE_main found by name, and a whole connect and scan
// on the simulated scanner, reached through the real libusb. It knows the plug-in only from its
// boundary: it installs the eight services of the callback block and nothing else, unless a test
// adds the give-up service. The plug-in sleeps for real.
#include "chart_scan_engine.h"
#include "scanner_model.h"
#include "scanner_plug.h"
#include "scanner_profiles.h"
#include "testbed.h"

#include <se_boundary.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kBundle = VARNOTH_BUNDLE_PATH;
constexpr char kCaliFile[] = "CaliData6204_0000_SN6204000012345A.dat";

// The host's services: plain memory, and counters the test reads.
int services_called = 0;
extern "C" int32_t host_free_space(uint64_t)
{
    ++services_called;
    return 0x7FFFFFFF;
}
extern "C" int32_t host_allocate(uint64_t, int32_t size, void** out)
{
    *out = std::malloc(static_cast<size_t>(size));
    return *out != nullptr ? 1 : 0;
}
extern "C" int32_t host_free(uint64_t, void* block)
{
    std::free(block);
    return 1;
}
extern "C" void* host_lock(uint64_t, void* block)
{
    return block;
}
extern "C" void host_unlock(uint64_t, void*) {}
extern "C" void host_yield(uint64_t) {}
extern "C" void host_error(uint64_t, int16_t, const char*) {}
extern "C" void host_progress(uint64_t, int32_t, int32_t) {}
// The give-up service (index 9), which the callback block has no slot for: 0 gives up.
std::atomic<bool> give_up{false};
extern "C" int16_t host_give_up(int16_t, void*)
{
    return give_up ? 0 : 1;
}

SECallbackBlock host_services()
{
    SECallbackBlock b{};
    b.reference = 0x5EED;
    b.count = SE_CALLBACK_COUNT;
    const void* functions[SE_CALLBACK_COUNT] = {
        reinterpret_cast<void*>(&host_free_space), reinterpret_cast<void*>(&host_allocate),
        reinterpret_cast<void*>(&host_free),       reinterpret_cast<void*>(&host_lock),
        reinterpret_cast<void*>(&host_unlock),     reinterpret_cast<void*>(&host_yield),
        reinterpret_cast<void*>(&host_error),      reinterpret_cast<void*>(&host_progress),
    };
    for (int i = 0; i < SE_CALLBACK_COUNT; ++i) b.function[i] = reinterpret_cast<uint64_t>(functions[i]);
    return b;
}

uint64_t address(const void* p)
{
    return reinterpret_cast<uint64_t>(p);
}

// One loaded copy of the plug-in.
class Plugin {
public:
    explicit Plugin(const fs::path& so)
    {
        module_ = dlopen(so.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module_ == nullptr) {
            ADD_FAILURE() << dlerror();
            return;
        }
        entry_ = reinterpret_cast<SEMainFunction*>(dlsym(module_, "SE_main"));
        if (entry_ == nullptr) ADD_FAILURE() << "no SE_main";
    }
    ~Plugin()
    {
        if (module_ != nullptr) {
            EXPECT_EQ(dlclose(module_), 0);
        }
    }
    bool loaded() const { return entry_ != nullptr; }
    // Registers a service the callback block has no slot for, through the plug-in's export.
    void add_service(void* service, int16_t index)
    {
        auto* set = reinterpret_cast<SESetCallbackFunction*>(dlsym(module_, "SetCallBackfunc"));
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(set(service, index), 1);
    }
    int16_t op(int16_t o)
    {
        ECDB b{};
        return entry_(o, &b);
    }
    int16_t command(int16_t code, uint16_t verb = 0, uint64_t value = 0, const void* record = nullptr)
    {
        ECDB b{};
        b.code = code;
        b.verb = verb;
        b.value = value;
        b.record = address(record);
        const int16_t r = entry_(SE_OP_COMMAND, &b);
        // A call refused while another is inside leaves its block untouched.
        EXPECT_EQ(b.result, r == SE_ERR_BUSY ? 0 : r);
        return r;
    }

private:
    void* module_ = nullptr;
    SEMainFunction* entry_ = nullptr;
};

constexpr uint8_t kCanary = 0xCD;

struct Image {
    SEImageInfo info{};
    std::vector<uint8_t> bytes;
    bool canaries_intact = true;
    int16_t last = 0;
};

class PluginHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "lfhost.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::copy(kBundle, root_ / "Varnoth.bundle", fs::copy_options::recursive);
        contents_ = root_ / "Varnoth.bundle" / "Contents";
        testbed_.emplace();
        // A scanner that can go silent or leave the bus; each one put on it becomes model_.
        plug_.emplace(*testbed_, *sim::scanner_profile("default"), [this](sim::ScannerModel& m) {
            model_ = &m;
            if (production_) m.with_chart_engine([this](sim::ChartScanEngine& e) { e.set_production(*production_); });
        });
        plug_->plug();
    }
    void TearDown() override
    {
        if (model_ != nullptr && plug_->plugged())
            for (const std::string& v : model_->violations()) ADD_FAILURE() << "protocol violation: " << v;
        plug_.reset();
        testbed_.reset();
        fs::remove_all(root_);
    }

    fs::path so() const { return contents_ / "Linux" / "Varnoth.so"; }

    // Connects the way the application does: open, enumerate, describe and open the scanner,
    // then ask what it offers.
    void connect(Plugin& p)
    {
        ASSERT_EQ(p.op(SE_OP_OPEN), 1);
        const SECallbackBlock services = host_services();
        SEChainReply reply{};
        const int before = services_called;
        ASSERT_EQ(p.command(SE_CMD_DEVICE_LIST, 0, address(&services), &reply), 1);
        EXPECT_EQ(services_called, before + 1);
        ASSERT_EQ(reply.count, 1);
        EXPECT_STREQ(reply.name, "VQ-K5200-U3 Scanner");
        SESubDevice sub{};
        ASSERT_EQ(p.command(SE_CMD_DEVICE_INFO, 0, reply.numbers[0], &sub), 1);
        EXPECT_EQ(sub.slot, reply.numbers[0]);
        ASSERT_EQ(p.command(SE_CMD_OPEN_DEVICE, 0, reply.numbers[0]), 1);

        SEScannerInfo info{};
        EXPECT_EQ(p.command(SE_CMD_SCANNER_INFO, 0, 0, &info), 1);
        EXPECT_EQ(info.firmware, 105);
        uint16_t sources = 0;
        EXPECT_EQ(p.command(SE_CMD_SOURCE, 0, 0, &sources), 1);
        EXPECT_EQ(sources, 0x105);
        // Each source's optical resolution and largest frame, selected in turn.
        for (uint16_t source : {SE_SOURCE_POSITIVE_FILM, SE_SOURCE_REFLECTIVE}) {
            EXPECT_EQ(p.command(SE_CMD_SOURCE, 3, source), 1);
            SEOpticalResolution optical{};
            EXPECT_EQ(p.command(SE_CMD_OPTICAL_RESOLUTION, 0, 0, &optical), 1);
            EXPECT_EQ(optical.resolution, 4800u);
            SEFrameCap frame{};
            EXPECT_EQ(p.command(SE_CMD_SCAN_FRAME, 0, 0, &frame), 1);
            EXPECT_EQ(frame.right, source == SE_SOURCE_REFLECTIVE ? 40795 : 7195);
        }
        SEImageType types{};
        EXPECT_EQ(p.command(SE_CMD_IMAGE_TYPE, 0, 0, &types), 1);
        EXPECT_EQ(types.type, 71u);
        SEInterpolation interpolation{};
        EXPECT_EQ(p.command(SE_CMD_INTERPOLATION, 1, 0, &interpolation), 1);
        uint32_t unused = 0;
        EXPECT_EQ(p.command(SE_CMD_WHOLE_CALIBRATION, 0, 0, &unused), 0);
        EXPECT_EQ(p.command(SE_CMD_CALIBRATION, 0), 1);
        EXPECT_EQ(p.command(SE_CMD_COLOR_CONSISTENCY, 0, 0, &unused), 0);
        SERange resolutions{};
        EXPECT_EQ(p.command(SE_CMD_RESOLUTION, 0, 0, &resolutions), 1);
        EXPECT_EQ(resolutions.maximum, 9600);
        EXPECT_EQ(p.command(SE_CMD_PAPER_SENSOR, 0, 0, &unused), 0);
        SERange ratio{};
        EXPECT_EQ(p.command(SE_CMD_EXPOSURE_RATIO, 0, 0, &ratio), 1);
    }

    // Sets a colour scan of `frame` (optical pixels) at `resolution` and the calibration mode, as
    // the application orders it, then asks the size and starts.
    void start(Plugin& p, const SEFrame& frame, uint32_t resolution, uint64_t calibration_mode, Image& image)
    {
        ASSERT_EQ(p.command(SE_CMD_SOURCE, 3, SE_SOURCE_REFLECTIVE), 1);
        ASSERT_EQ(p.command(SE_CMD_DEPTH, 3, SE_DEPTH_8_BITS), 1);
        SEImageType type{SE_IMAGE_COLOR, 0, {}};
        ASSERT_EQ(p.command(SE_CMD_IMAGE_TYPE, 3, 0, &type), 1);
        SEGammaDescriptor d{};
        ASSERT_EQ(p.command(SE_CMD_GAMMA, 2, SE_GAMMA_ALL_CHANNELS, &d), 1);
        ASSERT_EQ(d.entries, 256u);
        ASSERT_EQ(d.bytesPerEntry, 1);
        std::vector<uint8_t> tables(3 * 256);
        for (int c = 0; c < 3; ++c) d.table[c] = address(tables.data() + 256 * c);
        ASSERT_EQ(p.command(SE_CMD_GAMMA, 2, SE_GAMMA_ALL_CHANNELS, &d), 1);
        EXPECT_EQ(tables[255], 255);
        ASSERT_EQ(p.command(SE_CMD_GAMMA, 3, SE_GAMMA_ALL_CHANNELS, &d), 1);
        ASSERT_EQ(p.command(SE_CMD_RESOLUTION, 3, resolution), 1);
        SEFrame f = frame;
        ASSERT_EQ(p.command(SE_CMD_SCAN_FRAME, 3, 0, &f), 1);
        ASSERT_EQ(p.command(SE_CMD_EXPOSURE_RATIO, 3, 100), 1);
        ASSERT_EQ(p.command(SE_CMD_SCAN_QUALITY, 3, 1), 1);
        ASSERT_EQ(p.command(SE_CMD_CALIBRATION, 3, SE_CALIBRATION_SET_MODE,
                            reinterpret_cast<const void*>(static_cast<uintptr_t>(calibration_mode))),
                  1);
        SEImageInfo asked{};
        ASSERT_EQ(p.command(SE_CMD_IMAGE_INFO, 1, 0, &asked), 1);
        ASSERT_EQ(p.command(SE_CMD_START_SCAN, 0, 0, &image.info), 1);
        EXPECT_EQ(std::memcmp(&asked, &image.info, sizeof asked), 0);
    }

    // Reads blocks of `block` lines into exactly sized buffers until the end.
    void read(Plugin& p, Image& image, uint32_t block = 256)
    {
        const uint32_t bpl = image.info.bytesPerLine;
        for (int guard = 0; guard < 10000; ++guard) {
            std::vector<uint8_t> buffer(size_t{block} * bpl + 16, kCanary);
            SELineTransfer t{};
            t.buffer = address(buffer.data());
            t.wanted = block;
            image.last = p.command(SE_CMD_READ_LINES, 0, 0, &t);
            EXPECT_LE(t.delivered, block);
            image.bytes.insert(image.bytes.end(), buffer.begin(),
                               buffer.begin() + std::min<uint32_t>(t.delivered, block) * bpl);
            image.canaries_intact &=
                std::all_of(buffer.end() - 16, buffer.end(), [](uint8_t b) { return b == kCanary; });
            if (image.last != 1) break;
        }
    }

    void disconnect(Plugin& p)
    {
        EXPECT_EQ(p.command(SE_CMD_STOP_SCAN), 1);
        EXPECT_EQ(p.command(SE_CMD_CLOSE_DEVICE), 1);
        EXPECT_EQ(p.op(SE_OP_CLOSE), 1);
    }

    size_t count(const std::string& brief) const
    {
        size_t n = 0;
        for (const sim::Transaction& tx : model_->transactions()) n += tx.brief() == brief ? 1 : 0;
        return n;
    }

    fs::path root_;
    fs::path contents_;
    std::optional<sim::Testbed> testbed_;
    std::optional<sim::ScannerPlug> plug_;
    std::optional<sim::Production> production_; // of every scanner put on the bus from then on
    sim::ScannerModel* model_ = nullptr;
};

// The pattern chart as 8-bit samples: ((7x + 13y + 85c) mod 256) at device pixel (x, y).
int chart(uint32_t x, uint32_t y, int c)
{
    return static_cast<int>((7 * x + 13 * y + 85 * static_cast<uint32_t>(c)) % 256);
}

TEST_F(PluginHost, ConnectScanAndReuseTheCalibration)
{
    // 240 × 120 pixels at 300 dpi from the corner: 0.8 by 0.4 inches, multiples of 8.
    const SEFrame frame{0, 0, 3839, 1919};
    Image first;
    {
        Plugin p(so());
        ASSERT_TRUE(p.loaded());
        connect(p);
        start(p, frame, 300, 1, first);
        EXPECT_EQ(first.info.width, 240u);
        EXPECT_EQ(first.info.height, 120u);
        EXPECT_EQ(first.info.bytesPerLine, 720u);
        read(p, first);
        disconnect(p);
    }
    EXPECT_EQ(first.last, SE_END_OF_IMAGE);
    EXPECT_TRUE(first.canaries_intact);
    ASSERT_EQ(first.bytes.size(), size_t{first.info.height} * first.info.bytesPerLine);
    int worst = 0;
    for (uint32_t y = 0; y < first.info.height; ++y)
        for (uint32_t x = 0; x < first.info.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int got = first.bytes[(size_t{y} * first.info.width + x) * 3 + static_cast<size_t>(c)];
                worst = std::max(worst, std::abs(got - chart(x, y, c)));
            }
    EXPECT_LE(worst, 2) << "within 1 % of full scale: calibration did its work";
    EXPECT_TRUE(fs::exists(contents_ / kCaliFile));

    // A second run in the same process, smart calibration: the stored calibration is reused. The
    // scanner now makes its lines ready a few at a time while the host reads a few at a time:
    // the same image.
    model_->clear_transcript();
    model_->with_chart_engine([](sim::ChartScanEngine& e) {
        e.set_production({.mode = sim::Production::Mode::PerPoll, .lines_per_poll = 11});
    });
    Image second;
    {
        Plugin p(so());
        ASSERT_TRUE(p.loaded());
        connect(p);
        start(p, frame, 300, 0, second);
        read(p, second, 5);
        disconnect(p);
    }
    EXPECT_EQ(second.last, SE_END_OF_IMAGE);
    EXPECT_EQ(second.bytes, first.bytes);
    EXPECT_EQ(count("SCAN"), 1u) << "no dark or white scan, only the image";
}

// A scanner that stops answering while the image is read (it stays on the bus but says nothing
// more): the host's stop, sent while the read waits on it, is refused (-100) while the read is
// inside the plug-in, and is accepted within a second of its first request, with the give-up
// service and without it; the read ends with an error. The figures are printed.
TEST_F(PluginHost, AStopOnASilentScannerIsAcceptedWithinASecond)
{
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    const SEFrame frame{0, 0, 3839, 1919};
    // The image comes a few lines at a time, so that the read keeps asking the scanner.
    production_ = sim::Production{.mode = sim::Production::Mode::PerPoll, .lines_per_poll = 16};
    plug_->unplug();
    plug_->plug();
    for (const bool service : {false, true}) {
        SCOPED_TRACE(service ? "with the give-up service" : "without the give-up service");
        give_up = false;
        Plugin p(so());
        ASSERT_TRUE(p.loaded());
        connect(p);
        if (service) p.add_service(reinterpret_cast<void*>(&host_give_up), SE_SERVICE_YIELD);
        Image image;
        start(p, frame, 300, 1, image);
        plug_->silent_after_image_bytes(20000);
        std::atomic<bool> reading{true};
        std::thread reader([&] {
            read(p, image, 8);
            reading = false;
        });
        ASSERT_TRUE(plug_->wait_for_cycle(std::chrono::seconds(20))) << "the scanner never went silent";
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the read now waits
        EXPECT_TRUE(reading);

        const Clock::time_point pressed = Clock::now();
        if (service) give_up = true;
        int refused = 0;
        int16_t stopped = SE_ERR_BUSY;
        Clock::time_point accepted = pressed;
        for (; stopped == SE_ERR_BUSY && Clock::now() - pressed < std::chrono::seconds(10); ++refused) {
            accepted = Clock::now();
            stopped = p.command(SE_CMD_STOP_SCAN);
            if (stopped == SE_ERR_BUSY) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const Clock::time_point returned = Clock::now();
        reader.join();
        const Clock::time_point read_ended = Clock::now();
        std::printf("%s: the stop was refused %d times, accepted %.0f ms after its first request and answered "
                    "%.0f ms after it; the read ended %s %.0f ms after the first request\n",
                    service ? "with the give-up service" : "without the give-up service", refused - 1,
                    ms(accepted - pressed), ms(returned - accepted), image.last == SE_ERR_TRANSFER ? "(-188)" : "",
                    ms(read_ended - pressed));
        EXPECT_EQ(stopped, 1);
        EXPECT_GE(refused - 1, 1) << "the first request came while the read was inside";
        EXPECT_LT(returned - pressed, std::chrono::seconds(5)) << "a safety net; the figure is printed above";
        EXPECT_EQ(image.last, SE_ERR_TRANSFER) << "the read ends with an error";
        EXPECT_LT(image.bytes.size(), size_t{image.info.height} * image.info.bytesPerLine);

        // The scanner that stopped answering is taken off the bus, and a fresh one put back.
        plug_->unplug();
        EXPECT_EQ(p.command(SE_CMD_CLOSE_DEVICE), 1);
        EXPECT_EQ(p.op(SE_OP_CLOSE), 1);
        plug_->plug();
    }
    give_up = false;
}

} // namespace
