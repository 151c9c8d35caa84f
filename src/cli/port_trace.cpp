#include "cli/port_trace.h"

#include "firmware/commands.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orvane::app {

namespace {

// Frames carry at most 255 payload bytes; more than a few frames' worth of bytes that make no
// frame is noise, and only its newest part is kept for the next frame.
constexpr std::size_t kPendingLimit = 4096;
constexpr std::size_t kHexShown = 48;  // bytes of a chunk shown in hex
constexpr std::size_t kTextShown = 48; // bytes of a payload shown

std::string Hex(const std::uint8_t* bytes, std::size_t length) {
    std::string s;
    const std::size_t shown = std::min(length, kHexShown);
    for (std::size_t i = 0; i < shown; ++i)
        s += FormatAnsi(i == 0 ? "%02X" : " %02X", bytes[i]);
    if (shown < length)
        s += FormatAnsi(" ... (%zu more)", length - shown);
    return s;
}

std::string Payload(const std::uint8_t* bytes, std::size_t length) {
    std::string s = "\"";
    const std::size_t shown = std::min(length, kTextShown);
    for (std::size_t i = 0; i < shown; ++i) {
        const std::uint8_t c = bytes[i];
        if (c == '"' || c == '\\')
            s += {'\\', static_cast<char>(c)};
        else if (c >= 0x20 && c < 0x7F)
            s.push_back(static_cast<char>(c));
        else
            s += FormatAnsi("\\x%02X", c);
    }
    s += "\"";
    if (shown < length)
        s += FormatAnsi(" ... (%zu more)", length - shown);
    return s;
}

void NoteIf(PortTrace* trace, const std::string& text) {
    if (trace)
        trace->Note(text);
}

class ObservingWorker final : public ui::IPortWorker {
public:
    ObservingWorker(std::unique_ptr<ui::IPortWorker> inner, std::shared_ptr<PortTrace> trace,
                    std::shared_ptr<LineCounts> counts)
        : m_inner(std::move(inner)), m_trace(std::move(trace)), m_counts(std::move(counts)) {}
    ~ObservingWorker() override { NoteIf(m_trace.get(), "closed"); }
    ObservingWorker(const ObservingWorker&) = delete;
    ObservingWorker& operator=(const ObservingWorker&) = delete;

    bool QueueWrite(const std::uint8_t* bytes, int length) override {
        if (m_trace)
            m_trace->Sent(bytes, length);
        if (m_counts && length >= 4 && bytes[2] == 'S' && bytes[3] == 'S')
            ++m_counts->handshakes;
        const std::uint64_t failures = m_inner->WriteFailures();
        const bool queued = m_inner->QueueWrite(bytes, length);
        if (!queued)
            NoteIf(m_trace.get(), "the frame was refused");
        else if (m_inner->WriteFailures() != failures)
            NoteIf(m_trace.get(), "the frame did not leave whole");
        return queued;
    }
    bool SetBaudRate(int baud) override {
        NoteIf(m_trace.get(), FormatAnsi("speed %d baud", baud));
        const bool set = m_inner->SetBaudRate(baud);
        if (!set)
            NoteIf(m_trace.get(), "the speed was refused");
        return set;
    }
    int TakeReceived(std::uint8_t* dest) override {
        const int n = m_inner->TakeReceived(dest);
        if (n > 0 && m_trace)
            m_trace->Received(dest, n);
        return n;
    }
    bool IsLost() const override {
        const bool lost = m_inner->IsLost();
        if (lost && !m_lostSaid) {
            m_lostSaid = true;
            NoteIf(m_trace.get(), "the device went away");
        }
        return lost;
    }
    std::uint64_t WriteFailures() const override { return m_inner->WriteFailures(); }
    std::string DevicePath() const override { return m_inner->DevicePath(); }
    std::string Identity() const override { return m_inner->Identity(); }
    bool IsPseudoTerminal() const override { return m_inner->IsPseudoTerminal(); }

private:
    std::unique_ptr<ui::IPortWorker> m_inner;
    std::shared_ptr<PortTrace> m_trace;
    std::shared_ptr<LineCounts> m_counts;
    mutable bool m_lostSaid = false;
};

} // namespace

PortTrace::PortTrace(std::FILE* out, std::string name, std::FILE* err)
    : m_out(out), m_name(std::move(name)), m_err(err), m_start(std::chrono::steady_clock::now()) {}

