// A final scan as the Scan button runs it, on the simulated scanner with the driver bundle as built:
// the scan session reads the image, the post-processing chain runs and the output file is written,
// all through the main window's flow. Reports the seconds of each phase, the program's peak resident
// memory (VmHWM) during the scan and save, as bytes and as a multiple of the image's bytes, and the
// resident memory (VmRSS) before the scan and after the save. Each phase's seconds stand beside
// the processor time the program spent in it and the machine's load average, since a busy machine
// stretches the wall time.
//
// The scanner scans a chart made for the run (bench/photo_chart.h): smooth shapes, hard edges and
// grain, with no period, so that the lossless writers compress it as they would a photograph. It
// lies at the glass's top-left corner at 1200 dpi, a pixel of it to a pixel of the scan.
//
// A real scanner is a device on the bus, not part of the program. By default the simulated scanner
// therefore runs in a process of its own (varnoth-sim, with this program as its child on the
// simulated bus, as scripts/run starts the application), so that what is reported is the
// program's own memory; the simulator's process is reported beside it. With --sim inside the
// simulator runs in this process, its threads, buffers and allocator arenas counted with the
// program's, as the tests run it.
//
// Run: build/bench/scanner/bench_final_scan [--side N] [--format jpeg|png|tiff] [--compression none|lzw|jpeg|zip]
//                                           [--colour colour|grey|bw] [--method manual|photo|doc|raw]
//                                           [--sim outside|inside]
// The default is a 10000 × 10000 colour scan at 1200 dpi, manual adjustments, written as JPEG, with
// the simulator outside.
#include "../load_average.h"
#include "../photo_chart.h"
#include "../process_cpu.h"
#include "content_controller.h"
#include "fake_driver.h"
#include "imaging_start.h"
#include "preload.h"
#include "process_memory.h"
#include "scan_chart.h"
#include "chart_scan_engine.h"
#include "varnoth_session.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <vips/vips8>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace lumenfield;

