// app/CloseDialog.h: the close-password dialog. Created once, hidden, and shown for every close
// request of the main window. Window's thread only.
#pragma once

#include <string>

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace app {

class CloseDialog final : public QDialog
{
public:
    enum class Result
    {
        Ok,
        Cancel,
        WrongPassword
    };

    static constexpr int kEntryLength = 5;
    // What a window manager's title bar takes beside the title: icon, three buttons, margins.
    static constexpr int kTitleBarReserve = 128;

    // password: the close password shown on the status page.
    explicit CloseDialog(std::string password, QWidget* parent = nullptr);

    // Shows the dialog modally until "ОК", "Отмена" or its own close button ends it. The
    // entry keeps its text from one showing to the next.
    Result ask();

    // Exact comparison as text: fewer digits, or blanks, never match.
    static Result judge(const QString& entry, const std::string& password);

    // The font window managers most often draw titles in: the desktop's, bold. Ours cannot be
    // asked; the reserve above covers the difference.
    static QFont titleFont();
    // The dialog's width: the reference width, or more when the title would not fit beside the
    // title bar's buttons.
    static int widthFor(const QString& title, const QFont& font);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Enter and Escape do nothing: the buttons are clicked with the pointer.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildLayout();
    // The reference layout, centred in a dialog as wide as its title and prompt need.
    void placeControls(QLabel* prompt, QPushButton* ok, QPushButton* cancel);
    void selectEntry();

    const std::string m_password;
    QLineEdit* m_entry = nullptr;
    Result m_result = Result::Cancel;
};

} // namespace app
