// The Qt host services: the GUI-thread message target and its deadlock guard, the clock
// that keeps serving queued calls while it waits, busy waits that drop input, message boxes
// in the user's language and wide enough for their caption. The step-job driver and the
// calls from workers have their own file.
#include "GuiTestSupport.h"

#include "app/MessageCatalog.h"
#include "app/Prompter.h"
#include "qthost/QtBusy.h"
#include "qthost/QtClock.h"
#include "qthost/QtDialogs.h"
#include "qthost/QtMessageTarget.h"
#include "qthost/QtPrompter.h"
#include "qthost/QtStatusLine.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(QtMessageTargetTest, WorkerCallRunsOnGuiThreadAndReturnsTheResult)
{
    std::atomic<bool> onGui{false};
    QtMessageTarget target([&](unsigned msg, std::uintptr_t w, std::intptr_t l) -> long {
        onGui = QThread::currentThread() == qApp->thread();
        return static_cast<long>(msg + w + static_cast<std::uintptr_t>(l));
    });
    EXPECT_EQ(target.SendMessage(1, 2, 3), 6) << "direct on the GUI thread";

    std::atomic<long> result{-1};
    std::thread worker([&] { result = target.SendMessage(0x403, 250, 1); });
    // The GUI thread waits for the worker the way the dialogs do: serving queued calls.
    EXPECT_TRUE(QtClock::waitUntil([&] { return result != -1; }, 10s));
    worker.join();
    EXPECT_EQ(result, 0x403 + 250 + 1);
    EXPECT_TRUE(onGui);
}

