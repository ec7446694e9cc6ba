#include "app/ConsoleAlerts.h"

#include <iostream>

int ConsoleAlerts::show(const AlertRequest& request)
{
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
