#include "support/StandIns.h"

#include "support/MainComponentFixture.h"

#include <dlfcn.h>
#include <thread>

namespace
{
using Icon = juce::MessageBoxIconType;

// A main component whose service lives at the given port of the loopback address.
class TransferWindow : public MainComponentFixture
{
protected:
    void SetUp() override {}

    void buildFor(int port)
    {
        const auto url = "http://127.0.0.1:" + juce::String(port) + "/QelService.svc/";
        ::setenv("CORVANE_SERVICE_URL", url.toRawUTF8(), 1);
        MainComponentFixture::SetUp();
        main->enteredCustomerNumber = "CT10001";
        main->enteredProjectNumber = "SO20001";
    }

    void expectTransferWindow(const ScriptedAlerts::Record& record, int result,
                              const juce::String& answer = {})
    {
        EXPECT_EQ(record.icon, Icon::NoIcon);
        EXPECT_EQ(record.title, "Transfer Progress");
        EXPECT_EQ(record.message, "Connecting to server...");
        EXPECT_EQ(record.buttons, juce::StringArray{"Cancel"});
        EXPECT_EQ(record.answer, answer);
        EXPECT_EQ(record.result, result);
    }

    void expectNoReply()
    {
        EXPECT_EQ(main->replyCustomerId, "");
        EXPECT_EQ(main->replyProjectId, "");
        EXPECT_EQ(main->sasUri, "");
        EXPECT_FALSE(main->isMultiDisc);
    }
};
} // namespace

TEST_F(TransferWindow, UnreachableServiceEndsTheWindowWithMinusOneAndLibcurlsText)
{
    buildFor(unusedLoopbackPort());

    EXPECT_FALSE(main->verifyUser());

    const auto shown = newRecords();
    ASSERT_EQ(shown.size(), 2u);
    expectTransferWindow(shown[0], -1);
    EXPECT_EQ(shown[1].icon, Icon::WarningIcon);
    EXPECT_EQ(shown[1].title, "Error!");
    EXPECT_EQ(shown[1].message, curl_easy_strerror(CURLE_COULDNT_CONNECT));
    EXPECT_EQ(shown[1].buttons, juce::StringArray{"OK"});
    expectNoReply();
}

// The service accepts the connection and never answers; only Cancel ends the call before the
// 60-second time-out.
TEST_F(TransferWindow, CancelEndsTheWindowWithZeroAndAbortsTheTransfer)
{
    juce::StreamingSocket silentService;
    ASSERT_TRUE(silentService.createListener(0, "127.0.0.1"));
    buildFor(silentService.getBoundPort());
    main->replyCustomerId = "left over";

    alerts.answer("Cancel");
    const auto started = juce::Time::getMillisecondCounterHiRes();
    EXPECT_FALSE(main->verifyUser());
    const auto seconds = (juce::Time::getMillisecondCounterHiRes() - started) / 1000.0;

    const auto shown = newRecords();
    ASSERT_EQ(shown.size(), 2u);
    expectTransferWindow(shown[0], 0, "Cancel");
    EXPECT_EQ(shown[1].icon, Icon::WarningIcon);
    EXPECT_EQ(shown[1].title, "Canceled!");
    EXPECT_EQ(shown[1].message, "User abort.");
    EXPECT_EQ(shown[1].buttons, juce::StringArray{"OK"});
    EXPECT_LT(seconds, 20.0) << "the transfer thread did not stop at the cancellation";
    expectNoReply();
}

// The application's progress window: the framework's alert window with the bar and "Cancel",
// ended from another thread by the work, or by the Escape key.
TEST(ProgressWindow, EndedByTheWorkOrByEscape)
{
    // The framework loads libX11 for its first window and unloads it at shutdown; kept loaded, what
    // libX11 leaves allocated at exit stays attributed to it, and the leak checker's suppression
    // for libX11 applies.
    ASSERT_NE(dlopen("libX11.so.6", RTLD_NOW | RTLD_NODELETE), nullptr) << dlerror();

    JuceAlerts real;
    double progress = 0.25;
    auto box = real.createProgressBox(
        {juce::MessageBoxIconType::NoIcon, "Transfer Progress", "Connecting to server...", {{"Cancel", 0}}},
        progress);

    auto* window = dynamic_cast<juce::AlertWindow*>(&box->getModalComponent());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->getName(), "Transfer Progress");
    bool hasBar = false;
    juce::StringArray buttons;
    for (auto* child : window->getChildren())
    {
        hasBar = hasBar || dynamic_cast<juce::ProgressBar*>(child) != nullptr;
        if (auto* button = dynamic_cast<juce::TextButton*>(child))
            buttons.add(button->getButtonText());
    }
    EXPECT_TRUE(hasBar);
    EXPECT_EQ(buttons, juce::StringArray{"Cancel"});

    std::thread work(
        [&]
        {
            for (bool running = false; !running; juce::Thread::sleep(20))
            {
                const juce::MessageManagerLock lock;
                running = box->isRunning();
            }
            box->finish(-1);
        });
    EXPECT_EQ(box->runModal(), -1);
    work.join();
    EXPECT_FALSE(box->isRunning());

    juce::Timer::callAfterDelay(
        100, [&] { box->getModalComponent().keyPressed(juce::KeyPress(juce::KeyPress::escapeKey)); });
    EXPECT_EQ(box->runModal(), 0);
}
