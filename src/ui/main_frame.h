// The main window: link commands, handshake timer, receive notification, and the receiver
// link (the one serial connection, the reply decoder and the transfer state shared with the
// update view).
//
// Thread contract: user-interface thread only. The serial worker's reader reaches this
// window solely through PostMessageW(WM_SERIAL_RECEIVED).
#pragma once

#include "firmware/catalogue.h"
#include "firmware/decoder.h"
#include "firmware/firmware_set.h"
#include "framework/wnd.h"
#include "platform/clock.h"
#include "ui/port_worker.h"
#include "ui/update_events.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::ui {

class CUpdateView;

// The port number a stored port name selects: the decimal number read from the name's
// fourth character when the name contains "COM" (case-sensitive) and the number is 1 to
// 255; otherwise port 1. (A stored device path, beginning with "/", is the frame's to open
// as it is.)
int PortNumberFromName(std::u16string_view name);

// Reads a decimal integer from text[pos] on (leading white space and a sign allowed).
bool ReadDecimal(std::u16string_view text, std::size_t pos, long& value);

struct MainFrameServices {
    PortOpener openPort;        // default: real serial ports
    PortLister listPorts;       // default: the system's serial devices
    PortDescriber describePort; // default: what the port directory knows of a device
    // Where the two-stage entry's resource images are looked up before the placeholder set's
    // own (the desktop updater's language bundle); never consulted for a firmware package.
    const firmware::IResourceModule* resources = nullptr;
    // The firmware the updater sends (default: what the build carries).
    std::shared_ptr<const firmware::FirmwareSet> firmware;
    // A bench override: placeholder images may go to any device, not only the simulated
    // receiver's pseudo-terminal.
    bool allowPlaceholderOnAnyDevice = false;
    // The stored port name ("PortOfMonitor"); default: read from the settings store.
    std::function<std::u16string()> storedPortName;
    // The number of a device path stored in place of a port name; default: the port
    // directory's.
    std::function<int(const std::string&)> numberForPath;
};

