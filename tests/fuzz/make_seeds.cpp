// Writes the seed corpora of the fuzz targets into <folder>/<target>/, each input made by the
// project's own writers or by the simulated scanner: the scanner's replies to a whole session for
// every profile, calibration files saved by the driver, the settings objects' stored files, the
// product's Info.plist, and the images the application writes and reads back.
//   make_seeds <folder>
#include "app_settings.h"
#include "cali_file.h"
#include "calibration.h"
#include "device_model.h"
#include "device_session.h"
#include "host_session.h"
#include "se_boundary.h"
#include "image_file.h"
#include "image_settings.h"
#include "output_settings.h"
#include "preview_cache.h"
#include "raw_image.h"
#include "replay_usb.h"
#include "scan_session.h"
#include "scan_settings.h"
#include "scanner_model.h"
#include "scanner_profiles.h"
#include "scratch_folder.h"
#include "bytes.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QSettings>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

using namespace lumenfield;

namespace fs = std::filesystem;

namespace {

bool save(const fs::path& file, const std::string& bytes)
{
    fs::create_directories(file.parent_path());
    const bool ok = fuzz::write_file(file, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!ok) std::fprintf(stderr, "cannot write %s\n", file.c_str());
    return ok;
}

// The simulated scanner without a bus: transfers go straight to its model, and what it answers
// is kept as the replies' stream.
class ModelLink : public sim::DeviceLink {
public:
    void disconnect() override {}
    void kick() override {}
    std::unique_lock<std::recursive_mutex> lock() override { return std::unique_lock<std::recursive_mutex>(mutex_); }

private:
    std::recursive_mutex mutex_;
};

class ModelTransport : public fuzz::Transport {
public:
    explicit ModelTransport(sim::ScannerModel& model) : model_(model) {}
    size_t write(const uint8_t* data, size_t n) override
    {
        const int r = model_.out(0x02, std::span<const uint8_t>(data, n));
        return r < 0 ? 0 : static_cast<size_t>(r);
    }
    size_t read(uint8_t* data, size_t n) override
    {
        for (int attempt = 0; attempt < 1000; ++attempt) {
            const int r = model_.in(0x81, std::span<uint8_t>(data, n));
            if (r == sim::kPending) continue;
            if (r <= 0) return 0;
            replies.append(reinterpret_cast<const char*>(data), static_cast<size_t>(r));
            return static_cast<size_t>(r);
        }
        return 0;
    }
    std::string replies;

private:
    sim::ScannerModel& model_;
};

// The replies of the simulated scanner with this profile to a driver session. A narrow scanner's
// sensor is 1024 pixels wide at 4800 dpi: the driver's tables of the sensor's width then take a
// fortieth of the time, and its shading pages stay small enough for a fuzzer.
std::string replies_to(const std::string& profile, bool narrow, const std::function<void()>& session)
{
    sim::ScannerModel model(*sim::scanner_profile(profile));
    ModelLink link;
    model.attach(&link);
    if (narrow)
        model.edit([](sim::ScannerRecords& r) {
            for (auto& a : r.attributes) sim::set_le32(a.data() + 16, 1024);
        });
    ModelTransport transport(model);
    fuzz::set_transport(&transport);
    session();
    fuzz::set_transport(nullptr);
    return transport.replies;
}

// Every profile as it is, and again with a narrow sensor.
bool device_seeds(const fs::path& out)
{
    fuzz::make_driver_time_instant();
    fuzz::use_scratch_module_folder();
    bool ok = true;
    for (const std::string& profile : sim::scanner_profile_names())
        for (const bool narrow : {false, true})
            ok = save(out / "fuzz_device_records" / (profile + (narrow ? "_narrow.bin" : ".bin")),
                      replies_to(profile, narrow, [] { fuzz::run_device_session(); })) &&
                ok;
    return ok;
}

// The first choice byte that asks for this source, channel count and depth.
uint8_t choice_byte(uint16_t source, uint16_t planes, uint16_t bits)
{
    for (unsigned v = 0; v < 256; ++v) {
        const uint8_t b[fuzz::kScanChoiceBytes] = {static_cast<uint8_t>(v), 0, 0, 0};
        const fuzz::ScanChoice c = fuzz::scan_choice(b);
        if (c.source == source && c.planes == planes && c.bits == bits) return static_cast<uint8_t>(v);
    }
    return 0;
}

// Whole scans on a narrow scanner: the choice bytes, then the scanner's replies.
bool scan_seeds(const fs::path& out)
{
    fuzz::make_driver_time_instant();
    struct Seed {
        const char* name;
        const char* profile;
        uint8_t choice[fuzz::kScanChoiceBytes];
    };
    const Seed seeds[] = {
        {"colour_75", "default", {choice_byte(0, 14, 8), 0, 100, 60}},
        {"grey16_150", "default", {choice_byte(0, 1, 16), 1, 90, 30}},
        {"grey_75_gamma", "default", {choice_byte(0, 1, 8), 0x40, 90, 30}},
        {"lineart_150", "default", {choice_byte(0, 1, 1), 1, 120, 20}},
        {"film_colour_75", "default", {choice_byte(4, 14, 8), 0, 64, 64}},
        {"colour_75_preview", "default", {choice_byte(0, 14, 8), 0x80, 64, 64}},
        {"colour16_150", "default", {choice_byte(0, 14, 16), 1, 40, 10}},
        {"feeder_grey_75", "feeder", {choice_byte(2, 1, 8), 0, 100, 40}},
    };
    bool ok = true;
    for (const Seed& seed : seeds) {
        const std::string replies =
            replies_to(seed.profile, true, [&] { fuzz::run_scan_session(fuzz::scan_choice(seed.choice)); });
        const std::string bytes = std::string(reinterpret_cast<const char*>(seed.choice), sizeof seed.choice) + replies;
        ok = save(out / "fuzz_scan_path" / (std::string(seed.name) + ".bin"), bytes) && ok;
    }
    return ok;
}

template <typename T> std::vector<uint8_t> bytes_of(const T& record)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&record);
    return std::vector<uint8_t>(p, p + sizeof record);
}

