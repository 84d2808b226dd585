#pragma once

// The main window of a desktop benchmark: no box or dialog waits for an
// operator, the start-up dialog is confirmed with Ok and the dialogs are made.

#include "app/ui/main_form.h"
#include "ui/message_box.h"

#include <QDialog>
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

} // namespace vireo::bench
