// tests/app/StatusWindowTest.cpp: the main window over a started gateway: the status page, the
// client's window operations, minimising to the tray.
#include "app/StatusWindow.h"

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/LinkIndicator.h"
#include "tests/app/WindowFixture.h"

using windowtest::WindowTest;

namespace {

QRgb indicatorFrame(QLabel* indicator)
{
    return indicator->pixmap().toImage().pixel(8, 3) & 0xFFFFFF;
}

} // namespace

TEST_F(WindowTest, StartUpFillsTheStatusPage)
{
    startForm(true, "caption=Склад\n");
    EXPECT_EQ("Склад", m_form->windowTitle());
    EXPECT_EQ(QSize(783, 464), m_form->size());
    EXPECT_EQ(QString::fromStdString(m_form->view().password()),
              find<QLabel>("PasswordLabel")->text());
    EXPECT_EQ(5, find<QLabel>("PasswordLabel")->text().size());
    EXPECT_EQ(QString::fromStdString(m_form->view().startTime()),
              find<QLabel>("StartTimeLabel")->text());
    EXPECT_EQ(".", find<QLabel>("ServerLabel")->text());
    QLabel* port = find<QLabel>("PortLabel");
    EXPECT_EQ("0", port->text()); // DefaultPort=0: any free port, shown as set
    EXPECT_EQ(QColor(0x00, 0x80, 0x00), port->palette().color(QPalette::WindowText));
    EXPECT_EQ(app::kIndicatorDown, indicatorFrame(find<QLabel>("LinkIndicator")));
    EXPECT_TRUE(find<QTimer>("DispatchTimer")->isActive());
    EXPECT_TRUE(m_client.created);
}

TEST_F(WindowTest, DefaultCaptionWithoutSetting)
{
    startForm();
    EXPECT_EQ("Тавра 8 - Драйвер GT20v5", m_form->windowTitle());
}

TEST_F(WindowTest, ClientThreadReachesEventListServerLabelAndIndicator)
{
    startForm();
    reportFromClientThread([](msglink::LinkView& view) {
        view.showServerAddress("10.1.2.3");
        for (int i = 0; i < 3; ++i)
            view.appendLinkEvent("Соединение...");
        view.appendLinkEvent("Соединение установлено.");
    });
    EXPECT_EQ("10.1.2.3", find<QLabel>("ServerLabel")->text());
    const QStringList lines = find<QPlainTextEdit>("EventList")->toPlainText().split('\n');
    ASSERT_EQ(2, lines.size());
    EXPECT_TRUE(lines[0].endsWith(" Соединение..."));
    EXPECT_TRUE(lines[1].endsWith(" Соединение установлено."));

    m_client.linkUp = true;
    reportFromClientThread([](msglink::LinkView& view) { view.advanceLinkIndicator(); });
    EXPECT_TRUE(serveUntil([&] { return m_form->view().activity() == 1; }));
    QLabel* indicator = find<QLabel>("LinkIndicator");
    EXPECT_EQ(app::kIndicatorUp, indicatorFrame(indicator));
    EXPECT_EQ(app::linkIndicatorImage(true, 1), indicator->pixmap().toImage());
}

TEST_F(WindowTest, MinimiseHidesToTrayAndRestoreBringsItBack)
{
    startForm(true);
    m_form->showMinimized();
    EXPECT_TRUE(serveUntil([&] { return !m_form->isVisible(); }));
    find<QAction>("TrayRestore")->trigger();
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_FALSE(m_form->isMinimized());
}

TEST_F(WindowTest, WithoutTrayMinimiseIsOrdinary)
{
    startForm(false);
    m_form->showMinimized();
    platform::serveMainThreadFor(20);
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_TRUE(m_form->isMinimized());
}
