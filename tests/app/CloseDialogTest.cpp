// tests/app/CloseDialogTest.cpp: the close-password dialog and every way a close request ends.
#include "app/CloseDialog.h"

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/app/WindowFixture.h"

using app::CloseDialog;
using windowtest::whenModalOpens;
using windowtest::WindowTest;

namespace {

QLineEdit* entryOf(QWidget* dialog)
{
    return dialog->findChild<QLineEdit*>(QStringLiteral("PasswordEntry"));
}

void click(QWidget* dialog, const char* button)
{
    dialog->findChild<QPushButton*>(QString::fromLatin1(button))->click();
}

// Types text into the dialog's entry (replacing the selection) and clicks the button.
void answer(const std::string& text, const char* button)
{
    whenModalOpens(QStringLiteral("CloseDialog"), [text, button](QWidget* dialog) {
        QTest::keyClicks(entryOf(dialog), QString::fromStdString(text));
        click(dialog, button);
    });
}

} // namespace

// Enter and Escape neither accept nor cancel: only the buttons end the dialog.
TEST(CloseDialogTest, EntryTakesAtMostFiveDigitsShownAsStarsAndKeysLeaveItOpen)
{
    CloseDialog dialog("12345");
    dialog.show();
    QLineEdit* entry = entryOf(&dialog);
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ("     ", entry->text());
    EXPECT_EQ(entry->text(), entry->selectedText());
    EXPECT_EQ(QLineEdit::Password, entry->echoMode());

    QTest::keyClicks(entry, QStringLiteral("1a2-3 4x5678"));
    EXPECT_EQ("12345", entry->text());
    EXPECT_EQ("*****", entry->displayText());
    QTest::keyClick(entry, Qt::Key_Return);
    QTest::keyClick(entry, Qt::Key_Escape);
    QTest::keyClick(&dialog, Qt::Key_Enter);
    EXPECT_TRUE(dialog.isVisible());
}

