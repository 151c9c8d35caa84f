// --catalogue: the firmware catalogue as a table for people.
#pragma once

#include <string>

namespace orvane::firmware {
class FirmwareSet;
}

namespace orvane::app {

// "Firmware: <what it is>" and a line per catalogue entry: number, identifiers, name, image,
// size and speed rule. A package's texts (its release name and date, its folder, its entries'
// names) reach a terminal escaped as EscapeControlsUtf8 does; a record keeps them as they are.
std::string CatalogueListing(const firmware::FirmwareSet& firmware);

// The firmware in one line for people: its description with its texts escaped, as above.
std::string FirmwareForTerminal(const firmware::FirmwareSet& firmware);

} // namespace orvane::app
