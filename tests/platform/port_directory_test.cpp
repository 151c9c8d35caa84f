#include "platform/file_lock.h"
#include "platform/port_argument.h"
#include "platform/port_directory.h"
#include "platform/settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace orvane {
namespace {

// ---- a device tree of our own making ----

TtyNode Usb(const std::string& name, const std::string& serial, const std::string& vid = "0403",
            const std::string& pid = "6001", const std::string& iface = "00") {
    TtyNode n;
    n.name = name;
    n.devnode = "/dev/" + name;
    n.hasDevice = true;
    n.driver = "ftdi_sio";
    n.vendorId = vid;
    n.productId = pid;
    n.serial = serial;
    n.product = "FT232R USB UART";
    n.manufacturer = "FTDI";
    n.interfaceNumber = iface;
    if (!serial.empty())
        n.links = {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + serial + "-if" + iface +
                   "-port0"};
    return n;
}

TtyNode Uart(const std::string& name, int type = 4, const std::string& driver = "serial8250") {
    TtyNode n;
    n.name = name;
    n.devnode = "/dev/" + name;
    n.hasDevice = true;
    n.driver = driver;
    n.uartType = type;
    return n;
}

TtyNode Virtual(const std::string& name) {
    TtyNode n;
    n.name = name;
    n.devnode = "/dev/" + name;
    return n;
}

std::vector<std::string> Paths(const std::vector<SerialPortInfo>& ports) {
    std::vector<std::string> paths;
    for (const auto& p : ports)
        paths.push_back(p.path);
    return paths;
}

TEST(SerialPortsTest, EveryFamilyCountsButConsolePlaceholdersAndVirtualTerminals) {
    TtyTree tree;
    TtyNode bluetooth = Uart("rfcomm0", -1, "");
    TtyNode exar = Usb("ttyXRUSB0", "X9", "04e2", "1410");
    exar.driver = "xr_serial";
    tree.nodes = {Virtual("tty0"),
                  Virtual("ptmx"),
                  Virtual("console"),
                  Uart("ttyS0"),
                  Uart("ttyS1", 0),
                  Uart("ttyS10"),
                  Uart("ttyS4"),
                  Usb("ttyUSB0", "A1"),
                  Usb("ttyACM0", "R7", "1546", "01a8"),
                  Uart("ttyAMA0", -1, "uart-pl011"),
                  bluetooth,
                  exar};
    tree.consoles = {"tty0", "ttyS0"};
    const auto ports = SerialPortsIn(tree);
    EXPECT_EQ(Paths(ports), (std::vector<std::string>{"/dev/rfcomm0", "/dev/ttyACM0",
                                                      "/dev/ttyAMA0", "/dev/ttyS4", "/dev/ttyS10",
                                                      "/dev/ttyUSB0", "/dev/ttyXRUSB0"}));
    EXPECT_TRUE(IsConsoleIn(tree, "/dev/ttyS0"));
    EXPECT_FALSE(IsConsoleIn(tree, "/dev/ttyS4"));
    EXPECT_FALSE(IsConsoleIn(tree, "/dev/ttyUSB0"));
    // The console under a name of its own is told by its device number (looked at, never
    // opened): /dev/console itself, and a node that is the console's device. /dev/null
    // stands in for such a node here.
    EXPECT_TRUE(IsConsoleIn(tree, "/dev/console"));
    EXPECT_FALSE(IsConsoleIn(tree, "/dev/null"));
    tree.nodes[3].number = DeviceNumber("/dev/null");
    ASSERT_FALSE(tree.nodes[3].number.empty());
    EXPECT_TRUE(IsConsoleIn(tree, "/dev/null"));
}

TEST(SerialPortsTest, IdentityIsTheUsbSerialElseTheByIdNameElseThePath) {
    struct Case {
        TtyNode node;
        std::string identity;
    };
    TtyNode noSerialButLink = Usb("ttyUSB1", "");
    noSerialButLink.links = {"/dev/serial/by-path/pci-0:1", "/dev/serial/by-id/usb-Prolific-port0"};
    const Case cases[] = {
        {Usb("ttyUSB0", "A1"), "usb:0403:6001:A1:00"},
        {Usb("ttyUSB3", "A1", "0403", "6010", "01"), "usb:0403:6010:A1:01"}, // second port
        {noSerialButLink, "/dev/serial/by-id/usb-Prolific-port0"},
        {Uart("ttyS4"), "/dev/ttyS4"},
    };
    for (const auto& c : cases) {
        TtyTree tree;
        tree.nodes = {c.node};
        const auto ports = SerialPortsIn(tree);
        ASSERT_EQ(ports.size(), 1u) << c.node.name;
        EXPECT_EQ(ports[0].Identity(), c.identity) << c.node.name;
        EXPECT_TRUE(ports[0].Matches(c.identity));
        EXPECT_TRUE(ports[0].Matches(ports[0].path));
    }
}

TEST(SerialPortsTest, NamesThatCanNeverBeAPort) {
    for (const char* never : {"/dev/pts/3", "/dev/ptmx", "/dev/tty", "/dev/tty1", "/dev/tty63",
                              "/dev/ttyp0", "/dev/ttyef", "/dev/console", "/etc/passwd", "ttyUSB0",
                              "/dev/../etc/passwd", "", "/tmp/receiver"})
        EXPECT_TRUE(IsNeverAPort(never)) << never;
    for (const char* maybe : {"/dev/ttyUSB0", "/dev/ttyS0", "/dev/ttyACM12", "/dev/rfcomm0",
                              "/dev/serial/by-id/usb-FTDI-if00-port0", "/dev/ttyAMA0"})
        EXPECT_FALSE(IsNeverAPort(maybe)) << maybe;
}

// ---- the directory over a store of its own ----

class PortDirectoryTest : public ::testing::Test {
protected:
    std::string File() const { return dir.filePath("ports.ini").toStdString(); }
    CPortDirectory::Sources Sources() {
        CPortDirectory::Sources s;
        s.tree = [this] { return tree; };
        s.holders = [this](const std::vector<std::string>& paths) {
            std::vector<std::optional<DeviceHolder>> result;
            for (const auto& p : paths) {
                if (p == heldPath)
                    result.push_back(DeviceHolder{"minicom", 4321});
                else
                    result.push_back(std::nullopt);
            }
            return result;
        };
        s.now = [this] { return now; };
        return s;
    }
    std::unique_ptr<CPortDirectory> Directory() {
        return std::make_unique<CPortDirectory>(File(), Sources());
    }
    // Read with the updater's own store: the toolkit's reader caches a file it has read and
    // can miss a rewrite of the same size within one tick of the file system's clock.
    std::string Stored(int n) const {
        return SettingsStore(File()).Text("Ports/COM" + std::to_string(n));
    }
    static std::vector<int> Numbers(const std::vector<NumberedPort>& ports) {
        std::vector<int> n;
        for (const auto& p : ports)
            n.push_back(p.number);
        return n;
    }

