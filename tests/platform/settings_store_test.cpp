#include "platform/port_directory.h"
#include "platform/profile.h"
#include "platform/regkey.h"
#include "platform/settings.h"

#include <QSettings>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace orvane {
namespace {

// The desktop window reads and writes the same file with the toolkit's INI reader, so the two
// must agree on every key and value the updater stores, in both directions.
class SettingsStoreTest : public ::testing::Test {
protected:
    std::string File() const {
        return dir.filePath("Selvane Works/Orvane Update.ini").toStdString();
    }
    std::unique_ptr<QSettings> Qt() const {
        return std::make_unique<QSettings>(QString::fromStdString(File()), QSettings::IniFormat);
    }
    QTemporaryDir dir;
};

struct Pair {
    const char* key;
    const char* value;
};

const Pair kPairs[] = {
    {"Ports/COM3", "usb:0403:6001:A1B2:00"},
    {"PortsSeen/COM3", "1765000000"},
    {"Software/Selvane Works/PortOfMonitor", "COM12"},
    {"Recent File List/File1", "/home/tech/fw, release 2; \"final\" = yes"},
    {"Firmware/Package", "  /media/usb/pkg with spaces  "},
    {"Selvane Works/UI", "2"},
    {"TopLevel", "C:\\Firmware\\76S0"},
    {"Odd/Ctl", "line1\nline2\ttab\x01"
                "9end"},
    {"Odd/At", "@not a variant"},
    {"Odd/Empty", ""},
    {"Odd/Unicode", "Gr\xC3\xBC\xC3\x9F"
                    "e \xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x9B\xB0"},
    {"Odd/K\xC3\xA9y with space%", "v"},
    {"General/Named", "a group called General"},
};

TEST_F(SettingsStoreTest, WhatTheUpdaterWritesTheToolkitReads) {
    {
        SettingsStore store(File());
        for (const Pair& p : kPairs)
            store.SetValue(p.key, p.value);
        ASSERT_TRUE(store.Sync());
    }
    const auto qt = Qt();
    ASSERT_EQ(qt->status(), QSettings::NoError);
    for (const Pair& p : kPairs)
        EXPECT_EQ(qt->value(QString::fromUtf8(p.key)).toString().toStdString(), p.value) << p.key;
}

TEST_F(SettingsStoreTest, WhatTheToolkitWritesTheUpdaterReads) {
    {
        const auto qt = Qt();
        for (const Pair& p : kPairs)
            qt->setValue(QString::fromUtf8(p.key), QString::fromUtf8(p.value));
        qt->setValue("Numbers/Int", 42);
        qt->setValue("Numbers/Negative", -7);
        qt->setValue("Numbers/Big", static_cast<qlonglong>(5'000'000'000LL));
        qt->sync();
        ASSERT_EQ(qt->status(), QSettings::NoError);
    }
    const SettingsStore store(File());
    for (const Pair& p : kPairs)
        EXPECT_EQ(store.Text(p.key, "<missing>"), p.value) << p.key;
    EXPECT_EQ(store.Number("Numbers/Int"), 42);
    EXPECT_EQ(store.Number("Numbers/Negative"), -7);
    EXPECT_EQ(store.Number("Numbers/Big"), 5'000'000'000LL);
    EXPECT_EQ(store.Number("Ports/COM3"), std::nullopt);
    EXPECT_EQ(store.Number("Missing/Key"), std::nullopt);
}

// Entries of other kinds that only the toolkit writes (lists, typed values) survive the
// updater's changes untouched.
TEST_F(SettingsStoreTest, EntriesItDoesNotKnowAreKept) {
    {
        const auto qt = Qt();
        qt->setValue("Window/Geometry", QByteArray("\x01\x02\xff,=", 5));
        qt->setValue("Window/List", QStringList{"a", "b,c", "d"});
        qt->setValue("Window/Size", QSize(350, 462));
        qt->sync();
    }
    {
        SettingsStore store(File());
        store.SetValue("Ports/COM1", "usb:1:2:3:00");
        ASSERT_TRUE(store.Sync());
    }
    const auto qt = Qt();
    EXPECT_EQ(qt->value("Window/Geometry").toByteArray(), QByteArray("\x01\x02\xff,=", 5));
    EXPECT_EQ(qt->value("Window/List").toStringList(), (QStringList{"a", "b,c", "d"}));
    EXPECT_EQ(qt->value("Window/Size").toSize(), QSize(350, 462));
    EXPECT_EQ(qt->value("Ports/COM1").toString(), "usb:1:2:3:00");
}

// Two updaters that change different entries of one file between their reads both keep
// their change: each write lays its own changes over what the file holds then.
TEST_F(SettingsStoreTest, ChangesOfTwoWritersAreBothKept) {
    SettingsStore a(File());
    SettingsStore b(File());
    a.SetValue("Ports/COM1", "one");
    b.SetValue("Ports/COM2", "two");
    b.Remove("Ports/COM9");
    ASSERT_TRUE(a.Sync());
    ASSERT_TRUE(b.Sync());
    const SettingsStore read(File());
    EXPECT_EQ(read.Text("Ports/COM1"), "one");
    EXPECT_EQ(read.Text("Ports/COM2"), "two");
    b.Remove("Ports");
    ASSERT_TRUE(b.Sync());
    EXPECT_FALSE(SettingsStore(File()).Contains("Ports/COM1"));
}

TEST_F(SettingsStoreTest, AFolderThatCannotBeWrittenFailsTheWriteAndKeepsTheFile) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    {
        SettingsStore store(File());
        store.SetValue("Ports/COM1", "kept");
        ASSERT_TRUE(store.Sync());
    }
    const std::string folder = std::filesystem::path(File()).parent_path().string();
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    SettingsStore store(File());
    store.SetValue("Ports/COM1", "lost");
    EXPECT_FALSE(store.Sync());
    EXPECT_EQ(store.status(), SettingsStore::Status::AccessError);
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(SettingsStore(File()).Text("Ports/COM1"), "kept");
}

// Whatever a damaged or hostile file holds, reading it never fails and never runs past the
// text; what can be read is read.
TEST(SettingsStoreParse, DamagedTextIsReadSafely) {
    struct Case {
        std::string text;
        const char* key;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"[Ports]\nCOM1=\"unterminated", "Ports/COM1", "unterminated"},
        {"[Ports]\nCOM1=ends\\", "Ports/COM1", "ends\\"},
        {"[Ports]\nCOM1=\\x", "Ports/COM1", std::string(1, '\0')},
        {"[Ports\nCOM1=open section", "Ports/COM1", "open section"},
        {"[%U00\nCOM1=short escape", "%U00/COM1", "short escape"},
        {"no equals sign\n[General]\nKey=1\r\nKey=2", "Key", "2"},
        {"=no key\n;comment=1\n#comment=2", "comment", std::nullopt},
        {"[A]\r\nB=\\\r\n continued", "A/B", "continued"},
        {std::string("[A]\nB=\xff\xfe\x00z", 10), "A/B", std::string("\xC3\xBF\xC3\xBE\0z", 6)},
        {"[A]\nB=@Invalid()", "A/B", std::nullopt},
        {"[A]\nB=\\101\\x263A", "A/B", "A\xE2\x98\xBA"},
    };
    for (const Case& c : cases) {
        const auto entries = SettingsStore::Parse(c.text);
        std::optional<std::string> got;
        for (const auto& e : entries)
            if (e.key == c.key && e.raw != "@Invalid()")
                got = e.value;
        EXPECT_EQ(got, c.value) << c.text;
    }
    // A long line of escapes and quotes.
    std::string flood = "[A]\nB=";
    for (int i = 0; i < 100000; ++i)
        flood += "\\\"%U,\\x";
    EXPECT_EQ(SettingsStore::Parse(flood).size(), 1u);
}

// How often a file is opened, under any of its names or links.
class OpenCounter {
public:
    explicit OpenCounter(const std::string& file) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        // Closes too: the system merges an event into an unread one just like it.
        inotify_add_watch(m_fd, file.c_str(), IN_OPEN | IN_CLOSE);
    }
    ~OpenCounter() { close(m_fd); }
    OpenCounter(const OpenCounter&) = delete;
    OpenCounter& operator=(const OpenCounter&) = delete;
    int Opens() {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(m_fd, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                m_opens += (event->mask & IN_OPEN) != 0;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return m_opens;
    }

private:
    int m_fd;
    int m_opens = 0;
};

std::string Contents(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void Write(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

// A file written some time ago, as a user's settings file is.
void Age(const std::filesystem::path& file) {
    std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) -
                                               std::chrono::hours(1));
}

// Files a user may find or make in the settings file's place. Whatever it is, everything the
// updater does before it opens the port reads it at most once, the updater goes on, and the
// user's file is never lost: a file that is read gets the saved value where the user keeps it
// (through a link, with its permissions), a file that is refused is left exactly as it was and
// a warning names it.
TEST(SettingsStoreHostileFiles, ReadOnceNeverDestroyed) {
    namespace fs = std::filesystem;
    const std::string port = "[Software\\Selvane%20Works]\nPortOfMonitor=COM7\n";
    struct Case {
        const char* name;
        std::function<void(const fs::path& ini)> make;
        bool refused;
    };
    const Case cases[] = {
        {"larger than 1 MiB",
         [&](const fs::path& ini) { Write(ini, port + std::string(1024 * 1024, ';') + "\n"); },
         true},
        {"a FIFO",
         [](const fs::path& ini) {
             fs::create_directories(ini.parent_path());
             mkfifo(ini.c_str(), 0644);
         },
         true},
        {"a long section name given many keys",
         [&](const fs::path& ini) {
             std::string text = port + "[" + std::string(600 * 1024, 'S') + "]\n";
             for (int i = 0; i < 16; ++i)
                 text += "k" + std::to_string(i) + "=v\n";
             Write(ini, text);
         },
         true},
        {"many sections and keys, near 1 MiB",
         [&](const fs::path& ini) {
             std::string text = port;
             for (int i = 0; text.size() < 900 * 1024; ++i)
                 text += "[S" + std::to_string(i) + "]\nkey" + std::to_string(i) + "=value\n";
             Write(ini, text);
             Age(ini);
         },
         false},
        {"a link to a file elsewhere",
         [&](const fs::path& ini) {
             const fs::path target = ini.parent_path().parent_path() / "elsewhere" / "real.ini";
             Write(target, port);
             Age(target);
             fs::create_directories(ini.parent_path());
             fs::create_symlink(fs::path("..") / "elsewhere" / "real.ini", ini);
         },
         false},
        {"a private file (0600)",
         [&](const fs::path& ini) {
             Write(ini, port);
             fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
             Age(ini);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        SetSettingsFolder(dir.path().toStdString());
        const fs::path ini = OpenSettingsStore()->FileName();
        c.make(ini);
        const bool link = fs::is_symlink(ini);
        const fs::path target = link ? fs::canonical(ini) : ini;
        const fs::file_status before = fs::status(target);
        const std::string text = fs::is_regular_file(before) ? Contents(target) : "";
        // Opening a FIFO waits for a writer: one comes by every few milliseconds, so a store
        // that opens it ends the test with a failure, not a hang.
        std::atomic<bool> done{false};
        std::thread writer([&] {
            for (; !done && fs::is_fifo(before);
                 std::this_thread::sleep_for(std::chrono::milliseconds(10)))
                if (const int fd = open(target.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0)
                    close(fd);
        });
        testing::internal::CaptureStderr();
        OpenCounter counter(ini.string());
        // What the updater does before it opens the port: the stored port, the profile, the
        // port directory numbering a device.
        CPortDirectory::Sources noDevices;
        noDevices.tree = [] { return TtyTree{}; };
        noDevices.holders = [](const std::vector<std::string>& paths) {
            return std::vector<std::optional<DeviceHolder>>(paths.size());
        };
        CPortDirectory directory({}, noDevices);
        EXPECT_EQ(GetPortOfMonitor(), c.refused ? u"" : u"COM7");
        const auto profile = OpenProfile(u"Selvane Works", u"Orvane Update");
        EXPECT_EQ(profile->Text("Firmware/Package"), "");
        EXPECT_GE(directory.NumberForDevice("/dev/pts/77"), kFirstPort);
        EXPECT_EQ(GetPortOfMonitor(), c.refused ? u"" : u"COM7");
        if (fs::is_regular_file(target)) {
            const int opens = counter.Opens();
            EXPECT_LE(opens, 1);
            EXPECT_TRUE(c.refused || opens == 1) << opens;
        }
        profile->SetValue("Firmware/Package", "/media/usb/pkg");
        EXPECT_EQ(profile->Sync(), !c.refused);
        done = true;
        writer.join();
        const std::string notice = testing::internal::GetCapturedStderr();

        EXPECT_EQ(fs::is_symlink(ini), link);
        EXPECT_EQ(fs::status(target).type(), before.type());
        EXPECT_EQ(fs::status(target).permissions(), before.permissions());
        if (c.refused) {
            if (fs::is_regular_file(target)) {
                EXPECT_EQ(Contents(target), text);
            }
            // Once, naming the file.
            const std::string ignored = ini.string() + " is ignored";
            const auto told = notice.find(ignored);
            EXPECT_NE(told, std::string::npos) << notice;
            EXPECT_EQ(notice.find(ignored, told + 1), std::string::npos) << notice;
        } else {
            EXPECT_EQ(notice, "");
            const SettingsStore saved(target.string());
            EXPECT_EQ(saved.Text("Firmware/Package"), "/media/usb/pkg");
            EXPECT_EQ(saved.Text("Software/Selvane Works/PortOfMonitor"), "COM7");
        }
    }
}

} // namespace
} // namespace orvane
