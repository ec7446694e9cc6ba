#include "model/CDDuration.h"

juce::String CDDuration::toTimeString(int frames)
{
    return juce::String::formatted("%02d:%02d:%02d", frames / cdtime::framesPerMinute,
                                   (frames % cdtime::framesPerMinute) / cdtime::framesPerSecond,
                                   frames % cdtime::framesPerSecond);
}
