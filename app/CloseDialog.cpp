// app/CloseDialog.cpp
#include "app/CloseDialog.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <algorithm>

#include "app/DesignFonts.h"

namespace app {

namespace {

// The reference layout; the dialog grows wider when its title needs it, the controls centred.
constexpr int kMinWidth = 222;
constexpr int kHeight = 98;
constexpr int kPromptWidth = 205;
constexpr int kButtonWidth = 72;
// What the entry takes beside its text: border, padding, the line edit's own margins, cursor.
constexpr int kEntryChrome = 12;

QPushButton* makeButton(const QString& text, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFont(tahomaFont(8));
    return button;
}

} // namespace

CloseDialog::CloseDialog(std::string password, QWidget* parent)
    : QDialog(parent), m_password(std::move(password))
{
    setObjectName(QStringLiteral("CloseDialog"));
    setWindowTitle(QStringLiteral("Закрытый доступ"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(0xE9, 0xF1, 0xFA));
    setPalette(palette);
    buildLayout();
}

QFont CloseDialog::titleFont()
{
    QFont font = QApplication::font();
    font.setBold(true);
    return font;
}

int CloseDialog::widthFor(const QString& title, const QFont& font)
{
    return std::max(kMinWidth, QFontMetrics(font).horizontalAdvance(title) + kTitleBarReserve);
}

void CloseDialog::buildLayout()
{
    auto* prompt = new QLabel(QStringLiteral("Введите пароль для доступа"), this);
    prompt->setObjectName(QStringLiteral("Prompt"));
    prompt->setFont(timesBoldFont(16));
    prompt->setStyleSheet(QStringLiteral("color: black;"));
    prompt->setAlignment(Qt::AlignCenter);

    m_entry = new QLineEdit(QStringLiteral("     "), this);
    m_entry->setObjectName(QStringLiteral("PasswordEntry"));
    m_entry->setMaxLength(kEntryLength);
    m_entry->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(kEntryLength)), m_entry));
    m_entry->setEchoMode(QLineEdit::Password);
    m_entry->setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid #7F9DB9;"
                                          " background: white; padding: 0px 1px;"
                                          " lineedit-password-character: 42; }"));

    QPushButton* ok = makeButton(QStringLiteral("ОК"), "OkButton", this);
    connect(ok, &QPushButton::clicked, this, [this] {
        m_result = judge(m_entry->text(), m_password);
        accept();
    });
    QPushButton* cancel = makeButton(QStringLiteral("Отмена"), "CancelButton", this);
    connect(cancel, &QPushButton::clicked, this, [this] {
        m_result = Result::Cancel;
        reject();
    });
    placeControls(prompt, ok, cancel);
}

void CloseDialog::placeControls(QLabel* prompt, QPushButton* ok, QPushButton* cancel)
{
    const int promptWidth = std::max(kPromptWidth, prompt->sizeHint().width());
    setFixedSize(std::max(widthFor(windowTitle(), titleFont()), promptWidth + 16), kHeight);
    const int centre = width() / 2;
    prompt->setGeometry(centre - promptWidth / 2, 10, promptWidth, 19);
    // Wide enough for the widest five digits of the entry's font, not only for its stars.
    const QFontMetrics digits(m_entry->font());
    const int entryWidth =
        std::max(49, digits.horizontalAdvance(QStringLiteral("99999")) + kEntryChrome);
    m_entry->setGeometry(centre - entryWidth / 2, 35, entryWidth,
                         std::max(19, digits.height() + 4));
    ok->setGeometry(centre - 3 - kButtonWidth, 60, kButtonWidth, 25);
    cancel->setGeometry(centre + 3, 60, kButtonWidth, 25);
}

CloseDialog::Result CloseDialog::ask()
{
    m_result = Result::Cancel; // also the answer of the dialog's own close button
    exec();
    return m_result;
}

CloseDialog::Result CloseDialog::judge(const QString& entry, const std::string& password)
{
    return entry.toStdString() == password ? Result::Ok : Result::WrongPassword;
}

bool CloseDialog::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        selectEntry();
    return QDialog::event(event);
}

void CloseDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    selectEntry();
}

void CloseDialog::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CloseDialog::selectEntry()
{
    m_entry->selectAll();
    m_entry->setFocus(Qt::ActiveWindowFocusReason);
    m_entry->update();
}

} // namespace app
