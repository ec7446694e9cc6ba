#pragma once

#include "model/IndexItem.h"

#include "app/Progress.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_cryptography/juce_cryptography.h>

// The disc: disc-level CD-Text and codes, the index items in row order, the bookkeeping items of
// the lead-in, lead-outs and data-session gap, and the items of a data session. It is also the job
// that writes the DDP fileset on a worker thread behind the progress display ("Please wait...").
//
// Message thread only, except for the writer job, which reads the model while the modal progress
// window blocks all editing.
class CDItem : public ProgressJob
{
public:
    CDItem();
    ~CDItem() override;

    // Rows: 0 is firstPregap, 1..n are indexItems, n+1..n+m are dataItems.
    int getNumRows() const;
    // Row 0 or less: copies only the ISRC into firstPregap; above n: replaces the last index item.
    void setRowItem(int row, IndexItem::Ptr item);
    // Inserts at position row - 1 (0 for row 0 or less); beyond the list, appends.
    void insertRowItem(int row, IndexItem::Ptr item);
    // The item shown in a row, or nullptr outside the rows.
    IndexItem* getRowItem(int row) const;

    // Adds one audio file as a track (with a pause item before it unless it is track 1 or the
    // "defaultpause" setting is 0) at insertionRow, which advances past the new rows. Returns the
    // new track's number, or 0 when the file was refused (a box says why; a wrong sample rate only
    // appends "\r\n" + the file name to rejectedRates).
    int importAudioFile(const juce::String& path, int& insertionRow, juce::String& rejectedRates);
    // The same with the pause ("defaultpause") and index offset ("indexoffset") given, in frames.
    int importAudioFile(const juce::String& path, int& insertionRow, juce::String& rejectedRates, int pause,
                        int offset);

    // Imports files in the order of their names (lower case, character codes) from insertionRow
    // on, with a box for each missing file and one box for all files of a wrong sample rate.
    // pause and offset below 0 are read from the settings at every file.
    void importAudioFiles(juce::Array<juce::File> files, int& insertionRow, int pause = -1, int offset = -1);

    // Any disc or track CD-Text string, or a genre: the fileset then carries CDTEXT.BIN.
    bool hasCdText() const;

    // Empties the project: disc strings, codes, both lists; new first pregap and bookkeeping
    // items. Items that the lists held stay alive while anything else refers to them.
    void clear();

    // CD-Text pack file (bodies in formats/CdText.cpp). Saving replaces any file or folder at path
    // and shows nothing, so the writer job may call it on its thread: false, with errorText for the
    // caller to show and none of its output left behind, when the file cannot be written or the
    // CD-Text needs more packs than one block holds. With no index items it writes nothing and
    // returns true.
    // Loading runs on the message thread and reports its problems through Alerts.
    bool saveCdTextFile(const juce::String& path, juce::String& errorText) const;
    void loadCdTextFile(const juce::String& path);

    // Reads the DDP fileset in folder (full path) into this disc, emptied first, deciphering its
    // control files with cipher, which it keeps as the job's cipher (body in formats/DdpReader).
    // Message thread; every problem is a box. True when the fileset was read; after an error box
    // false, with the disc left empty.
    bool readDdpFileset(const juce::String& folder, juce::BlowFish& cipher);
    // The same for a fileset whose control files are plain (cipher nullptr).
    bool readDdpFileset(const juce::String& folder, const juce::BlowFish* cipher);

    void run() override;

    juce::String discTitle;
    juce::String discPerformer;
    juce::String discSongwriter;
    juce::String discComposer;
    juce::String discArranger;
    juce::String discMessage;
    juce::String discIdentification;
    int genreCode = 0;
    int languageCode = 9;
    juce::String mcn;
    IndexItem::Ptr firstPregap;
    IndexItem::List indexItems;
    IndexItem::Ptr leadIn;
    IndexItem::Ptr audioLeadOut;
    IndexItem::Ptr dataLeadIn;
    IndexItem::Ptr dataLeadOut;
    IndexItem::Ptr leadOut;
    IndexItem::List dataItems;

    // The writer job (run(), body in formats/DdpWriter): when task is 1, writes the DDP fileset
    // into outputFolder. The export sets outputFolder, writeCdText, cipher and task = 1 and empties
    // errorMessage before each run, and reads writeSucceeded, errorMessage and fileChecksums after it.
    juce::String outputFolder;
    bool writeCdText = false;
    bool writeSucceeded = false;
    juce::String errorMessage;
    int task = 0;
    const juce::BlowFish* cipher = nullptr; // the main component's runCipher; not owned
    // PQDESCR, DDPMS and DDPID are written unenciphered (the command-line tool's --plain); the
    // application never sets it.
    bool plainControlFiles = false;
    // Lower-case file name to the Base64 MD5 digest of the file's plain content.
    juce::StringPairArray fileChecksums{true};
    // Tried in order to open source files: the framework's basic formats, then raw CD audio.
    juce::AudioFormatManager audioFormats;

private:
    void createSpecialItems();

    JUCE_DECLARE_NON_COPYABLE(CDItem)
};
