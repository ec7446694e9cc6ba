#pragma once

#include "app/MainComponent.h"
#include "support/ScriptedAlerts.h"

#include <gtest/gtest.h>

// A main component built as the application builds it, with the source question answered
// ("Individual Files" unless told otherwise) and the boxes of its construction recorded.
class MainComponentFixture : public testing::Test
{
protected:
    void SetUp() override
    {
        alerts.answer(sourceAnswer());
        main = std::make_unique<MainComponent>();
        shownAtStart = alerts.records.size();
    }

    void TearDown() override { main.reset(); }

    // The answer to the source question.
    virtual juce::String sourceAnswer() const { return "Individual Files (WAV, AIFF, FLAC)"; }

    CDItem& disc() { return main->getDisc(); }

    // Boxes shown since construction.
    std::vector<ScriptedAlerts::Record> newRecords() const
    {
        return {alerts.records.begin() + (long)shownAtStart, alerts.records.end()};
    }

    ScriptedAlerts alerts;
    std::unique_ptr<MainComponent> main;
    size_t shownAtStart = 0;
};
