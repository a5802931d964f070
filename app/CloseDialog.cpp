// app/CloseDialog.cpp
#include "app/CloseDialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace app {

namespace {

constexpr int kWidth = 222;
constexpr int kHeight = 98;

QPushButton* makeButton(const QString& text, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFont(QFont(QStringLiteral("Tahoma"), 8));
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
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, QColor(0xE9, 0xF1, 0xFA));
    setPalette(palette);
    buildLayout();
}

void CloseDialog::buildLayout()
{
    auto* prompt = new QLabel(QStringLiteral("Введите пароль для доступа"), this);
    prompt->setObjectName(QStringLiteral("Prompt"));
    QFont promptFont(QStringLiteral("Times New Roman"));
    promptFont.setPixelSize(16);
    promptFont.setBold(true);
    prompt->setFont(promptFont);
    prompt->setStyleSheet(QStringLiteral("color: black;"));
    prompt->setGeometry(8, 10, 205, 19);

    m_entry = new QLineEdit(QStringLiteral("     "), this);
    m_entry->setObjectName(QStringLiteral("PasswordEntry"));
    m_entry->setMaxLength(kEntryLength);
    m_entry->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(kEntryLength)), m_entry));
    m_entry->setEchoMode(QLineEdit::Password);
    m_entry->setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid #7F9DB9;"
                                          " background: white; padding: 0px 1px;"
                                          " lineedit-password-character: 42; }"));
    m_entry->setGeometry(88, 35, 49, 19);

    QPushButton* ok = makeButton(QStringLiteral("ОК"), "OkButton", this);
    ok->setGeometry(35, 60, 72, 25);
    connect(ok, &QPushButton::clicked, this, [this] {
        m_result = judge(m_entry->text(), m_password);
        accept();
    });
    QPushButton* cancel = makeButton(QStringLiteral("Отмена"), "CancelButton", this);
    cancel->setGeometry(113, 60, 72, 25);
    connect(cancel, &QPushButton::clicked, this, [this] {
        m_result = Result::Cancel;
        reject();
    });
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