// A host's session as scripts: enumerate with the host's callbacks, describe and open the
// scanner, set up a scan, start it, read its lines, stop and close; the scanner's replies follow.
bool host_seeds(const fs::path& out)
{
    using fuzz::HostCommand;
    const auto scan = [](uint16_t source, uint16_t depth, uint32_t type, uint32_t resolution, bool gamma) {
        std::vector<HostCommand> c = {
            {SE_CMD_DEVICE_LIST, 0, 1, 0, {}},
            {SE_CMD_DEVICE_INFO, 0, 0, 0, {}},
            {SE_CMD_OPEN_DEVICE, 0, 0, 0, {}},
            {SE_CMD_SCANNER_INFO, 0, 0, 0, {}},
            {SE_CMD_SOURCE, 3, source, 0, {}},
            {SE_CMD_DEPTH, 3, depth, 0, {}},
            {SE_CMD_IMAGE_TYPE, 3, 0, 0, bytes_of(SEImageType{type, 0, {}})},
            {SE_CMD_RESOLUTION, 3, resolution, 0, {}},
            {SE_CMD_SCAN_FRAME, 3, 0, 0, bytes_of(SEFrame{0, 0, 479, 319})},
            {SE_CMD_CALIBRATION, 3, static_cast<uint32_t>(SE_CALIBRATION_SET_MODE), fuzz::kNoRecord, {}},
            {SE_CMD_IMAGE_INFO, 0, 0, 0, {}},
        };
        if (gamma) {
            SEGammaDescriptor d{};
            d.table[0] = d.table[1] = d.table[2] = 1;
            d.entries = 256;
            d.bytesPerEntry = 1;
            c.push_back({SE_CMD_GAMMA, 3, static_cast<uint32_t>(SE_GAMMA_ALL_CHANNELS), 0, bytes_of(d)});
        }
        c.push_back({SE_CMD_START_SCAN, 0, 0, fuzz::kEffectiveCode, {}});
        for (int i = 0; i < 4; ++i) c.push_back({SE_CMD_READ_LINES, 0, 0, 0, bytes_of(SELineTransfer{1, {}, 2, 0})});
        c.push_back({SE_CMD_STOP_SCAN, 0, 0, 0, {}});
        c.push_back({SE_CMD_LAST_ERROR, 1, 0, 0, {}});
        c.push_back({SE_CMD_CLOSE_DEVICE, 0, 0, 0, {}});
        return c;
    };
    const std::pair<const char*, std::vector<HostCommand>> scripts[] = {
        {"colour_75", scan(SE_SOURCE_REFLECTIVE, SE_DEPTH_8_BITS, SE_IMAGE_COLOR, 75, false)},
        {"grey_150_gamma", scan(SE_SOURCE_REFLECTIVE, SE_DEPTH_8_BITS, SE_IMAGE_GRAY, 150, true)},
        {"film_colour16_75", scan(SE_SOURCE_POSITIVE_FILM, SE_DEPTH_16_BITS, SE_IMAGE_COLOR, 75, false)},
        {"line_art_150", scan(SE_SOURCE_REFLECTIVE, SE_DEPTH_1_BIT, SE_IMAGE_LINE_ART, 150, false)},
    };
    bool ok = true;
    for (const auto& [name, commands] : scripts) {
        const std::string replies = replies_to("default", true, [&] { fuzz::run_host_session(commands); });
        ok = save(out / "fuzz_host_commands" / (std::string(name) + ".bin"), fuzz::encode_script(commands) + replies) &&
            ok;
    }
    return ok;
}

