#include "app/WindowState.h"

juce::String WindowState::toString() const
{
    return (fullScreen ? "fs " : "") + juce::String(bounds.getX()) + " " + juce::String(bounds.getY()) + " " +
           juce::String(bounds.getWidth()) + " " + juce::String(bounds.getHeight());
}

std::optional<WindowState> WindowState::fromString(const juce::String& text)
{
    juce::StringArray tokens;
    tokens.addTokens(text, " \t\r\n", {});
    tokens.removeEmptyStrings();

    WindowState state;
    state.fullScreen = tokens[0] == "fs";
    const int first = state.fullScreen ? 1 : 0;

    if (tokens.size() != first + 4)
        return std::nullopt;

    for (int i = first; i < first + 4; ++i)
        if (!tokens[i].trimCharactersAtStart("-").containsOnly("0123456789") ||
            tokens[i].trimCharactersAtStart("-").isEmpty())
            return std::nullopt;

    state.bounds = {tokens[first].getIntValue(), tokens[first + 1].getIntValue(),
                    tokens[first + 2].getIntValue(), tokens[first + 3].getIntValue()};

    if (state.bounds.getWidth() < 1 || state.bounds.getHeight() < 1)
        return std::nullopt;

    return state;
}