namespace {

struct NoDialogs : SaveDialogs {
    ReplaceAnswer askReplace() override { return ReplaceAnswer::replace; }
    void showFailure(const FailureMessage& message) override
    {
        std::fprintf(stderr, "failure: %s %s\n", qPrintable(message.title), qPrintable(message.detail));
    }
    std::optional<QString> askForAnotherFolder(const FailureMessage& message, const QString&) override
    {
        showFailure(message);
        return std::nullopt;
    }
};

struct NoOpener : FileOpener {
    void open(const QString&) override {}
};

bool waitFor(const std::function<bool()>& done, int seconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > seconds * 1000LL) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string argument(int argc, char** argv, const char* name, const char* fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
    return fallback;
}

// Set in the environment of the program's side when the simulator runs outside.
constexpr const char* kProgramSide = "LF_BENCH_FINAL_SCAN_PROGRAM_SIDE";
// The chart file varnoth-sim was started with, in the program side's environment: the simulator
// reads it whole before it starts the program, which removes it.
constexpr const char* kChartFile = "LF_BENCH_FINAL_SCAN_CHART";

// The scan's resolution, and the chart's.
constexpr int kResolution = 1200;
// The chart is this much wider and taller than the scan, so that no edge of the scan falls off it.
constexpr int kChartMargin = 128;

// Writes the chart for a scan `side` pixels square to `path` as a binary PPM.
bool writeChart(const std::string& path, int side)
{
    const int chartSide = side + kChartMargin;
    const std::vector<std::uint8_t> pixels = lfbench::photo_chart(chartSide, chartSide);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fprintf(file, "P6\n%d %d\n255\n", chartSide, chartSide) > 0 &&
        std::fwrite(pixels.data(), 1, pixels.size(), file) == pixels.size();
    return std::fclose(file) == 0 && written;
}

// The simulator's chart argument for the file.
std::string chartArgument(const std::string& path)
{
    return "file:" + path + "@" + std::to_string(kResolution);
}

// Removes the chart file and the folder it was made in.
void removeChart(const std::string& path)
{
    std::remove(path.c_str());
    rmdir(path.substr(0, path.rfind('/')).c_str());
}

// Runs this program again as the child of varnoth-sim, on a simulated bus holding the default
// scanner scanning the chart; returns only when that cannot start.
int runUnderSimulator(char** argv, int side)
{
    std::vector<char> self(4096);
    const ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (length <= 0) return 1;
    self[std::size_t(length)] = '\0';
    const char* temporary = std::getenv("TMPDIR");
    std::string folder =
        std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") + "/bench_final_scan_chart.XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("making a folder for the chart");
        return 1;
    }
    const std::string chart = folder + "/chart.ppm";
    if (!writeChart(chart, side)) {
        std::fprintf(stderr, "cannot write the chart %s\n", chart.c_str());
        removeChart(chart);
        return 1;
    }
    setenv(kProgramSide, "1", 1);
    setenv(kChartFile, chart.c_str(), 1);
    std::string chartText = chartArgument(chart);
    std::vector<char*> command{const_cast<char*>(VARNOTH_SIM_PATH),
                               const_cast<char*>("--model"),
                               const_cast<char*>("scanner:default"),
                               const_cast<char*>("--chart"),
                               chartText.data(),
                               const_cast<char*>("--"),
                               self.data()};
    for (char** arg = argv + 1; *arg != nullptr; ++arg) command.push_back(*arg);
    command.push_back(nullptr);
    execv(VARNOTH_SIM_PATH, command.data());
    std::perror("starting " VARNOTH_SIM_PATH);
    removeChart(chart);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string simulator = argument(argc, argv, "--sim", "outside");
    const bool inside = simulator == "inside";
    if (simulator != "outside" && !inside) {
        std::fprintf(stderr, "usage: %s ... [--sim outside|inside]\n", argv[0]);
        return 2;
    }
    const int side = std::stoi(argument(argc, argv, "--side", "10000"));
    const std::string format = argument(argc, argv, "--format", "jpeg");
    // A TIFF's compression; the program's default is JPEG.
    const std::string compression = argument(argc, argv, "--compression", "jpeg");
    const std::string colour = argument(argc, argv, "--colour", "colour");
    const std::string method = argument(argc, argv, "--method", "manual");
    const std::map<std::string, OutputFormat> formats{
        {"jpeg", OutputFormat::jpeg}, {"png", OutputFormat::png}, {"tiff", OutputFormat::tiff}};
    const std::map<std::string, TIFFCompression> compressions{{"none", TIFFCompression::none},
                                                              {"lzw", TIFFCompression::lzw},
                                                              {"jpeg", TIFFCompression::jpeg},
                                                              {"zip", TIFFCompression::zip}};
    const std::map<std::string, VekColorType> colours{
        {"colour", VekColorType::color}, {"grey", VekColorType::gray}, {"bw", VekColorType::blackAndWhite}};
    const std::map<std::string, AdjustmentMethod> methods{{"manual", AdjustmentMethod::manual},
                                                          {"photo", AdjustmentMethod::photo},
                                                          {"doc", AdjustmentMethod::doc},
                                                          {"raw", AdjustmentMethod::raw}};
    if (!formats.count(format) || !compressions.count(compression) || !colours.count(colour) ||
        !methods.count(method) || side < 16) {
        std::fprintf(stderr,
                     "usage: %s [--side N] [--format jpeg|png|tiff] [--compression none|lzw|jpeg|zip] "
                     "[--colour colour|grey|bw] "
                     "[--method manual|photo|doc|raw] [--sim outside|inside]\n",
                     argv[0]);
        return 2;
    }
    if (inside)
        sim::reexec_with_preload(argc, argv);
    else if (std::getenv(kProgramSide) == nullptr)
        return runUnderSimulator(argv, side);
    else if (const char* chart = std::getenv(kChartFile))
        removeChart(chart);