bool calibration_seeds(const fs::path& out)
{
    char name[256];
    if (!get_cali_data_file_path(fuzz::scratch_folder().c_str(), 0x6204, 0, "FUZZ01", name)) return false;
    fs::remove(name);
    CALI_PARAM c{};
    std::strcpy(c.path, name);
    c.quality = 1;
    c.colour = 1;
    c.exposure_ratio = 100;
    c.line_bytes = 120;
    c.params.assign(CALI_PARAMS_SIZE, 0x11);
    bool ok = true;
    for (int32_t resolution : {600, 1200}) {
        c.resolution = resolution;
        c.dark_line.assign(60, static_cast<uint16_t>(resolution));
        c.white_line.assign(60, static_cast<uint16_t>(60000 - resolution));
        ok = save_calibration_to_file(&c).ok() && ok;
        ok = save(out / "fuzz_calibration_store" / ("records_" + std::to_string(resolution) + ".dat"),
                  fuzz::read_file(name)) &&
            ok;
    }
    release_calibration_buffers(&c);
    return ok;
}

bool config_seeds(const fs::path& out)
{
    return save(out / "fuzz_config_file" / "all_on.ini",
                "ENV_VEK_DRIVER_SCAN_RAW_FROM_HOME=1\nENV_VEK_DRIVER_SCAN_FROM_HOME=1\n"
                "ENV_VEK_DRIVER_DISABLE_HORIZONTAL_MAGNIFICATION_OF_RGB=1\n") &&
        save(out / "fuzz_config_file" / "mixed.ini",
             "# service switches\nENV_VEK_DRIVER_SCAN_FROM_HOME=0\r\nENV_VEK_DRIVER_SCAN_RAW_FROM_HOME=-12\n");
}

bool plist_seeds(const fs::path& out)
{
    return save(out / "fuzz_info_plist" / "Info.plist", fuzz::read_file(LF_DRIVER_INFO_PLIST));
}

bool settings_seeds(const fs::path& out)
{
    bool ok = true;
    for (int variant = 0; variant < 2; ++variant) {
        const QString path =
            QString::fromStdString(fuzz::scratch_folder()) + QStringLiteral("seed%1.conf").arg(variant);
        {
            QSettings store(path, QSettings::IniFormat);
            AppSettings app;
            ScanSettings scan;
            ImageSettings image;
            OutputSettings output;
            if (variant == 1) {
                app.setExposureRatio(150);
                scan.setScanSource(VekScanSource::negativeFilm);
                scan.setPreviewRect(QRectF(0.1, 0.2, 0.5, 0.25));
                image.setAdjustmentMethod(AdjustmentMethod::doc);
                image.setBrightness(-0.25);
                output.setPrefixType(PrefixType::text);
                output.setPrefix(QStringLiteral("film"));
                output.setSuffixLength(4);
                output.setFormat(OutputFormat::png);
            }
            app.save(store);
            scan.save(store);
            image.save(store);
            output.save(store);
            store.sync();
        }
        ok = save(out / "fuzz_user_settings" / ("settings" + std::to_string(variant) + ".conf"),
                  fuzz::read_file(path.toStdString())) &&
            ok;
    }
    return ok;
}

bool image_seeds(const fs::path& out)
{
    std::vector<uint8_t> pixels(8 * 6 * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37);
    const Image image = Image::new_from_memory(pixels.data(), pixels.size(), 8, 6, 3, VIPS_FORMAT_UCHAR)
                            .copy(Image::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
                            .copy_memory();
    const fs::path folder = out / "fuzz_image_file";
    fs::create_directories(folder);
    bool ok = true;
    WriteOptions options;
    // Seeds made again replace those of an earlier run.
    options.takenName = TakenName::replace;
    for (OutputFormat format : {OutputFormat::jpeg, OutputFormat::png, OutputFormat::tiff}) {
        options.format = format;
        options.embedProfile = format != OutputFormat::png;
        const QString path = QString::fromStdString((folder / ("written." + std::to_string(int(format)))).string());
        ok = writeImage(image, path, format, options).has_value() && ok;
    }
    options.format = OutputFormat::tiff;
    options.tiffCompression = TIFFCompression::lzw;
    ok = writeImage(image, QString::fromStdString((folder / "written_lzw.tiff").string()), OutputFormat::tiff, options)
             .has_value() &&
        ok;
    if (const std::optional<QByteArray> preview = previewTIFF(image))
        ok = save(folder / "preview.tiff", preview->toStdString()) && ok;
    else
        ok = false;
    if (std::optional<RawCanvas> canvas = RawCanvas::create(8, 6)) {
        canvas->copyLines(pixels.data(), 0, 6, 24);
        ok = writeTIFF(*canvas, QString::fromStdString((folder / "raw.tiff").string()), 150).has_value() && ok;
    } else {
        ok = false;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    fuzz::use_private_home();
    QCoreApplication app(argc, argv);
    if (VIPS_INIT(argv[0]) != 0) return 1;
    const fs::path out(argv[1]);
    const bool ok = device_seeds(out) && scan_seeds(out) && host_seeds(out) && calibration_seeds(out) &&
        config_seeds(out) && plist_seeds(out) && settings_seeds(out) && image_seeds(out);
    if (!ok) std::fprintf(stderr, "make_seeds: a seed could not be made\n");
    return ok ? 0 : 1;
}
