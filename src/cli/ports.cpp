#include "cli/ports.h"

#include "platform/port_argument.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace orvane::app {

namespace {

// Anything a device says about itself is printed with control characters shown as "?", so a
// product string cannot move the cursor or retitle the terminal.
std::string Printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const unsigned char c : text)
        out.push_back(c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c));
    return out;
}

std::string OrDash(const std::string& text) {
    return text.empty() ? std::string("-") : Printable(text);
}

std::string ByIdName(const std::string& byId) {
    const auto slash = byId.rfind('/');
    return slash == std::string::npos ? byId : byId.substr(slash + 1);
}

} // namespace

std::string PortTable(const std::vector<NumberedPort>& ports) {
    constexpr std::size_t kColumns = 6;
    std::vector<std::array<std::string, kColumns>> rows;
    rows.push_back({"COM", "PATH", "BY-ID", "VID:PID", "SERIAL", "PRODUCT"});
    for (const NumberedPort& p : ports) {
        std::string product = p.info.product;
        if (!p.info.manufacturer.empty())
            product += (product.empty() ? "" : " ") + ("(" + p.info.manufacturer + ")");
        rows.push_back({"COM" + std::to_string(p.number), OrDash(p.info.path),
                        OrDash(ByIdName(p.info.byId)), OrDash(p.info.VendorProduct()),
                        OrDash(p.info.serial), OrDash(product)});
    }
    std::array<std::size_t, kColumns> width{};
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < kColumns; ++c)
            width[c] = std::max(width[c], row[c].size());
    }
    std::string table;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::string line;
        for (std::size_t c = 0; c < kColumns; ++c) {
            line += rows[r][c];
            if (c + 1 < kColumns)
                line += std::string(width[c] - rows[r][c].size() + 2, ' ');
        }
        if (r > 0 && ports[r - 1].holder)
            line += "  [in use by " + Printable(ports[r - 1].holder->Describe()) + "]";
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        table += line + "\n";
    }
    return table;
}

int ListPorts(CPortDirectory& directory, std::FILE* out, std::FILE* err) {
    const std::vector<NumberedPort> ports = directory.ListPorts();
    if (ports.empty())
        std::fprintf(out, "No serial ports found.\n");
    else
        std::fprintf(out, "%s", PortTable(ports).c_str());
    for (const std::string& console : directory.ConsolePorts())
        std::fprintf(out,
                     "%s is the system console: it is not listed and gets no number (name it "
                     "with --port and give --allow-console to use it all the same).\n",
                     console.c_str());
    if (!directory.Remembered())
        std::fprintf(err, "warning: %s cannot be written: these numbers last only for this run\n",
                     directory.StoreFile().c_str());
    return 0;
}

int ForgetPorts(CPortDirectory& directory, std::FILE* out, std::FILE* err) {
    const std::vector<ForgottenPort> forgotten = directory.ForgetAbsent();
    if (!directory.Remembered()) {
        std::fprintf(err, "error: %s cannot be written: nothing was forgotten\n",
                     directory.StoreFile().c_str());
        return 1;
    }
    if (forgotten.empty())
        std::fprintf(out, "Every stored port number belongs to a device present now.\n");
    for (const ForgottenPort& f : forgotten)
        std::fprintf(out, "Forgot COM%d (%s)\n", f.number, Printable(f.identity).c_str());
    std::fprintf(out, "The devices present now keep their numbers:\n");
    return ListPorts(directory, out, err);
}

bool PortMatches(const SerialPortInfo& port, const std::string& pattern) {
    if (pattern.empty())
        return false;
    if (!port.VendorProduct().empty() && AsciiLower(pattern) == AsciiLower(port.VendorProduct()))
        return true;
    if (!port.serial.empty() && pattern == port.serial)
        return true;
    return !port.byId.empty() && ByIdName(port.byId).find(pattern) != std::string::npos;
}

std::vector<NumberedPort> SelectPorts(const std::vector<NumberedPort>& ports,
                                      const std::vector<std::string>& patterns) {
    std::vector<NumberedPort> chosen;
    for (const NumberedPort& p : ports) {
        if (p.holder)
            continue;
        const bool match =
            patterns.empty() || std::any_of(patterns.begin(), patterns.end(),
                                            [&](const auto& m) { return PortMatches(p.info, m); });
        if (match)
            chosen.push_back(p);
    }
    return chosen;
}

bool ConfirmPorts(const std::vector<NumberedPort>& ports, std::FILE* in, std::FILE* out) {
    std::fprintf(out, "%s", PortTable(ports).c_str());
    std::fprintf(out,
                 "Send the handshake and then firmware to every port above (%zu)? "
                 "Type yes to go on: ",
                 ports.size());
    std::fflush(out);
    std::array<char, 64> answer{};
    if (std::fgets(answer.data(), static_cast<int>(answer.size()), in) == nullptr)
        return false;
    std::string text = AsciiLower(answer.data());
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text == "yes" || text == "y";
}

int UsePortArgument(const std::string& text, CliOptions& options, std::FILE* err) {
    const PortArgument port = ParsePortArgument(text);
    switch (port.kind) {
    case PortArgument::Kind::Invalid:
        std::fprintf(err, "error: %s\n", port.error.c_str());
        return 64;
    case PortArgument::Kind::Number:
        options.portName = FormatText("COM%d", port.number);
        options.devicePath.clear();
        return 0;
    case PortArgument::Kind::Path:
        break;
    }
    if (PortDirectory().IsConsole(port.path)) {
        if (!options.allowConsole) {
            std::fprintf(err, "error: %s\n", ConsoleRefusal(port.path).c_str());
            return 64;
        }
        std::fprintf(err, "%s\n", ConsoleWarning(port.path).c_str());
    }
    return UseDevicePath(port.path, options, err);
}

std::optional<SerialPortInfo> EnumeratedDevice(int number, const std::string& path) {
    auto info = PortDirectory().PortForNumber(number);
    if (!info || (!path.empty() && FindPort({*info}, path) == nullptr))
        return std::nullopt;
    return info;
}

std::optional<CliPortIdentity> AdapterIdentity(int number, const std::string& path) {
    const auto info = EnumeratedDevice(number, path);
    if (!info || (info->byId.empty() && info->VendorProduct().empty() && info->serial.empty()))
        return std::nullopt;
    return CliPortIdentity{info->byId, info->VendorProduct(), info->serial};
}

int UseDevicePath(const std::string& path, CliOptions& options, std::FILE* err) {
    const int number = NumberForDevice(path);
    if (number < kFirstPort) {
        std::fprintf(err, "error: no COM number is free for %s\n", path.c_str());
        return kExitLinkFailed;
    }
    options.portName = FormatText("COM%d", number);
    options.devicePath = path;
    // A number that is only this process's (a pseudo-terminal, any path that is no serial
    // device of this machine) names nothing another run or another port would know: the
    // records give the path alone.
    options.describePort = [number, path] {
        return EnumeratedDevice(number, path) ? FormatAnsi("COM%d", number) + " (" + path + ")"
                                              : path;
    };
    return 0;
}

} // namespace orvane::app
