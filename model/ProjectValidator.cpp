#include "model/ProjectValidator.h"

#include "app/Alerts.h"
#include "model/CDItem.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <map>

namespace
{
constexpr int maximumFrames = 80 * cdtime::framesPerMinute;
constexpr int maximumTracks = 99;
constexpr int maximumRowsPerTrack = 99;
constexpr int minimumTrackFrames = 4 * cdtime::framesPerSecond;

bool matchesWhole(const juce::String& text, const boost::wregex& pattern)
{
    const std::wstring wide(text.toWideCharPointer());
    return boost::regex_match(wide, pattern);
}

bool isMcnFormat(const juce::String& mcn)
{
    static const boost::wregex pattern(L"^([0-9]{13})*$");
    return mcn.length() == 13 && matchesWhole(mcn, pattern);
}

bool isIsrcFormat(const juce::String& isrc)
{
    static const boost::wregex pattern(
        L"^[A-Z][A-Z][A-Z0-9][A-Z0-9][A-Z0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]$");
    return isrc.length() == 12 && matchesWhole(isrc, pattern);
}

// Only the printable ISO 8859-1 characters can go onto the disc as CD-Text.
bool isDiscText(const juce::String& text)
{
    for (auto p = text.getCharPointer(); !p.isEmpty();)
    {
        const auto c = p.getAndAdvance();
        if (!((c >= 32 && c <= 126) || (c >= 160 && c <= 255)))
            return false;
    }
    return true;
}

juce::StringArray cdTextOf(const IndexItem& item)
{
    return {item.title, item.performer, item.songwriter, item.composer, item.arranger, item.message};
}

juce::StringArray discCdTextOf(const CDItem& disc)
{
    return {disc.discTitle,    disc.discPerformer, disc.discSongwriter,
            disc.discComposer, disc.discArranger,  disc.discMessage};
}

bool anyNotEmpty(const juce::StringArray& strings)
{
    return std::any_of(strings.begin(), strings.end(), [](const juce::String& s) { return s.isNotEmpty(); });
}

bool allDiscText(const juce::StringArray& strings)
{
    return std::all_of(strings.begin(), strings.end(), isDiscText);
}

int digitAt(const juce::String& digits, int index)
{
    return static_cast<int>(digits[index]) - '0';
}

// The check digit of a 13-digit MCN, from its first twelve digits (EAN-13 weighting).
int mcnCheckDigit(const juce::String& mcn)
{
    int sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += digitAt(mcn, i) * (i % 2 == 0 ? 1 : 3);
    return (10 - sum % 10) % 10;
}
} // namespace

ProjectValidator::ProjectValidator(CDItem& discToCheck, McnSelection selectMcn)
    : disc(discToCheck), selectMcnCharacters(std::move(selectMcn))
{
}

bool ProjectValidator::validate()
{
    rowAtFault = -1;
    previousTrack = 0;
    lengthIgnored = mcnIgnored = textOnOtherIndexIgnored = false;
    emptyIndexIgnored = isrcPlacementIgnored = isrcFormatIgnored = false;

    if (disc.indexItems.isEmpty())
        return fail("Empty project.");

    if (!checkLength())
        return false;

    if (disc.indexItems.getLast()->trackNumber > maximumTracks)
        return fail("Maximum number of tracks is 99.");

    if (!checkMcn() || !checkRows() || !checkDiscText())
        return false;

    defaultLanguage();
    return true;
}

bool ProjectValidator::checkLength()
{
    // The data session and the lead-out do not count towards the 80 minutes.
    const auto& last = *disc.indexItems.getLast();
    const auto end = (juce::int64)last.start.frames + last.indexOffset + last.length.frames;

    return end <= maximumFrames || ignore(lengthIgnored, {}, "Maximum length is 80 minutes!\n\nIgnore?");
}

bool ProjectValidator::checkMcn()
{
    const auto& mcn = disc.mcn;

    if (mcn.isEmpty())
        return true;

    if (!isMcnFormat(mcn))
        return ignore(mcnIgnored, {}, "MCN should be a 13 digit number!\n\nIgnore?");

    const auto expected = mcnCheckDigit(mcn);
    if (digitAt(mcn, 12) == expected)
        return true;

    if (selectMcnCharacters)
        selectMcnCharacters({12, 13});

    return ignore(mcnIgnored, {},
                  "Invalid MCN checksum digit found at position 13!\n\nFound: " + mcn.substring(12, 13) +
                      "\nCorrect value: " + juce::String(expected) + "\n\nIgnore?");
}