    QTemporaryDir dir;
    TtyTree tree;
    std::string heldPath;
    std::int64_t now = 1'000'000;
};

TEST_F(PortDirectoryTest, AnAdapterKeepsItsNumberAcrossReplugsAndRuns) {
    ASSERT_TRUE(dir.isValid());
    tree.nodes = {Usb("ttyUSB0", "A1"), Usb("ttyACM0", "R7", "1546", "01a8")};
    {
        auto ports = Directory();
        const auto listed = ports->ListPorts();
        EXPECT_EQ(Numbers(listed), (std::vector<int>{1, 2}));
        EXPECT_EQ(ports->DevicePathForPort(1), "/dev/ttyACM0");
        EXPECT_EQ(ports->DevicePathForPort(2), "/dev/ttyUSB0");
    }
    EXPECT_EQ(Stored(2), "usb:0403:6001:A1:00");
    // Replugged: adapter A1 comes back as ttyUSB3, another one took ttyUSB0, the receiver on
    // ttyACM0 is off.
    tree.nodes = {Usb("ttyUSB0", "B2"), Usb("ttyUSB3", "A1")};
    {
        auto ports = Directory();
        EXPECT_EQ(Numbers(ports->ListPorts()), (std::vector<int>{2, 3}));
        EXPECT_EQ(ports->DevicePathForPort(2), "/dev/ttyUSB3");
        EXPECT_EQ(ports->DevicePathForPort(3), "/dev/ttyUSB0");
        EXPECT_EQ(ports->DevicePathForPort(1), ""); // its device is not present: nothing else
        EXPECT_EQ(ports->PathForIdentity("usb:0403:6001:A1:00"), "/dev/ttyUSB3");
        EXPECT_EQ(ports->PathForIdentity("usb:1546:01a8:R7:00"), "");
    }
    // The receiver is back, under its old name or a new one: COM1 again.
    tree.nodes.push_back(Usb("ttyACM1", "R7", "1546", "01a8"));
    auto ports = Directory();
    EXPECT_EQ(ports->EnumeratePortNames(),
              (std::vector<std::u16string>{u"\\\\.\\COM1", u"\\\\.\\COM2", u"\\\\.\\COM3"}));
    EXPECT_EQ(ports->DevicePathForPort(1), "/dev/ttyACM1");
}

TEST_F(PortDirectoryTest, PathsThatAreNoEnumeratedSerialDeviceAreNeverStored) {
    tree.nodes = {Usb("ttyUSB0", "A1")};
    int ptyNumber = 0;
    {
        auto ports = Directory();
        // Named directly, they get a number for this process, never one in the store.
        for (const char* path : {"/dev/pts/7", "/etc/passwd", "relative/path", "/dev/ttyS0"}) {
            const int n = ports->NumberForDevice(path);
            EXPECT_GE(n, kFirstPort) << path;
            EXPECT_EQ(ports->NumberForDevice(path), n) << path; // the same for the same path
            EXPECT_EQ(ports->DevicePathForPort(n), path) << path;
            if (ptyNumber == 0)
                ptyNumber = n;
        }
        // The enumerated device's number is its own and stored.
        EXPECT_EQ(ports->NumberForDevice("/dev/ttyUSB0"), 1);
        EXPECT_EQ(ptyNumber, 2);
    }
    std::vector<std::string> stored;
    std::ifstream in(File());
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto& entry : SettingsStore::Parse(text))
        if (entry.key.rfind("Ports/", 0) == 0)
            stored.push_back(entry.key);
    EXPECT_EQ(stored, std::vector<std::string>{"Ports/COM1"});
    // Another run knows nothing of the pseudo-terminal's number.
    auto ports = Directory();
    EXPECT_EQ(ports->DevicePathForPort(ptyNumber), "");
}

