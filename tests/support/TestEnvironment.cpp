#include "support/TestEnvironment.h"

#include <cstdlib>

namespace
{
juce::File currentRoot;
}

TestEnvironment::TestEnvironment()
{
    char pattern[] = "/tmp/corvane-test-XXXXXX";
    folder = juce::File(juce::String(::mkdtemp(pattern)));
    currentRoot = folder;

    home().createDirectory();
    configHome().createDirectory();
    temp().createDirectory();
    ::setenv("HOME", home().getFullPathName().toRawUTF8(), 1);
    ::setenv("XDG_CONFIG_HOME", configHome().getFullPathName().toRawUTF8(), 1);
    ::setenv("TMPDIR", temp().getFullPathName().toRawUTF8(), 1);
}

TestEnvironment::~TestEnvironment()
{
    if (std::getenv("CORVANE_KEEP_TEST_FILES") == nullptr)
        folder.deleteRecursively();
}

juce::File TestEnvironment::root()
{
    return currentRoot;
}

juce::File TestEnvironment::home()
{
    return currentRoot.getChildFile("home");
}

juce::File TestEnvironment::configHome()
{
    return currentRoot.getChildFile("config");
}

juce::File TestEnvironment::temp()
{
    return currentRoot.getChildFile("tmp");
}

juce::File makeTestFolder(const juce::String& name)
{
    auto folder = TestEnvironment::temp().getChildFile(name);
    folder.deleteRecursively();
    folder.createDirectory();
    return folder;
}

int runCommand(const juce::String& commandLine, juce::String* output)
{
    juce::ChildProcess process;
    if (!process.start(juce::StringArray{"/bin/sh", "-c", commandLine + " 2>&1"}))
        return -1;
    const auto text = process.readAllProcessOutput();
    process.waitForProcessToFinish(-1);
    if (output != nullptr)
        *output = text;
    return static_cast<int>(process.getExitCode());
}
