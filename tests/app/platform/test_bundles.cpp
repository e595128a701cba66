// Finding bundles, reading their information dictionary, the support folder, and the console lines.
#include "console_lines.h"
#include "info_dictionary.h"
#include "plugin_bundle.h"
#include "shared_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

using namespace lumenfield;

namespace {

class TempFolder {
public:
    TempFolder()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/platform.XXXXXX";
        if (mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::filesystem::path write(const std::string& name, const std::string& text) const
    {
        const std::filesystem::path file = path / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
    std::filesystem::path path;
};

std::string plist(const std::string& dictBody)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + dictBody +
        "</dict>\n</plist>\n";
}

TEST(InfoDictionary, OnlyTheStringsOfTheTopLevelDict)
{
    TempFolder temp;
    const auto file = temp.write("Info.plist",
                                 plist("<key>Name</key><string>Varnoth</string>\n"
                                       "<key>Count</key><integer>3</integer>\n"
                                       "<key>Nested</key><dict><key>Inner</key><string>x</string></dict>\n"
                                       "<key>List</key><array><string>a</string></array>\n"
                                       "<key>Flag</key><true/>\n"
                                       "<key>Text</key><string>Größe &amp; ☃</string>\n"
                                       "<key>Empty</key><string></string>\n"));
    const auto info = platform::readInfoDictionary(file);
    ASSERT_TRUE(info.has_value());
    const platform::InfoDictionary expected = {{"Name", "Varnoth"}, {"Text", "Größe & ☃"}, {"Empty", ""}};
    EXPECT_EQ(*info, expected);
}

TEST(InfoDictionary, WhatCountsAsNoDictionary)
{
    TempFolder temp;
    const std::string cases[] = {
        "",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>A</key><string>x</string>",      // unterminated
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>", // no dict
        "<?xml version=\"1.0\"?><dict><key>A</key><string>x</string></dict>",                      // no plist
        plist("<key>A</key><key>B</key><string>x</string>\n"),                                     // key after key
        plist("<string>x</string>\n"),                                                             // value without key
        plist("<key>A</key>\n"),                                                                   // key without value
        plist("<key>A</key><string>x</string>\n") + "<trailing>",                                  // junk after it
    };
    for (const std::string& text : cases)
        EXPECT_FALSE(platform::readInfoDictionary(temp.write("Info.plist", text))) << text;
    EXPECT_FALSE(platform::readInfoDictionary(temp.path / "missing.plist"));
    EXPECT_FALSE(platform::readInfoDictionary(temp.path)); // a directory
    const std::string large = plist("<key>A</key><string>" + std::string(2 << 20, 'x') + "</string>\n");
    EXPECT_FALSE(platform::readInfoDictionary(temp.write("Large.plist", large)));
    // A FIFO in place of the file is not read (which would block).
    const std::filesystem::path fifo = temp.path / "Fifo.plist";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(platform::readInfoDictionary(fifo));
}

TEST(Bundles, BundleDirectoriesInBytewiseOrder)
{
    TempFolder temp;
    for (const char* name : {"b.bundle", "a.bundle", "C.bundle", "x.Bundle", "plain"})
        std::filesystem::create_directories(temp.path / name);
    temp.write("file.bundle", "not a directory");
    std::vector<std::string> names;
    for (const auto& path : platform::findBundles(temp.path)) names.push_back(path.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"C.bundle", "a.bundle", "b.bundle"}));
    EXPECT_TRUE(platform::findBundles(temp.path / "missing").empty());
}

TEST(Bundles, TheExecutableLiesInContentsLinux)
{
    TempFolder temp;
    EXPECT_EQ(platform::PluginBundle::create(temp.path / "Missing.bundle"), nullptr);
    const auto bundleWith = [&](const std::string& executable) {
        temp.write("D.bundle/Contents/Info.plist",
                   plist("<key>CFBundleExecutable</key><string>" + executable + "</string>\n"));
        return platform::PluginBundle::create(temp.path / "D.bundle");
    };
    auto bundle = bundleWith("Varnoth");
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(bundle->executablePath(), temp.path / "D.bundle" / "Contents" / "Linux" / "Varnoth.so");
    EXPECT_EQ(bundle->infoString("CFBundleExecutable"), "Varnoth");
    EXPECT_EQ(bundle->infoString("Missing"), std::nullopt);
    // The code is not there: loading fails with the loader's message.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(bundle->loadExecutable());
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Varnoth.so"), std::string::npos);
    EXPECT_FALSE(bundle->isExecutableLoaded());
    EXPECT_EQ(bundle->functionPointer("SE_main"), nullptr);
    for (const char* bad : {"", ".", "..", "../Elsewhere", "a/b"}) {
        auto refused = bundleWith(bad);
        EXPECT_EQ(refused->executablePath(), std::nullopt) << bad;
        testing::internal::CaptureStdout();
        EXPECT_FALSE(refused->loadExecutable()) << bad;
        testing::internal::GetCapturedStdout();
    }
    std::filesystem::remove(temp.path / "D.bundle" / "Contents" / "Info.plist");
    auto noInfo = platform::PluginBundle::create(temp.path / "D.bundle");
    EXPECT_EQ(noInfo->infoDictionary(), nullptr);
    EXPECT_EQ(noInfo->executablePath(), std::nullopt);
}

TEST(SharedSupport, BesideTheProgramsFolder)
{
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(platform::sharedSupportFolder(), program.parent_path().parent_path() / "SharedSupport");
    EXPECT_EQ(platform::driverFolder(), program.parent_path().parent_path() / "SharedSupport" / "Driver");
}

} // namespace

// Each console line goes out whole, with one newline, on its own stream; a formatted line is not
// cut at any buffer size.
TEST(ConsoleLines, WholeLinesOnTheirOwnStreams)
{
    const std::string longName(5000, 'n');
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    printLine("Failed to scan!");
    printLineFormatted("scan progress: %.f%%", 42.4);
    printErrorLine("Lumenfield: cannot start libvips");
    printLineFormatted("Bundle %s names no usable executable", longName.c_str());
    printLine(std::string_view("a\0b", 3));
    const std::string err = testing::internal::GetCapturedStderr();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "Failed to scan!\nscan progress: 42%\nBundle " + longName + " names no usable executable\n" +
                  std::string("a\0b\n", 4));
    EXPECT_EQ(err, "Lumenfield: cannot start libvips\n");
}
