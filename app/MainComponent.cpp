#include "app/MainComponent.h"

#include "app/Alerts.h"
#include "app/AppSettings.h"
#include "app/FileChoice.h"
#include "formats/DummyAudioFormat.h"
#include "formats/RawAudioFormat.h"
#include "model/IndexItemChangeAction.h"
#include "model/IndexItemsChangeAction.h"
#include "model/ProjectValidator.h"
#include "model/Renumbering.h"

namespace
{
const juce::String applicationName("Brantwick Corvane App");

// The label inside the source-type question.
class SourceQuestionLabel : public juce::Label
{
public:
    SourceQuestionLabel() : juce::Label({}, "Please specify what type of master you want to use as a source.")
    {
        setJustificationType(juce::Justification::centred);
    }
};
} // namespace

MainComponent::MainComponent()
{
    // 1. Device, player, disc (created with its members), format managers, undo manager and the
    //    read-ahead thread are members; the random generator is seeded here.
    // DDP image files read back after an export play as raw CD audio.
    for (auto* formats : {&playbackFormats, &importFormats})
    {
        formats->registerBasicFormats();
        formats->registerFormat(new RawAudioFormat(), false);
    }
    std::srand(static_cast<unsigned>(juce::Time::currentTimeMillis()));

    // 2. Controls of the main window.
    addAndMakeVisible(step1Button);
    for (auto* editor : {&albumTitleEditor, &performerEditor, &mcnEditor})
    {
        editor->setMultiLine(false);
        addAndMakeVisible(editor);
    }
    mcnEditor.setVisible(false);
    totalLengthLabel.setEditable(false);
    totalLengthLabel.setWantsKeyboardFocus(false);
    addAndMakeVisible(totalLengthLabel);

    // 3. The source type, asked before the main window is shown.
    askSourceType();

    // 4. The track table goes here; then the read-ahead thread starts.
    readAheadThread.startThread();

    // 5. Audio output.
    openAudioDevice();

    // 6. Title.
    titleText = applicationName;
    setName(titleText);

    // 7. The table layout is restored here.

    // 8. An empty project.
    newProject();

    // 9. The service's base URL was read when the plant connection was constructed.

    // 10. The per-run cipher of the DDP control files; its key exists only in memory.
    const auto key = digestPrefixFor(juce::Random(juce::Time::currentTimeMillis()).nextInt());
    runCipher = std::make_unique<juce::BlowFish>(key.toRawUTF8(), key.getNumBytesAsUTF8());

    // 11. Keyboard.
    setWantsKeyboardFocus(true);
    previousKeyUsed = false;
    nextKeyUsed = false;
}

MainComponent::~MainComponent()
{
    // 1. The table layout is saved here.

    // 2. Audio off before anything it reads goes away.
    deviceManager.removeAudioCallback(&audioSourcePlayer);
    audioSourcePlayer.setSource(nullptr);
    player.stop();
    player.clearSources();

    // 3. Children.
    removeAllChildren();

    // 4, 5. The exported master and the working files of a CD import.
    if (masterFolder != juce::File() && masterFolder.exists())
        masterFolder.deleteRecursively();

    const auto temp = juce::File::getSpecialLocation(juce::File::tempDirectory);
    for (auto name : {"audio.wav", "data.iso"})
        if (temp.getChildFile(name).existsAsFile())
            temp.getChildFile(name).deleteFile();

    // 6. The remaining members go in reverse order of declaration.
    readAheadThread.stopThread(2000);
}

void MainComponent::askSourceType()
{
    SourceQuestionLabel label;
    label.setSize(400, 72);

    AlertRequest request;
    request.icon = juce::MessageBoxIconType::QuestionIcon;
    request.title = "Master Type";
    request.customContent = &label;
    request.buttons = {{"Audio CD (Physical Disc)", 1}, {"Individual Files (WAV, AIFF, FLAC)", 0}};

    sourceIsAudioCd = Alerts::get().show(request) == 1;

    const juce::String step1Text = sourceIsAudioCd ? "Copy CD" : "Load Files";
    step1Button.setButtonText(step1Text);
    step1Button.setTooltip(step1Text);
}

