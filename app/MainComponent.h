#pragma once

#include "app/Alerts.h"
#include "model/CDItem.h"
#include "playback/MultipleAudioTransportSource.h"
#include "upload/PlantConnection.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_cryptography/juce_cryptography.h>
#include <juce_gui_extra/juce_gui_extra.h>

#include <atomic>

// The main window's content and the hub of the application: it owns the disc, the undo manager,
// the audio device and player, the track table and the controls; its connection to the plant
// (service calls, upload, the per-run cipher) is the PlantConnection it is.
// Lives on the message thread for as long as the main window.
class MainComponent : public juce::Component, public juce::DragAndDropContainer, public PlantConnection
{
public:
    MainComponent();
    ~MainComponent() override;

    // Asked by the application's quit check: true when nothing would be lost.
    bool mayQuitNow();

    // Empties the disc; items still referenced elsewhere (the undo history) stay alive.
    void clearDisc();
    // A fresh project: empty disc, no player sources, empty undo history, upload marks cleared.
    void newProject();
    // Asks for audio files and adds them as tracks after the selected row's track (or at the end
    // for -1), as one undoable step. True when rows were added.
    bool importAudioFiles(int selectedRow);
    // Where an import puts its first row, given the selected row (-1 for none).
    int getImportInsertionRow(int selectedRow) const;

    // Validates, writes the DDP fileset into a fresh master folder, adds Filetype.txt and reads the
    // fileset back into the disc. True when done, or at once while the master is locked.
    bool exportMaster();

    // Checks the disc against the replication rules, asking where a rule may be ignored.
    bool validateProject();

    // Repairs numbers and positions of the disc and shows its total length.
    void renumber();
    // The track table re-reads its rows.
    void updateTable();
    // Rebuilds the player's list of sources from the disc.
    void rebuildPlayerSources();
    // Puts discTitle, discPerformer and mcn into the three disc fields without notifications;
    // clear empties the fields instead.
    void showDiscInfo(bool clear = false);

    // The first 8 lower-case hex digits of the MD5 of a number's decimal text taken as 32-bit
    // code points: the key of the per-run cipher and the name of a master folder.
    static juce::String digestPrefixFor(int randomNumber);

    // Writes the master's Filetype.txt, which tells the plant what the master was made from;
    // false after "Couldn't write ..." has been shown.
    static bool writeFiletype(const juce::File& folder, bool sourceIsAudioCd);

    void resized() override;

    CDItem& getDisc() { return disc; }
    juce::UndoManager& getUndoManager() { return undoManager; }
    juce::AudioDeviceManager& getDeviceManager() { return deviceManager; }
    MultipleAudioTransportSource& getPlayer() { return player; }
    const juce::String& getTitleText() const { return titleText; }
    bool getSourceIsAudioCd() const { return sourceIsAudioCd; }
    juce::TextButton& getStep1Button() { return step1Button; }
    juce::TextEditor& getAlbumTitleEditor() { return albumTitleEditor; }
    juce::TextEditor& getPerformerEditor() { return performerEditor; }
    juce::TextEditor& getMcnEditor() { return mcnEditor; }
    juce::Label& getTotalLengthLabel() { return totalLengthLabel; }
    juce::BlowFish& getRunCipher() { return *runCipher; }

    bool uploadCompleted = false;
    bool previousKeyUsed = false;
    bool nextKeyUsed = false;

    // The folder of the exported master; removed when the component is destroyed.
    juce::File masterFolder;
    // The audio items as they were before the last export.
    IndexItem::List savedIndexItems;
    // The master is exported and locked; the disc is then read-only.
    bool masterLocked = false;

private:
    void askSourceType();
    void openAudioDevice();

    juce::AudioDeviceManager deviceManager;
    juce::AudioSourcePlayer audioSourcePlayer;
    CDItem disc;
    juce::AudioFormatManager playbackFormats;
    juce::AudioFormatManager importFormats;
    juce::UndoManager undoManager;
    juce::TimeSliceThread readAheadThread{"audio file preview"};
    // After the read-ahead thread, which must outlive it.
    MultipleAudioTransportSource player;

    juce::TextButton step1Button;
    juce::TextEditor albumTitleEditor;
    juce::TextEditor performerEditor;
    juce::TextEditor mcnEditor;
    juce::Label totalLengthLabel{{}, "00:00:00"};

    juce::String titleText;
    bool sourceIsAudioCd = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MainComponent)
};
