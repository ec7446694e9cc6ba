#pragma once

#include "app/Alerts.h"

// The boxes of the command-line tool: every box goes to stderr with its title; a question is
// answered "Yes" when the user said --yes, and with its last button (No, Cancel) otherwise, and
// the answer is printed with it.
class ConsoleAlerts : public Alerts
{
public:
    explicit ConsoleAlerts(bool answerYes) : yes(answerYes) {}

    int show(const AlertRequest& request) override;

    int questionsRefused = 0;

private:
    bool yes;
};
