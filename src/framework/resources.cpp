#include "framework/resources.h"

namespace fw {

CCmdUI QueryCommandState(CFrameWnd* frame, const std::vector<CommandTarget>& targets, UINT id) {
    CCmdUI state;
    state.m_nID = id;
    if (frame && frame->IsWindow())
        frame->OnUpdateCmdUI(state);
    for (const CommandTarget& target : targets) {
        if (state.handled)
            break;
        if (target.update)
            target.update(state);
    }
    return state;
}

bool RouteCommand(CFrameWnd* frame, const std::vector<CommandTarget>& targets, UINT id) {
    if (!frame || !frame->IsWindow() || !QueryCommandState(frame, targets, id).enabled)
        return false;
    bool handled = frame->ExecuteCommand(id);
    // What neither the frame nor its view handles goes on to the document and the
    // application; ExecuteCommand has already looked at the frame's enable state.
    for (const CommandTarget& target : targets) {
        if (handled)
            break;
        handled = target.execute && target.execute(id);
    }
    return handled;
}

} // namespace fw
