// CRegKey over the registry of the Wine prefix the tests run in.
#include <windows.h>

#include "platform/regkey.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace orvane {
namespace {

const wchar_t* W(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

// A key of this test's own below the current user, removed again at the end.
class RegistryKey : public ::testing::Test {
protected:
    void SetUp() override {
        path = u"Software\\Selvane Works Tests\\" + std::u16string(u"k") +
               static_cast<char16_t>(u'0' + ::GetCurrentProcessId() % 10);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, W(path));
    }
    void TearDown() override {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Selvane Works Tests");
    }
    void Store(const std::u16string& name, DWORD type, const void* bytes, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, W(path), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key, W(name), 0, type, static_cast<const BYTE*>(bytes), size),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }
    void StoreText(const std::u16string& name, const std::u16string& text, DWORD type = REG_SZ) {
        Store(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
    }

    std::u16string path;
};

// The key is the parent of the window's profile: lasting keys must be possible below it (the
// registry refuses them below a volatile key, which is how volatility shows).
TEST_F(RegistryKey, AKeyThatCreateMakesHoldsLastingKeys) {
    CRegKey key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
    HKEY child = nullptr;
    EXPECT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, W(path + u"\\lasting"), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &child, nullptr),
              ERROR_SUCCESS);
    if (child)
        ::RegCloseKey(child);
    std::u16string text = u"left over";
    EXPECT_EQ(key.ReadString(u"PortOfMonitor", text), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(text.empty());
}

TEST_F(RegistryKey, ReadsTextsThatFitAndRefusesLongerOnes) {
    const std::u16string longest(CRegKey::kMaxTextLength, u'7');
    struct Case {
        const char* what;
        std::u16string stored;
        DWORD type;
        long result;
        std::u16string read;
    };
    const std::vector<Case> cases = {
        {"a port name", u"COM7", REG_SZ, ERROR_SUCCESS, u"COM7"},
        {"the empty text", u"", REG_SZ, ERROR_SUCCESS, u""},
        {"99 characters", longest, REG_SZ, ERROR_SUCCESS, longest},
        {"100 characters", longest + u"7", REG_SZ, ERROR_MORE_DATA, u""},
        {"another text type", u"COM12", REG_EXPAND_SZ, ERROR_SUCCESS, u"COM12"},
    };
    for (const Case& c : cases) {
        StoreText(u"PortOfMonitor", c.stored, c.type);
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
        std::u16string text = u"left over";
        EXPECT_EQ(key.ReadString(u"PortOfMonitor", text), c.result) << c.what;
        EXPECT_EQ(text, c.read) << c.what;
    }
}

TEST_F(RegistryKey, ValuesStoredWithoutTheirZeroAreReadOnlyUpToTheBuffer) {
    struct Case {
        const char* what;
        std::u16string bytes; // stored as they are, no terminating zero
        long result;
        std::u16string read;
    };
    const Case cases[] = {
        {"a short text", u"COM9", ERROR_SUCCESS, u"COM9"},
        {"a text up to a zero", std::u16string(u"COM3\0junk", 9), ERROR_SUCCESS, u"COM3"},
        // Exactly the buffer's 200 bytes: it fits, but 100 characters are one too many.
        {"100 characters", std::u16string(100, u'A'), ERROR_MORE_DATA, u""},
    };
    for (const Case& c : cases) {
        Store(u"PortOfMonitor", REG_BINARY, c.bytes.data(),
              static_cast<DWORD>(c.bytes.size() * sizeof(char16_t)));
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
        std::u16string text;
        EXPECT_EQ(key.ReadString(u"PortOfMonitor", text), c.result) << c.what;
        EXPECT_EQ(text, c.read) << c.what;
    }
}

TEST_F(RegistryKey, AClosedKeyReadsNothing) {
    CRegKey key;
    std::u16string text = u"left over";
    EXPECT_EQ(key.ReadString(u"PortOfMonitor", text), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(text.empty());
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, path), ERROR_SUCCESS);
    key.Close();
    key.Close(); // twice is harmless
    EXPECT_EQ(key.ReadString(u"PortOfMonitor", text), ERROR_INVALID_HANDLE);
}

// The updater's own setting, as an installer or an administrator sets it from outside
// (tests/wine/registry_outside.cmake does so with Wine's "reg add" and names the value here).
TEST(PortOfMonitor, ReadsTheValueSetOutside) {
    const char* expected = std::getenv("ORVANE_EXPECT_PORT");
    if (expected == nullptr)
        GTEST_SKIP() << "run by tests/wine/registry_outside.cmake";
    const std::string e(expected);
    EXPECT_EQ(GetPortOfMonitor(), std::u16string(e.begin(), e.end()));
}

} // namespace
} // namespace orvane
