#pragma once

#include "app/Alerts.h"

// The boxes of the command-line tool: every box goes to stderr with its title; a question is
// answered "Yes" when the user said --yes, and with its last button (No, Cancel) otherwise, and
// the answer is printed with it. A progress box is a text bar on stderr; Ctrl-C (ConsoleInterrupt)
// presses its last button, as Escape does in the application.
class ConsoleAlerts : public Alerts
{
public:
    explicit ConsoleAlerts(bool answerYes) : yes(answerYes) {}

    int show(const AlertRequest& request) override;
    std::unique_ptr<ProgressAlert> createProgressBox(const AlertRequest& request, double& progress) override;

    int questionsRefused = 0;

private:
    bool yes;
};
