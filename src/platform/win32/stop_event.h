// The named event through which a station asks one of its updater processes to stop, on
// Windows, where there are no signals: a console break event reaches only a child that shares
// the station's console, and only on a real console.
#pragma once

#include <string>

namespace orvane {

inline std::wstring StopEventName(unsigned long processId) {
    return L"Local\\OrvaneUpdateStop-" + std::to_wstring(processId);
}

} // namespace orvane
