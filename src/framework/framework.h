// The framework layer in one include: application and message queue, windows, controls.
//
// Thread contract: see each header; in short, only PostMessageW may be called from threads
// other than the user-interface thread.
#pragma once

#include "framework/app.h"
#include "framework/controls.h"
#include "framework/types.h"
#include "framework/wnd.h"
