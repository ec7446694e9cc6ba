#include "model/CDItem.h"
#include "model/ProjectValidator.h"
#include "model/Renumbering.h"
#include "support/ScriptedAlerts.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace
{
using Arrange = std::function<void(CDItem&)>;

IndexItem::Ptr makeRow(int track, int index, int length)
{
    IndexItem::Ptr item = new IndexItem();
    item->trackNumber = track;
    item->indexNumber = index;
    item->length.frames = length;
    return item;
}

// Two tracks of exactly 4 seconds each, nothing else: the first pregap (150) and index 1 (150),
// then a pause (150) and index 1 (150). Rows 0 to 3; the disc ends at frame 600.
void arrangeTwoTracks(CDItem& disc)
{
    disc.languageCode = 0;
    disc.indexItems.add(makeRow(1, 1, 150));
    disc.indexItems.add(makeRow(2, 0, 150));
    disc.indexItems.add(makeRow(2, 1, 150));
}

IndexItem& row(CDItem& disc, int r)
{
    return *disc.getRowItem(r);
}

void addTracks(CDItem& disc, int from, int to)
{
    for (int t = from; t <= to; ++t)
        disc.indexItems.add(makeRow(t, 1, 300));
}

void addIndexes(CDItem& disc, int track, int from, int to)
{
    for (int i = from; i <= to; ++i)
        disc.indexItems.add(makeRow(track, i, 1));
}

void addDataTrack(CDItem& disc, int index, int length, const juce::File& image = {})
{
    auto item = makeRow(0, index, length);
    if (image != juce::File())
    {
        item->folder = image.getParentDirectory().getFullPathName();
        item->fileName = image.getFileName();
    }
    disc.dataItems.add(item);
}

void setSource(IndexItem& item, const juce::File& file)
{
    item.folder = file.getParentDirectory().getFullPathName();
    item.fileName = file.getFileName();
}

juce::String withChar(const juce::String& text, juce::juce_wchar c)
{
    return text + juce::String::charToString(c);
}

// One box as a line: icon ("?" question, "!" warning), title, message and buttons.
std::string box(const char* icon, const juce::String& title, const juce::String& message, const char* buttons)
{
    return (icon + (" " + title + " | " + message + " [") + buttons + "]").toStdString();
}

std::string question(const juce::String& message, const juce::String& title = {})
{
    return box("?", title, message, "Yes|No");
}

std::string error(const juce::String& message)
{
    return box("!", "Error!", message, "OK");
}

std::vector<std::string> boxesShown(const ScriptedAlerts& alerts)
{
    std::vector<std::string> result;
    for (const auto& r : alerts.records)
    {
        const auto* icon = r.icon == juce::MessageBoxIconType::QuestionIcon  ? "?"
                           : r.icon == juce::MessageBoxIconType::WarningIcon ? "!"
                                                                             : "i";
        result.push_back(box(icon, r.title, r.message, r.buttons.joinIntoString("|").toRawUTF8()));
    }
    return result;
}

const juce::String over80 = "Maximum length is 80 minutes!\n\nIgnore?";
const juce::String mcnFormat = "MCN should be a 13 digit number!\n\nIgnore?";
const juce::String mcnDigit5 =
    "Invalid MCN checksum digit found at position 13!\n\nFound: 5\nCorrect value: 8\n\nIgnore?";

juce::String isrcFormat(int track)
{
    return "Track " + juce::String(track) +
           " has an ISRC code with an invalid format. Use CCXXXYYNNNNN, where CC is the 2-character country "
           "code (uppercase), XXX is the alphanumeric registrant code (uppercase), YY are the last two "
           "digits "
           "of the year and NNNNN is a unique 5-digit number\n\nIgnore?";
}

juce::String isrcPlacement(int track)
{
    return "Track " + juce::String(track) +
           " has an ISRC code on an index point other than the first!\n\nIgnore?\n\n";
}

juce::String notIso(int track)
{
    return "Track " + juce::String(track) + " has non ISO 8859-1 character(s) in CD text.";
}

struct Case
{
    const char* label;
    Arrange arrange;
    std::vector<const char*> answers;
    bool passes;
    std::vector<std::string> boxes;
    bool selectsMcnCheckDigit = false;
    int rowAtFault = -1;
};

// Arranges the two-track disc, renumbers it, answers the questions and checks every box shown.
void run(const Case& c)
{
    SCOPED_TRACE(c.label);
    CDItem disc;
    arrangeTwoTracks(disc);
    c.arrange(disc);
    renumberDisc(disc);

    ScriptedAlerts alerts;
    for (const auto* a : c.answers)
        alerts.answer(a);

    std::vector<juce::Range<int>> selections;
    ProjectValidator validator(disc, [&](juce::Range<int> r) { selections.push_back(r); });

    EXPECT_EQ(validator.validate(), c.passes);
    EXPECT_EQ(boxesShown(alerts), c.boxes);
    using Selections = std::vector<juce::Range<int>>;
    EXPECT_EQ(selections, (c.selectsMcnCheckDigit ? Selections{{12, 13}} : Selections{}));
    EXPECT_EQ(validator.getRowAtFault(), c.rowAtFault);
}

void setLastLength(CDItem& disc, int frames)
{
    disc.indexItems.getLast()->length.frames = frames;
}

// The last item starts at 450 on the two-track disc.
constexpr int toEightyMinutes = 360000 - 450;
} // namespace

