// What happens during an update, as typed events: the boot loader answered, a block went out or
// was acknowledged, the transfer ended and how. The window shows texts for people; every other
// listener (the command-line updater, station mode, the result JSON) takes these events and
// never reads a text to learn what happened.
//
// Thread contract: raised on the user-interface thread only, from inside the update's own
// steps; a listener must not destroy the main window from its call-back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::ui {

// How a transfer (or the attempt at one) ended.
enum class UpdateOutcome {
    Complete,          // the receiver has its firmware
    UnknownIdentifier, // the boot loader's identifier is not in the catalogue
    ImageMissing,      // the catalogue knows the receiver, the loaded firmware lacks its image
    FirmwareRefused,   // this build's test images may not go to this device
    DeviceLost,        // the serial device went away
    WriteRefused,      // the port refused a frame, or a setting the update needs
    Stalled,           // blocks went out, then no acknowledgement came within the stall limit
};

// The boot loader's identification answer, as identification made it.
struct ReceiverAnswer {
    std::u16string identifier;  // after the S forms are normalised
    std::u16string displayName; // the catalogue's name for it, or empty when unknown
    std::uint32_t baud = 0;     // the line speed the transfer uses
};

// One block of the transfer.
struct BlockEvent {
    std::uint64_t index = 0;   // 1 for the first block of a transfer
    std::uint32_t address = 0; // as its "Address" line shows it
    std::uint32_t bytes = 0;   // data bytes in the block
    int position = 0;          // the progress bar after it, and its upper end
    int upper = 0;
};

// Where a transfer stood when it ended: what a report and the advice to the operator need.
struct TransferState {
    std::uint64_t blocksSent = 0;
    std::uint64_t blocksAcknowledged = 0;
    // The address of the last block acknowledged and of the last block sent (valid when the
    // counts above are not 0).
    std::uint32_t lastAcknowledgedAddress = 0;
    std::uint32_t lastSentAddress = 0;
    // The last block was acknowledged; a two-stage receiver now writes its flash and sends its
    // completion reply when done.
    bool awaitingCompletion = false;
};

struct UpdateEnd {
    UpdateOutcome outcome = UpdateOutcome::Complete;
    // Of the transfer this outcome ended; all zero when none was running (an identifier that
    // cannot be updated, a device lost while handshaking). A transfer that had begun and did
    // not complete may have left the receiver without firmware.
    TransferState state;
    // For a person: the text the window showed for it (a box or a list line).
    std::u16string message;
};

// The project's exit code for how an update ended (platform/exit_codes.h): what the
// command-line updater ends with, and what every result record carries.
int ExitCodeOf(const UpdateEnd& end);

class IUpdateObserver {
public:
    virtual ~IUpdateObserver() = default;
    // The handshake began (the Update command).
    virtual void OnHandshakeStarted() {}
    virtual void OnReceiverAnswered(const ReceiverAnswer&) {}
    virtual void OnBlockSent(const BlockEvent&) {}
    virtual void OnBlockAcknowledged(const BlockEvent&) {}
    // Every block is acknowledged; the two-stage receiver writes its flash now.
    virtual void OnAwaitingCompletion(const TransferState&) {}
    virtual void OnUpdateEnded(const UpdateEnd&) {}
};

// Hands every event to the listeners registered, in the order they registered.
class UpdateEvents final : public IUpdateObserver {
public:
    void Add(IUpdateObserver* observer);
    void Remove(IUpdateObserver* observer);

    void OnHandshakeStarted() override;
    void OnReceiverAnswered(const ReceiverAnswer& answer) override;
    void OnBlockSent(const BlockEvent& block) override;
    void OnBlockAcknowledged(const BlockEvent& block) override;
    void OnAwaitingCompletion(const TransferState& state) override;
    void OnUpdateEnded(const UpdateEnd& end) override;

private:
    template <class Call> void Each(Call call);
    std::vector<IUpdateObserver*> m_observers;
};

} // namespace orvane::ui
