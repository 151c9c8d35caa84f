// The resources as data, under the names the Qt back end has always used for them.
//
// Thread contract: plain values; see framework/resources.h.
#pragma once

#include "framework/resources.h"

namespace fw::qtui {

using fw::Accelerator;
using fw::CommandTarget;
using fw::ControlKind;
using fw::DialogControl;
using fw::DialogTemplate;
using fw::FileChooser;
using fw::FileRequest;
using fw::FrameResources;
using fw::MenuItem;
using fw::ToolButton;

} // namespace fw::qtui