TEST_F(PortDirectoryTest, EntriesOfEarlierVersionsAreCleanedOrKept) {
    {
        QSettings store(QString::fromStdString(File()), QSettings::IniFormat);
        store.setValue("Ports/COM1", "/dev/pts/3");   // a simulated receiver's terminal
        store.setValue("Ports/COM2", "/etc/passwd");  // a typo
        store.setValue("Ports/COM3", "/dev/ttyUSB0"); // a real adapter, stored by its path
        store.setValue("Ports/COM4", "ttyUSB9");      // relative
    }
    tree.nodes = {Usb("ttyUSB0", "A1"), Usb("ttyUSB1", "B2")};
    auto ports = Directory();
    EXPECT_EQ(ports->DevicePathForPort(1), "/dev/ttyUSB1"); // a free number again
    EXPECT_EQ(ports->DevicePathForPort(3), "/dev/ttyUSB0"); // kept, under its identity now
    EXPECT_EQ(Stored(3), "usb:0403:6001:A1:00");
    EXPECT_EQ(Stored(2), "");
    EXPECT_EQ(Stored(4), "");
    EXPECT_EQ(ports->DevicePathForPort(2), "");
}

TEST_F(PortDirectoryTest, UnwritableStoreChangesNothingAboutWhichDeviceANumberMeans) {
    // The settings file's name is taken by a folder: nothing can be written.
    ASSERT_TRUE(QDir(dir.path()).mkpath("ports.ini"));
    tree.nodes = {Usb("ttyUSB0", "A1"), Usb("ttyUSB1", "B2")};
    auto ports = Directory();
    EXPECT_EQ(Numbers(ports->ListPorts()), (std::vector<int>{1, 2}));
    EXPECT_FALSE(ports->Remembered());
    // The first adapter goes: within this process the second keeps COM2, and COM1 leads
    // nowhere.
    tree.nodes = {Usb("ttyUSB1", "B2")};
    EXPECT_EQ(ports->DevicePathForPort(2), "/dev/ttyUSB1");
    EXPECT_EQ(ports->DevicePathForPort(1), "");
    EXPECT_EQ(ports->NumberForDevice("/dev/ttyUSB1"), 2);
}