void MainComponent::openAudioDevice()
{
    const auto stateText = AppSettings::getInstance()->getProperties().getValue("audioDeviceState", {});
    const auto state = juce::parseXML(stateText);

    auto error = deviceManager.initialise(0, 2, state.get(), true, {}, nullptr);

    // The device layer reports no error when there is no output device at all; that is as much a
    // failure to open one as any other.
    if (error.isEmpty() && deviceManager.getCurrentAudioDevice() == nullptr)
        error = "No audio output device is available.";

    if (error.isNotEmpty())
    {
        Alerts::get().show({juce::MessageBoxIconType::WarningIcon,
                            "Warning!",
                            "Couldn't open an output device!\n\n" + error,
                            {{"OK", 0}}});
        return;
    }

    audioSourcePlayer.setSource(&player);
    deviceManager.addAudioCallback(&audioSourcePlayer);
}

bool MainComponent::mayQuitNow()
{
    if (disc.indexItems.isEmpty() || uploadCompleted || closingForUpdate)
        return true;

    const bool stay = Alerts::askOkCancel(
        juce::MessageBoxIconType::WarningIcon, "Warning!",
        "Warning, you have not completed the upload process. Your content has not been uploaded to our "
        "servers. If you wish to finish your upload now click OK and complete Step 3 before exiting the "
        "software.",
        "OK", "Exit");
    return !stay;
}

void MainComponent::clearDisc()
{
    disc.clear();
}

int MainComponent::getImportInsertionRow(int selectedRow) const
{
    const auto n = disc.indexItems.size();
    const auto end = n + 1;

    if (selectedRow < 0 ||
        disc.getRowItem(juce::jmin(selectedRow, n))->trackNumber == disc.getRowItem(n)->trackNumber)
        return end;

    const auto* selected = disc.getRowItem(selectedRow);
    if (selected == nullptr)
        return end;

    for (int row = n - 1; row >= 1; --row)
        if (disc.getRowItem(row)->trackNumber == selected->trackNumber)
            return row + 1;
    return end;
}

bool MainComponent::importAudioFiles(int selectedRow)
{
    int insertionRow = getImportInsertionRow(selectedRow);

    auto files =
        FileChoice::get().chooseFilesToOpen("Open one or more files...", "*.wav;*.aif;*.aiff;*.aifc;*.flac");
    if (files.isEmpty())
        return false;

    // The undo snapshot keeps the item objects themselves; the import works on copies of them.
    const IndexItem::List indexBefore(disc.indexItems);
    const IndexItem::List dataBefore(disc.dataItems);
    const IndexItem audioLeadOutBefore(*disc.audioLeadOut);
    const IndexItem dataLeadInBefore(*disc.dataLeadIn);
    for (auto* list : {&disc.indexItems, &disc.dataItems})
    {
        IndexItem::List copies;
        for (auto* item : *list)
            copies.add(new IndexItem(*item));
        *list = copies;
    }
    const IndexItem::List copiesBefore(disc.indexItems);

    disc.importAudioFiles(files, insertionRow);

    rebuildPlayerSources();

    if (disc.indexItems.size() == indexBefore.size() && disc.dataItems.size() == dataBefore.size())
    {
        disc.indexItems = indexBefore;
        disc.dataItems = dataBefore;
        *disc.audioLeadOut = audioLeadOutBefore;
        *disc.dataLeadIn = dataLeadInBefore;
        return false;
    }

    if (Alerts::askYesNo("CD-Text",
                         "Would you like to use the file names as Song Titles (for CD-Text)?\r\n\r\n"
                         "You can also add or edit CD-Text info after your files are imported."))
    {
        for (auto* item : disc.indexItems)
        {
            if (copiesBefore.contains(item) || item->indexNumber != 1)
                continue;
            const auto lowerName = item->fileName.toLowerCase();
            for (auto extension : {".wav", ".aif", ".aiff", ".aifc", ".flac"})
                if (lowerName.endsWith(extension))
                {
                    item->title = item->fileName.upToFirstOccurrenceOf(".", false, false);
                    break;
                }
        }
    }

    undoManager.beginNewTransaction();
    undoManager.perform(
        new IndexItemChangeAction(disc.audioLeadOut, audioLeadOutBefore, *disc.audioLeadOut, *this),
        "Add file(s)");
    undoManager.perform(
        new IndexItemChangeAction(disc.dataLeadIn, dataLeadInBefore, *disc.dataLeadIn, *this));
    undoManager.perform(new IndexItemsChangeAction(disc.indexItems, indexBefore, disc.indexItems, *this));
    undoManager.perform(new IndexItemsChangeAction(disc.dataItems, dataBefore, disc.dataItems, *this));

    Alerts::info("Song Order",
                 "To change the song order, click on a track number and drag it to the desired position.");
    return true;
}

