#include "snapshot/ui/snapshot_diff_dialog.h"

#include "snapshot/ui/snapshot_apply_dialog.h"
#include "snapshot/ui/snapshot_rows.h"
#include "ui/gbk_text.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vireo::ui {

namespace {

QString utf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

int sectionRow(const std::string& section)
{
    if (section == "satellites") {
        return snapshot_row::Satellites;
    }
    if (section == "transponders") {
        return snapshot_row::Transponders;
    }
    if (section == "tv") {
        return snapshot_row::TvPrograms;
    }
    if (section == "radio") {
        return snapshot_row::RadioPrograms;
    }
    return snapshot_row::SystemSettings;
}

int changeRow(DiffEntry::Change change)
{
    switch (change) {
    case DiffEntry::Change::OnlyInA:
        return snapshot_row::OnlyInSnapshot;
    case DiffEntry::Change::OnlyInB:
        return snapshot_row::OnlyOnDevice;
    default:
        return snapshot_row::Changed;
    }
}

} // namespace

QStringList DiffLines(const SnapshotDiff& diff)
{
    QStringList lines;
    for (const DiffEntry& e : diff.entries) {
        // The system record is one: its section names it.
        QString text =
            LangText(sectionRow(e.section)) + QStringLiteral(": ") + LangText(changeRow(e.change));
        if (e.section != "system") {
            text += QStringLiteral(": ") + utf8(e.subject);
        }
        if (!e.parent.empty()) {
            text += QStringLiteral("  (") + utf8(e.parent) + QStringLiteral(")");
        }
        lines << text;
        for (const FieldDiff& f : e.fields) {
            lines << QStringLiteral("    ") +
                         (e.section == "system" ? SystemFieldText(f.field) : utf8(f.field)) +
                         QStringLiteral(": ") + utf8(f.a) + QStringLiteral(" -> ") + utf8(f.b);
        }
    }
    return lines;
}

void FillDiffTree(QTreeWidget* tree, const SnapshotDiff& diff)
{
    tree->clear();
    tree->setColumnCount(3);
    tree->setHeaderLabels({LangText(snapshot_row::Item), LangText(snapshot_row::Snapshot),
                           LangText(snapshot_row::Device)});
    QTreeWidgetItem* section = nullptr;
    std::string sectionName;
    int count = 0;
    auto closeSection = [&] {
        if (section != nullptr) {
            section->setText(0, section->text(0) + QStringLiteral(" (%1)").arg(count));
        }
    };
    for (const DiffEntry& e : diff.entries) {
        if (section == nullptr || e.section != sectionName) {
            closeSection();
            section = new QTreeWidgetItem(tree, {LangText(sectionRow(e.section))});
            sectionName = e.section;
            count = 0;
            QFont bold = section->font(0);
            bold.setBold(true);
            section->setFont(0, bold);
            section->setExpanded(true);
        }
        ++count;
        QString text = LangText(changeRow(e.change)) + QStringLiteral(": ") + utf8(e.subject);
        if (!e.parent.empty()) {
            text += QStringLiteral("  (") + utf8(e.parent) + QStringLiteral(")");
        }
        auto* item = new QTreeWidgetItem(section, {text});
        for (const FieldDiff& f : e.fields) {
            const QString field = e.section == "system" ? SystemFieldText(f.field) : utf8(f.field);
            new QTreeWidgetItem(item, {field, utf8(f.a), utf8(f.b)});
        }
        item->setExpanded(e.change == DiffEntry::Change::Changed);
    }
    closeSection();
    tree->setColumnWidth(0, 440);
    tree->setColumnWidth(1, 140);
}

SnapshotDiffDialog::SnapshotDiffDialog(const SnapshotDiff& diff, const QString& title,
                                       QWidget* parent)
    : QDialog(parent), m_tree(new QTreeWidget(this))
{
    setObjectName(QStringLiteral("SnapshotDiffDialog"));
    setWindowTitle(LangText(snapshot_row::DiffTitle) + title);
    m_tree->setObjectName(QStringLiteral("SnapshotDiffTree"));
    FillDiffTree(m_tree, diff);
    auto* layout = new QVBoxLayout(this);
    if (diff.Empty()) {
        auto* none = new QLabel(LangText(snapshot_row::NoDifferences), this);
        none->setObjectName(QStringLiteral("SnapshotNoDifferences"));
        layout->addWidget(none);
        m_tree->hide();
    }
    layout->addWidget(m_tree);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* close =
        buttons->addButton(LangText(snapshot_row::Close), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("SnapshotDiffClose"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(760, 520);
}

} // namespace vireo::ui
