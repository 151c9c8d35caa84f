// A build without images of its own (the browser page): until a package is loaded, the
// catalogue alone, and every entry's image is simply not there.
#include "firmware/firmware_set.h"

namespace orvane::firmware {

std::shared_ptr<const FirmwareSet> BuiltInFirmware() {
    auto set = std::make_shared<FirmwareSet>(FirmwareSet::Kind::Package);
    set->SetOrigin("no firmware package loaded", "", "", "");
    set->SetEntries(std::vector<CatalogueEntry>(Catalogue().begin(), Catalogue().end()));
    return set;
}

} // namespace orvane::firmware