void PortTrace::Line(const char* direction, const std::string& text) {
    if (!m_failure.empty())
        return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    errno = 0;
    const bool written =
        std::fprintf(m_out, "%10.6f %s %s\n", seconds, direction, text.c_str()) > 0;
    if (std::fflush(m_out) == 0 && written && std::ferror(m_out) == 0)
        return;
    m_failure = std::strerror(errno != 0 ? errno : EIO);
    if (m_err)
        std::fprintf(m_err,
                     "warning: the trace could not be written to %s (%s): it ends there; the "
                     "update goes on\n",
                     m_name.c_str(), m_failure.c_str());
}

void PortTrace::Note(const std::string& text) {
    Line("--", text);
}

std::string PortTrace::DescribeFrame(const std::uint8_t* bytes, std::size_t length,
                                     std::size_t* frameLength) {
    if (length < 9 || bytes[0] != '$' || bytes[1] != '$')
        return {};
    const std::size_t payload = bytes[5];
    const std::size_t total = 6 + payload + 3;
    if (length < total)
        return {};
    if (frameLength)
        *frameLength = total;
    const bool checksumRight = firmware::XorChecksum(bytes + 2, 4 + payload) == bytes[6 + payload];
    const bool ended = bytes[total - 2] == '\r' && bytes[total - 1] == '\n';
    std::string text = FormatAnsi("%c%c type %u, %zu bytes: ", bytes[2] >= 0x20 ? bytes[2] : '?',
                                  bytes[3] >= 0x20 ? bytes[3] : '?', bytes[4], payload) +
                       Payload(bytes + 6, payload);
    if (!checksumRight)
        text += " (wrong checksum)";
    if (!ended)
        text += " (no CR LF)";
    return text;
}

void PortTrace::Sent(const std::uint8_t* bytes, int length) {
    if (length <= 0)
        return;
    const auto n = static_cast<std::size_t>(length);
    Line("TX", FormatAnsi("%zu: ", n) + Hex(bytes, n));
    std::size_t frame = 0;
    const std::string described = DescribeFrame(bytes, n, &frame);
    if (!described.empty())
        Line("TX", "frame " + described);
}

void PortTrace::Received(const std::uint8_t* bytes, int length) {
    if (length <= 0)
        return;
    const auto n = static_cast<std::size_t>(length);
    Line("RX", FormatAnsi("%zu: ", n) + Hex(bytes, n));
    m_pending.append(reinterpret_cast<const char*>(bytes), n);
    // Every whole frame the bytes so far make, in order; bytes before a frame's "$$" are noise.
    for (;;) {
        const std::size_t start = m_pending.find("$$");
        if (start == std::string::npos) {
            // Keep a trailing "$": it may begin the next frame.
            m_pending.erase(0, m_pending.empty() || m_pending.back() != '$' ? m_pending.size()
                                                                            : m_pending.size() - 1);
            break;
        }
        m_pending.erase(0, start);
        std::size_t frame = 0;
        const auto* data = reinterpret_cast<const std::uint8_t*>(m_pending.data());
        const std::string described = DescribeFrame(data, m_pending.size(), &frame);
        if (described.empty())
            break; // not whole yet
        Line("RX", "frame " + described);
        m_pending.erase(0, frame);
    }
    if (m_pending.size() > kPendingLimit)
        m_pending.erase(0, m_pending.size() - kPendingLimit);
}

ui::PortOpener ObservingOpener(ui::PortOpener inner, std::shared_ptr<PortTrace> trace,
                               std::shared_ptr<LineCounts> counts) {
    return [inner = std::move(inner), trace = std::move(trace), counts = std::move(counts)](
               IMessageTarget* owner, const ui::PortRequest& request,
               ui::OpenFailure& failure) -> std::unique_ptr<ui::IPortWorker> {
        auto worker = inner(owner, request, failure);
        if (!worker) {
            NoteIf(trace.get(),
                   FormatAnsi("COM%d not opened: %s", request.number, failure.reason.c_str()));
            return nullptr;
        }
        NoteIf(trace.get(),
               FormatAnsi("COM%d opened: %s", request.number, worker->DevicePath().c_str()));
        return std::make_unique<ObservingWorker>(std::move(worker), trace, counts);
    };
}

} // namespace orvane::app
