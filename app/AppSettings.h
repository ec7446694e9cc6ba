#pragma once

#include <juce_data_structures/juce_data_structures.h>
#include <juce_events/juce_events.h>

// The one settings file of the application. Created on first use, destroyed at shut-down.
// Message thread only; creation is guarded by the singleton's lock.
class AppSettings
{
public:
    AppSettings();
    ~AppSettings();

    juce::PropertiesFile& getProperties() { return *properties; }

    // Where the settings live: $XDG_CONFIG_HOME (default ~/.config) + /Brantwick_Corvane_App/.
    static juce::File getSettingsFile();
    // Where earlier versions kept them; read once, when the current file does not exist yet.
    static juce::File getEarlierSettingsFile();
    static juce::PropertiesFile::Options makeOptions();

    // The keys written on first run, in the order they are written.
    static const juce::StringPairArray& firstRunDefaults();

    JUCE_DECLARE_SINGLETON(AppSettings, false)

private:
    std::unique_ptr<juce::PropertiesFile> properties;

    JUCE_DECLARE_NON_COPYABLE(AppSettings)
};
