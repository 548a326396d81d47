#include "ui/profile_editor_model.h"

#include <QBrush>
#include <QColor>
#include <QUndoStack>

#include <algorithm>

namespace tarvel::ui {

using profile::kTableColumns;

QString CellText(const std::string& cell) {
  return QString::fromLatin1(cell.data(), static_cast<qsizetype>(cell.size()));
}

std::string CellBytes(const QString& text) {
  QByteArray bytes = text.toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

WorksheetModel::WorksheetModel(profile::EditorSession& session, profile::MessageSink& prompt, QUndoStack& undo,
                               QObject* parent)
    : QAbstractTableModel(parent), session_(session), prompt_(prompt), undo_(undo) {}

int WorksheetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : profile::kLastSegmentRow;
}

int WorksheetModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kTableColumns; }

QVariant WorksheetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return CellText(session_.Sheet().Cell(TableRow(index), index.column()));
    case Qt::TextAlignmentRole:
      return index.column() == profile::kSeg ? QVariant(Qt::AlignCenter) : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::BackgroundRole:
      // The Seg column is the grid's fixed column.
      if (index.column() == profile::kSeg) return QBrush(QColor(224, 224, 224));
      return {};
    default: return {};
  }
}

QVariant WorksheetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  if (orientation == Qt::Horizontal && section >= 0 && section < kTableColumns)
    return QString::fromLatin1(profile::ColumnTitles()[section].data(),
                               static_cast<qsizetype>(profile::ColumnTitles()[section].size()));
  return section + 1;
}

Qt::ItemFlags WorksheetModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (profile::IsTypedCell(TableRow(index), index.column())) flags |= Qt::ItemIsEditable;
  return flags;
}

bool WorksheetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole) return false;
  const int row = TableRow(index), column = index.column();
  auto changes = session_.Sheet().CommitEdit(row, column, CellBytes(value.toString()), prompt_);
  Push(std::move(changes),
       QString("Edit %1 of row %2").arg(CellText(std::string(profile::ColumnTitles()[column]))).arg(row));
  return true;
}

void WorksheetModel::TypeBlock(const QModelIndex& index, const std::vector<std::vector<std::string>>& cells) {
  if (!index.isValid()) return;
  auto result = session_.Sheet().TypeBlock(TableRow(index), index.column(), cells, prompt_);
  Push(std::move(result.changes), QString("Paste at row %1").arg(TableRow(index)));
}

void WorksheetModel::ReplaceTable(const profile::ProfileTable& table) {
  Push(session_.Sheet().Replace(table), "Import");
}

void WorksheetModel::Push(profile::CellChanges changes, const QString& text) {
  if (changes.empty()) return;
  ApplyChanges(changes, false);  // already in the worksheet: this only redraws
  undo_.push(new CellChangeCommand(*this, std::move(changes), text));
}

void WorksheetModel::Reload() {
  beginResetModel();
  endResetModel();
}

void WorksheetModel::ApplyChanges(const profile::CellChanges& changes, bool undo) {
  if (changes.empty()) return;
  session_.Sheet().Apply(changes, undo);
  int top = profile::kLastSegmentRow, bottom = 1, left = kTableColumns - 1, right = 0;
  for (const auto& change : changes) {
    top = std::min(top, change.row);
    bottom = std::max(bottom, change.row);
    left = std::min(left, change.column);
    right = std::max(right, change.column);
  }
  emit dataChanged(IndexOf(top, left), IndexOf(bottom, right), {Qt::DisplayRole, Qt::EditRole});
}

CellChangeCommand::CellChangeCommand(WorksheetModel& model, profile::CellChanges changes, const QString& text)
    : QUndoCommand(text), model_(model), changes_(std::move(changes)) {}

void CellChangeCommand::undo() {
  model_.ApplyChanges(changes_, true);
  applied_ = false;
}

void CellChangeCommand::redo() {
  if (applied_) return;  // the first redo comes with the push, after the edit was made
  model_.ApplyChanges(changes_, false);
  applied_ = true;
}

}  // namespace tarvel::ui
