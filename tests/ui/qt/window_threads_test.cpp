// What worker threads see of the window: a notification returns only after
// the window handled it, and a message box holds its caller until the
// operator dismissed it.
#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "controls/qt/text_progress_ctrl.h"
#include "link/notify.h"
#include "tests/ui/qt/dialog_fixture.h"
#include "ui/qt/window_prompt.h"

namespace uitest {
namespace {

class UiWindowThreadsTest : public DialogTest {};

TEST_F(UiWindowThreadsTest, ANotificationFromAWorkerIsHandledBeforeSendReturns) {
    MakeDialog();
    std::atomic<bool> sent{false};
    std::atomic<intptr_t> result{-1};
    std::thread worker([&] {
        ImageEntry record{};
        record.channel = 6;
        std::strcpy(record.path, "CH6 Download Start");
        result = dialog_->Send(NotifyMessage, NOTIFY_CHANNEL_TEXT, &record);
        // The window must have read the record by now: spoil it.
        std::memset(record.path, 'X', sizeof record.path - 1);
        sent = true;
    });
    const bool done = QTest::qWaitFor([&] { return sent.load(); }, 10000);
    worker.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ProgressText(6), QStringLiteral("CH6 Download Start"));
    EXPECT_EQ(dialog_->StatusLog(), "\r\nCH6 Download Start\r\n");

    // Another message id is not the engine's: nothing happens.
    ImageEntry other{};
    other.channel = 6;
    std::strcpy(other.path, "other");
    EXPECT_EQ(dialog_->Send(NotifyMessage + 1, NOTIFY_CHANNEL_TEXT, &other), 0);
    EXPECT_EQ(ProgressText(6), QStringLiteral("CH6 Download Start"));
}

TEST_F(UiWindowThreadsTest, AWorkersMessageBoxWaitsForTheOperatorOnTheWindowThread) {
    MakeDialog();
    dialog_->show();
    WindowPrompt prompt(dialog_.get());
    std::atomic<bool> returned{false};
    std::atomic<bool> answer{false};
    std::thread worker([&] {
        prompt.ShowText("Download Completed!!");
        answer = prompt.AskYesNo("Change Usb Code ??");
        returned = true;
    });

    // The operator, on a timer: a box is open inside its own event loop on
    // the window thread. Each box is looked at for five ticks, during which
    // the worker must stay held, then answered with OK or Yes.
    std::vector<std::string> seen;
    int ticksOpen = 0;
    QTimer operatorHand;
    QObject::connect(&operatorHand, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        if (++ticksOpen == 1) {
            seen.push_back(box->text().toStdString());
            EXPECT_EQ(box->parentWidget(), dialog_.get());
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
        }
        if (ticksOpen < 5) return;
        EXPECT_FALSE(returned) << seen.back();
        ticksOpen = 0;
        QAbstractButton* yes = box->button(QMessageBox::Yes);
        (yes != nullptr ? yes : box->button(QMessageBox::Ok))->click();
    });
    operatorHand.start(10);
    const bool done = QTest::qWaitFor([&] { return returned.load(); }, 10000);
    operatorHand.stop();
    if (!returned) {
        ADD_FAILURE() << "the worker is still held by the prompt";
        std::abort();  // joining would never return
    }
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(seen, (std::vector<std::string>{"Download Completed!!", "Change Usb Code ??"}));
    EXPECT_TRUE(answer);
}

}  // namespace
}  // namespace uitest
