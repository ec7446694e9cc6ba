#include "app/MainWindow.h"

#include "app/AppSettings.h"
#include "app/MainComponent.h"
#include "app/WindowState.h"

namespace
{
const juce::String applicationName("Brantwick Corvane App");
}

MainWindow::MainWindow()
    : juce::DocumentWindow(applicationName,
                           juce::Desktop::getInstance().getDefaultLookAndFeel().findColour(
                               juce::ResizableWindow::backgroundColourId),
                           juce::DocumentWindow::allButtons)
{
    tooltipWindow = std::make_unique<juce::TooltipWindow>();
    commandManager = std::make_unique<juce::ApplicationCommandManager>();

    setResizable(true, true);
    setResizeLimits(800, 600, 32768, 32768);
    setUsingNativeTitleBar(true);
    centreWithSize(921, 610);

    auto* content = new MainComponent();
    if (auto* app = juce::JUCEApplication::getInstance())
        commandManager->registerAllCommandsForTarget(app);
    addKeyListener(commandManager->getKeyMappings());
    setContentOwned(content, false);

    setName(content->getTitleText());

    const auto stored = AppSettings::getInstance()->getProperties().getValue("lastMainWindowPos", {});
    if (stored.isNotEmpty())
        restoreWindowState(stored);
}

MainWindow::~MainWindow()
{
    setMenuBar(nullptr);

    AppSettings::getInstance()->getProperties().setValue("lastMainWindowPos", getWindowState());

    clearContentComponent();
}

void MainWindow::closeButtonPressed()
{
    if (auto* app = juce::JUCEApplication::getInstance())
        app->systemRequestedQuit();
}

MainComponent* MainWindow::getMainComponent() const
{
    return dynamic_cast<MainComponent*>(getContentComponent());
}

bool MainWindow::restoreWindowState(const juce::String& text)
{
    const auto state = WindowState::fromString(text);
    if (!state)
        return false;

    // Placed first so that the framework takes them as the last normal bounds even before the
    // window shows; it then keeps the window on a connected display and within the resize limits.
    setBounds(state->bounds);
    return restoreWindowStateFromString(state->toString());
}

juce::String MainWindow::getWindowState()
{
    // The framework's text may end in " frame t l b r" on X11; that part is not ours to store.
    const auto text = getWindowStateAsString().upToFirstOccurrenceOf(" frame", false, false);
    const auto state = WindowState::fromString(text);
    return state ? state->toString() : juce::String();
}
