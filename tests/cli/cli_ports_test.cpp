// The command-line updater's port options, and the device it writes to: only the one named.
#include "cli/ports.h"
#include "cli/runner.h"
#include "platform/port_directory.h"
#include "platform/pty.h"
#include "platform/settings.h"
#include "sim/receiver.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <sys/ioctl.h>

namespace orvane::app {
namespace {

NumberedPort Port(int number, const std::string& path, const std::string& serial,
                  const std::string& vidPid = "0403:6001", const std::string& product = "FT232R") {
    NumberedPort p;
    p.number = number;
    p.info.path = path;
    if (!vidPid.empty()) {
        p.info.vendorId = vidPid.substr(0, 4);
        p.info.productId = vidPid.substr(5);
    }
    p.info.serial = serial;
    p.info.product = product;
    if (!serial.empty())
        p.info.byId = "/dev/serial/by-id/usb-FTDI_" + product + "_" + serial + "-if00-port0";
    return p;
}

TEST(CliPorts, TableShowsWhatTellsAdaptersApart) {
    std::vector<NumberedPort> ports = {Port(1, "/dev/ttyUSB0", "A10K5XYZ"),
                                       Port(3, "/dev/ttyACM0", "", "1546:01a8", "GNSS\x1b]0;x"),
                                       Port(12, "/dev/ttyS4", "", "", "")};
    ports[1].holder = DeviceHolder{"minicom", 812};
    EXPECT_EQ(PortTable(ports),
              "COM    PATH          BY-ID                                VID:PID    SERIAL    "
              "PRODUCT\n"
              "COM1   /dev/ttyUSB0  usb-FTDI_FT232R_A10K5XYZ-if00-port0  0403:6001  A10K5XYZ  "
              "FT232R\n"
              "COM3   /dev/ttyACM0  -                                    1546:01a8  -         "
              "GNSS?]0;x  [in use by minicom (pid 812)]\n"
              "COM12  /dev/ttyS4    -                                    -          -         -\n");
}

TEST(CliPorts, MatchChoosesByVendorProductSerialOrById) {
    std::vector<NumberedPort> ports = {
        Port(1, "/dev/ttyUSB0", "A1"), Port(2, "/dev/ttyUSB1", "B2", "067b:2303", "PL2303"),
        Port(3, "/dev/ttyACM0", "R7", "1546:01a8", "Receiver"), Port(4, "/dev/ttyS4", "", "", "")};
    ports[2].holder = DeviceHolder{"cat", 99};
    struct Case {
        std::vector<std::string> patterns;
        std::vector<int> chosen;
    };
    const Case cases[] = {
        {{}, {1, 2, 4}},                     // all that are free
        {{"0403:6001"}, {1}},                // vendor:product
        {{"067B:2303"}, {2}},                // in any case
        {{"B2"}, {2}},                       // serial number, whole
        {{"2303:067b"}, {}},                 // not the other way round
        {{"PL2303"}, {2}},                   // a part of the by-id name
        {{"1546:01a8"}, {}},                 // held by another program
        {{"A1", "0403:6001", "B2"}, {1, 2}}, // several: any of them
        {{"ttyS4"}, {}},                     // the path is no pattern
    };
    for (const auto& c : cases) {
        std::vector<int> chosen;
        for (const auto& p : SelectPorts(ports, c.patterns))
            chosen.push_back(p.number);
        EXPECT_EQ(chosen, c.chosen) << (c.patterns.empty() ? "" : c.patterns[0]);
    }
}

TEST(CliPorts, ConfirmationTakesOnlyYes) {
    const std::vector<NumberedPort> ports = {Port(1, "/dev/ttyUSB0", "A1")};
    for (const auto& [answer, expected] :
         std::vector<std::pair<std::string, bool>>{{"yes\n", true},
                                                   {"Y\n", true},
                                                   {"no\n", false},
                                                   {"\n", false},
                                                   {"", false},
                                                   {"yess\n", false}}) {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::tmpfile(), std::fclose);
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), std::fclose);
        std::fputs(answer.c_str(), in.get());
        std::rewind(in.get());
        EXPECT_EQ(ConfirmPorts(ports, in.get(), out.get()), expected) << answer;
    }
}

