#pragma once

#include "snapshot/snapshot_diff.h"

#include <QDialog>
#include <QStringList>

class QTreeWidget;

namespace vireo::ui {

// The differences between a snapshot and a device as a tree: one branch per
// section, one node per satellite, transponder, program or setting that
// differs, its fields below with the snapshot's and the device's values.
class SnapshotDiffDialog : public QDialog
{
    Q_OBJECT
public:
    // `diff` compares the snapshot (a) with the device (b).
    SnapshotDiffDialog(const SnapshotDiff& diff, const QString& title, QWidget* parent = nullptr);

    QTreeWidget* Tree() const { return m_tree; }

private:
    QTreeWidget* m_tree;
};

// The differences a line each, in the interface's language: the section and
// what differs, then a line per field ("    field: snapshot -> device").
QStringList DiffLines(const SnapshotDiff& diff);

// Fills `tree` with `diff` (three columns: item, snapshot, device).
void FillDiffTree(QTreeWidget* tree, const SnapshotDiff& diff);

} // namespace vireo::ui
