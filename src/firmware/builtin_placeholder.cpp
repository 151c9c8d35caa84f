// The default build carries the generator's placeholder images.
#include "firmware/firmware_set.h"

namespace orvane::firmware {

std::shared_ptr<const FirmwareSet> BuiltInFirmware() {
    return PlaceholderFirmware();
}

} // namespace orvane::firmware
