// The driver plug-in as the build writes it: exports, dependencies, loading and Info.plist.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cctype>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::string kModule = VARNOTH_MODULE_PATH;
const std::string kExports = VARNOTH_EXPORTS_PATH;

std::string run(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return out;
}

std::string file_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The names in the version script's global list (the text between "global:" and "local:").
std::set<std::string> exported_names()
{
    std::string script = file_text(kExports);
    for (size_t open = script.find("/*"); open != std::string::npos; open = script.find("/*")) {
        const size_t close = script.find("*/", open);
        script.erase(open, close == std::string::npos ? std::string::npos : close + 2 - open);
    }
    std::set<std::string> names;
    const size_t global = script.find("global:");
    if (global == std::string::npos) return names;
    const size_t end = std::min(script.find("local:", global), script.find('}', global));
    std::string list = script.substr(global + 7, end - global - 7);
    for (char& c : list)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = ' ';
    std::istringstream words(list);
    for (std::string name; words >> name;) names.insert(name);
    return names;
}

TEST(Bundle, ExportsExactlyTheVersionScriptsGlobalNames)
{
    ASSERT_TRUE(std::filesystem::exists(kModule)) << kModule;
    std::set<std::string> defined;
    std::istringstream lines(run("nm -D --defined-only '" + kModule + "'"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (name.empty()) name = type; // undefined-address form
        if (!name.empty()) defined.insert(name.substr(0, name.find('@')));
    }
    EXPECT_EQ(defined, exported_names());
}

TEST(Bundle, TheVersionScriptListsTheEntryTheCallbacksAndTheDriverObjectFunctions)
{
    // clang-format off
    const std::set<std::string> intended = {
        "SE_main", "SetCallBackfunc", "CallBackFreeSpace", "CallBackAllocMem", "CallBackFreeMem",
        "CallBackLockMem", "CallBackUnLockMem", "CallBackYieldProc", "CallBackpErrorMsg",
        "CallBackpScanProGress", "CallbackLLD35Calibration", "CallBackENewYieldProc",
        "CallBackFullCalibration", "CallBackNonStopCallback", "mRefCaller", "CreateInstance",
        "ReleaseInstance", "vInitializeScanner", "vScannerCapability", "vDefaultAttribute",
        "vScannerStartScan", "vScannerReturnCISInfo", "vScannerGetImage", "vScannerGetCISImage",
        "vScannerGetJpegImageA", "vScannerGetJpegImageB", "vScannerAbortScan", "vScannerMutiLens",
        "vGetLampStatus", "vSetLampStatus", "vGetMultiLampStatus", "vSetMultiLampStatus",
        "vScannerGetCompCapab", "vScannerSetCompParam", "vScanner35TACalibrateSupportedStatus",
        "vScanner35TACalibrate", "vPaperReady", "vScannerGetSupportedButtons", "vGetDriverVersion",
        "vScannerGetAllFirmwareFullVersion", "vGetCounterInfo", "vSetCounterInfo",
        "vDeviceSeriesNumber", "vDeviceModelName", "vEraseCaliData", "vSetSampleLines",
        "vGetSampleLines", "vGetExtParams", "vDuplexGetImgMethod", "vSetScannerScanMode",
        "vSetPaperSensorAttribute", "vGetPaperSensorStatus", "vCalibrateAllDataRequest",
        "vCalibrateAllDataAction", "vScannerFlashRead", "vScannerFlashWrite", "vMotorControlByAP",
        "vADFCalibrationMode", "vGetPowerSetting", "vSetPowerSetting",
    };
    // clang-format on
    EXPECT_EQ(intended.size(), 60u); // the entry and SetCallBackfunc, 13 table entries, 2 + 43 functions
    EXPECT_EQ(exported_names(), intended);
}

TEST(Bundle, DependsOnLibusbAndNothingOfTheHarnessOrToolkit)
{
    std::vector<std::string> needed;
    std::istringstream lines(run("readelf -d '" + kModule + "'"));
    for (std::string line; std::getline(lines, line);) {
        const size_t open = line.find("Shared library: [");
        if (line.find("(NEEDED)") == std::string::npos || open == std::string::npos) continue;
        const size_t start = open + std::string("Shared library: [").size();
        needed.push_back(line.substr(start, line.find(']', start) - start));
    }
    EXPECT_TRUE(
        std::any_of(needed.begin(), needed.end(), [](const std::string& n) { return n.rfind("libusb-1.0", 0) == 0; }));
    for (const std::string& n : needed) {
        EXPECT_EQ(n.find("glib"), std::string::npos) << n;
        EXPECT_EQ(n.find("gobject"), std::string::npos) << n;
        EXPECT_EQ(n.find("umockdev"), std::string::npos) << n;
        EXPECT_EQ(n.find("Qt"), std::string::npos) << n;
    }
}

TEST(Bundle, LoadsAndUnloadsCompletely)
{
    void* module = dlopen(kModule.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    EXPECT_EQ(dlclose(module), 0);
    void* again = dlopen(kModule.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(again, nullptr) << "the module stayed mapped after dlclose";
    if (again != nullptr) dlclose(again);
}

TEST(Bundle, InfoPlistBesideTheCode)
{
    const std::filesystem::path contents = std::filesystem::path(kModule).parent_path().parent_path();
    EXPECT_EQ(std::filesystem::path(kModule).parent_path().filename(), "Linux");
    const std::string plist = file_text((contents / "Info.plist").string());
    ASSERT_FALSE(plist.empty());
    const std::pair<const char*, const char*> keys[] = {
        {"CFBundlePackageType", "BNDL"},
        {"CFBundleExecutable", "Varnoth"},
        {"ZORV_SE_Interface_ID", "ZORV:RDC$SE_Pro_API,1.0.0"},
        {"ZORV_SE_FunctionSet_ID", "Varnoth"},
    };
    for (auto [key, value] : keys) {
        const std::string pair = std::string("<key>") + key + "</key>\n\t<string>" + value + "</string>";
        EXPECT_NE(plist.find(pair), std::string::npos) << key;
    }
    EXPECT_NE(plist.find("<plist version=\"1.0\">"), std::string::npos);
}

} // namespace
