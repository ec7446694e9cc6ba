#include "app/Alerts.h"

namespace
{
Alerts* installedAlerts = nullptr;

JuceAlerts& realAlerts()
{
    static JuceAlerts instance;
    return instance;
}

class JuceProgressAlert : public ProgressAlert
{
public:
    JuceProgressAlert(const AlertRequest& request, double& progress)
        : window(request.title, request.message, request.icon)
    {
        window.addProgressBarComponent(progress);
        const auto count = request.buttons.size();
        for (size_t i = 0; i < count; ++i)
            window.addButton(request.buttons[i].text, request.buttons[i].result, {},
                             juce::KeyPress(i + 1 == count ? juce::KeyPress::escapeKey : 0));
    }

    int runModal() override { return runModalLoopOf(window, true); }
    void setMessage(const juce::String& message) override { window.setMessage(message); }
    void hide() override { window.setVisible(false); }
    juce::Component& getModalComponent() override { return window; }

private:
    juce::AlertWindow window;
};
} // namespace

bool ProgressAlert::isRunning()
{
    return juce::Component::getCurrentlyModalComponent() == &getModalComponent();
}

void ProgressAlert::finish(int result)
{
    // Off the message thread the framework posts the end of the loop; the lock keeps the box
    // from changing while that message is prepared.
    const juce::MessageManagerLock lock(juce::Thread::getCurrentThread());
    if (lock.lockWasGained())
        getModalComponent().exitModalState(result);
}

int ProgressAlert::runModalLoopOf(juce::Component& box, bool takeKeyboardFocus)
{
    // Shared with the callback, which may outlive this call when the application quits meanwhile.
    struct Outcome
    {
        bool finished = false;
        int result = 0;
    };
    auto outcome = std::make_shared<Outcome>();
    auto* callback = juce::ModalCallbackFunction::create(
        [outcome](int result)
        {
            outcome->result = result;
            outcome->finished = true;
        });
    if (box.isCurrentlyModal(false))
        juce::ModalComponentManager::getInstance()->attachCallback(&box, callback);
    else
        box.enterModalState(takeKeyboardFocus, callback);
    while (!outcome->finished && juce::MessageManager::getInstance()->runDispatchLoopUntil(1))
    {
    }
    return outcome->result;
}

std::unique_ptr<ProgressAlert> Alerts::createProgressBox(const AlertRequest& request, double& progress)
{
    return std::make_unique<JuceProgressAlert>(request, progress);
}

Alerts& Alerts::get()
{
    return installedAlerts != nullptr ? *installedAlerts : realAlerts();
}

void Alerts::install(Alerts* alerts)
{
    installedAlerts = alerts;
}

void Alerts::error(const juce::String& message)
{
    get().show({juce::MessageBoxIconType::WarningIcon, "Error!", message, {{"OK", 0}}});
}

void Alerts::warning(const juce::String& message)
{
    get().show({juce::MessageBoxIconType::WarningIcon, "Warning!", message, {{"OK", 0}}});
}

void Alerts::info(const juce::String& title, const juce::String& message)
{
    get().show({juce::MessageBoxIconType::InfoIcon, title, message, {{"OK", 0}}});
}

bool Alerts::askYesNo(const juce::String& title, const juce::String& message)
{
    return get().show({juce::MessageBoxIconType::QuestionIcon, title, message, {{"Yes", 1}, {"No", 0}}}) == 1;
}

bool Alerts::askOkCancel(juce::MessageBoxIconType icon, const juce::String& title,
                         const juce::String& message, const juce::String& button1,
                         const juce::String& button2)
{
    return get().show({icon, title, message, {{button1, 1}, {button2, 0}}}) == 1;
}

int JuceAlerts::show(const AlertRequest& request)
{
    juce::AlertWindow window(request.title, request.message, request.icon);

    if (request.customContent != nullptr)
        window.addCustomComponent(request.customContent);

    // Keys as in the framework's own boxes: Return takes the first button, Escape the last.
    const auto count = request.buttons.size();
    for (size_t i = 0; i < count; ++i)
    {
        const auto& button = request.buttons[i];
        const juce::KeyPress returnKey(i == 0 ? juce::KeyPress::returnKey : 0);
        const juce::KeyPress escapeKey(i + 1 == count ? juce::KeyPress::escapeKey : 0);
        window.addButton(button.text, button.result, returnKey, escapeKey);
    }

    const auto result = window.runModalLoop();

    if (request.customContent != nullptr)
        window.removeCustomComponent(0);

    return result;
}
