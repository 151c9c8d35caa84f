// The window's profile in the registry of the Wine prefix the tests run in: what it reads back
// from values it wrote, and from values others wrote in other shapes.
#include <windows.h>

#include "platform/profile.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

const wchar_t* W(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

class RegistryProfile : public ::testing::Test {
protected:
    void SetUp() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Selvane Profile Tests");
    }
    void TearDown() override { SetUp(); }
    // A value stored as another program (or an old version) might have stored it.
    void Store(const std::u16string& section, const std::u16string& name, DWORD type,
               const void* bytes, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, W(kRoot + section), 0, nullptr, 0,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key, W(name), 0, type, static_cast<const BYTE*>(bytes), size),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }
    std::unique_ptr<IProfile> Open() { return OpenProfile(u"Selvane Profile Tests", u"Updater"); }

    const std::u16string kRoot = u"Software\\Selvane Profile Tests\\Updater\\";
};

TEST_F(RegistryProfile, WhatItWritesItReadsBack) {
    {
        auto profile = Open();
        profile->SetValue("Selvane Works/UI", 1LL);
        profile->SetValue("Numbers/Negative", -5LL);
        profile->SetValue("Numbers/Large", 1LL << 40);
        profile->SetValue("Recent File List/File1", "C:\\Firmware\\固件 ü\\manifest.json");
        profile->SetValue("Firmware/Package", "");
        EXPECT_TRUE(profile->Sync());
    }
    auto profile = Open(); // a new object: nothing cached
    EXPECT_EQ(profile->Number("Selvane Works/UI"), 1);
    EXPECT_EQ(profile->Number("Numbers/Negative"), -5);
    EXPECT_EQ(profile->Number("Numbers/Large"), 1LL << 40);
    EXPECT_EQ(profile->Text("Recent File List/File1"), "C:\\Firmware\\固件 ü\\manifest.json");
    EXPECT_EQ(profile->Text("Firmware/Package"), "");
    // The framework's layout: a subkey per section, a DWORD for a number.
    DWORD value = 0, size = sizeof(value), type = 0;
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, W(kRoot + u"Selvane Works"), L"UI", RRF_RT_ANY,
                             &type, &value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 1u);
}

TEST_F(RegistryProfile, ValuesOfAnotherShapeReadAsAbsentTable) {
    const std::u16string one = u"1";
    const std::u16string unterminated = u"COM7"; // stored without its zero
    const std::u16string tooLong(40000, u'x');   // 80 000 bytes
    const DWORD dword = 3;
    Store(u"S", u"TextNumber", REG_SZ, one.c_str(), 4);
    Store(u"S", u"DwordText", REG_DWORD, &dword, sizeof(dword));
    Store(u"S", u"ShortDword", REG_BINARY, &dword, 2);
    Store(u"S", u"Unterminated", REG_SZ, unterminated.data(), 8);
    Store(u"S", u"TooLong", REG_SZ, tooLong.c_str(), static_cast<DWORD>((tooLong.size() + 1) * 2));
    auto profile = Open();
    struct Case {
        const char* key;
        std::optional<long long> number;
        std::string text;
    };
    const Case cases[] = {
        {"S/TextNumber", std::nullopt, "1"}, {"S/DwordText", 3, ""},
        {"S/ShortDword", std::nullopt, ""},  {"S/Unterminated", std::nullopt, "COM7"},
        {"S/TooLong", std::nullopt, ""},     {"S/Absent", std::nullopt, ""},
        {"Absent/Absent", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(profile->Number(c.key), c.number);
        EXPECT_EQ(profile->Text(c.key), c.text);
    }
}

TEST_F(RegistryProfile, RemovingASectionTakesAllOfItAndNothingElse) {
    auto profile = Open();
    profile->SetValue("Recent File List/File1", "a");
    profile->SetValue("Recent File List/File2", "b");
    profile->SetValue("Selvane Works/UI", 0LL);
    profile->RemoveSection("Recent File List");
    profile->RemoveSection("Never There");
    EXPECT_TRUE(profile->Sync());
    EXPECT_EQ(profile->Text("Recent File List/File1"), "");
    EXPECT_EQ(profile->Text("Recent File List/File2"), "");
    EXPECT_EQ(profile->Number("Selvane Works/UI"), 0);
}

TEST_F(RegistryProfile, TheProfileLastsAcrossRestarts) {
    Open()->SetValue("Selvane Works/UI", 1LL);
    // A lasting key may hold lasting subkeys; a volatile one refuses them.
    HKEY child = nullptr;
    EXPECT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, W(kRoot + u"Selvane Works\\Child"), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &child, nullptr),
              ERROR_SUCCESS);
    if (child)
        ::RegCloseKey(child);
}

// An earlier version left the vendor's key volatile (it made it so when it read the port
// setting): the registry then refuses the profile's lasting keys below it until the next
// restart. A key with values only is made lasting with its values; one with subkeys is not
// touched, and the write is reported as failed.
TEST_F(RegistryProfile, AVolatileVendorKeyIsMadeLastingWithItsValues) {
    struct Case {
        const char* what;
        bool withSubkey;
        bool stored;
    };
    const Case cases[] = {{"values only", false, true}, {"with a subkey", true, false}};
    const std::u16string vendor = u"Software\\Selvane Profile Tests";
    const std::u16string port = u"COM5";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, W(vendor), 0, nullptr, REG_OPTION_VOLATILE,
                                    KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key, L"PortOfMonitor", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(port.c_str()),
                                   static_cast<DWORD>((port.size() + 1) * 2)),
                  ERROR_SUCCESS);
        if (c.withSubkey) {
            HKEY sub = nullptr;
            ASSERT_EQ(::RegCreateKeyExW(key, L"Other", 0, nullptr, REG_OPTION_VOLATILE,
                                        KEY_ALL_ACCESS, nullptr, &sub, nullptr),
                      ERROR_SUCCESS);
            ::RegCloseKey(sub);
        }
        ::RegCloseKey(key);

        auto profile = Open();
        profile->SetValue("Selvane Works/UI", 1LL);
        profile->SetValue("Firmware/Package", "C:\\Firmware\\K64U");
        EXPECT_EQ(profile->Sync(), c.stored);
        EXPECT_EQ(Open()->Number("Selvane Works/UI"),
                  c.stored ? std::optional<long long>(1) : std::nullopt);
        wchar_t text[16] = {};
        DWORD size = sizeof(text);
        EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, W(vendor), L"PortOfMonitor", RRF_RT_REG_SZ,
                                 nullptr, text, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::wstring(text), L"COM5");
    }
}

} // namespace
} // namespace orvane