// At the desktop font sizes people use: the title whole beside a title bar's buttons, five digits
// whole in the entry, every control inside; the prompt in Times New Roman or its metric twin.
TEST(CloseDialogTest, TitleAndFiveDigitsFitAtEveryDesktopFontSize)
{
    const QFont desktop = QApplication::font();
    const QString face =
        QFontInfo(CloseDialog("12345").findChild<QLabel*>(QStringLiteral("Prompt"))->font())
            .family();
    EXPECT_TRUE(face == "Times New Roman" || face == "Liberation Serif") << face.toStdString();
    for (int points : {8, 9, 12}) {
        SCOPED_TRACE(points);
        QFont font = desktop;
        font.setPointSize(points);
        QApplication::setFont(font);
        CloseDialog dialog("12345");
        dialog.show();
        EXPECT_LE(QFontMetrics(CloseDialog::titleFont()).horizontalAdvance(dialog.windowTitle()),
                  dialog.width() - CloseDialog::kTitleBarReserve);
        for (QWidget* control : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(dialog.rect().contains(control->geometry()))
                << control->objectName().toStdString();

        QLineEdit* entry = entryOf(&dialog);
        const auto cursorXAt = [entry](int position) {
            entry->setCursorPosition(position);
            entry->grab(); // the line edit scrolls its text when it paints
            return entry->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
        };
        entry->setEchoMode(QLineEdit::Normal);
        entry->setText(QStringLiteral("99999"));
        const int first = cursorXAt(0);
        EXPECT_NEAR(entry->fontMetrics().horizontalAdvance(QStringLiteral("99999")),
                    cursorXAt(CloseDialog::kEntryLength) - first, 1);
    }
    QApplication::setFont(desktop);
}

TEST(CloseDialogTest, OnlyTheExactTextMatches)
{
    EXPECT_EQ(CloseDialog::Result::Ok, CloseDialog::judge(QStringLiteral("40417"), "40417"));
    for (const char* typed : {"4041", "     ", "40418"})
        EXPECT_EQ(CloseDialog::Result::WrongPassword,
                  CloseDialog::judge(QString::fromLatin1(typed), "40417"))
            << typed;
}

TEST_F(WindowTest, WrongPasswordShowsTheMessageAndKeepsRunning)
{
    startForm();
    const std::string wrong = m_form->view().password() == "11111" ? "22222" : "11111";
    answer(wrong, "OkButton");
    QString title, text;
    whenModalOpens(QStringLiteral("WrongPasswordBox"), [&](QWidget* box) {
        title = box->windowTitle();
        text = static_cast<QMessageBox*>(box)->text();
        box->close();
    });
    m_form->close();
    EXPECT_EQ("Драйвер GT20v5", title);
    EXPECT_EQ("Не правильный пароль.", text);
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_FALSE(m_form->ended());
    EXPECT_FALSE(m_client.stopRequested);

    // The next showing starts with the previous entry selected.
    QString selected;
    whenModalOpens(QStringLiteral("CloseDialog"), [&](QWidget* dialog) {
        selected = entryOf(dialog)->selectedText();
        click(dialog, "CancelButton");
    });
    m_form->close();
    EXPECT_EQ(QString::fromStdString(wrong), selected);
    EXPECT_EQ(0, m_endedCalls);
}

TEST_F(WindowTest, CancelAndTheDialogsOwnCloseAreSilent)
{
    startForm();
    answer(m_form->view().password(), "CancelButton");
    m_form->close();
    EXPECT_EQ(nullptr, QApplication::activeModalWidget());
    whenModalOpens(QStringLiteral("CloseDialog"), [](QWidget* dialog) { dialog->close(); });
    m_form->close();
    EXPECT_EQ(nullptr, QApplication::activeModalWidget());
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_FALSE(m_client.stopRequested);
    EXPECT_EQ(0, m_endedCalls);
}

TEST_F(WindowTest, TrayCloseWhileHiddenAsksAndTheWindowStaysHidden)
{
    startForm();
    m_form->hideToTray();
    bool asked = false;
    whenModalOpens(QStringLiteral("CloseDialog"), [&](QWidget* dialog) {
        asked = true;
        click(dialog, "CancelButton");
    });
    find<QAction>("TrayClose")->trigger();
    EXPECT_TRUE(asked);
    EXPECT_FALSE(m_form->isVisible());
    EXPECT_FALSE(m_form->ended());
}

TEST_F(WindowTest, RightPasswordStopsTheClientThenEnds)
{
    startForm();
    answer(m_form->view().password(), "OkButton");
    m_form->close();
    EXPECT_TRUE(m_client.stopRequested);
    EXPECT_TRUE(m_client.finished);
    EXPECT_EQ(nullptr, m_form->gateway().client());
    // The client's last report during the stop was served, not deadlocked.
    EXPECT_NE(std::string::npos, m_form->view().events().back().find(windowtest::kLastWords));
    EXPECT_TRUE(m_form->ended());
    EXPECT_FALSE(m_form->isVisible());
    EXPECT_EQ(1, m_endedCalls);
    EXPECT_FALSE(find<QTimer>("DispatchTimer")->isActive());
}

TEST_F(WindowTest, SessionEndStopsWithoutAsking)
{
    startForm();
    m_form->endWithoutAsking();
    EXPECT_EQ(nullptr, QApplication::activeModalWidget());
    EXPECT_TRUE(m_client.finished);
    EXPECT_TRUE(m_form->ended());
    EXPECT_FALSE(m_form->isVisible());
    EXPECT_EQ(1, m_endedCalls);
    m_form->endWithoutAsking();
    EXPECT_EQ(1, m_endedCalls);
}

TEST_F(WindowTest, SessionEndWhileTheDialogAsks)
{
    startForm();
    whenModalOpens(QStringLiteral("CloseDialog"), [this](QWidget*) { m_form->endWithoutAsking(); });
    m_form->close();
    EXPECT_TRUE(m_client.finished);
    EXPECT_TRUE(m_form->ended());
    EXPECT_FALSE(m_form->isVisible());
    EXPECT_EQ(1, m_endedCalls);
}
