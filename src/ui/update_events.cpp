#include "ui/update_events.h"

#include "platform/exit_codes.h"

#include <algorithm>

namespace orvane::ui {

int ExitCodeOf(const UpdateEnd& end) {
    // Blocks went out and the transfer did not complete: the receiver may be left without
    // firmware, whatever ended it, and the code says so.
    const bool cut = end.state.blocksSent > 0;
    switch (end.outcome) {
    case UpdateOutcome::Complete:
        return kExitComplete;
    case UpdateOutcome::UnknownIdentifier:
        return cut ? kExitStalled : kExitUnknownId;
    case UpdateOutcome::ImageMissing:
    case UpdateOutcome::FirmwareRefused:
        return cut ? kExitStalled : kExitFirmware;
    case UpdateOutcome::Stalled:
        return kExitStalled;
    case UpdateOutcome::DeviceLost:
        return cut ? kExitLostInTransfer : kExitLinkFailed;
    case UpdateOutcome::WriteRefused:
        break;
    }
    return kExitLinkFailed;
}

void UpdateEvents::Add(IUpdateObserver* observer) {
    if (observer &&
        std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void UpdateEvents::Remove(IUpdateObserver* observer) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), observer),
                      m_observers.end());
}

template <class Call> void UpdateEvents::Each(Call call) {
    // A copy: a listener may remove itself from inside its call-back.
    const std::vector<IUpdateObserver*> observers = m_observers;
    for (IUpdateObserver* o : observers) {
        if (std::find(m_observers.begin(), m_observers.end(), o) != m_observers.end())
            call(*o);
    }
}

void UpdateEvents::OnHandshakeStarted() {
    Each([](IUpdateObserver& o) { o.OnHandshakeStarted(); });
}

void UpdateEvents::OnReceiverAnswered(const ReceiverAnswer& answer) {
    Each([&](IUpdateObserver& o) { o.OnReceiverAnswered(answer); });
}

void UpdateEvents::OnBlockSent(const BlockEvent& block) {
    Each([&](IUpdateObserver& o) { o.OnBlockSent(block); });
}

void UpdateEvents::OnBlockAcknowledged(const BlockEvent& block) {
    Each([&](IUpdateObserver& o) { o.OnBlockAcknowledged(block); });
}

void UpdateEvents::OnAwaitingCompletion(const TransferState& state) {
    Each([&](IUpdateObserver& o) { o.OnAwaitingCompletion(state); });
}

void UpdateEvents::OnUpdateEnded(const UpdateEnd& end) {
    Each([&](IUpdateObserver& o) { o.OnUpdateEnded(end); });
}

} // namespace orvane::ui
