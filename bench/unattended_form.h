#pragma once

// What the desktop benchmarks share: a main window that no box or dialog
// holds up (the start-up dialog confirmed with Ok, the dialogs made), and a
// wait that keeps the event loop turning.

#include "app/ui/main_form.h"
#include "ui/message_box.h"

#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>
#include <memory>

namespace vireo::bench {

inline std::unique_ptr<ui::MainForm> MakeUnattendedMainForm()
{
    ui::MessageBox::setUnattended(true);
    ui::ModalSeam::setUnattended(true);
    auto form = std::make_unique<ui::MainForm>();
    ui::ModalSeam::setNextAction([](QDialog* d) {
        if (auto* ok = d->findChild<QPushButton*>(QStringLiteral("Btn_ok"))) {
            ok->click();
        }
        return d->result();
    });
    form->FormCreate();
    form->CreateDialogs();
    return form;
}

// Runs the event loop until `done` holds or `limitMs` pass.
template <typename F> bool spinUntil(F done, int limitMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

} // namespace vireo::bench
