#include "app/AppSettings.h"
#include "app/MainComponent.h"
#include "app/MainWindow.h"
#include "support/ScriptedAlerts.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace
{
const juce::String filesAnswer = "Individual Files (WAV, AIFF, FLAC)";
const juce::String cdAnswer = "Audio CD (Physical Disc)";

IndexItem::Ptr audioItem(int track, int index)
{
    IndexItem::Ptr item = new IndexItem();
    item->trackNumber = track;
    item->indexNumber = index;
    item->length.frames = 1000;
    item->folder = "/music";
    item->fileName = "a.wav";
    return item;
}

// Boxes shown while the component was built, other than the source question: the audio warning
// on a machine without a usable output device.
void expectOnlyTheAudioWarningIfNoDevice(const ScriptedAlerts& alerts, MainComponent& component)
{
    const bool noDevice = component.getDeviceManager().getCurrentAudioDevice() == nullptr;
    ASSERT_EQ(alerts.records.size(), noDevice ? 2u : 1u);
    if (noDevice)
    {
        const auto& warning = alerts.records[1];
        EXPECT_EQ(warning.icon, juce::MessageBoxIconType::WarningIcon);
        EXPECT_EQ(warning.title, "Warning!");
        EXPECT_TRUE(warning.message.startsWith("Couldn't open an output device!\n\n")) << warning.message;
        EXPECT_GT(warning.message.length(), juce::String("Couldn't open an output device!\n\n").length());
        EXPECT_EQ(warning.buttons, juce::StringArray{"OK"});
    }
}
} // namespace

TEST(MainComponent, AsksTheSourceTypeAndNamesStepOne)
{
    for (const auto& [answer, isCd, text] :
         {std::make_tuple(cdAnswer, true, "Copy CD"), std::make_tuple(filesAnswer, false, "Load Files")})
    {
        ScriptedAlerts alerts;
        alerts.answer(answer);
        MainComponent component;

        const auto& question = alerts.records.front();
        EXPECT_EQ(question.title, "Master Type");
        EXPECT_EQ(question.icon, juce::MessageBoxIconType::QuestionIcon);
        EXPECT_EQ(question.message, "");
        EXPECT_EQ(question.buttons, (juce::StringArray{cdAnswer, filesAnswer}));
        EXPECT_EQ(component.getSourceIsAudioCd(), isCd);
        EXPECT_EQ(component.getStep1Button().getButtonText(), text);
        EXPECT_EQ(component.getStep1Button().getTooltip(), text);
        EXPECT_EQ(component.getTitleText(), "Brantwick Corvane App");
        expectOnlyTheAudioWarningIfNoDevice(alerts, component);
    }
}

TEST(MainComponent, SourceQuestionShowsItsLabel)
{
    struct Capture : Alerts
    {
        juce::String labelText;
        int labelHeight = 0;
        int show(const AlertRequest& request) override
        {
            if (auto* label = dynamic_cast<juce::Label*>(request.customContent))
            {
                labelText = label->getText();
                labelHeight = label->getHeight();
            }
            return 0;
        }
    } capture;
    Alerts::install(&capture);
    {
        MainComponent component;
    }
    Alerts::install(nullptr);
    EXPECT_EQ(capture.labelText, "Please specify what type of master you want to use as a source.");
    EXPECT_EQ(capture.labelHeight, 72);
}