bool MainComponent::exportMaster()
{
    if (masterLocked)
        return true;

    if (!validateProject())
        return false;

    // The writer and everything after it work on copies; the user's items stay in savedIndexItems.
    savedIndexItems = disc.indexItems;
    IndexItem::List copies;
    for (auto* item : disc.indexItems)
        copies.add(new IndexItem(*item));
    disc.indexItems = copies;

    const auto previousFolder = masterFolder;
    const auto name = digestPrefixFor(juce::Random(juce::Time::currentTimeMillis()).nextInt());
    masterFolder = juce::File::getSpecialLocation(juce::File::tempDirectory).getChildFile(name);
    if (!masterFolder.createDirectory())
    {
        Alerts::error("Couldn't create the master folder " + masterFolder.getFullPathName() + ".");
        return false;
    }

    contentDigests.clear();

    disc.outputFolder = masterFolder.getFullPathName();
    disc.writeCdText = disc.hasCdText();
    disc.cipher = runCipher.get();
    disc.task = 1;
    disc.errorMessage = {};
    const bool finished = disc.runThread();

    if (!finished)
    {
        Alerts::get().show({juce::MessageBoxIconType::WarningIcon, "Ready", "User abort.", {{"OK", 0}}});
        return false;
    }

    contentDigests.addArray(disc.fileChecksums);

    if (!disc.writeSucceeded)
    {
        Alerts::get().show({juce::MessageBoxIconType::WarningIcon, "Error", disc.errorMessage, {{"OK", 0}}});
        return false;
    }

    if (!writeFiletype(masterFolder, sourceIsAudioCd))
        return false;

    newProject();

    const bool readBack = disc.readDdpFileset(masterFolder.getFullPathName(), *runCipher);
    if (!readBack)
        clearDisc();

    renumber();
    updateTable();
    if (auto* top = getTopLevelComponent(); top != nullptr && top != this)
        top->setName(titleText);
    showDiscInfo();
    rebuildPlayerSources();

    if (!readBack)
        return false;

    if (previousFolder != juce::File() && previousFolder.exists())
        previousFolder.deleteRecursively();
    step1Button.setEnabled(false);
    return true;
}

bool MainComponent::validateProject()
{
    return ProjectValidator(disc, [this](juce::Range<int> digit) { mcnEditor.setHighlightedRegion(digit); })
        .validate();
}

void MainComponent::newProject()
{
    clearDisc();
    updateTable();
    totalLengthLabel.setText(CDDuration::toTimeString(0), juce::dontSendNotification);
    showDiscInfo(true);
    // The position display resets here.
    player.stop();
    player.clearSources();
    undoManager.clearUndoHistory();
    closingForUpdate = false;
    uploadCompleted = false;
}

void MainComponent::renumber()
{
    const auto totalFrames = renumberDisc(disc);
    totalLengthLabel.setText(CDDuration::toTimeString(totalFrames), juce::dontSendNotification);
}

void MainComponent::updateTable()
{
    // The track table re-reads its row count and repaints here.
}

