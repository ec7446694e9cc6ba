#include "support/ScriptedAlerts.h"

#include <gtest/gtest.h>

ScriptedAlerts::ScriptedAlerts()
{
    Alerts::install(this);
}

ScriptedAlerts::~ScriptedAlerts()
{
    Alerts::install(nullptr);
    EXPECT_TRUE(answers.empty()) << answers.size() << " queued answer(s) were never asked for";
}

void ScriptedAlerts::answer(const juce::String& buttonText, ContentAction onContent)
{
    answers.emplace_back(buttonText, std::move(onContent));
}

int ScriptedAlerts::show(const AlertRequest& request)
{
    Record record{request.icon, request.title, request.message, {}, {}};
    for (const auto& button : request.buttons)
        record.buttons.add(button.text);

    int result = request.buttons.empty() ? 0 : request.buttons.back().result;

    if (request.buttons.size() == 1 && (answers.empty() || !record.buttons.contains(answers.front().first)))
    {
        record.answer = request.buttons.front().text;
        result = request.buttons.front().result;
    }
    else if (answers.empty())
    {
        ADD_FAILURE() << "Unexpected question \"" << request.title << "\": " << request.message << " ["
                      << record.buttons.joinIntoString(" | ") << "]";
    }
    else
    {
        auto [text, onContent] = answers.front();
        answers.pop_front();
        const auto it = std::find_if(request.buttons.begin(), request.buttons.end(),
                                     [&](const AlertButton& b) { return b.text == text; });
        if (it == request.buttons.end())
        {
            ADD_FAILURE() << "Queued answer \"" << text << "\" is not a button of \"" << request.title
                          << "\" [" << record.buttons.joinIntoString(" | ") << "]";
        }
        else
        {
            if (onContent && request.customContent != nullptr)
                onContent(*request.customContent);
            record.answer = text;
            result = it->result;
        }
    }

    record.result = result;
    records.push_back(record);
    return result;
}

class ScriptedAlerts::ScriptedProgress : public ProgressAlert
{
public:
    ScriptedProgress(ScriptedAlerts& owner, const AlertRequest& request) : alerts(owner)
    {
        record = {request.icon, request.title, request.message, {}, {}};
        for (const auto& button : request.buttons)
        {
            record.buttons.add(button.text);
            results.set(button.text, button.result);
        }
    }

    int runModal() override
    {
        auto run = record;
        // Only this run may be ended by its press, not a later run of the same box.
        auto thisRun = std::make_shared<bool>(true);
        auto& queued = alerts.answers;
        if (!queued.empty() && results.contains(queued.front().first))
        {
            run.answer = queued.front().first;
            queued.pop_front();
            juce::Timer::callAfterDelay(alerts.progressAnswerDelayMs,
                                        [box = juce::Component::SafePointer<juce::Component>(&component),
                                         result = results[run.answer], thisRun]
                                        {
                                            if (*thisRun && box != nullptr && box->isCurrentlyModal(false))
                                                box->exitModalState(result);
                                        });
        }

        // Never on screen: entering the modal state without taking the keyboard focus.
        run.result = runModalLoopOf(component, false);
        *thisRun = false;
        alerts.records.push_back(run);
        return run.result;
    }

    void setMessage(const juce::String& message) override { record.message = message; }
    void hide() override { component.setVisible(false); }
    juce::Component& getModalComponent() override { return component; }

private:
    ScriptedAlerts& alerts;
    Record record;
    juce::HashMap<juce::String, int> results;
    juce::Component component;
};

std::unique_ptr<ProgressAlert> ScriptedAlerts::createProgressBox(const AlertRequest& request, double&)
{
    return std::make_unique<ScriptedProgress>(*this, request);
}

juce::StringArray ScriptedAlerts::titles() const
{
    juce::StringArray result;
    for (const auto& r : records)
        result.add(r.title);
    return result;
}

juce::StringArray ScriptedAlerts::messages() const
{
    juce::StringArray result;
    for (const auto& r : records)
        result.add(r.message);
    return result;
}
