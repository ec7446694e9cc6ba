#pragma once

#include <juce_graphics/juce_graphics.h>

#include <optional>

// The main window's position as stored in "lastMainWindowPos": "x y w h" of the last
// non-full-screen bounds, preceded by "fs " when the window was full screen.
struct WindowState
{
    bool fullScreen = false;
    juce::Rectangle<int> bounds;

    juce::String toString() const;
    // Exactly four numbers (five tokens with "fs"); a width or height below 1 rejects the text.
    static std::optional<WindowState> fromString(const juce::String& text);
};