// The updater linked to a simulated receiver by its path, while the machine has another
// serial device (the decoy) and the settings store cannot be written: every byte must go to
// the receiver named, none to the decoy.
class DecoyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings.isValid());
        SetSettingsFolder(settings.path().toStdString());
        // The store's file name is taken by a folder: nothing can be stored.
        ASSERT_TRUE(QDir(settings.path())
                        .mkpath(QStringLiteral("%1/%2.ini")
                                    .arg(kSettingsOrganization)
                                    .arg(kSettingsApplication)));
        decoy = OpenPtyPair();
        ASSERT_TRUE(decoy.IsOpen());
        // The decoy is the machine's only serial device: a USB adapter, the first found.
        TtyNode node;
        node.name = "ttyUSB0";
        node.devnode = decoy.SlavePath();
        node.hasDevice = true;
        node.vendorId = "0403";
        node.productId = "6001";
        node.serial = "DECOY";
        TtyTree tree;
        tree.nodes = {node};
        CPortDirectory::Sources sources;
        sources.tree = [tree] { return tree; };
        PortDirectory().SetSources(sources);
    }
    void TearDown() override { PortDirectory().SetSources({}); }

    // Bytes the decoy's far end has been sent.
    int DecoyReceived() const {
        int waiting = 0;
        ::ioctl(decoy.MasterFd(), FIONREAD, &waiting);
        return waiting;
    }

    QTemporaryDir settings;
    PtyPair decoy;
};

TEST_F(DecoyTest, TheDeviceNamedIsTheOneWrittenTo) {
    bootsim::SimulatedReceiver receiver;
    bootsim::Config config;
    config.id = "K64E";
    std::string error;
    const std::string path = receiver.Start(config, &error);
    ASSERT_FALSE(path.empty()) << error;

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), std::fclose);
    CliOptions options;
    options.out = out.get();
    options.err = out.get();
    options.progressBar = false;
    options.timeout = std::chrono::seconds(120);
    ASSERT_EQ(UsePortArgument(path, options, out.get()), 0);
    const CliResult result = RunUpdate(options);
    EXPECT_EQ(result.exitCode, kExitComplete) << result.reason;
    EXPECT_TRUE(receiver.Report().completed);
    EXPECT_EQ(receiver.Report().blocksAccepted, 576u);
    EXPECT_EQ(DecoyReceived(), 0);
    EXPECT_FALSE(PortDirectory().Remembered()); // the store really could not be written
    EXPECT_NE(result.port.find(path), std::string::npos) << result.port;
}

TEST_F(DecoyTest, ANumberNamesTheEnumeratedDevice) {
    // The contrast: COM1 is the decoy's number, and then the decoy is the device meant.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), std::fclose);
    CliOptions options;
    options.out = out.get();
    options.err = out.get();
    options.progressBar = false;
    options.timeout = std::chrono::seconds(1);
    ASSERT_EQ(UsePortArgument("COM1", options, out.get()), 0);
    const CliResult result = RunUpdate(options);
    EXPECT_EQ(result.exitCode, kExitTimeout) << result.reason;
    EXPECT_GT(DecoyReceived(), 0);
}

TEST(CliPorts, PortNamesThatAreNoPortAreRefusedNamingThem) {
    for (const char* typed : {"COM0", "COM256", "COM2x", ""}) {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> err(std::tmpfile(), std::fclose);
        CliOptions options;
        EXPECT_EQ(UsePortArgument(typed, options, err.get()), 64) << typed;
        std::rewind(err.get());
        char line[256] = {};
        ASSERT_NE(std::fgets(line, sizeof line, err.get()), nullptr);
        if (*typed != '\0') {
            EXPECT_NE(std::string(line).find(std::string("\"") + typed + "\""), std::string::npos)
                << line;
        }
    }
}

} // namespace
} // namespace orvane::app
