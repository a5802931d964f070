// app/StatusWindow.cpp
#include "app/StatusWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

#include "app/AppIcon.h"
#include "app/DesignFonts.h"
#include "app/LinkIndicator.h"
#include "app/TrackerGrid.h"
#include "app/TrayIcon.h"

namespace app {

namespace {

constexpr int kWidth = 783;
constexpr int kHeight = 464;
constexpr int kPageBarHeight = 85;
constexpr int kDispatchIntervalMs = 10;
const QColor kPageBackground(0xE9, 0xF1, 0xFA);
const QColor kPageBarBackground(0xDA, 0xE6, 0xF4);

void fillBackground(QWidget* widget, const QColor& colour)
{
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
}

QColor portColour(PortState state)
{
    switch (state) {
    case PortState::Listening:
        return QColor(0x00, 0x80, 0x00);
    case PortState::Closed:
        return QColor(0xFF, 0x00, 0x00);
    case PortState::Unknown:
        break;
    }
    return Qt::black;
}

} // namespace

StatusWindow::StatusWindow(GatewayOptions options, TrayAvailable trayAvailable, QWidget* parent)
    : QWidget(parent), m_gateway(m_view, std::move(options)),
      m_trayAvailable(std::move(trayAvailable))
{
    setObjectName(QStringLiteral("StatusWindow"));
    setWindowTitle(QString::fromUtf8(kDefaultCaption));
    setWindowIcon(applicationIcon());
    setFixedSize(kWidth, kHeight);
    setFont(tahomaFont(8));
    fillBackground(this, kPageBackground);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    buildPageBar();
    buildStatusPage();
    m_tray = new TrayIcon(this);
    connect(m_tray->restoreAction(), &QAction::triggered, this, [this] { restoreFromTray(); });
    connect(m_tray->closeAction(), &QAction::triggered, this, [this] { close(); });
    m_dispatchTimer = new QTimer(this);
    m_dispatchTimer->setObjectName(QStringLiteral("DispatchTimer"));
    m_dispatchTimer->setInterval(kDispatchIntervalMs);
    connect(m_dispatchTimer, &QTimer::timeout, this, [this] { dispatchTick(); });

    m_view.onEventAppended = [this](const std::string&) { showEvents(); };
    m_view.onLinkChanged = [this] { showLinkState(); };
    startUp();
}

StatusWindow::~StatusWindow()
{
    // The client may still report while it stops; the widgets it reports to are still here.
    m_dispatchTimer->stop();
    m_gateway.stop();
    m_view.onEventAppended = nullptr;
    m_view.onLinkChanged = nullptr;
}

void StatusWindow::startUp()
{
    m_gateway.start();
    showStartUpValues();
    showLinkState();
    m_grid->refresh();
    m_closeDialog = std::make_unique<CloseDialog>(m_view.password());
    m_tray->show();
    m_dispatchTimer->start();
}

void StatusWindow::buildPageBar()
{
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("PageBar"));
    bar->setGeometry(0, 0, kWidth, kPageBarHeight);
    fillBackground(bar, kPageBarBackground);

    auto* button = new QToolButton(bar);
    button->setObjectName(QStringLiteral("PageButton"));
    button->setText(QStringLiteral("Состояние"));
    button->setIcon(statusPageIcon());
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setCheckable(true);
    button->setChecked(true);
    // The only page: the button stays pressed.
    connect(button, &QToolButton::toggled, button, [button] { button->setChecked(true); });
    button->setGeometry(6, (kPageBarHeight - 57) / 2, 73, 57);
}

QLabel* StatusWindow::addLabel(QWidget* page, const QString& text, int left, int top, int width)
{
    auto* label = new QLabel(text, page);
    label->adjustSize();
    label->move(left, top);
    if (width > 0) {
        // Right-aligned: a face wider than the one the layout was made for grows to the left.
        const int right = left + width;
        width = std::min(std::max(width, label->width()), right);
        label->setGeometry(right - width, top, width, label->height());
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    return label;
}

void StatusWindow::buildStatusPage()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("StatusPage"));
    page->setGeometry(0, kPageBarHeight, kWidth, kHeight - kPageBarHeight);

    addLabel(page, QStringLiteral("Дата и время запуска"), 7, 10, 111);
    m_startTime = addLabel(page, {}, 124, 10);
    addLabel(page, QStringLiteral("Пароль для закрытия"), 7, 33, 111);
    m_password = addLabel(page, {}, 124, 33);
    addLabel(page, QStringLiteral("Связь с сервером сообщений"), 245, 10);
    m_indicator = new QLabel(page);
    m_indicator->setGeometry(416, 8, kIndicatorSize, kIndicatorSize);
    addLabel(page, QStringLiteral("Сервер"), 245, 33);
    m_server = addLabel(page, {}, 312, 33);
    addLabel(page, QStringLiteral("TCP порт"), 245, 59);
    m_port = addLabel(page, {}, 312, 59);

    m_events = new QPlainTextEdit(page);
    m_events->setReadOnly(true);
    m_events->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_events->setGeometry(8, 78, 432, 290);

    m_grid = new TrackerGrid(m_view, page);
    m_grid->setGeometry(446, 6, 330, 362);

    const std::pair<QLabel*, const char*> names[] = {{m_startTime, "StartTimeLabel"},
                                                     {m_password, "PasswordLabel"},
                                                     {m_indicator, "LinkIndicator"},
                                                     {m_server, "ServerLabel"},
                                                     {m_port, "PortLabel"}};
    for (const auto& [label, name] : names)
        label->setObjectName(QString::fromLatin1(name));
    m_events->setObjectName(QStringLiteral("EventList"));
}