TEST_F(PortDirectoryTest, APathWaitedForKeepsItsNumberWhenItsDeviceAppears) {
    // Named by its by-id link or by its device node, before the adapter is plugged in.
    for (const std::string how : {"by-id", "node"}) {
        SCOPED_TRACE(how);
        QFile::remove(QString::fromStdString(File())); // each way from a fresh store
        tree.nodes = {Usb("ttyUSB0", "A1")};
        const TtyNode second = Usb("ttyUSB1", "B2");
        const TtyNode third = Usb("ttyUSB2", "C3");
        const auto name = [&](const TtyNode& n) { return how == "node" ? n.devnode : n.links[0]; };
        {
            auto ports = Directory();
            EXPECT_EQ(ports->NumberForDevice(name(second)), 2); // absent: this process's own
            EXPECT_EQ(Stored(2), "");
            tree.nodes.push_back(second); // plugged in while the updater waits
            EXPECT_EQ(ports->NumberForDevice(name(second)), 2);
            EXPECT_EQ(ports->DevicePathForPort(2), "/dev/ttyUSB1");
        }
        EXPECT_EQ(Stored(2), "usb:0403:6001:B2:00");
        // The next run knows it, and the next new adapter gets the next free number.
        auto ports = Directory();
        EXPECT_EQ(ports->DevicePathForPort(2), "/dev/ttyUSB1");
        EXPECT_EQ(ports->NumberForDevice(name(third)), 3);
        tree.nodes.push_back(third);
        EXPECT_EQ(Numbers(ports->ListPorts()), (std::vector<int>{1, 2, 3}));
        EXPECT_EQ(Stored(3), "usb:0403:6001:C3:00");
    }
}

TEST_F(PortDirectoryTest, WhenAllNumbersAreTakenTheOneGoneLongestIsReclaimed) {
    {
        QSettings store(QString::fromStdString(File()), QSettings::IniFormat);
        for (int n = kFirstPort; n <= kLastPort; ++n) {
            store.setValue(QStringLiteral("Ports/COM%1").arg(n),
                           QStringLiteral("usb:0403:6001:OLD%1:00").arg(n));
            store.setValue(QStringLiteral("PortsSeen/COM%1").arg(n), 500'000 + n);
        }
        store.setValue("PortsSeen/COM77", 5); // gone longest
        store.setValue("PortsSeen/COM9", 6);
    }
    tree.nodes = {Usb("ttyUSB0", "NEW1"), Usb("ttyUSB1", "OLD77")};
    auto ports = Directory();
    const auto listed = ports->ListPorts();
    // OLD77 is present and keeps 77; the newcomer gets the number of OLD9, gone longest of
    // the absent ones.
    EXPECT_EQ(Numbers(listed), (std::vector<int>{9, 77}));
    EXPECT_EQ(ports->DevicePathForPort(9), "/dev/ttyUSB0");
    EXPECT_EQ(Stored(9), "usb:0403:6001:NEW1:00");
}

TEST_F(PortDirectoryTest, WithEveryNumberPresentANewcomerGetsNone) {
    for (int i = 0; i < kLastPort; ++i)
        tree.nodes.push_back(Usb("ttyUSB" + std::to_string(i), "S" + std::to_string(i)));
    auto ports = Directory();
    EXPECT_EQ(ports->ListPorts().size(), 255u);
    tree.nodes.push_back(Usb("ttyUSB999", "ONE-TOO-MANY"));
    const auto listed = ports->ListPorts();
    EXPECT_EQ(listed.size(), 255u);
    EXPECT_EQ(ports->NumberForDevice("/dev/ttyUSB999"), 0);
    EXPECT_EQ(ports->NumberForDevice("/dev/pts/1"), 0); // no number left even for a session
}

TEST_F(PortDirectoryTest, ForgettingKeepsPresentDevicesOnly) {
    {
        QSettings store(QString::fromStdString(File()), QSettings::IniFormat);
        store.setValue("Ports/COM1", "usb:0403:6001:A1:00");
        store.setValue("Ports/COM2", "usb:0403:6001:GONE:00");
        store.setValue("Ports/COM3", "/dev/pts/4");
        store.setValue("Ports/COM5", "/dev/ttyS4");
    }
    tree.nodes = {Usb("ttyUSB2", "A1"), Uart("ttyS4")};
    auto ports = Directory();
    const auto forgotten = ports->ForgetAbsent();
    ASSERT_EQ(forgotten.size(), 2u);
    EXPECT_EQ(forgotten[0].number, 2);
    EXPECT_EQ(forgotten[1].number, 3);
    EXPECT_TRUE(ports->Remembered());
    EXPECT_EQ(Stored(1), "usb:0403:6001:A1:00");
    EXPECT_EQ(Stored(2), "");
    EXPECT_EQ(Stored(5), "/dev/ttyS4");
    EXPECT_EQ(Numbers(ports->ListPorts()), (std::vector<int>{1, 5}));
}

TEST_F(PortDirectoryTest, PortsAnotherProgramHoldsAreListedButNotOffered) {
    tree.nodes = {Usb("ttyUSB0", "A1"), Usb("ttyUSB1", "B2")};
    heldPath = "/dev/ttyUSB0";
    auto ports = Directory();
    const auto listed = ports->ListPorts();
    ASSERT_EQ(listed.size(), 2u);
    ASSERT_TRUE(listed[0].holder);
    EXPECT_EQ(listed[0].holder->Describe(), "minicom (pid 4321)");
    EXPECT_EQ(ports->EnumeratePortNames(), std::vector<std::u16string>{u"\\\\.\\COM2"});
}

TEST_F(PortDirectoryTest, TheConsoleIsNeverListedOrNumbered) {
    tree.nodes = {Uart("ttyS0"), Uart("ttyAMA0", -1, "uart-pl011")};
    tree.consoles = {"ttyAMA0"};
    auto ports = Directory();
    EXPECT_EQ(Paths({ports->PortForNumber(1).value_or(SerialPortInfo{})}),
              std::vector<std::string>{"/dev/ttyS0"});
    EXPECT_EQ(ports->ListPorts().size(), 1u);
    EXPECT_EQ(ports->ConsolePorts(), std::vector<std::string>{"/dev/ttyAMA0"});
    EXPECT_TRUE(ports->IsConsole("/dev/ttyAMA0"));
    // Named directly it is a path like any other, with a number for this process only.
    const int n = ports->NumberForDevice("/dev/ttyAMA0");
    EXPECT_EQ(n, 2);
    EXPECT_EQ(Stored(2), "");
}

TEST(PortArgumentTest, ComNamesAndPaths) {
    struct Case {
        const char* text;
        PortArgument::Kind kind;
        int number;
    };
    using K = PortArgument::Kind;
    const Case cases[] = {
        {"COM3", K::Number, 3},        {"com12", K::Number, 12}, {"COM255", K::Number, 255},
        {"\\\\.\\COM7", K::Number, 7}, {"COM007", K::Number, 7}, {"COM0", K::Invalid, 0},
        {"COM256", K::Invalid, 0},     {"COM2x", K::Invalid, 0}, {"COM", K::Invalid, 0},
        {"COM-1", K::Invalid, 0},      {"COM 3", K::Invalid, 0}, {"", K::Invalid, 0},
        {"/dev/ttyUSB0", K::Path, 0},  {"./COM3", K::Path, 0},   {"ttyUSB0", K::Path, 0},
    };
    for (const auto& c : cases) {
        const PortArgument a = ParsePortArgument(c.text);
        EXPECT_EQ(a.kind, c.kind) << c.text;
        if (c.kind == K::Number) {
            EXPECT_EQ(a.number, c.number) << c.text;
        } else if (c.kind == K::Path) {
            EXPECT_EQ(a.path, c.text);
        } else if (*c.text != '\0') {
            EXPECT_NE(a.error.find(std::string("\"") + c.text + "\""), std::string::npos)
                << a.error;
        }
    }
}

TEST(PortScanTest, ThisMachinesTreeYieldsOnlyRealPortsWithoutTheConsole) {
    const TtyTree tree = ReadTtyTree();
    for (const auto& port : SerialPortsIn(tree)) {
        EXPECT_FALSE(IsNeverAPort(port.path)) << port.path;
        EXPECT_FALSE(IsConsoleIn(tree, port.path)) << port.path;
    }
}

} // namespace
} // namespace orvane

