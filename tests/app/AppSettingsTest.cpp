#include "app/AppSettings.h"
#include "app/WindowState.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace
{
// The keys and values of a settings file as it stands on disk, in file order.
std::vector<std::pair<juce::String, juce::String>> readSettingsFile(const juce::File& file)
{
    std::vector<std::pair<juce::String, juce::String>> result;
    auto xml = juce::parseXML(file);
    if (xml == nullptr)
        return result;
    EXPECT_EQ(xml->getTagName(), "PROPERTIES");
    for (auto* value : xml->getChildWithTagNameIterator("VALUE"))
        result.emplace_back(value->getStringAttribute("name"), value->getStringAttribute("val"));
    return result;
}
} // namespace

TEST(AppSettings, LivesInTheConfigFolder)
{
    EXPECT_EQ(AppSettings::getSettingsFile(), TestEnvironment::configHome().getChildFile(
                                                  "Brantwick_Corvane_App/Brantwick_Corvane_App.settings"));
    EXPECT_EQ(AppSettings::getEarlierSettingsFile(),
              TestEnvironment::home().getChildFile("Brantwick_Corvane_App/Brantwick_Corvane_App.settings"));
}

TEST(AppSettings, FirstRunWritesExactlyTheSevenDefaultsInOrder)
{
    AppSettings::getInstance()->getProperties().setNeedsToBeSaved(true);
    AppSettings::deleteInstance(); // saves

    const std::vector<std::pair<juce::String, juce::String>> expected = {
        {"preroll", "10"},         {"indexoffset", "10"}, {"defaultpause", "150"}, {"defaulttablelayout", ""},
        {"lastMainWindowPos", ""}, {"timedisplay", "1"},  {"audioDeviceState", ""}};
    EXPECT_EQ(readSettingsFile(AppSettings::getSettingsFile()), expected);
}

TEST(AppSettings, FirstRunMigratesTheEarlierFileAndAddsNoDefaults)
{
    {
        juce::PropertiesFile earlier(AppSettings::getEarlierSettingsFile(), AppSettings::makeOptions());
        earlier.setValue("defaultpause", "300");
        earlier.setValue("lastMainWindowPos", "10 20 900 650");
        earlier.setValue("incISRC", "1");
        ASSERT_TRUE(earlier.save());
    }

    auto& properties = AppSettings::getInstance()->getProperties();
    // Saved at once, not after the delay.
    const auto onDisk = readSettingsFile(AppSettings::getSettingsFile());
    const std::vector<std::pair<juce::String, juce::String>> expected = {
        {"defaultpause", "300"}, {"lastMainWindowPos", "10 20 900 650"}, {"incISRC", "1"}};
    EXPECT_EQ(onDisk, expected);
    EXPECT_EQ(properties.getAllProperties().size(), 3);
    EXPECT_FALSE(properties.containsKey("preroll"));
    AppSettings::deleteInstance();
}

TEST(AppSettings, AnExistingFileIsReadAsItIs)
{
    {
        juce::PropertiesFile current(AppSettings::getSettingsFile(), AppSettings::makeOptions());
        current.setValue("defaultpause", "75");
        ASSERT_TRUE(current.save());
    }
    {
        juce::PropertiesFile earlier(AppSettings::getEarlierSettingsFile(), AppSettings::makeOptions());
        earlier.setValue("indexoffset", "0");
        ASSERT_TRUE(earlier.save());
    }
    auto& properties = AppSettings::getInstance()->getProperties();
    EXPECT_EQ(properties.getValue("defaultpause"), "75");
    EXPECT_FALSE(properties.containsKey("indexoffset"));
    EXPECT_FALSE(properties.containsKey("preroll"));
    AppSettings::deleteInstance();
}

TEST(AppSettings, ChangesAreSavedAfterTheDelayAndAtShutDown)
{
    auto& properties = AppSettings::getInstance()->getProperties();
    properties.setValue("defaultpause", "200");
    EXPECT_FALSE(AppSettings::getSettingsFile().existsAsFile());
    AppSettings::deleteInstance();
    const auto onDisk = readSettingsFile(AppSettings::getSettingsFile());
    EXPECT_NE(std::find(onDisk.begin(), onDisk.end(),
                        std::make_pair(juce::String("defaultpause"), juce::String("200"))),
              onDisk.end());
}

TEST(WindowState, ParsesOnlyFourPositiveSizedBounds)
{
    struct Case
    {
        const char* text;
        bool accepted;
        bool fullScreen;
        juce::Rectangle<int> bounds;
    };
    const Case cases[] = {
        {"fs 10 20 1000 700", true, true, {10, 20, 1000, 700}},
        {"10 20 1000 700", true, false, {10, 20, 1000, 700}},
        {"  -15\t-30\r\n921 610 ", true, false, {-15, -30, 921, 610}},
        {"10 20 0 700", false, false, {}},
        {"10 20 900 -1", false, false, {}},
        {"10 20 900", false, false, {}},
        {"fs 10 20 900", false, false, {}},
        {"10 20 900 700 5", false, false, {}},
        {"fs 10 20 1000 700 frame 1 2 3 4", false, false, {}},
        {"ten 20 900 700", false, false, {}},
        {"", false, false, {}},
    };
    for (const auto& c : cases)
    {
        const auto state = WindowState::fromString(c.text);
        EXPECT_EQ(state.has_value(), c.accepted) << c.text;
        if (state && c.accepted)
        {
            EXPECT_EQ(state->fullScreen, c.fullScreen) << c.text;
            EXPECT_EQ(state->bounds, c.bounds) << c.text;
        }
    }
}

TEST(WindowState, WritesFullScreenPrefixAndNegativeValues)
{
    EXPECT_EQ((WindowState{true, {120, 80, 921, 610}}).toString(), "fs 120 80 921 610");
    EXPECT_EQ((WindowState{false, {-8, -20, 1000, 700}}).toString(), "-8 -20 1000 700");
}
