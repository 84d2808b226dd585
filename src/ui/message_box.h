#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

class QDialog;

namespace vireo::ui {

// Title of message boxes that have no caption of their own.
inline constexpr const char* kAppTitle = "HD Professinal IRD Remote Manage";

// Every message box of the program goes through here, so a test can answer
// it instead of an operator.
class MessageBox
{
public:
    // A plain box with an OK button (no icon).
    static void Information(QWidget* parent, const QString& text, const QString& title = {});
    // A box without icon offering `buttons`; returns the button chosen, or
    // `escape` when the box is closed without a choice.
    static QMessageBox::StandardButton Ask(QWidget* parent, const QString& text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton escape,
                                           const QString& title = {});

    // A plain box with an OK button that blocks nothing: the call returns at
    // once and `closed` is called on this thread when the box goes (closed by
    // the operator or with its parent), at most once. A queued answer or the
    // unattended mode closes it at once, as the operator would.
    static void Notify(QWidget* parent, const QString& text, std::function<void()> closed);

    // Tests: the next box is not shown and gives `answer` (answers queue up).
    static void setNextAnswer(QMessageBox::StandardButton answer);
    // Tests: answers queued and never asked for are dropped.
    static void clearAnswers();
    // Tests: a box with no queued answer is not shown either; it gives its
    // escape answer (OK for an information box).
    static void setUnattended(bool unattended);
    // Texts of the boxes asked for since the last clearShown(), in order.
    static QStringList shownTexts();
    static void clearShown();
};

// Every modal dialog is run through here, so a test can script it: the next
// action queued is called with the dialog instead of running it, and its
// return value stands for the dialog's result.
class ModalSeam
{
public:
    using Action = std::function<int(QDialog*)>;

    static int Exec(QDialog* dialog);
    static void setNextAction(Action action);
    // Tests: a dialog with no action queued is rejected at once.
    static void setUnattended(bool unattended);
    static int pendingActions();
};

} // namespace vireo::ui