TEST(ProjectValidator, DiscRules)
{
    const std::vector<Case> cases = {
        {"a clean disc passes silently", [](CDItem&) {}, {}, true, {}},
        {"an empty project stops",
         [](CDItem& d) { d.indexItems.clear(); },
         {},
         false,
         {error("Empty project.")}},

        {"ending exactly at 80:00:00 passes",
         [](CDItem& d) { setLastLength(d, toEightyMinutes); },
         {},
         true,
         {}},
        {"one frame more asks; No fails",
         [](CDItem& d) { setLastLength(d, toEightyMinutes + 1); },
         {"No"},
         false,
         {question(over80)}},
        {"one frame more of leading silence asks; Yes goes on",
         [](CDItem& d)
         {
             setLastLength(d, toEightyMinutes);
             d.indexItems.getLast()->indexOffset = 1;
         },
         {"Yes"},
         true,
         {question(over80)}},
        {"a data session beyond 80 minutes does not count",
         [](CDItem& d)
         {
             setLastLength(d, toEightyMinutes);
             addDataTrack(d, 1, 9000);
         },
         {},
         true,
         {}},

        {"99 tracks pass", [](CDItem& d) { addTracks(d, 3, 99); }, {}, true, {}},
        {"100 tracks stop",
         [](CDItem& d) { addTracks(d, 3, 100); },
         {},
         false,
         {error("Maximum number of tracks is 99.")}},

        {"MCN with the right check digit passes", [](CDItem& d) { d.mcn = "1234567890128"; }, {}, true, {}},
        {"MCN with a wrong check digit asks and selects it; No fails",
         [](CDItem& d) { d.mcn = "1234567890125"; },
         {"No"},
         false,
         {question(mcnDigit5)},
         true},
        {"MCN with a wrong check digit; Yes goes on",
         [](CDItem& d) { d.mcn = "1234567890125"; },
         {"Yes"},
         true,
         {question(mcnDigit5)},
         true},
        {"MCN of 12 digits asks for 13",
         [](CDItem& d) { d.mcn = "123456789012"; },
         {"No"},
         false,
         {question(mcnFormat)}},
        {"MCN with a letter asks for 13 digits",
         [](CDItem& d) { d.mcn = "123456789012A"; },
         {"No"},
         false,
         {question(mcnFormat)}},
        {"MCN of 26 digits (twice the pattern) asks for 13",
         [](CDItem& d) { d.mcn = "12345678901281234567890128"; },
         {"Yes"},
         true,
         {question(mcnFormat)}},

        {"Euro sign in the disc title stops",
         [](CDItem& d) { d.discTitle = withChar("Disc", 0x20ac); },
         {},
         false,
         {error("Disc has non ISO 8859-1 character(s) in CD text.")}},
        {"Euro sign in the disc identification is not checked",
         [](CDItem& d) { d.discIdentification = withChar("Disc", 0x20ac); },
         {},
         true,
         {}},
    };

    for (const auto& c : cases)
        run(c);
}

