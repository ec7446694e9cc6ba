#pragma once

#include <juce_core/juce_core.h>

// A length or position on the disc in CD frames (1/75 s, 588 stereo sample frames, 2352 bytes).
class CDDuration
{
public:
    CDDuration() = default;
    explicit CDDuration(int frameCount) : frames(frameCount) {}
    virtual ~CDDuration() = default;
    CDDuration(const CDDuration&) = default;
    CDDuration& operator=(const CDDuration&) = default;

    // "mm:ss:ff"; minutes above 99 print with more digits.
    static juce::String toTimeString(int frames);

    int frames = 0;
};

namespace cdtime
{
constexpr int samplesPerFrame = 588;
constexpr int bytesPerFrame = 2352;
constexpr int framesPerSecond = 75;
constexpr int framesPerMinute = 4500;
} // namespace cdtime