TEST(QtMessageTargetTest, DetachReleasesAWorkerThatTheGuiThreadWouldOtherwiseDeadlockWith)
{
    std::atomic<int> handled{0};
    QtMessageTarget target([&](unsigned, std::uintptr_t, std::intptr_t) -> long { return ++handled; });
    std::atomic<bool> sending{false};
    std::atomic<long> result{-1};
    std::thread worker([&] {
        sending = true;
        result = target.SendMessage(0x401, 0, 0);
    });
    // The GUI thread does not serve events here (as in a plain join); the worker is stuck
    // until detach() lets it go.
    while (!sending)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(50ms);
    target.detach();
    worker.join();
    EXPECT_EQ(result, 0);
    // The posted call that is still queued must not run the handler after the detach.
    QCoreApplication::processEvents();
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(target.SendMessage(0x401, 0, 0), 0) << "detached: nothing runs";
    target.attach();
    EXPECT_EQ(target.SendMessage(0x401, 0, 0), 1);

    // A window that goes while a worker waits in SendMessage: the worker wakes on state the
    // window no longer owns, returns 0, and the handler never runs.
    auto closing = std::make_unique<QtMessageTarget>([&](unsigned, std::uintptr_t, std::intptr_t) -> long {
        return ++handled;
    });
    sending = false;
    result = -1;
    std::thread late([&, raw = closing.get()] {
        sending = true;
        result = raw->SendMessage(0x401, 0, 0);
    });
    while (!sending)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(200ms); // the worker is inside its wait by now
    closing.reset();
    late.join();
    EXPECT_EQ(result, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(handled, 1);
}

TEST(QtClockTest, SleepServesQueuedCallsAndWaitsAtLeastTheDelay)
{
    QtMessageTarget target([](unsigned, std::uintptr_t, std::intptr_t) -> long { return 7; });
    std::atomic<long> result{-1};
    std::thread worker([&] { result = target.SendMessage(0x403, 0, 0); });
    QtClock clock;
    auto start = std::chrono::steady_clock::now();
    // Long enough for the worker's call on a loaded machine; the call completes inside it.
    clock.sleep(300ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    QtClock::waitUntil([&] { return result != -1; }, 10s);
    worker.join();
    EXPECT_EQ(result, 7);

    // From a worker thread the clock sleeps plainly.
    std::thread sleeper([&] {
        auto t0 = std::chrono::steady_clock::now();
        clock.sleep(20ms);
        EXPECT_GE(std::chrono::steady_clock::now() - t0, 20ms);
    });
    sleeper.join();
}

// A window with a button, a status line and a counter of clicks.
struct BusyWindow {
    BusyWindow()
    {
        auto* layout = new QVBoxLayout(&dialog);
        button = new QPushButton("Go");
        status = new QtStatusLine;
        layout->addWidget(button);
        layout->addWidget(status);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        dialog.show();
        button->setFocus();
        QApplication::setActiveWindow(&dialog);
    }
    QDialog dialog;
    QPushButton* button;
    QtStatusLine* status;
    int clicks = 0;
};

TEST(QtBusyTest, InputDuringTheWaitIsDroppedNotReplayed)
{
    BusyWindow w;
    w.status->showDone("before");
    QtClock clock;
    {
        QtBusy busy(&w.dialog, w.status, "Waiting for the printer to restart");
        EXPECT_TRUE(QtBusy::isBusy(w.button));
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        EXPECT_TRUE(w.status->busy());
        EXPECT_EQ(w.status->text(), "Waiting for the printer to restart");
        // The user clicks and types while the tool waits: directly, and as events that are
        // still in the queue when the wait ends.
        QTimer::singleShot(10, [&] {
            QTest::mouseClick(w.button, Qt::LeftButton);
            QTest::keyClick(w.button, Qt::Key_Space);
            QCoreApplication::postEvent(w.button, new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
            QCoreApplication::postEvent(w.button, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " "));
        });
        clock.sleep(std::chrono::milliseconds(60));
        QCoreApplication::postEvent(w.button, new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
        QCoreApplication::postEvent(w.button, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, " "));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(w.clicks, 0) << "a click made during the wait must not press the button afterwards";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(QtBusy::active());
    EXPECT_FALSE(w.status->busy());
    EXPECT_EQ(w.status->text(), "before") << "nobody reported a result: the old line comes back";

    QTest::mouseClick(w.button, Qt::LeftButton);
    EXPECT_EQ(w.clicks, 1) << "after the wait the button works again";
}

TEST(QtBusyTest, AResultReportedDuringTheWaitStaysAndNestedWaitsRestoreTheOuterText)
{
    BusyWindow w;
    {
        QtBusy outer(&w.dialog, w.status, "Writing the settings");
        {
            QtBusy inner(&w.dialog, w.status, "Reopening the USB printer");
            EXPECT_EQ(w.status->text(), "Reopening the USB printer");
        }
        EXPECT_TRUE(w.status->busy());
        EXPECT_EQ(w.status->text(), "Writing the settings");
        EXPECT_TRUE(QtBusy::active());
        w.status->showDone("Settings written");
    }
    EXPECT_EQ(w.status->text(), "Settings written");
    EXPECT_EQ(w.status->kind(), QtStatusLine::Kind::Done);
    EXPECT_FALSE(QtBusy::active());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtBusyTest, AMessageBoxDuringTheWaitTakesInputWithTheArrowCursor)
{
    BusyWindow w;
    QtPrompter prompter;
    QtBusy busy(&w.dialog, w.status, "Waiting");
    Qt::CursorShape shape = Qt::WaitCursor;
    whenModal([&](QWidget* box) {
        shape = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape() : Qt::ArrowCursor;
        auto* yes = qobject_cast<QMessageBox*>(box)->button(QMessageBox::Yes);
        QTest::mouseClick(yes, Qt::LeftButton);
    }, &w.dialog);
    EXPECT_TRUE(prompter.ask("Go on?"));
    EXPECT_EQ(shape, Qt::ArrowCursor);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor) << "the wait goes on after the box";
}

// What a box shows, read while it is up, and the button pressed.
struct ShownBox {
    QStringList buttons;
    int width = 0;
    QString title;
};

ShownBox showAndPress(QtPrompter& prompter, PromptButtons buttons, QMessageBox::StandardButton press,
                      PromptAnswer* answer, const char* text = "x")
{
    ShownBox shown;
    whenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return;
        for (QAbstractButton* b : box->buttons())
            shown.buttons << b->text();
        shown.width = box->width();
        shown.title = box->windowTitle();
        box->button(press)->click();
    });
    *answer = prompter.show(text, buttons, PromptIcon::Exclamation, kAppDisplayName);
    return shown;
}

