#include "app/ConsoleAlerts.h"

#include "app/ConsoleInterrupt.h"
#include "app/TextProgressBar.h"

#include <iostream>

namespace
{
// Runs a real modal loop on a component that is never shown, so no display is needed; a timer
// redraws the bar and watches for Ctrl-C meanwhile.
class ConsoleProgressAlert : public ProgressAlert, private juce::Timer
{
public:
    ConsoleProgressAlert(const AlertRequest& request, double& progressToShow)
        : progress(progressToShow), message(request.message),
          lastButtonResult(request.buttons.empty() ? 0 : request.buttons.back().result)
    {
    }

    ~ConsoleProgressAlert() override
    {
        stopTimer();
        TextProgressBar::endLine();
    }

    int runModal() override
    {
        component.enterModalState(false);
        TextProgressBar::draw(progress, message);
        startTimer(100);
        const auto result = runModalLoopOf(component, false);
        stopTimer();
        TextProgressBar::draw(progress, message);
        return result;
    }

    void setMessage(const juce::String& newMessage) override
    {
        // Each file keeps the line that shows how far it got.
        if (newMessage != message)
            TextProgressBar::endLine();
        message = newMessage;
    }

    void hide() override
    {
        component.setVisible(false);
        TextProgressBar::endLine();
    }

    juce::Component& getModalComponent() override { return component; }

private:
    void timerCallback() override
    {
        if (ConsoleInterrupt::requested() && component.isCurrentlyModal(false))
            component.exitModalState(lastButtonResult);
        else
            TextProgressBar::draw(progress, message);
    }

    const double& progress; // written under the message-thread lock by the work
    juce::String message;
    const int lastButtonResult;
    juce::Component component;
};
} // namespace

int ConsoleAlerts::show(const AlertRequest& request)
{
    TextProgressBar::endLine();
    const auto title = request.title.isNotEmpty() ? request.title : juce::String("Question");
    const auto message = request.message.replace("\r\n", "\n").trim();
    std::cerr << title << " " << message.replace("\n", "\n    ") << std::endl;

    if (request.buttons.size() <= 1)
        return request.buttons.empty() ? 0 : request.buttons.front().result;

    const AlertButton* chosen = &request.buttons.back();
    if (yes)
        for (const auto& button : request.buttons)
            if (button.text == "Yes")
                chosen = &button;

    if (chosen->text != "Yes")
        ++questionsRefused;
    std::cerr << "    -> " << chosen->text << (yes ? "" : " (give --yes to go on past warnings)")
              << std::endl;
    return chosen->result;
}

std::unique_ptr<ProgressAlert> ConsoleAlerts::createProgressBox(const AlertRequest& request, double& progress)
{
    return std::make_unique<ConsoleProgressAlert>(request, progress);
}
