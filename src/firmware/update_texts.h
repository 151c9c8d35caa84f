// The texts an update shows a person: the message list's lines and the boxes. They live in one
// table so that each is written once, and so that tests can replace them all and prove that no
// program decides anything by reading them (the typed update events say what happened).
//
// A text with a blank to fill holds "%s", "%X" or "%d" where the value goes; FillText puts the
// values in, in order, already formatted by the caller.
//
// Thread contract: read on the user-interface thread; replaced only by tests, before an update.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace orvane::firmware {

struct UpdateTexts {
    // The message list.
    std::u16string rule = u"-----------------------------------------";       // 41 hyphens
    std::u16string ruleSpace = u"----------------------------------------- "; // and a blank
    std::u16string turnOff = u"Turn off the receiver.";
    std::u16string pleaseWait = u"Please wait for a moment...";
    std::u16string turnOn = u"Turn on the receiver.";
    std::u16string beginUpdate = u"Begin to update %s...";
    std::u16string bootId = u"Boot ID: %s";
    std::u16string address = u"Address: %X";
    std::u16string completed = u"Completed!";
    std::u16string updateComplete = u"Firmware update complete.";
    std::u16string pleaseTurnOff = u"Please turn off the receiver.";
    std::u16string writingFirmware = u"Updating firmware,please wait.............";
    std::u16string deviceLost = u"COM%d: the serial device was disconnected.";
    std::u16string deviceBack = u"COM%d: the device is back; the handshake goes on.";
    std::u16string deviceBackAt = u"COM%d: the device is back (%s); the handshake goes on.";
    // A transfer that cannot go on, and what the operator does then.
    std::u16string stalled = u"The receiver has not acknowledged block %d (Address: %X) for %d s: "
                             u"the transfer has stopped.";
    std::u16string restartedAs = u"The receiver started again as %s in the middle of the "
                                 u"transfer.";
    std::u16string lastAcknowledged =
        u"The last block acknowledged was block %d (Address: %X); the receiver may be left "
        u"without firmware: switch it off and on and update it again.";
    std::u16string noneAcknowledged =
        u"No block was acknowledged; the receiver may be left without firmware: switch it off "
        u"and on and update it again.";
    std::u16string tryAgain = u"Try again?";

    // The boxes.
    std::u16string completeBox = u"Firmware update complete.\r\nPlease turn off the receiver.";
    std::u16string emptyImageBox = u"Firmware update complete\r\nPlease turn off the receiver.";
    std::u16string errorCaption = u"\u9519\u8BEF"; // "Error"
    std::u16string unknownIdentifier = u"Can't find the version of %s, please comfirm again!";
    std::u16string resourceMissing =
        u"The firmware \"%s\" for %s is missing from this updater; the update cannot start.";
    std::u16string imageNotInPackage =
        u"%s: image %s is not in this firmware package (%s); nothing was sent.";
    std::u16string imageNotInPackageMidTransfer =
        u"%s: image %s is not in this firmware package (%s).";
    std::u16string placeholderRefused =
        u"COM%d is a serial line, not the simulated receiver, and this build carries test images "
        u"(placeholder firmware), which would make a real receiver unusable. Nothing was sent. "
        u"Load real firmware from a firmware package: orvane-update-cli --firmware PACKAGE, or "
        u"\"Load firmware package\" in the window's Connect menu.";
    std::u16string transferRunning = u"A firmware update is running (Address: %X).\r\n";
    std::u16string restartConsequence =
        u"If you start again now, the receiver may be left without firmware.\r\nStart a new "
        u"update all the same?";
    std::u16string closeConsequence =
        u"If you close the updater now, the receiver may be left without firmware.\r\nClose the "
        u"updater all the same?";
};

// Every text of the table, for those that must treat them all alike.
inline constexpr std::u16string UpdateTexts::*kAllUpdateTexts[] = {
    &UpdateTexts::rule,
    &UpdateTexts::ruleSpace,
    &UpdateTexts::turnOff,
    &UpdateTexts::pleaseWait,
    &UpdateTexts::turnOn,
    &UpdateTexts::beginUpdate,
    &UpdateTexts::bootId,
    &UpdateTexts::address,
    &UpdateTexts::completed,
    &UpdateTexts::updateComplete,
    &UpdateTexts::pleaseTurnOff,
    &UpdateTexts::writingFirmware,
    &UpdateTexts::deviceLost,
    &UpdateTexts::deviceBack,
    &UpdateTexts::deviceBackAt,
    &UpdateTexts::stalled,
    &UpdateTexts::restartedAs,
    &UpdateTexts::lastAcknowledged,
    &UpdateTexts::noneAcknowledged,
    &UpdateTexts::tryAgain,
    &UpdateTexts::completeBox,
    &UpdateTexts::emptyImageBox,
    &UpdateTexts::errorCaption,
    &UpdateTexts::unknownIdentifier,
    &UpdateTexts::resourceMissing,
    &UpdateTexts::imageNotInPackage,
    &UpdateTexts::imageNotInPackageMidTransfer,
    &UpdateTexts::placeholderRefused,
    &UpdateTexts::transferRunning,
    &UpdateTexts::restartConsequence,
    &UpdateTexts::closeConsequence,
};
static_assert(sizeof(kAllUpdateTexts) / sizeof(kAllUpdateTexts[0]) * sizeof(std::u16string) ==
                  sizeof(UpdateTexts),
              "every text of UpdateTexts is listed in kAllUpdateTexts");

// The texts in use.
const UpdateTexts& Texts();
// Replaces them (tests only); returns the previous ones.
UpdateTexts ReplaceTexts(UpdateTexts texts);

// `format` with its blanks ("%s", "%X", "%d") filled by `values`, in order; a blank without a
// value stays as it is, a value without a blank is dropped.
std::u16string FillText(std::u16string_view format,
                        std::initializer_list<std::u16string_view> values);

} // namespace orvane::firmware
