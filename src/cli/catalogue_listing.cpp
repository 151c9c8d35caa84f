#include "cli/catalogue_listing.h"

#include "firmware/firmware_set.h"
#include "platform/text.h"

#include <cstdint>

namespace orvane::app {

std::string FirmwareForTerminal(const firmware::FirmwareSet& firmware) {
    return EscapeControlsUtf8(firmware.Description());
}

std::string CatalogueListing(const firmware::FirmwareSet& firmware) {
    std::string text = "Firmware: " + FirmwareForTerminal(firmware) + "\n";
    for (const auto& e : firmware.Entries()) {
        std::string ids;
        for (std::size_t i = 0; i < e.IdentifierCount(); ++i)
            ids += (i ? ", " : "") + ToUtf8(EscapeControls(e.identifiers[i]));
        const bool twoStage = e.mode == firmware::ImageMode::TwoStage;
        const std::string image = twoStage ? "PXA271+FPGA" : std::string(1, e.image);
        std::uint64_t length = 0;
        bool present = true;
        for (const std::string& name : firmware::FirmwareSet::ImagesOf(e)) {
            const auto* img = firmware.Image(name);
            present = present && img != nullptr;
            length += img ? img->length : 0;
        }
        const char* baud = e.baud == firmware::BaudRule::Always115200  ? "115200"
                           : e.baud == firmware::BaudRule::SForm115200 ? "115200 if S form"
                                                                       : "-";
        const std::string size =
            present ? FormatAnsi("%8llu bytes", static_cast<unsigned long long>(length))
                    : std::string("not in this firmware package");
        text += FormatAnsi("%2d  %-28s %-22s %-12s %s  %s\n", e.number, ids.c_str(),
                           ToUtf8(EscapeControls(e.displayName)).c_str(), image.c_str(),
                           size.c_str(), baud);
    }
    return text;
}

} // namespace orvane::app