class CMainFrame : public fw::CFrameWnd,
                   public firmware::IReplyTarget,
                   public firmware::IBaudSwitch,
                   public firmware::IImageSource {
public:
    explicit CMainFrame(MainFrameServices services = {});
    ~CMainFrame() override;

    // Window creation: the link is tried once with the stored port; a failure is shown as a
    // line of the message list. Returns 0.
    int OnCreate();

    // Receiver link.
    void EnumeratePorts();
    // A device path named directly (command line, stored setting) for port number `port`:
    // while m_nPort is that number the link opens exactly this device. Choosing another port
    // in Setup leaves it.
    void SetDevicePath(int port, std::string path);
    // The device path the link opens for m_nPort, or "" when the port directory decides.
    std::string DevicePathForLink() const;
    // What tells port `port`'s device from the others, for the setup dialog.
    std::u16string DescribePort(int port) const;
    // True while the link waits for a device that went away during the handshake.
    bool IsWaitingForDevice() const { return m_bWaitingForDevice; }
    IPortWorker* OpenLink();
    void CloseLink();
    bool IsLinked() const { return m_pPort != nullptr; }
    int SendCommand(std::u16string_view text, unsigned delayMs);
    fw::LRESULT OnSerialReceived(fw::WPARAM wParam, fw::LPARAM lParam);

    // Reply call-backs of the decoder.
    void StopTimer(unsigned id) override;
    int IdentifyReceiver(const std::uint8_t* payload, std::uint32_t length) override;
    int AcknowledgeBlock(const std::uint8_t* payload, std::uint32_t length) override;
    std::int32_t& AwaitingCompletion() override { return m_bAwaitingCompletion; }
    int FinishUpdate() override;
    void ShowMessage(std::u16string_view text) override;

    // The link's speed switch; a closed link is never touched.
    void SwitchBaud(std::uint32_t baud) override;

    // Commands.
    void OnLink();
    void OnBreakConnection();
    void OnSetup();
    void OnExit();
    // The window-close message (caption button, Exit): asks first while a transfer runs.
    void OnClose() override;

    CUpdateView* GetUpdateView() const;
    IPortWorker* Port() const { return m_pPort.get(); }
    // Why the last OpenLink failed (empty after a success).
    const std::string& LastOpenFailure() const { return m_strOpenFailure; }

    // The firmware updates draw on. Replacing it never disturbs a running transfer: the view
    // keeps the set it is sending from.
    const std::shared_ptr<const firmware::FirmwareSet>& Firmware() const { return m_pFirmware; }
    void SetFirmware(std::shared_ptr<const firmware::FirmwareSet> firmware);
    // The images of the current firmware; for the placeholder set the resource images are
    // looked up in the language bundle first.
    std::optional<firmware::ImageView> FindImageBytes(std::string_view name) const override;
    // Placeholder images go only to a pseudo-terminal (the simulated receiver), unless the
    // bench override allows any device. False while no link is open.
    bool MaySendFirmware() const;
    // True when the last OpenLink was refused because the build's test images could reach a
    // real receiver over that port.
    bool PlaceholderRefused() const { return m_bPlaceholderRefused; }
    // The refusal's text for a port.
    std::u16string PlaceholderRefusalText() const;

    // Process-wide: set when identification replaced an S form by its digit form.
    static bool s_bSFormFlag;

    firmware::CTolvarenFormat m_decoder;
    std::unique_ptr<IPortWorker> m_pPort;
    std::vector<std::u16string> m_portNames;
    std::uint8_t m_nFrameType = 24;
    int m_nPort = 1;
    std::int32_t m_bAwaitingCompletion = 0;

    // The update's typed events (the view's steps, the link's loss and refusals): listeners
    // register here.
    UpdateEvents& Events() { return m_events; }
    // The line speed last set on the link (9600 when it opens).
    std::uint32_t Baud() const { return m_nBaud; }

    // Once a block has gone out, silence from the receiver for longer than this ends the
    // transfer (the boot loader never sends a block again). 0: wait for ever. Well above any
    // boot loader's pause to erase its flash.
    static constexpr std::chrono::milliseconds kDefaultStallLimit{20000};
    std::chrono::milliseconds m_stallLimit = kDefaultStallLimit;
    // The view calls this after every block sent (on) and when the transfer ends (off).
    void WatchTransfer(bool on);

    // While the handshake waits for the receiver, a device that goes away (a receiver whose
    // USB port is switched off with it) is waited for and opened again when it comes back,
    // instead of ending the link. Loss during a transfer always ends it.
    bool m_bReopenLostDevice = false;

protected:
    fw::LRESULT WindowProc(fw::UINT message, fw::WPARAM wParam, fw::LPARAM lParam) override;
    bool OnCmdMsg(fw::UINT nID) override;
    void OnUpdateCmdUI(fw::CCmdUI& cmdUI) override;
    void OnTimer(fw::UINT_PTR nIDEvent) override;
    void OnDestroy() override;

private:
    void CheckLinkLost();
    // The port refused a frame or a speed (its worker has shown why): the update cannot go on.
    void ReportRefusal();
    // Whether the current firmware may go over this line (see MaySendFirmware).
    bool MayTakeFirmware(const IPortWorker& worker) const;
    bool Handshaking() const;
    // One try to open the lost device again; true when it is back.
    bool ReopenLostDevice();

    MainFrameServices m_services;
    std::string m_strOpenFailure;
    int m_nDevicePathPort = 0;
    std::string m_strDevicePath;
    std::string m_strLinkIdentity; // the device of the open (or lost) link
    bool m_bWaitingForDevice = false;
    std::shared_ptr<const firmware::FirmwareSet> m_pFirmware;
    bool m_bPlaceholderRefused = false;
    // After a failed OpenLink: the refusal box for test images, else "COMn: why" in the list.
    void ShowOpenFailure();

    // Calls into the worker that may open a message box (which keeps dispatching messages)
    // hold it with this guard. A CloseLink meanwhile (the device lost, handled inside the box)
    // closes the link at once but keeps the worker alive until the last such call has
    // returned, so no worker is ever destroyed under a call still running in it.
    class PortCall {
    public:
        explicit PortCall(CMainFrame& frame) : m_frame(frame) { ++m_frame.m_nPortCalls; }
        ~PortCall();
        PortCall(const PortCall&) = delete;
        PortCall& operator=(const PortCall&) = delete;

    private:
        CMainFrame& m_frame;
    };

    UpdateEvents m_events;
    std::uint32_t m_nBaud = firmware::kSlowBaud;
    orvane::Clock::time_point m_lastBlockAt{}; // when the last block went out (see WatchTransfer)
    bool m_bCompletionShowing = false;
    int m_nPortCalls = 0;
    bool m_bOpening = false;
    // Bytes taken from the worker and not yet fed to the decoder, oldest first, and while a
    // receive notification feeds them, how many boxes were open when it began (else -1): see
    // OnSerialReceived.
    std::deque<std::uint8_t> m_received;
    int m_nFeedingBoxes = -1;
    std::vector<std::unique_ptr<IPortWorker>> m_retiredPorts;
};

} // namespace orvane::ui
