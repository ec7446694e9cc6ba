#include "app/FileChoice.h"

namespace
{
FileChoice* installedChoice = nullptr;
}

FileChoice& FileChoice::get()
{
    static JuceFileChoice realChoice;
    return installedChoice != nullptr ? *installedChoice : realChoice;
}

void FileChoice::install(FileChoice* choice)
{
    installedChoice = choice;
}

juce::Array<juce::File> JuceFileChoice::chooseFilesToOpen(const juce::String& title,
                                                          const juce::String& patterns)
{
    juce::FileChooser chooser(title, {}, patterns);
    if (!chooser.browseForMultipleFilesToOpen())
        return {};
    return chooser.getResults();
}
