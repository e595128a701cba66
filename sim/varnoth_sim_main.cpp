// varnoth-sim [--model NAME] [--chart CHART] [--sensor realistic|ideal]
//             [--unplug-after-bytes N] [--replug-after SECONDS] [--silent-after-bytes N]
//             -- PROGRAM [ARGS...]
// Runs PROGRAM as a child on a simulated USB bus holding the named device model, and returns the
// child's exit status. The child reaches the virtual devices through umockdev's preload library.
// --chart and --sensor set what the simulated scanner scans (scan_chart.h, sensor_model.h).
// With a scanner model the cable can be pulled while PROGRAM runs: SIGUSR1 unplugs the scanner, or
// plugs a fresh one back when it is out; --unplug-after-bytes unplugs it once N bytes of image data
// have gone to PROGRAM, and --replug-after plugs it back that many seconds after any unplug.
// --silent-after-bytes leaves it on the bus but answering nothing more once N bytes of image data
// have gone to PROGRAM.
#include "chart_scan_engine.h"
#include "model_registry.h"
#include "preload.h"
#include "scanner_model.h"
#include "scanner_plug.h"
#include "scanner_profiles.h"
#include "testbed.h"

#include <vips/vips.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t child_pid = 0;
// SIGUSR1 writes a byte here; the plug thread reads it.
int plug_pipe[2] = {-1, -1};

void forward_signal(int sig)
{
    if (child_pid > 0) kill(child_pid, sig);
}

void plug_signal(int)
{
    if (plug_pipe[1] >= 0) {
        const char byte = 'p';
        [[maybe_unused]] const ssize_t n = write(plug_pipe[1], &byte, 1);
    }
}

int usage(FILE* out)
{
    std::fprintf(out,
                 "usage: varnoth-sim [--model NAME] [--chart CHART] [--sensor realistic|ideal]\n"
                 "                   [--unplug-after-bytes N] [--replug-after SECONDS] [--silent-after-bytes N]\n"
                 "                   -- PROGRAM [ARGS...]\n"
                 "       varnoth-sim --list\n"
                 "SIGUSR1 unplugs a scanner model, or plugs it back when it is out.\n"
                 "charts: pattern (default), pattern16, flat:F (0 to 1), file:PATH[@DPI]\nmodels:\n");
    for (const sim::ModelEntry& entry : sim::registered_models())
        std::fprintf(out, "  %-12s %s\n", entry.name.c_str(), entry.summary.c_str());
    std::fprintf(out, "scanner profiles:");
    for (const std::string& profile : sim::scanner_profile_names()) std::fprintf(out, " %s", profile.c_str());
    std::fprintf(out, "\n");
    return out == stdout ? 0 : 2;
}

struct ScanOptions {
    std::shared_ptr<const sim::Chart> chart;
    sim::Sensor sensor = sim::Sensor::Realistic;
    std::optional<uint64_t> unplug_after_bytes;
    std::optional<uint64_t> silent_after_bytes;
    std::optional<std::chrono::milliseconds> replug_after;
};

// The profile of a scanner model name ("scanner" or "scanner:PROFILE"), or nothing.
std::optional<sim::ScannerRecords> scanner_records(const std::string& model_name)
{
    if (model_name == "scanner") return sim::scanner_profile("default");
    if (model_name.rfind("scanner:", 0) == 0) return sim::scanner_profile(model_name.substr(8));
    return std::nullopt;
}

// Pulls and puts back the scanner's cable while the program runs: at each SIGUSR1, and once when
// the armed number of image bytes has gone.
class PlugControl {
public:
    PlugControl(sim::ScannerPlug& plug, const ScanOptions& options) : plug_(plug), options_(options)
    {
        if (pipe2(plug_pipe, O_CLOEXEC) == 0) {
            struct sigaction action {};
            action.sa_handler = plug_signal;
            sigemptyset(&action.sa_mask);
            sigaction(SIGUSR1, &action, nullptr);
            thread_ = std::thread([this] { loop(); });
        }
        if (options.unplug_after_bytes)
            plug_.unplug_after_image_bytes(*options.unplug_after_bytes, options.replug_after);
        else if (options.silent_after_bytes)
            plug_.silent_after_image_bytes(*options.silent_after_bytes);
    }
    ~PlugControl()
    {
        if (thread_.joinable()) {
            stopping_ = true;
            plug_signal(0);
            thread_.join();
        }
        signal(SIGUSR1, SIG_IGN);
        for (int& end : plug_pipe) {
            if (end >= 0) close(end);
            end = -1;
        }
    }

private:
    void loop()
    {
        for (;;) {
            char byte = 0;
            const ssize_t n = read(plug_pipe[0], &byte, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n != 1 || stopping_) return;
            if (plug_.plugged()) {
                plug_.unplug();
                std::fprintf(stderr, "varnoth-sim: scanner unplugged\n");
                if (options_.replug_after) {
                    std::this_thread::sleep_for(*options_.replug_after);
                    plug_.plug();
                    std::fprintf(stderr, "varnoth-sim: scanner plugged back\n");
                }
            } else {
                plug_.plug();
                std::fprintf(stderr, "varnoth-sim: scanner plugged back\n");
            }
        }
    }

