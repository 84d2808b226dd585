#include "app/ui/about_box.h"

#include "ui/gbk_text.h"
#include "ui/icons.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

namespace vireo::ui {

namespace {

constexpr int kPictureSize = 48;
constexpr int kCaptionLeft = 84;
constexpr int kValueGap = 10;
constexpr int kRowHeight = 26;

QLabel* makeLabel(QWidget* parent, const char* name, int row, int x, int y)
{
    auto* label = new QLabel(LangText(row), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->adjustSize();
    label->move(x, y);
    return label;
}

// A value label placed 10 pixels right of its caption's right edge.
QLabel* valueBeside(QWidget* parent, const QLabel* caption, const char* name, int row, int y)
{
    return makeLabel(parent, name, row, caption->geometry().right() + 1 + kValueGap, y);
}

} // namespace

AboutBox::AboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TAboutBox"));
    setModal(true);
    // The menu item's caption without its mnemonic and ellipsis.
    QString title = LangText(63);
    title.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    title.remove(QLatin1Char('&')).remove(QStringLiteral("..."));
    setWindowTitle(title);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("ProgramIcon"));
    picture->setPixmap(LoadIcon(QStringLiteral("computer")).pixmap(kPictureSize, kPictureSize));
    picture->setGeometry(18, 18, kPictureSize, kPictureSize);

    int y = 20;
    QWidget* widest = nullptr;
    auto track = [&widest](QWidget* w) {
        if (widest == nullptr || w->geometry().right() > widest->geometry().right()) {
            widest = w;
        }
    };
    const QLabel* product = makeLabel(this, "ProductName", 124, kCaptionLeft, y);
    track(valueBeside(this, product, "Label_prod_nam", 125, y));
    y += kRowHeight;
    const QLabel* version = makeLabel(this, "Version", 126, kCaptionLeft, y);
    track(valueBeside(this, version, "Label_ver", 131, y));
    y += kRowHeight;
    const QLabel* copyright = makeLabel(this, "Copyright", 127, kCaptionLeft, y);
    track(valueBeside(this, copyright, "Label_cop", 132, y));
    y += kRowHeight;
    const QLabel* comments = makeLabel(this, "Comments", 128, kCaptionLeft, y);
    track(valueBeside(this, comments, "Label_com1", 129, y));
    y += kRowHeight - 6;
    track(valueBeside(this, comments, "Label_com2", 130, y));
    y += kRowHeight + 10;

    auto* ok = new QPushButton(LangText(3), this);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    ok->adjustSize();
    const int width = std::max(360, widest->geometry().right() + 24);
    ok->move((width - ok->width()) / 2, y);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(width, y + ok->height() + 16);
}

} // namespace vireo::ui
