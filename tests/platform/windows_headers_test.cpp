// Every header of the layers below the programs must compile where <windows.h> came first,
// with its full set of macros (min and max included), and name the same values as the system.
#include <windows.h>

#include "firmware/catalogue.h"
#include "firmware/commands.h"
#include "firmware/crypto.h"
#include "firmware/decoder.h"
#include "firmware/firmware_set.h"
#include "firmware/identify.h"
#include "firmware/images.h"
#include "firmware/minisign.h"
#include "firmware/package.h"
#include "framework/app.h"
#include "framework/controls.h"
#include "framework/framework.h"
#include "framework/headless/headless.h"
#include "framework/types.h"
#include "framework/wnd.h"
#include "platform/clock.h"
#include "platform/device_holder.h"
#include "platform/device_kind.h"
#include "platform/event.h"
#include "platform/message.h"
#include "platform/open_failure.h"
#include "platform/port_argument.h"
#include "platform/port_directory.h"
#include "platform/pty.h"
#include "platform/regkey.h"
#include "platform/serial_device.h"
#include "platform/serial_ports.h"
#include "platform/serial_tuning.h"
#include "platform/settings.h"
#include "platform/stop_request.h"
#include "platform/system_error.h"
#include "platform/text.h"
#include "serial/serial_port.h"
#include "ui/link_setup_dlg.h"
#include "ui/main_frame.h"
#include "ui/port_worker.h"
#include "ui/resource_ids.h"
#include "ui/update_view.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(WindowsHeaders, TheSystemsNamesKeepTheirValues) {
    EXPECT_EQ(WM_SERIAL_RECEIVED, 1031u);
    EXPECT_EQ(CautiousAnswer(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(CautiousAnswer(MB_OKCANCEL), IDCANCEL);
    const LineSettings line;
    EXPECT_EQ(line.Parity, NOPARITY);
    EXPECT_EQ(line.StopBits, ONESTOPBIT);
    EXPECT_EQ(line.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(HKEY_CURRENT_USER, reinterpret_cast<RegRoot>(HKEY_CURRENT_USER));
    EXPECT_EQ(ERROR_MORE_DATA, 234);
}

} // namespace
} // namespace orvane
