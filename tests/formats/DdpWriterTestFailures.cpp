#include "DdpWriterTestSupport.h"

using namespace ddptest;

namespace
{
const juce::BlowFish& testCipher()
{
    static const juce::BlowFish cipher("failures", 8);
    return cipher;
}

// Two tracks of one second each.
void addTwoTracks(CDItem& disc, const juce::File& sources)
{
    const auto a = makeSource16(sources, "a", noise16(2 * 44100, 1));
    const auto b = makeSource16(sources, "b", noise16(2 * 44100, 2));
    disc.indexItems.add(fileItem(1, 1, a, 44100));
    disc.indexItems.add(item(2, 0, 150));
    disc.indexItems.add(fileItem(2, 1, b, 44100));
}

juce::StringArray filesIn(const juce::File& folder)
{
    juce::StringArray names;
    for (const auto& f : folder.findChildFiles(juce::File::findFilesAndDirectories, false))
        names.add(f.getFileName());
    names.sort(false);
    return names;
}

// Runs the action on the n-th time the status appears.
std::function<void()> onOccurrence(StatusHooks& hooks, const juce::String& status, int n,
                                   std::function<void()> action)
{
    return [&hooks, status, n, action]
    {
        int seen = 0;
        for (const auto& s : hooks.statuses)
            seen += s == status;
        if (seen == n)
            action();
    };
}

const juce::String checksumStatus = "Calculating MD5 checksums...\r\n\r\n(this can take a while)";
} // namespace

// A stop request ends the job with "Process interrupted." wherever it arrives; what was written
// before stays, and nothing is written after it.
TEST(DdpWriterFailure, ExitRequestEndsTheJobAsInterrupted)
{
    struct Case
    {
        const char* label;
        juce::String status;
        int occurrence;
        juce::StringArray files;
    };
    const std::vector<Case> cases{
        {"before the first pass", "Preparing to write...", 1, {}},
        {"at the second track", "Writing image...", 2, {"IMAGE.DAT"}},
        {"at the checksums",
         checksumStatus,
         1,
         {"DDPID", "DDPMS", "IMAGE.DAT", "MD5-Checksum.md5", "PQDESCR"}},
    };

    const auto sources = makeTestFolder("sources");
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        CDItem disc;
        addTwoTracks(disc, sources);
        disc.writeSucceeded = true; // from an earlier run
        StatusHooks hooks;
        hooks.actions[c.status] = onOccurrence(hooks, c.status, c.occurrence, requestExit);
        const auto out =
            makeTestFolder(juce::String("out") + juce::String(c.occurrence) + c.status.substring(0, 3));
        runWriter(disc, out, testCipher(), false, &hooks);

        EXPECT_FALSE(disc.writeSucceeded);
        EXPECT_EQ(disc.errorMessage, "Process interrupted.");
        EXPECT_EQ(filesIn(out).joinIntoString(","), c.files.joinIntoString(","));
        if (c.occurrence == 2)
            EXPECT_EQ(out.getChildFile("IMAGE.DAT").getSize(), (150 + 75) * 2352); // track 1 only
    }
}

// Values that would not keep a record at its fixed length, a folder that already holds part of a
// fileset, and an empty project are refused before any file is written.
TEST(DdpWriterFailure, RefusalsWriteNothing)
{
    struct Case
    {
        const char* label;
        std::function<void(CDItem&, const juce::File&)> setUp;
        juce::String message;
    };
    const std::vector<Case> cases{
        {"two MCNs", [](CDItem& d, const juce::File&) { d.mcn = "40063813339314006381333931"; },
         "The MCN \"40063813339314006381333931\" cannot be written: the catalogue number field holds at most "
         "13 "
         "plain ASCII characters."},
        {"MCN beyond ASCII",
         [](CDItem& d, const juce::File&) { d.mcn = juce::String::fromUTF8("40063813339\xc3\xa9"); },
         "The MCN \"" + juce::String::fromUTF8("40063813339\xc3\xa9") + "\" cannot be written"},
        {"13-character ISRC", [](CDItem& d, const juce::File&) { d.indexItems[2]->isrc = "DEABC24000012"; },
         "The ISRC \"DEABC24000012\" of track 2 cannot be written: the ISRC field holds at most 12 plain "
         "ASCII "
         "characters."},
        {"ISRC of the first pregap",
         [](CDItem& d, const juce::File&) { d.firstPregap->isrc = "DEABC2400001DEABC2400001"; },
         "The ISRC \"DEABC2400001DEABC2400001\" of track 1 cannot be written"},
        {"leftover image", [](CDItem&, const juce::File& out) { out.getChildFile("IMAGE.DAT").create(); },
         "already holds a file IMAGE.DAT."},
        {"empty project", [](CDItem& d, const juce::File&) { d.indexItems.clear(); }, "Empty project."},
    };

    const auto sources = makeTestFolder("sources");
    int n = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        CDItem disc;
        addTwoTracks(disc, sources);
        disc.writeSucceeded = true;
        const auto out = makeTestFolder("out" + juce::String(++n));
        c.setUp(disc, out);
        const auto before = filesIn(out);

        runWriter(disc, out, testCipher());
        EXPECT_FALSE(disc.writeSucceeded);
        EXPECT_TRUE(disc.errorMessage.startsWith(c.message) || disc.errorMessage.endsWith(c.message))
            << disc.errorMessage;
        EXPECT_EQ(filesIn(out), before);
    }
}