TEST(QtPrompterTest, KoreanSystemsGetKoreanYesNoOkCancel)
{
    QtPrompter prompter;
    selectCatalog(true);
    PromptAnswer answer{};
    ShownBox yesNo = showAndPress(prompter, PromptButtons::YesNo, QMessageBox::No, &answer);
    EXPECT_EQ(answer, PromptAnswer::No);
    EXPECT_TRUE(yesNo.buttons.contains(QString::fromUtf8("예"))) << yesNo.buttons.join("|").toStdString();
    EXPECT_TRUE(yesNo.buttons.contains(QString::fromUtf8("아니요"))) << yesNo.buttons.join("|").toStdString();
    ShownBox okCancel = showAndPress(prompter, PromptButtons::OkCancel, QMessageBox::Ok, &answer);
    EXPECT_EQ(answer, PromptAnswer::Ok);
    EXPECT_TRUE(okCancel.buttons.contains(QString::fromUtf8("확인")));
    EXPECT_TRUE(okCancel.buttons.contains(QString::fromUtf8("취소")));

    // No Latin letter to underline in "예": the Y key still answers Yes.
    whenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Y); });
    EXPECT_TRUE(prompter.ask("Y?"));

    selectCatalog(false);
    ShownBox english = showAndPress(prompter, PromptButtons::YesNo, QMessageBox::Yes, &answer);
    EXPECT_EQ(answer, PromptAnswer::Yes);
    EXPECT_FALSE(english.buttons.contains(QString::fromUtf8("예")));
}

TEST(QtPrompterTest, ABoxWithAShortTextIsWideEnoughForItsCaption)
{
    QtPrompter prompter;
    PromptAnswer answer{};
    ShownBox box = showAndPress(prompter, PromptButtons::Ok, QMessageBox::Ok, &answer, "OK");
    EXPECT_EQ(box.title, kAppDisplayName);
    QFont bold = QApplication::font();
    bold.setBold(true);
    const int captionText = QFontMetrics(bold).horizontalAdvance(kAppDisplayName);
    // The caption, the window icon and the title bar's buttons fit.
    EXPECT_GE(box.width, captionText + 24 + 3 * 28) << "caption text alone is " << captionText;
    EXPECT_LE(box.width, largestDialogSize().width());
}

TEST(QtDialogsTest, KoreanMnemonicFollowsTheTextInBrackets)
{
    EXPECT_EQ(koreanMnemonic("포트", 'P'), QString::fromUtf8("포트(&P)"));
    // The reserve leaves the title bar and a panel of the smaller screen free.
    EXPECT_EQ(largestDialogSize(), QSize(910 - 16, 512 - 72));
}

} // namespace

namespace {

// A window with two fields: the box below is brought up by the second.
struct TwoFields {
    TwoFields()
    {
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(first);
        layout->addWidget(second);
        dialog.show();
        dialog.activateWindow();
        QApplication::setActiveWindow(&dialog);
        second->setFocus();
        QApplication::processEvents();
    }
    QDialog dialog;
    QLineEdit* first = new QLineEdit;
    QLineEdit* second = new QLineEdit;
};

} // namespace

// After a box the keyboard is back on the control that caused it, whichever way the box was
// answered and whatever its buttons.
TEST(QtPrompterTest, TheFocusReturnsToTheControlThatBroughtTheBoxUp)
{
    struct Case {
        PromptButtons buttons;
        QMessageBox::StandardButton press;
    };
    const Case cases[] = {{PromptButtons::Ok, QMessageBox::Ok},
                          {PromptButtons::YesNo, QMessageBox::No},
                          {PromptButtons::OkCancel, QMessageBox::Cancel}};
    for (const Case& c : cases) {
        TwoFields w;
        ASSERT_EQ(QApplication::focusWidget(), w.second);
        QWidget* focusDuringBox = nullptr;
        whenModal([&](QWidget* modal) {
            focusDuringBox = QApplication::focusWidget();
            qobject_cast<QMessageBox*>(modal)->button(c.press)->click();
        }, &w.dialog);
        QtPrompter prompter;
        prompter.show("x", c.buttons, PromptIcon::Exclamation, kAppDisplayName);
        QApplication::processEvents();
        EXPECT_NE(focusDuringBox, w.second) << "the box had the keyboard while it was up";
        EXPECT_EQ(QApplication::focusWidget(), w.second) << int(c.buttons);
    }
}

// On a Korean system Qt's own texts (the file dialog's, the standard buttons') are Korean too;
// English takes Qt's translations out again.
TEST(QtDialogsTest, QtsOwnTextsFollowTheLanguage)
{
    const QLocale::Language was = QLocale().language();
    if (!useQtTranslations(true))
        GTEST_SKIP() << "Qt's Korean translations (qt6-translations-l10n) are not installed";
    const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
    const QString lookIn = QCoreApplication::translate("QFileDialog", "Look in:");
    EXPECT_NE(cancel, "Cancel");
    EXPECT_NE(lookIn, "Look in:");
    EXPECT_EQ(QLocale().language(), QLocale::Korean);
    EXPECT_TRUE(useQtTranslations(false));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Cancel");
    EXPECT_EQ(QLocale().language(), was);
}
