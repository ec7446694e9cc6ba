#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);

    // Before the framework starts: it reads HOME and TMPDIR when it first needs them.
    TestEnvironment environment;

    // Makes the framework treat the tests like the application: Xlib in thread-safe mode and the
    // framework's own X error handlers, without which a bare test display's missing atoms end the
    // process. The factory is never called.
    juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI framework;
        result = RUN_ALL_TESTS();
    }
    return result;
}