TEST(DdpWriterFailure, SourcesThatCannotBeReadNameTheFile)
{
    const auto sources = makeTestFolder("sources");
    const auto junk = sources.getChildFile("junk.bin");
    junk.replaceWithText("not audio in any format");

    struct Case
    {
        const char* label;
        juce::String fileName;
        bool rawFormat;
    };
    int n = 0;
    for (const auto& c : {Case{"missing", "gone.wav", true}, Case{"no format reads it", "junk.bin", false}})
    {
        SCOPED_TRACE(c.label);
        CDItem disc;
        addTwoTracks(disc, sources);
        disc.indexItems[2]->fileName = c.fileName;
        if (!c.rawFormat)
        {
            disc.audioFormats.clearFormats();
            disc.audioFormats.registerBasicFormats();
        }
        const auto out = makeTestFolder("out" + juce::String(++n));
        runWriter(disc, out, testCipher());

        EXPECT_FALSE(disc.writeSucceeded);
        EXPECT_EQ(disc.errorMessage, "Error opening file " + c.fileName + ".");
        EXPECT_FALSE(out.getChildFile("PQDESCR").exists());
    }
}

// A file that cannot be created or written fails the job with a message naming it; the job never
// reports success after such a failure.
TEST(DdpWriterFailure, FilesThatCannotBeCreatedOrWrittenFailTheJob)
{
    struct Case
    {
        juce::String status;
        juce::String file;
        bool diskFull; // a link to /dev/full in its place, else a folder of that name
        juce::String message;
    };
    const std::vector<Case> cases{
        {"Writing image...", "IMAGE.DAT", false, "Error creating file."},
        {"Writing image...", "IMAGE.DAT", true, "Error writing data."},
        {"Writing PQDESCR...", "PQDESCR", false, "Error creating file PQDESCR."},
        {"Writing PQDESCR...", "PQDESCR", true, "Error writing file PQDESCR."},
        {"Writing DDPMS...", "DDPMS", false, "Error creating file DDPMS."},
        {"Writing DDPID...", "DDPID", true, "Error writing file DDPID."},
        {checksumStatus, "MD5-Checksum.md5", false, "Error creating file MD5-Checksum.md5."},
        {checksumStatus, "MD5-Checksum.md5", true, "Error writing file MD5-Checksum.md5."},
    };

    const auto sources = makeTestFolder("sources");
    int n = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.message);
        CDItem disc;
        addTwoTracks(disc, sources);
        const auto out = makeTestFolder("out" + juce::String(++n));
        const auto target = out.getChildFile(c.file);
        StatusHooks hooks;
        hooks.actions[c.status] = [&target, diskFull = c.diskFull]
        {
            if (target.exists())
                return;
            if (diskFull)
                juce::File("/dev/full").createSymbolicLink(target, false);
            else
                target.createDirectory();
        };
        runWriter(disc, out, testCipher(), false, &hooks);

        EXPECT_FALSE(disc.writeSucceeded);
        EXPECT_EQ(disc.errorMessage, c.message);
    }
}

// CD-Text too long for one block is refused by the CD-Text writer; the job fails with its message
// and writes no map stream that would describe a file that is not there.
TEST(DdpWriterFailure, RefusedCdTextFailsTheJobWithItsMessage)
{
    const auto sources = makeTestFolder("sources");
    CDItem disc;
    addTwoTracks(disc, sources);
    disc.discTitle = juce::String::repeatedString("Very long title ", 300);

    juce::String expected;
    ASSERT_FALSE(
        disc.saveCdTextFile(makeTestFolder("probe").getChildFile("CDTEXT.BIN").getFullPathName(), expected));
    ASSERT_TRUE(expected.isNotEmpty());

    const auto out = makeTestFolder("out");
    runWriter(disc, out, testCipher(), true);
    EXPECT_FALSE(disc.writeSucceeded);
    EXPECT_EQ(disc.errorMessage, expected);
    EXPECT_FALSE(out.getChildFile("CDTEXT.BIN").exists());
    EXPECT_FALSE(out.getChildFile("DDPMS").exists());
    EXPECT_FALSE(out.getChildFile("MD5-Checksum.md5").exists());
}
