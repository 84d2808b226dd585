#pragma once

#include <QDialog>

namespace vireo::ui {

// TAboutBox: product, version, copyright and comments, every text from the
// language table; each value stands 10 pixels right of its caption.
class AboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);
};

} // namespace vireo::ui
