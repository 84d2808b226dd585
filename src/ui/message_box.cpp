#include "ui/message_box.h"

#include <QDialog>
#include <QPointer>
#include <deque>
#include <memory>
#include <utility>

namespace vireo::ui {

namespace {

struct Script
{
    std::deque<QMessageBox::StandardButton> answers;
    std::deque<ModalSeam::Action> actions;
    QStringList shown;
    bool unattendedBoxes = false;
    bool unattendedDialogs = false;
};

Script& script()
{
    static Script s;
    return s;
}

QString titleOr(const QString& title)
{
    return title.isEmpty() ? QString::fromLatin1(kAppTitle) : title;
}

} // namespace

void MessageBox::Information(QWidget* parent, const QString& text, const QString& title)
{
    Ask(parent, text, QMessageBox::Ok, QMessageBox::Ok, title);
}

QMessageBox::StandardButton MessageBox::Ask(QWidget* parent, const QString& text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton escape,
                                            const QString& title)
{
    Script& s = script();
    s.shown << text;
    if (!s.answers.empty()) {
        const auto answer = s.answers.front();
        s.answers.pop_front();
        return answer;
    }
    if (s.unattendedBoxes) {
        return escape;
    }
    // On the heap: a parent that goes while the box is open (a device window
    // closing from a posted call) takes the box along, and the box's loop
    // ends as if it had been closed.
    const QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::NoIcon, titleOr(title), text, buttons, parent);
    box->setEscapeButton(escape);
    const int result = box->exec();
    if (box.isNull()) {
        return escape;
    }
    delete box.data();
    const auto button = static_cast<QMessageBox::StandardButton>(result);
    return buttons.testFlag(button) ? button : escape;
}

void MessageBox::Notify(QWidget* parent, const QString& text, std::function<void()> closed)
{
    Script& s = script();
    s.shown << text;
    if (!s.answers.empty() || s.unattendedBoxes) {
        if (!s.answers.empty()) {
            s.answers.pop_front();
        }
        closed();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, titleOr({}), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    // Finished and then destroyed, or destroyed with its parent: either way
    // once.
    auto pending = std::make_shared<std::function<void()>>(std::move(closed));
    auto fire = [pending] {
        if (*pending) {
            std::exchange(*pending, nullptr)();
        }
    };
    QObject::connect(box, &QDialog::finished, box, fire);
    QObject::connect(box, &QObject::destroyed, fire);
    box->show();
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton answer)
{
    script().answers.push_back(answer);
}

void MessageBox::clearAnswers()
{
    script().answers.clear();
}

void MessageBox::setUnattended(bool unattended)
{
    script().unattendedBoxes = unattended;
}

QStringList MessageBox::shownTexts()
{
    return script().shown;
}

void MessageBox::clearShown()
{
    script().shown.clear();
}

int ModalSeam::Exec(QDialog* dialog)
{
    Script& s = script();
    if (!s.actions.empty()) {
        Action action = std::move(s.actions.front());
        s.actions.pop_front();
        return action(dialog);
    }
    if (s.unattendedDialogs) {
        dialog->reject();
        return QDialog::Rejected;
    }
    return dialog->exec();
}

void ModalSeam::setNextAction(Action action)
{
    script().actions.push_back(std::move(action));
}

void ModalSeam::setUnattended(bool unattended)
{
    script().unattendedDialogs = unattended;
}

int ModalSeam::pendingActions()
{
    return static_cast<int>(script().actions.size());
}

} // namespace vireo::ui