    // A home of its own: the raw image, the caches and the output stay out of the user's folders.
    QTemporaryDir home(QDir::tempPath() + "/bench_final_scan.XXXXXX");
    if (!home.isValid()) return 1;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + "/.cache").toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Lumenfield"));
    QCoreApplication::setApplicationName(QStringLiteral("Lumenfield"));
    if (!startImaging(argv[0])) return 1; // as the program starts

    int status = 0;
    {
        // Inside: the simulated bus and scanner of the tests. Outside: varnoth-sim's, reached through
        // the preload it started this process with; the driver gets a folder of its own either way.
        std::optional<varnoth_test::Bench> bench;
        std::optional<fake::DriverFolder> driverFolder;
        if (inside) {
            // The chart's file goes once the simulator has read it; its reflectances stay in this
            // process, 6 bytes a pixel, and are counted below.
            const std::string path = (home.path() + "/chart/chart.ppm").toStdString();
            std::string why;
            std::shared_ptr<const sim::Chart> chart;
            if (QDir(home.path()).mkdir("chart") && writeChart(path, side))
                chart = sim::parse_chart(chartArgument(path), &why);
            removeChart(path);
            if (!chart) {
                std::fprintf(stderr, "cannot make the chart: %s\n", why.c_str());
                return 1;
            }
            bench.emplace();
            bench->addScanner().with_chart_engine([chart](sim::ChartScanEngine& engine) { engine.set_chart(chart); });
        } else {
            driverFolder.emplace();
            driverFolder->copy(VARNOTH_BUNDLE_PATH);
        }
        ScanManager manager;
        std::shared_ptr<QuorvaneScanner> scanner;
        if (bench) {
            scanner = varnoth_test::connectManager(*bench, manager);
        } else if (auto loaded = std::make_shared<QuorvaneScanner>(driverFolder->path()); loaded->loadDriver()) {
            scanner = loaded;
            manager.setScanner(scanner);
            manager.setScanStatus(rawValue(VekScanStatus::ready));
        }
        if (!scanner) {
            std::fprintf(stderr, "the driver did not load\n");
            return 1;
        }
        {
            AppSettings app;
            ScanSettings scanSettings;
            ImageSettings imageSettings;
            OutputSettings output;
            app.setOpenImageAfterScan(false);
            output.setDirectoryPath(home.path());
            output.setFormat(formats.at(format));
            output.setTiffCompression(compressions.at(compression));
            imageSettings.setAdjustmentMethod(methods.at(method));
            imageSettings.setSharpeness(0.8);
            imageSettings.setContrast(1.2);
            imageSettings.setSaturation(1.3);
            ScanFrameCrop frameCrop;
            ContentController controller(manager, app, scanSettings, imageSettings, frameCrop, output);
            controller.setSaveDialogs(std::make_shared<NoDialogs>());
            controller.setFileOpener(std::make_shared<NoOpener>());

            // The Scan button needs a preview of the source.
            if (!controller.previewScan() || !waitFor([&] { return !controller.isFlowBusy(); }, 300) ||
                !controller.currentRawPreview()) {
                std::fprintf(stderr, "the preview failed\n");
                return 1;
            }
            // `side` pixels square at 1200 dpi, from the glass's top left corner.
            scanSettings.setColorTypeRawValue(rawValue(colours.at(colour)));
            scanSettings.setResolution(kResolution);
            scanSettings.setPreviewImageScale(1.0);
            const double points = double(side) / kResolution * ScanSettings::previewResolution;
            scanSettings.setPreviewRect(QRectF(0, 0, points, points));

            std::map<qint64, double> entered;    // status → seconds since the click
            std::map<qint64, double> enteredCpu; // status → the process's processor seconds then
            QElapsedTimer clock;
            // The largest resident memory seen in each phase, sampled every 10 ms.
            std::atomic<qint64> phase{rawValue(VekScanStatus::starting)};
            std::atomic<bool> sampling{true};
            std::mutex highestGuard;
            std::map<qint64, double> highest;
            std::thread sampler([&] {
                while (sampling) {
                    const double rss = statusBytes("VmRSS");
                    {
                        std::lock_guard guard(highestGuard);
                        double& top = highest[phase];
                        top = std::max(top, rss);
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            });
            QObject::connect(&manager, &ScanManager::scanStatusChanged, [&](qint64 s) {
                entered.emplace(s, clock.nsecsElapsed() / 1e9);
                enteredCpu.emplace(s, lfbench::process_cpu_seconds());
                phase = s;
            });
            QCoreApplication::processEvents();
            const double before = statusBytes("VmRSS");
            const bool peakReset = resetPeak();
            // The simulator's process, when it is this one's parent.
            const std::string simulatorProcess = std::to_string(getppid());
            const double simulatorBefore = inside ? 0 : statusBytes("VmRSS", simulatorProcess);
            if (!inside) resetPeak(simulatorProcess);
            const double loadAtClick = lfbench::load_average();
            const double cpuAtClick = lfbench::process_cpu_seconds();
            clock.start();
            if (!controller.scanImage() || !waitFor([&] { return !controller.isFlowBusy(); }, 3600)) {
                std::fprintf(stderr, "the scan did not finish\n");
                return 1;
            }
            const double total = clock.nsecsElapsed() / 1e9;
            const double cpuTotal = lfbench::process_cpu_seconds() - cpuAtClick;
            const double loadAfter = lfbench::load_average();
            // What the flow's last queued calls free.
            QCoreApplication::processEvents();
            const double peak = statusBytes("VmHWM");
            const double after = statusBytes("VmRSS");
            const double simulatorPeak = inside ? 0 : statusBytes("VmHWM", simulatorProcess);
            sampling = false;
            sampler.join();

            const EIMAGEINFO info = manager.imageInfo();
            const double imageBytes = double(info.WidthPixels) * info.HeightLines * 3;
            const QFileInfoList written = QDir(home.path()).entryInfoList(QDir::Files);
            if (written.isEmpty() || manager.scanStatus() != rawValue(VekScanStatus::ready)) {
                std::fprintf(stderr, "no output file was written\n");
                status = 1;
            }
            const auto at = [&](VekScanStatus s) {
                const auto found = entered.find(rawValue(s));
                return found == entered.end() ? -1.0 : found->second;
            };
            const auto cpuAt = [&](VekScanStatus s) {
                const auto found = enteredCpu.find(rawValue(s));
                return found == enteredCpu.end() ? -1.0 : found->second;
            };
            std::printf("final scan %d x %d, %s, %s, %s, the simulated scanner %s\n", info.WidthPixels,
                        info.HeightLines, colour.c_str(), method.c_str(),
                        (format == "tiff" ? format + " (" + compression + ")" : format).c_str(),
                        inside ? "in this process (counted below)" : "in a process of its own");
            std::printf("  image bytes          %10.1f MB\n", imageBytes / 1e6);
            std::printf("  load average         %10.1f at the click, %.1f after the save\n", loadAtClick, loadAfter);
            std::printf("  (seconds, then the program's processor time of all threads)\n");
            const auto phaseLine = [](const char* name, double seconds, double cpu) {
                std::printf("  %-20s %10.2f s  cpu %.2f s\n", name, seconds, cpu);
            };
            phaseLine("reading", at(VekScanStatus::stopped) - at(VekScanStatus::reading),
                      cpuAt(VekScanStatus::stopped) - cpuAt(VekScanStatus::reading));
            phaseLine("processing", at(VekScanStatus::writingFile) - at(VekScanStatus::processingImage),
                      cpuAt(VekScanStatus::writingFile) - cpuAt(VekScanStatus::processingImage));
            phaseLine("writing", total - at(VekScanStatus::writingFile),
                      cpuTotal - (cpuAt(VekScanStatus::writingFile) - cpuAtClick));
            phaseLine("total", total, cpuTotal);
            std::printf("  RSS before the scan  %10.1f MB\n", before / 1e6);
            std::printf("  peak RSS (VmHWM)     %10.1f MB  = %.3f x the image%s\n", peak / 1e6, peak / imageBytes,
                        peakReset ? "" : " (peak since start: the kernel refused to reset it)");
            std::printf("  peak growth          %10.1f MB  = %.3f x the image\n", (peak - before) / 1e6,
                        (peak - before) / imageBytes);
            std::printf("  RSS after the save   %10.1f MB  (%+.1f MB over before)\n", after / 1e6,
                        (after - before) / 1e6);
            const std::pair<VekScanStatus, const char*> phases[] = {
                {VekScanStatus::starting, "starting"},   {VekScanStatus::reading, "reading"},
                {VekScanStatus::stopped, "scan ended"},  {VekScanStatus::processingImage, "processing"},
                {VekScanStatus::writingFile, "writing"}, {VekScanStatus::ready, "saved"}};
            for (const auto& [s, name] : phases)
                if (highest.count(rawValue(s)))
                    std::printf("  sampled RSS, %-10s %8.1f MB\n", name, highest[rawValue(s)] / 1e6);
            if (!inside)
                std::printf("  simulator's process  %10.1f MB before, peak %.1f MB (not counted above)\n",
                            simulatorBefore / 1e6, simulatorPeak / 1e6);
            if (inside) {
                const double chartSide = side + kChartMargin;
                std::printf("  of which the chart   %10.1f MB  (the simulator's reflectances)\n",
                            chartSide * chartSide * 6 / 1e6);
            }
            if (!written.isEmpty())
                std::printf("  output               %10.1f MB  %s\n", written.first().size() / 1e6,
                            qPrintable(written.first().fileName()));
        }
        varnoth_test::disconnectManager(manager, scanner);
        QCoreApplication::processEvents();
        if (bench) bench->shutdown();
    }
    vips_shutdown();
    return status;
}
