#include "app/TextProgressBar.h"

#include <iostream>

namespace
{
bool lineOpen = false;
double shownProgress = 0;
juce::String shownStatus;
} // namespace

namespace TextProgressBar
{
void draw(double progress, const juce::String& status)
{
    if (lineOpen && progress == shownProgress && status == shownStatus)
        return;

    constexpr int width = 30;
    juce::String bar;
    if (progress < 0)
        bar = juce::String::repeatedString("~", width);
    else
    {
        const auto filled = juce::jlimit(0, width, juce::roundToInt(progress * width));
        bar = juce::String::repeatedString("#", filled) + juce::String::repeatedString(" ", width - filled);
    }
    const auto percent = progress < 0 ? juce::String("   ")
                                      : juce::String(juce::roundToInt(progress * 100)).paddedLeft(' ', 3);
    std::cerr << "\r[" << bar << "] " << percent << "% " << status.replace("\r\n", " ").paddedRight(' ', 40)
              << std::flush;

    lineOpen = true;
    shownProgress = progress;
    shownStatus = status;
}

void endLine()
{
    if (!lineOpen)
        return;
    std::cerr << std::endl;
    lineOpen = false;
}
} // namespace TextProgressBar
