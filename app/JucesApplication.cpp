#include "app/JucesApplication.h"

#include "app/AppSettings.h"
#include "app/MainComponent.h"
#include "app/MainWindow.h"

JucesApplication::JucesApplication() = default;
JucesApplication::~JucesApplication() = default;

void JucesApplication::initialise(const juce::String&)
{
    // The application's look and feel is installed here, then the splash runs its modal loop;
    // both arrive with the dialogs of the application shell.

    mainWindow = std::make_unique<MainWindow>();
    mainWindow->setVisible(true);
}

void JucesApplication::anotherInstanceStarted(const juce::String&) {}

void JucesApplication::systemRequestedQuit()
{
    if (mainWindow != nullptr)
    {
        auto* content = mainWindow->getMainComponent();
        if (content != nullptr && !content->mayQuitNow())
            return;

        mainWindow = nullptr;
    }

    quit();
}

void JucesApplication::shutdown()
{
    mainWindow = nullptr;
    AppSettings::deleteInstance();
}
