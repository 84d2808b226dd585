#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;

namespace vireo {
class ProgramTree;
}

namespace vireo::ui {

class ProgramTreeView;

// TabSheet_progs: the signal strip (Panel1) above the TV and radio program
// trees, and the popup menu the trees share.
class ProgramsPage : public QWidget
{
    Q_OBJECT
public:
    ProgramsPage(ProgramTree& tvTree, ProgramTree& radioTree, QWidget* parent = nullptr);

    void ApplyCaptions();
    // Gauges 0-99; without text the percentages are hidden.
    void SetGauges(int intensity, int quality, bool showText);
    // Paints both gauges in one colour (grey: no signal lock; green: locked).
    void SetGaugeColour(const QString& colour);
    void SetGaugeTextVisible(bool visible);
    // Left edges of the two check boxes on the strip.
    void PlaceCheckBoxes(int queryLeft, int showRadioLeft);

    QCheckBox* QueryBox() const { return m_query; }
    QCheckBox* ShowRadioBox() const { return m_showRadio; }
    QSplitter* TreeSplitter() const { return m_splitter; }
    ProgramTreeView* TvTree() const { return m_tv; }
    ProgramTreeView* RadioTree() const { return m_radio; }
    QMenu* ProgramMenu() const { return m_menu; }

signals:
    // The operator right-clicked a node of a tree (radioTree: the radio tree).
    void menuRequested(bool radioTree, const QPoint& globalPos);

private:
    void buildStrip();
    void buildMenu();
    void showMenu(ProgramTreeView* tree, const QPoint& pos);

    QWidget* m_strip = nullptr;
    QLabel* m_intensityLabel = nullptr;
    QLabel* m_qualityLabel = nullptr;
    QProgressBar* m_intensity = nullptr;
    QProgressBar* m_quality = nullptr;
    QString m_gaugeColour;
    QCheckBox* m_query = nullptr;
    QCheckBox* m_showRadio = nullptr;
    QSplitter* m_splitter = nullptr;
    ProgramTreeView* m_tv = nullptr;
    ProgramTreeView* m_radio = nullptr;
    QMenu* m_menu = nullptr;
};

} // namespace vireo::ui