bool ProjectValidator::checkRows()
{
    // A track is every row, audio or data, that carries its number.
    std::map<int, std::pair<int, juce::int64>> tracks;
    const auto rows = disc.getNumRows();

    for (int row = 0; row < rows; ++row)
    {
        const auto& item = *disc.getRowItem(row);
        auto& [count, frames] = tracks[item.trackNumber];
        ++count;
        frames += item.length.frames;
    }

    for (int row = 0; row < rows; ++row)
    {
        const auto& [count, frames] = tracks[disc.getRowItem(row)->trackNumber];
        if (!checkRow(row, count, frames))
            return false;
    }

    return true;
}

bool ProjectValidator::checkRow(int row, int trackRows, juce::int64 trackFrames)
{
    rowAtFault = row;

    const auto& item = *disc.getRowItem(row);
    const auto track = "Track " + juce::String(item.trackNumber);
    const auto text = cdTextOf(item);

    // A track of several rows without an index 1 passes here; renumbering keeps audio tracks from
    // getting into that state.
    if (trackRows == 1 && item.indexNumber != 1)
        return fail(track + " has no index point 1.");

    if (trackRows > maximumRowsPerTrack)
        return fail(track + " has more than 99 indexes.");

    // Pause rows count towards the length, leading silence (indexOffset) does not.
    if (trackFrames < minimumTrackFrames)
        return fail(track + " is shorter than 4 seconds.");

    if (item.indexNumber != 1 && anyNotEmpty(text) &&
        !ignore(textOnOtherIndexIgnored, {},
                track + " has CD Text data on an index point other than 1!\n\nIgnore?"))
        return false;

    if (item.length.frames == 0 &&
        !ignore(emptyIndexIgnored, {}, track + " has an index point with a length of 0 seconds!\n\nIgnore?"))
        return false;

    if (item.isrc.isNotEmpty() && item.trackNumber == previousTrack &&
        !ignore(isrcPlacementIgnored, "Warning!",
                track + " has an ISRC code on an index point other than the first!\n\nIgnore?\n\n"))
        return false;

    if (item.isrc.isNotEmpty() && !isIsrcFormat(item.isrc) &&
        !ignore(isrcFormatIgnored, {},
                track +
                    " has an ISRC code with an invalid format. Use CCXXXYYNNNNN, where CC is the 2-character "
                    "country code (uppercase), XXX is the alphanumeric registrant code (uppercase), YY are "
                    "the last two digits of the year and NNNNN is a unique 5-digit number\n\nIgnore?"))
        return false;

    if (item.folder.isNotEmpty() && item.fileName.isNotEmpty())
    {
        const auto path = item.folder + "/" + item.fileName;
        // A relative path names no particular file, so it cannot be shown to exist.
        if (!juce::File::isAbsolutePath(path) || !juce::File(path).existsAsFile())
            return fail("File " + path + " does not exist.");
    }

    if (!allDiscText(text))
        return fail(track + " has non ISO 8859-1 character(s) in CD text.");

    previousTrack = item.trackNumber;
    rowAtFault = -1;
    return true;
}

bool ProjectValidator::checkDiscText()
{
    // discIdentification is not written as ISO 8859-1 text and is left out.
    return allDiscText(discCdTextOf(disc)) || fail("Disc has non ISO 8859-1 character(s) in CD text.");
}

void ProjectValidator::defaultLanguage()
{
    if (disc.languageCode != 0)
        return;

    const auto itemHasText = [](const IndexItem* item) { return anyNotEmpty(cdTextOf(*item)); };
    const bool hasCdText = anyNotEmpty(discCdTextOf(disc)) || disc.discIdentification.isNotEmpty() ||
                           disc.genreCode >= 1 ||
                           std::any_of(disc.indexItems.begin(), disc.indexItems.end(), itemHasText);

    if (hasCdText)
        disc.languageCode = 9;
}

bool ProjectValidator::ignore(bool& alreadyIgnored, const juce::String& title, const juce::String& message)
{
    if (alreadyIgnored)
        return true;

    alreadyIgnored = Alerts::askYesNo(title, message);
    return alreadyIgnored;
}

bool ProjectValidator::fail(const juce::String& message)
{
    Alerts::error(message);
    return false;
}