TEST(ProjectValidator, TrackRules)
{
    const auto folder = makeTestFolder("sources");
    const auto present = folder.getChildFile("present.wav");
    present.replaceWithText("audio");
    const auto missing = folder.getChildFile("missing.wav");
    const auto image = folder.getChildFile("session.iso");
    folder.getChildFile("folder.wav").createDirectory();

    const std::vector<Case> cases = {
        {"a data track without index 1 stops",
         [](CDItem& d) { addDataTrack(d, 0, 300); },
         {},
         false,
         {error("Track 3 has no index point 1.")},
         false,
         4},

        {"a track of 99 rows passes", [](CDItem& d) { addIndexes(d, 2, 2, 98); }, {}, true, {}},
        {"a track of 100 rows stops",
         [](CDItem& d) { addIndexes(d, 2, 2, 99); },
         {},
         false,
         {error("Track 2 has more than 99 indexes.")},
         false,
         2},

        {"a pause of 150 and index 1 of 149 frames (299) is too short",
         [](CDItem& d) { row(d, 1).length.frames = 149; },
         {},
         false,
         {error("Track 1 is shorter than 4 seconds.")},
         false,
         0},
        {"leading silence does not lengthen a track",
         [](CDItem& d)
         {
             row(d, 3).length.frames = 149;
             row(d, 3).indexOffset = 75;
         },
         {},
         false,
         {error("Track 2 is shorter than 4 seconds.")},
         false,
         2},

        {"CD-Text on a pause asks; No fails",
         [](CDItem& d) { row(d, 2).title = "Intro"; },
         {"No"},
         false,
         {question("Track 2 has CD Text data on an index point other than 1!\n\nIgnore?")},
         false,
         2},
        {"an index of length 0 asks; No fails",
         [](CDItem& d)
         {
             addIndexes(d, 2, 2, 2);
             row(d, 4).length.frames = 0;
         },
         {"No"},
         false,
         {question("Track 2 has an index point with a length of 0 seconds!\n\nIgnore?")},
         false,
         4},

        {"ISRCs on the first row of each track pass",
         [](CDItem& d)
         {
             row(d, 0).isrc = "DEABC2400001";
             row(d, 2).isrc = "DEABC2400002";
         },
         {},
         true,
         {}},
        {"an ISRC on index 1 after a pause asks with the title Warning!",
         [](CDItem& d) { row(d, 3).isrc = "DEABC2400002"; },
         {"No"},
         false,
         {question(isrcPlacement(2), "Warning!")},
         false,
         3},
        {"an ISRC in lower case asks for the format",
         [](CDItem& d) { row(d, 2).isrc = "deabc2400002"; },
         {"No"},
         false,
         {question(isrcFormat(2))},
         false,
         2},
        {"an ISRC of 11 characters asks for the format",
         [](CDItem& d) { row(d, 2).isrc = "DEABC240000"; },
         {"No"},
         false,
         {question(isrcFormat(2))},
         false,
         2},
        {"Yes on one ISRC format question skips the next",
         [](CDItem& d)
         {
             row(d, 0).isrc = "DE-ABC-24-00001";
             row(d, 2).isrc = "deabc2400002";
         },
         {"Yes"},
         true,
         {question(isrcFormat(1))}},

        {"an existing source file passes", [=](CDItem& d) { setSource(row(d, 1), present); }, {}, true, {}},
        {"a missing source file stops",
         [=](CDItem& d) { setSource(row(d, 3), missing); },
         {},
         false,
         {error("File " + missing.getFullPathName() + " does not exist.")},
         false,
         3},
        {"a folder in place of the source file stops",
         [=](CDItem& d) { setSource(row(d, 1), folder.getChildFile("folder.wav")); },
         {},
         false,
         {error("File " + folder.getFullPathName() + "/folder.wav does not exist.")},
         false,
         1},
        {"a data image moved away stops",
         [=](CDItem& d) { addDataTrack(d, 1, 300, image); },
         {},
         false,
         {error("File " + image.getFullPathName() + " does not exist.")},
         false,
         4},

        {"Euro sign in a title stops",
         [](CDItem& d) { row(d, 1).title = withChar("Caf", 0x20ac); },
         {},
         false,
         {error(notIso(1))},
         false,
         1},
        {"a control character in a title stops",
         [](CDItem& d) { row(d, 3).title = withChar("Tab", 0x09); },
         {},
         false,
         {error(notIso(2))},
         false,
         3},
        {"DEL stops",
         [](CDItem& d) { row(d, 3).title = withChar("Del", 0x7f); },
         {},
         false,
         {error(notIso(2))},
         false,
         3},
        {"a C1 control character stops",
         [](CDItem& d) { row(d, 3).title = withChar("C1", 0x9f); },
         {},
         false,
         {error(notIso(2))},
         false,
         3},
        {"e acute, no-break space, y diaeresis, space and tilde pass",
         [](CDItem& d)
         {
             row(d, 1).title = withChar("Caf", 0xe9);
             row(d, 3).title = withChar(withChar(withChar(" ~", 0xa0), 0xff), 0x20);
         },
         {},
         true,
         {}},
    };

    for (const auto& c : cases)
        run(c);
}