namespace orvane {
namespace {

// Another updater changing the store holds its lock for milliseconds: a held lock keeps this
// one from writing anything, and the lock file a killed holder leaves behind holds nobody up.
TEST_F(PortDirectoryTest, ALockHeldElsewhereNumbersNothingAndALeftOverLockFileIsTaken) {
    tree.nodes = {Usb("ttyUSB0", "A1")};
    EXPECT_EQ(Numbers(Directory()->ListPorts()), (std::vector<int>{1}));
    const std::string lockPath = File() + ".ports-lock";
    tree.nodes.push_back(Usb("ttyUSB1", "B2"));
    {
        FileLock other(lockPath);
        ASSERT_TRUE(other.TryLockFor(0, 1, {}));
        // A number for this process only: nothing reaches the store.
        EXPECT_EQ(Numbers(Directory()->ListPorts()), (std::vector<int>{1, 2}));
        EXPECT_EQ(Stored(2), "");
    }
    ASSERT_TRUE(std::filesystem::exists(lockPath)); // the file stays; nobody holds it
    EXPECT_EQ(Numbers(Directory()->ListPorts()), (std::vector<int>{1, 2}));
    EXPECT_EQ(Stored(2), "usb:0403:6001:B2:00");
}

} // namespace
} // namespace orvane