void StatusWindow::showStartUpValues()
{
    setWindowTitle(QString::fromStdString(m_gateway.caption()));
    const std::pair<QLabel*, QString> values[] = {
        {m_startTime, QString::fromStdString(m_view.startTime())},
        {m_password, QString::fromStdString(m_view.password())},
        {m_port, QString::number(m_view.port())}};
    for (const auto& [label, text] : values) {
        label->setText(text);
        label->adjustSize();
    }
    m_port->resize(120, m_port->height());
    // Set once: whether the port could be opened at start.
    QPalette palette = m_port->palette();
    palette.setColor(QPalette::WindowText, portColour(m_view.portState()));
    m_port->setPalette(palette);
}

void StatusWindow::showEvents()
{
    QStringList lines;
    for (const std::string& line : m_view.events())
        lines << QString::fromStdString(line);
    m_events->setPlainText(lines.join(QLatin1Char('\n')));
    m_events->verticalScrollBar()->setValue(m_events->verticalScrollBar()->maximum());
}

void StatusWindow::showLinkState()
{
    m_server->setText(QString::fromStdString(m_view.serverAddress()));
    m_server->adjustSize();
    redrawLinkIndicator();
}

void StatusWindow::redrawLinkIndicator()
{
    m_indicator->setPixmap(
        QPixmap::fromImage(linkIndicatorImage(m_gateway.linkConnected(), m_view.activity())));
}

void StatusWindow::dispatchTick()
{
    if (m_gateway.dispatchTick())
        m_grid->refresh();
}

void StatusWindow::hideToTray()
{
    hide();
}

void StatusWindow::restoreFromTray()
{
    showNormal();
    raise();
    activateWindow();
}

void StatusWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized())
        return;
    // Without a notification area the window stays an ordinary minimised one, so that it can
    // always be brought back. Hidden after the state change has been handled.
    if (m_trayAvailable && m_trayAvailable())
        QMetaObject::invokeMethod(
            this, [this] { hideToTray(); }, Qt::QueuedConnection);
}

void StatusWindow::closeEvent(QCloseEvent* event)
{
    confirmClose(event);
}

void StatusWindow::confirmClose(QCloseEvent* event)
{
    if (m_state == State::Ended) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_state != State::Running)
        return; // a close request is already being answered
    m_state = State::Asking;
    const CloseDialog::Result result = m_closeDialog->ask();
    if (m_state == State::Ended) { // ended without asking while the dialog was open
        event->accept();
        return;
    }
    m_state = State::Running;
    if (result == CloseDialog::Result::WrongPassword)
        showWrongPassword();
    if (result != CloseDialog::Result::Ok)
        return;
    stopGateway();
    event->accept();
    if (onEnded)
        onEnded();
}

void StatusWindow::endWithoutAsking()
{
    if (m_state == State::Stopping || m_state == State::Ended)
        return;
    const bool asking = m_state == State::Asking;
    if (asking)
        m_closeDialog->reject(); // the pending close request then lets the close through
    stopGateway();
    if (!asking)
        close();
    if (onEnded)
        onEnded();
}

void StatusWindow::stopGateway()
{
    // No way back from here: the client is told to stop.
    m_state = State::Stopping;
    m_dispatchTimer->stop();
    m_gateway.stop(); // serves the client's hand-overs until it has ended
    m_tray->hide();
    m_state = State::Ended;
}

void StatusWindow::showWrongPassword()
{
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(kApplicationTitle),
                    QStringLiteral("Не правильный пароль."), QMessageBox::Ok);
    box.setObjectName(QStringLiteral("WrongPasswordBox"));
    box.exec();
}

} // namespace app