void MainComponent::rebuildPlayerSources()
{
    constexpr int readAheadSamples = 32768;
    player.clearSources();

    auto addSilence = [this](juce::int64 samples)
    {
        auto* reader = new DummyAudioFormatReader(nullptr);
        reader->lengthInSamples = samples;
        auto entry = std::make_unique<PlayerEntry>(
            std::make_unique<juce::AudioFormatReaderSource>(reader, true), 0, samples);
        player.addSource(std::move(entry), readAheadSamples, &readAheadThread, reader->sampleRate);
    };

    int previousRemainder = 0;
    for (int row = 0; row <= disc.indexItems.size(); ++row)
    {
        const auto& item = *disc.getRowItem(row);
        const auto carried = previousRemainder;
        previousRemainder = item.remainderSamples;

        if (item.fileName.isEmpty())
        {
            addSilence(juce::int64(item.length.frames) * cdtime::samplesPerFrame);
            continue;
        }

        if (item.indexOffset > 0)
            addSilence(juce::int64(item.indexOffset) * cdtime::samplesPerFrame);

        const auto path = item.folder + "/" + item.fileName;
        const juce::File file(path);
        if (!juce::File::isAbsolutePath(path) || !file.existsAsFile())
        {
            Alerts::error("File " + path + " does not exist.");
            return;
        }

        // Every format in turn on the same stream, rewound between attempts; the raw format comes last.
        auto reader = std::unique_ptr<juce::AudioFormatReader>(
            playbackFormats.createReaderFor(file.createInputStream()));
        if (reader == nullptr)
            continue;

        const auto start = juce::int64(item.sourceOffset.frames) * cdtime::samplesPerFrame;
        const auto end =
            juce::int64(item.sourceOffset.frames + item.length.frames) * cdtime::samplesPerFrame +
            item.remainderSamples - carried;
        const auto rate = reader->sampleRate;
        const bool notSixteenBits = reader->bitsPerSample != 16;
        auto entry = std::make_unique<PlayerEntry>(
            std::make_unique<juce::AudioFormatReaderSource>(reader.release(), true), start, end);
        entry->notSixteenBits = notSixteenBits;
        player.addSource(std::move(entry), readAheadSamples, &readAheadThread, rate);
    }
}

void MainComponent::showDiscInfo(bool clear)
{
    const std::pair<juce::TextEditor*, juce::String> fields[] = {
        {&albumTitleEditor, disc.discTitle}, {&performerEditor, disc.discPerformer}, {&mcnEditor, disc.mcn}};

    for (const auto& [editor, text] : fields)
    {
        const auto shown = clear ? juce::String() : text;
        editor->setText(shown, juce::dontSendNotification);
        editor->setHighlightedRegion({});
        editor->setCaretPosition(0);
        editor->setTooltip(shown);
    }
}

bool MainComponent::writeFiletype(const juce::File& folder, bool sourceIsAudioCd)
{
    const auto filetype = folder.getChildFile("Filetype.txt");
    juce::FileOutputStream out(filetype, 32768);
    const juce::String text =
        juce::String("Mastertype: ") + (sourceIsAudioCd ? "Audio CD" : "Individual Files");
    if (!out.openedOk() || !out.writeText(text, false, false, nullptr) ||
        (out.flush(), out.getStatus().failed()))
    {
        Alerts::error("Couldn't write " + filetype.getFullPathName() + ".");
        return false;
    }
    return true;
}

juce::String MainComponent::digestPrefixFor(int randomNumber)
{
    return juce::MD5::fromUTF32(juce::String(randomNumber)).toHexString().substring(0, 8);
}

void MainComponent::resized()
{
    const auto w = getWidth();
    const auto y0 = getY();
    step1Button.setBounds(w - 150, 50 - y0, 120, 26);
    int i = 0;
    for (auto* editor : {&albumTitleEditor, &performerEditor, &mcnEditor})
        editor->setBounds(w - 150, 290 + 30 * i++ - y0, 120, 24);
    totalLengthLabel.setBounds(w - 100, 400 - y0, 70, 24);
}
