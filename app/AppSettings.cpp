#include "app/AppSettings.h"

JUCE_IMPLEMENT_SINGLETON(AppSettings)

namespace
{
const juce::String applicationName("Brantwick Corvane App");

juce::String settingsName()
{
    return applicationName.replaceCharacter(' ', '_');
}
} // namespace

juce::PropertiesFile::Options AppSettings::makeOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = settingsName();
    options.folderName = settingsName();
    options.filenameSuffix = ".settings";
    options.osxLibrarySubFolder = "Application Support";
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = false;
    options.millisecondsBeforeSaving = 3000;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    options.processLock = nullptr;
    return options;
}

juce::File AppSettings::getSettingsFile()
{
    auto configHome = juce::SystemStats::getEnvironmentVariable("XDG_CONFIG_HOME", {});
    auto base = juce::File::isAbsolutePath(configHome) ? juce::File(configHome) : juce::File("~/.config");
    return base.getChildFile(settingsName()).getChildFile(settingsName() + ".settings");
}

juce::File AppSettings::getEarlierSettingsFile()
{
    return juce::File("~").getChildFile(settingsName()).getChildFile(settingsName() + ".settings");
}

const juce::StringPairArray& AppSettings::firstRunDefaults()
{
    static const juce::StringPairArray defaults = []
    {
        juce::StringPairArray d(false);
        d.set("preroll", "10");
        d.set("indexoffset", "10");
        d.set("defaultpause", "150");
        d.set("defaulttablelayout", "");
        d.set("lastMainWindowPos", "");
        d.set("timedisplay", "1");
        d.set("audioDeviceState", "");
        return d;
    }();
    return defaults;
}

AppSettings::AppSettings()
{
    const auto options = makeOptions();
    const auto file = getSettingsFile();
    properties = std::make_unique<juce::PropertiesFile>(file, options);

    if (file.getFullPathName().isNotEmpty() && file.existsAsFile())
        return;

    const auto earlierFile = getEarlierSettingsFile();
    if (earlierFile.existsAsFile())
    {
        juce::PropertiesFile earlier(earlierFile, options);
        properties->addAllPropertiesFrom(earlier);
        properties->saveIfNeeded();
        return;
    }

    const auto& defaults = firstRunDefaults();
    for (int i = 0; i < defaults.size(); ++i)
        properties->setValue(defaults.getAllKeys()[i], defaults.getAllValues()[i]);
}

AppSettings::~AppSettings()
{
    properties->saveIfNeeded();
    clearSingletonInstance();
}
