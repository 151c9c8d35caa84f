// The Chinese resource library as the window finds it at start-up: the one the build made
// (copied beside this test), and files of that name that are not it.
#include <windows.h>

#include "app/language_bundle.h"
#include "platform/console.h"
#include "platform/program_path.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace orvane::app {
namespace {

namespace fs = std::filesystem;

std::string Utf8(const fs::path& path) {
    return ToUtf8(path.u16string());
}

class LanguageLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        here = PathFromUtf8(ProgramPath()).parent_path();
        scratch =
            fs::temp_directory_path() / ("orvane-chs-" + std::to_string(::GetCurrentProcessId()));
        fs::remove_all(scratch);
        fs::create_directories(scratch);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(scratch, ignored);
    }
    // A folder of the test's own holding `bytes` as OrvaneUpdateChs.dll.
    std::string FolderWith(const std::string& name, const std::vector<char>& bytes) {
        const fs::path folder = scratch / name;
        fs::create_directories(folder);
        std::ofstream(folder / "OrvaneUpdateChs.dll", std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return Utf8(folder);
    }

    fs::path here, scratch;
};

TEST_F(LanguageLibrary, TheBuiltLibraryTranslatesTheResourceTexts) {
    CLanguageBundle bundle;
    ASSERT_TRUE(bundle.Load({Utf8(here)}));
    EXPECT_EQ(bundle.Translate(u"&Update"), u"升级(&U)");
    EXPECT_EQ(bundle.Translate(u"Chinese"), u"中文");
    EXPECT_EQ(bundle.Translate(u"No such text"), u"No such text");
    // It carries texts only: the firmware stays the program's own.
    EXPECT_FALSE(bundle.FindResource(157, u"BIN").has_value());
    bundle.Free();
    EXPECT_FALSE(bundle.IsLoaded());
    EXPECT_EQ(bundle.Translate(u"&Update"), u"&Update");
}

TEST_F(LanguageLibrary, WhatIsNotTheLibraryIsPassedOverTable) {
    std::vector<char> self;
    {
        std::ifstream in(PathFromUtf8(ProgramPath()), std::ios::binary);
        self.assign(std::istreambuf_iterator<char>(in), {});
    }
    struct Case {
        const char* what;
        std::vector<std::string> folders;
        bool loads;
        std::u16string update;
    };
    const Case cases[] = {
        {"no folder", {}, false, u"&Update"},
        {"a folder without it", {Utf8(scratch / "missing")}, false, u"&Update"},
        {"text named like it", {FolderWith("text", {'h', 'e', 'l', 'l', 'o'})}, false, u"&Update"},
        {"an empty file", {FolderWith("empty", {})}, false, u"&Update"},
        {"a program without the table: loads, texts stay English",
         {FolderWith("program", self)},
         true,
         u"&Update"},
        {"broken ones are passed over for the next place",
         {FolderWith("text2", {'M', 'Z'}), Utf8(here)},
         true,
         u"升级(&U)"},
        {"a folder with a non-ASCII name", {FolderWith("语言", self)}, true, u"&Update"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CLanguageBundle bundle;
        EXPECT_EQ(bundle.Load(c.folders), c.loads);
        EXPECT_EQ(bundle.Translate(u"&Update"), c.update);
    }
}

} // namespace
} // namespace orvane::app