TEST(ProjectValidator, RuleOrder)
{
    const auto missing = makeTestFolder("sources").getChildFile("missing.wav");

    const std::vector<Case> cases = {
        {"80 minutes is asked before the track count",
         [](CDItem& d)
         {
             addTracks(d, 3, 100);
             setLastLength(d, 360000);
         },
         {"Yes"},
         false,
         {question(over80), error("Maximum number of tracks is 99.")}},
        {"No ends the check without further boxes",
         [](CDItem& d)
         {
             setLastLength(d, toEightyMinutes + 1);
             d.mcn = "123";
             row(d, 1).title = withChar("Caf", 0x20ac);
         },
         {"No"},
         false,
         {question(over80)}},
        {"the MCN is checked before the rows",
         [](CDItem& d)
         {
             d.mcn = "1234567890125";
             row(d, 1).length.frames = 1;
         },
         {"Yes"},
         false,
         {question(mcnDigit5), error("Track 1 is shorter than 4 seconds.")},
         true,
         0},
        {"a single row without index 1 is reported before its length",
         [](CDItem& d) { addDataTrack(d, 0, 10); },
         {},
         false,
         {error("Track 3 has no index point 1.")},
         false,
         4},
        {"within a row: ISRC placement, ISRC format, file, character set",
         [=](CDItem& d)
         {
             row(d, 3).isrc = "deabc2400002";
             setSource(row(d, 3), missing);
             row(d, 3).title = withChar("Caf", 0x20ac);
         },
         {"Yes", "Yes"},
         false,
         {question(isrcPlacement(2), "Warning!"), question(isrcFormat(2)),
          error("File " + missing.getFullPathName() + " does not exist.")},
         false,
         3},
        {"ignoring one kind does not ignore another",
         [](CDItem& d)
         {
             row(d, 0).isrc = "deabc2400001";
             row(d, 2).isrc = "deabc2400002";
             row(d, 3).isrc = "DEABC2400002";
         },
         {"Yes", "Yes"},
         true,
         {question(isrcFormat(1)), question(isrcPlacement(2), "Warning!")}},
        {"an earlier row stops before a later one",
         [](CDItem& d)
         {
             row(d, 1).title = withChar("Caf", 0x20ac);
             row(d, 3).length.frames = 1;
         },
         {},
         false,
         {error(notIso(1))},
         false,
         1},
        {"track CD-Text is checked before disc CD-Text",
         [](CDItem& d)
         {
             row(d, 3).title = withChar("Caf", 0x20ac);
             d.discTitle = withChar("Disc", 0x20ac);
         },
         {},
         false,
         {error(notIso(2))},
         false,
         3},
    };

    for (const auto& c : cases)
        run(c);
}

