// A message target that wakes a window back end's pump after every post: the serial worker's
// threads post to the frame, and the toolkit's event loop must learn that there is something
// to deliver.
//
// Thread contract: PostMessageW from any thread, as the inner target and the waker's Wake
// allow; made and destroyed on the user-interface thread.
#pragma once

#include "framework/types.h"
#include "platform/message.h"

namespace fw {

template <class Waker> class WakingTarget final : public orvane::IMessageTarget {
public:
    WakingTarget(orvane::IMessageTarget& inner, Waker& waker) : m_inner(inner), m_waker(waker) {}
    bool PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) override {
        const bool posted = m_inner.PostMessageW(message, wParam, lParam);
        m_waker.Wake();
        return posted;
    }

private:
    orvane::IMessageTarget& m_inner;
    Waker& m_waker;
};

} // namespace fw