TEST(MainComponent, QuitCheck)
{
    ScriptedAlerts alerts;
    alerts.answer(filesAnswer);
    MainComponent component;
    const auto shownAtStart = alerts.records.size();

    // An empty disc quits without a question.
    EXPECT_TRUE(component.mayQuitNow());
    EXPECT_EQ(alerts.records.size(), shownAtStart);

    auto& disc = component.getDisc();
    disc.indexItems.add(audioItem(1, 1));
    disc.discTitle = "Album";

    alerts.answer("OK");
    EXPECT_FALSE(component.mayQuitNow());
    ASSERT_EQ(alerts.records.size(), shownAtStart + 1);
    const auto& warning = alerts.records.back();
    EXPECT_EQ(warning.icon, juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ(warning.title, "Warning!");
    EXPECT_EQ(
        warning.message,
        "Warning, you have not completed the upload process. Your content has not been uploaded to our "
        "servers. If you wish to finish your upload now click OK and complete Step 3 before exiting the "
        "software.");
    EXPECT_EQ(warning.buttons, (juce::StringArray{"OK", "Exit"}));
    EXPECT_EQ(disc.indexItems.size(), 1);
    EXPECT_EQ(disc.discTitle, "Album");

    alerts.answer("Exit");
    EXPECT_TRUE(component.mayQuitNow());

    for (auto* mark : {&component.uploadCompleted, &component.closingForUpdate})
    {
        *mark = true;
        EXPECT_TRUE(component.mayQuitNow());
        *mark = false;
    }
    EXPECT_EQ(alerts.records.size(), shownAtStart + 2);
}

TEST(MainComponent, CipherKeyIsTheStartOfTheMd5OfTheNumbersCodePoints)
{
    // Reference values: MD5 of the decimal text encoded as UTF-32LE, first 8 hex digits.
    EXPECT_EQ(MainComponent::digestPrefixFor(12345), "8d48bea5");
    EXPECT_EQ(MainComponent::digestPrefixFor(-7), "b4af52ab");
    EXPECT_EQ(MainComponent::digestPrefixFor(0), "9f30f3d1");
    EXPECT_EQ(MainComponent::digestPrefixFor(2147483647), "cf1ab742");
}

TEST(MainComponent, ClearDiscKeepsItemsHeldElsewhere)
{
    ScriptedAlerts alerts;
    alerts.answer(filesAnswer);
    MainComponent component;
    auto& disc = component.getDisc();
    auto held = audioItem(1, 1);
    disc.indexItems.add(held);
    disc.indexItems.add(audioItem(2, 1));
    IndexItem::Ptr heldPregap = disc.firstPregap;

    component.clearDisc();

    EXPECT_EQ(disc.getNumRows(), 0);
    EXPECT_EQ(held->fileName, "a.wav");
    EXPECT_EQ(held->getReferenceCount(), 1);
    EXPECT_EQ(heldPregap->length.frames, 150);
    EXPECT_NE(disc.firstPregap, heldPregap);
}

TEST(MainComponent, DestructionRemovesTheMasterFolderAndTheWorkingFiles)
{
    const auto temp = juce::File::getSpecialLocation(juce::File::tempDirectory);
    ASSERT_EQ(temp, TestEnvironment::temp());
    const auto master = makeTestFolder("1a2b3c4d");
    ASSERT_TRUE(master.getChildFile("IMAGE.DAT").replaceWithText("x"));
    ASSERT_TRUE(temp.getChildFile("audio.wav").replaceWithText("x"));
    ASSERT_TRUE(temp.getChildFile("data.iso").replaceWithText("x"));
    const auto unrelated = temp.getChildFile("keep.wav");
    ASSERT_TRUE(unrelated.replaceWithText("x"));

    {
        ScriptedAlerts alerts;
        alerts.answer(filesAnswer);
        MainComponent component;
        component.masterFolder = master;
    }

    EXPECT_FALSE(master.exists());
    EXPECT_FALSE(temp.getChildFile("audio.wav").exists());
    EXPECT_FALSE(temp.getChildFile("data.iso").exists());
    EXPECT_TRUE(unrelated.exists());
}

TEST(MainWindow, RestoresAndSavesTheWindowState)
{
    struct Case
    {
        const char* stored;
        bool fullScreen;
        juce::Rectangle<int> bounds;
        const char* savedAgain;
    };
    const Case cases[] = {
        {"fs 10 20 1000 700", true, {10, 20, 1000, 700}, "fs 10 20 1000 700"},
        {"10 20 0 700", false, {}, nullptr}, // ignored: centred default
        {"", false, {}, nullptr},
    };
    for (const auto& c : cases)
    {
        AppSettings::getInstance()->getProperties().setValue("lastMainWindowPos", c.stored);
        ScriptedAlerts alerts;
        alerts.answer(filesAnswer);
        auto window = std::make_unique<MainWindow>();
        window->setVisible(true);
        EXPECT_EQ(window->getName(), "Brantwick Corvane App") << c.stored;
        EXPECT_EQ(window->isFullScreen(), c.fullScreen) << c.stored;
        if (c.savedAgain != nullptr)
        {
            EXPECT_EQ(window->getWindowState(), juce::String(c.savedAgain));
        }
        else
        {
            EXPECT_EQ(window->getWidth(), 921) << c.stored;
            EXPECT_EQ(window->getHeight(), 610) << c.stored;
        }
        window.reset();
        const auto saved = AppSettings::getInstance()->getProperties().getValue("lastMainWindowPos");
        if (c.savedAgain != nullptr)
            EXPECT_EQ(saved, juce::String(c.savedAgain));
        else
            EXPECT_TRUE(saved.endsWith(" 921 610")) << saved;
    }
    AppSettings::deleteInstance();
}