TEST(ProjectValidator, EveryCdTextFieldIsChecked)
{
    using Field = juce::String IndexItem::*;
    using DiscField = juce::String CDItem::*;
    const Field fields[] = {&IndexItem::title,    &IndexItem::performer, &IndexItem::songwriter,
                            &IndexItem::composer, &IndexItem::arranger,  &IndexItem::message};
    const DiscField discFields[] = {&CDItem::discTitle,    &CDItem::discPerformer, &CDItem::discSongwriter,
                                    &CDItem::discComposer, &CDItem::discArranger,  &CDItem::discMessage};

    for (int i = 0; i < 6; ++i)
    {
        SCOPED_TRACE(i);
        CDItem disc;
        arrangeTwoTracks(disc);
        renumberDisc(disc);
        ScriptedAlerts alerts;

        row(disc, 3).*fields[i] = withChar("x", 0x20ac);
        EXPECT_FALSE(ProjectValidator(disc).validate());
        row(disc, 3).*fields[i] = {};
        disc.*discFields[i] = withChar("x", 0x20ac);
        EXPECT_FALSE(ProjectValidator(disc).validate());

        EXPECT_EQ(boxesShown(alerts),
                  (std::vector<std::string>{error(notIso(2)),
                                            error("Disc has non ISO 8859-1 character(s) in CD text.")}));
    }
}

TEST(ProjectValidator, LanguageBecomesEnglishOnlyForADiscWithCdText)
{
    struct LanguageCase
    {
        const char* label;
        Arrange arrange;
        int languageCode;
    };
    const std::vector<LanguageCase> cases = {
        {"no CD-Text keeps 0", [](CDItem&) {}, 0},
        {"one track title gives 9", [](CDItem& d) { row(d, 3).title = "Song"; }, 9},
        {"a disc performer gives 9", [](CDItem& d) { d.discPerformer = "Band"; }, 9},
        {"the disc identification gives 9", [](CDItem& d) { d.discIdentification = "ID"; }, 9},
        {"a genre gives 9", [](CDItem& d) { d.genreCode = 1; }, 9},
        {"another language stays",
         [](CDItem& d)
         {
             d.languageCode = 5;
             row(d, 3).title = "Song";
         },
         5},
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        CDItem disc;
        arrangeTwoTracks(disc);
        c.arrange(disc);
        renumberDisc(disc);
        ScriptedAlerts alerts;

        EXPECT_TRUE(ProjectValidator(disc).validate());
        EXPECT_EQ(disc.languageCode, c.languageCode);
    }
}

TEST(ProjectValidator, FailureLeavesTheDiscUnchangedAndEachCallAsksAfresh)
{
    CDItem disc;
    arrangeTwoTracks(disc);
    row(disc, 3).title = "Song";
    row(disc, 0).isrc = "deabc2400001";
    row(disc, 2).isrc = "deabc2400002";
    renumberDisc(disc);

    ScriptedAlerts alerts;
    ProjectValidator validator(disc);

    alerts.answer("No");
    EXPECT_FALSE(validator.validate());
    EXPECT_EQ(disc.languageCode, 0);

    alerts.answer("Yes");
    EXPECT_TRUE(validator.validate());
    EXPECT_EQ(disc.languageCode, 9);

    EXPECT_EQ(boxesShown(alerts),
              (std::vector<std::string>{question(isrcFormat(1)), question(isrcFormat(1))}));
}
