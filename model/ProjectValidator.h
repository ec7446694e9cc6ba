#pragma once

#include <juce_core/juce_core.h>

#include <functional>

class CDItem;

// Checks a disc against the rules a replication master must satisfy before it is exported.
// Hard errors show an "Error!" box and end the check; warnings ask "Ignore?" once per kind and per
// call, and "No" ends the check. Every box goes through Alerts. The check stops at the first
// error or "No".
//
// The only change it makes to the disc: languageCode 0 becomes 9 (English) when the disc has
// CD-Text and every rule held. Message thread only (it runs modal boxes).
class ProjectValidator
{
public:
    // Receives the character range of the MCN (12 to 13, its check digit) for the main window's
    // MCN field to select, just before the check-digit question is shown.
    using McnSelection = std::function<void(juce::Range<int>)>;

    explicit ProjectValidator(CDItem& disc, McnSelection selectMcnCharacters = {});

    // True when the disc may be exported: every hard rule holds and every warning met was
    // answered "Yes".
    bool validate();

    // The table row (0 = first pregap, then index items, then data items) at which the last
    // validate() stopped with an error or a "No"; -1 when it succeeded or stopped at a rule of the
    // whole disc. Nothing is selected by the validator itself.
    int getRowAtFault() const noexcept { return rowAtFault; }

private:
    bool checkLength();
    bool checkMcn();
    bool checkRows();
    bool checkRow(int row, int trackRows, juce::int64 trackFrames);
    bool checkDiscText();
    void defaultLanguage();

    // Asks "Ignore?" unless this kind was already ignored during this call.
    bool ignore(bool& alreadyIgnored, const juce::String& title, const juce::String& message);
    bool fail(const juce::String& message);

    CDItem& disc;
    McnSelection selectMcnCharacters;

    int rowAtFault = -1;
    int previousTrack = 0;
    bool lengthIgnored = false;
    bool mcnIgnored = false;
    bool textOnOtherIndexIgnored = false;
    bool emptyIndexIgnored = false;
    bool isrcPlacementIgnored = false;
    bool isrcFormatIgnored = false;
};
