#include "ui/icons.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <array>

// Kept outside any namespace: the resource initialiser is a global function.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace vireo::ui {

namespace {

constexpr std::array<int, 4> kSizes = {16, 24, 32, 48};

QIcon render(const QString& name)
{
    static bool resourcesReady = false;
    if (!resourcesReady) {
        initIconResources();
        resourcesReady = true;
    }
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
    if (!renderer.isValid()) {
        return {};
    }
    QIcon icon;
    for (const int size : kSizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon fromList(const char* const* names, size_t count, int index)
{
    if (index < 0 || static_cast<size_t>(index) >= count || names[index] == nullptr) {
        return {};
    }
    return LoadIcon(QString::fromLatin1(names[index]));
}

} // namespace

QIcon LoadIcon(const QString& name)
{
    static QHash<QString, QIcon> cache;
    auto it = cache.find(name);
    if (it == cache.end()) {
        it = cache.insert(name, render(name));
    }
    return it.value();
}

QIcon MachineImage(int index)
{
    static const char* const names[] = {nullptr,       "computer",           "badge_dark_green",
                                        "badge_blue",  "badge_bright_green", "badge_red",
                                        "current_mark"};
    return fromList(names, std::size(names), index);
}

QIcon ToolbarImage(int index)
{
    static const char* const names[] = {"computer",        "lightning", "red_cross",
                                        "circling_arrows", "power",     "upgrade"};
    return fromList(names, std::size(names), index);
}

QIcon ProgramImage(int index)
{
    static const char* const names[] = {"satellite",   "transponder",  "tv",    "radio",
                                        "pid_line",    "playing_good", nullptr, "module_up",
                                        "module_down", "playing_bad"};
    return fromList(names, std::size(names), index);
}

} // namespace vireo::ui