    sim::ScannerPlug& plug_;
    const ScanOptions& options_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

int run(const std::string& model_name, const ScanOptions& scan, char** program)
{
    const std::optional<sim::ModelEntry> entry = sim::find_model(model_name);
    if (!entry) {
        std::fprintf(stderr, "varnoth-sim: unknown model '%s'\n", model_name.c_str());
        return usage(stderr);
    }
    const std::optional<sim::ScannerRecords> records = scanner_records(model_name);
    if (!records && (scan.unplug_after_bytes || scan.replug_after || scan.silent_after_bytes)) {
        std::fprintf(
            stderr,
            "varnoth-sim: --unplug-after-bytes, --replug-after and --silent-after-bytes need a scanner model\n");
        return 2;
    }
    if (scan.unplug_after_bytes && scan.silent_after_bytes) {
        std::fprintf(stderr, "varnoth-sim: a scanner cannot both leave and go silent after its bytes\n");
        return 2;
    }
    const auto set_chart = [&scan](sim::ScannerModel& scanner) {
        scanner.with_chart_engine([&scan](sim::ChartScanEngine& engine) {
            engine.set_chart(scan.chart);
            engine.set_sensor(scan.sensor);
        });
    };
    sim::Testbed testbed({.client = sim::ClientMode::ChildProcess});
    std::optional<sim::ScannerPlug> plug;
    std::optional<PlugControl> control;
    if (records) {
        plug.emplace(testbed, *records, set_chart);
        plug->plug();
        control.emplace(*plug, scan);
    } else {
        entry->populate(testbed);
    }

    std::vector<std::string> env = sim::client_environment();
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    struct sigaction action {};
    action.sa_handler = forward_signal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);

    pid_t pid = 0;
    const int error = posix_spawnp(&pid, program[0], nullptr, nullptr, program, envp.data());
    if (error != 0) {
        std::fprintf(stderr, "varnoth-sim: cannot start %s: %s\n", program[0], std::strerror(error));
        return 127;
    }
    child_pid = pid;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 127;
    }
    child_pid = 0;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    sim::reexec_with_preload(argc, argv);
    if (VIPS_INIT(argv[0]) != 0) {
        std::fprintf(stderr, "varnoth-sim: cannot start libvips\n");
        return 1;
    }
    std::string model = "loopback";
    ScanOptions scan;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--list" || arg == "--help" || arg == "-h") return usage(stdout);
        if (arg == "--model" && i + 1 < argc) {
            model = argv[++i];
        } else if (arg.rfind("--model=", 0) == 0) {
            model = arg.substr(8);
        } else if (arg == "--chart" && i + 1 < argc) {
            std::string error;
            scan.chart = sim::parse_chart(argv[++i], &error);
            if (!scan.chart) {
                std::fprintf(stderr, "varnoth-sim: %s\n", error.c_str());
                return 2;
            }
        } else if ((arg == "--unplug-after-bytes" || arg == "--replug-after" || arg == "--silent-after-bytes") &&
                   i + 1 < argc) {
            char* end = nullptr;
            const std::string value = argv[++i];
            const double number = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(number >= 0) || number > 1e15) {
                std::fprintf(stderr, "varnoth-sim: %s wants a number, not '%s'\n", arg.c_str(), value.c_str());
                return 2;
            }
            if (arg == "--unplug-after-bytes")
                scan.unplug_after_bytes = static_cast<uint64_t>(number);
            else if (arg == "--silent-after-bytes")
                scan.silent_after_bytes = static_cast<uint64_t>(number);
            else
                scan.replug_after = std::chrono::milliseconds(static_cast<int64_t>(number * 1000));
        } else if (arg == "--sensor" && i + 1 < argc) {
            const std::string sensor = argv[++i];
            if (sensor != "realistic" && sensor != "ideal") {
                std::fprintf(stderr, "varnoth-sim: unknown sensor '%s' (realistic or ideal)\n", sensor.c_str());
                return 2;
            }
            scan.sensor = sensor == "ideal" ? sim::Sensor::Ideal : sim::Sensor::Realistic;
        } else {
            std::fprintf(stderr, "varnoth-sim: unexpected argument '%s'\n", arg.c_str());
            return usage(stderr);
        }
    }
    if (i >= argc) return usage(stderr);
    try {
        const int status = run(model, scan, argv + i);
        scan.chart.reset();
        vips_shutdown();
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varnoth-sim: %s\n", e.what());
        return 1;
    }
}
