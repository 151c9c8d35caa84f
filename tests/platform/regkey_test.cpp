#include "platform/regkey.h"
#include "platform/settings.h"
#include "support/qt_settings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

namespace orvane {
namespace {

class RegKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        SetSettingsFolder(dir.path().toStdString());
    }
    void Store(const QString& value) {
        auto store = test_support::QtSettingsStore();
        store->setValue("Software/Selvane Works/PortOfMonitor", value);
        store->sync();
    }

    QTemporaryDir dir;
};

TEST_F(RegKeyTest, PortOfMonitor) {
    struct Case {
        std::optional<QString> stored;
        std::u16string expected;
    };
    const Case cases[] = {
        {std::nullopt, u""},
        {QString("COM7"), u"COM7"},
        {QString(99, QChar('A')), std::u16string(99, u'A')},
        {QString(100, QChar('A')), u""},
        {QString(), u""},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(OpenSettingsStore()->FileName());
        if (c.stored)
            Store(*c.stored);
        EXPECT_EQ(GetPortOfMonitor(), c.expected) << (c.stored ? c.stored->size() : -1);
    }
}

TEST_F(RegKeyTest, ReadStringResultCodes) {
    Store("COM3");
    CRegKey key;
    std::u16string text = u"stale";
    EXPECT_EQ(key.ReadString(u"PortOfMonitor", text), ERROR_INVALID_HANDLE); // not created
    EXPECT_EQ(text, u"");
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, u"Software\\Selvane Works"), ERROR_SUCCESS);
    EXPECT_EQ(key.ReadString(u"PortOfMonitor", text), ERROR_SUCCESS);
    EXPECT_EQ(text, u"COM3");
    EXPECT_EQ(key.ReadString(u"Missing", text), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(text, u"");
    key.Close();
    EXPECT_EQ(key.ReadString(u"PortOfMonitor", text), ERROR_INVALID_HANDLE);
}

TEST_F(RegKeyTest, CreatingAKeyForAReadWritesNothing) {
    {
        CRegKey key;
        ASSERT_EQ(key.Create(HKEY_CURRENT_USER, u"Software\\Selvane Works"), ERROR_SUCCESS);
    }
    EXPECT_FALSE(std::filesystem::exists(OpenSettingsStore()->FileName()));
}

} // namespace
} // namespace orvane
