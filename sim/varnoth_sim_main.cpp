// varnoth-sim [--model NAME] [--chart CHART] [--sensor realistic|ideal] -- PROGRAM [ARGS...]
// Runs PROGRAM as a child on a simulated USB bus holding the named device model, and returns the
// child's exit status. The child reaches the virtual devices through umockdev's preload library.
// --chart and --sensor set what the simulated scanner scans (scan_chart.h, sensor_model.h).
#include "chart_scan_engine.h"
#include "model_registry.h"
#include "preload.h"
#include "scanner_model.h"
#include "scanner_profiles.h"
#include "testbed.h"

#include <vips/vips.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

volatile sig_atomic_t child_pid = 0;

void forward_signal(int sig)
{
    if (child_pid > 0) kill(child_pid, sig);
}

int usage(FILE* out)
{
    std::fprintf(out, "usage: varnoth-sim [--model NAME] [--chart CHART] [--sensor realistic|ideal] -- PROGRAM [ARGS...]\n"
                      "       varnoth-sim --list\n"
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
};

int run(const std::string& model_name, const ScanOptions& scan, char** program)
{
    const std::optional<sim::ModelEntry> entry = sim::find_model(model_name);
    if (!entry) {
        std::fprintf(stderr, "varnoth-sim: unknown model '%s'\n", model_name.c_str());
        return usage(stderr);
    }
    sim::Testbed testbed({.client = sim::ClientMode::ChildProcess});
    entry->populate(testbed);
    for (sim::VirtualDevice* device : testbed.devices()) {
        if (auto* scanner = dynamic_cast<sim::ScannerModel*>(&device->model())) {
            scanner->with_chart_engine([&scan](sim::ChartScanEngine& engine) {
                engine.set_chart(scan.chart);
                engine.set_sensor(scan.sensor);
            });
        }
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
