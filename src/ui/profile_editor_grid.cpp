#include "ui/profile_editor_grid.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>

#include "profile/worksheet.h"
#include "ui/profile_editor_model.h"

namespace tarvel::ui {
namespace {

// The typed character as the worksheet filter sees it: one 8-bit character, or none.
std::optional<char> TypedKey(const QKeyEvent* event) {
  if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) return profile::kBackspace;
  if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return std::nullopt;
  const QString text = event->text();
  if (text.size() != 1 || !text[0].isPrint()) return std::nullopt;
  const char16_t code = text[0].unicode();
  // Outside 8-bit text a character cannot be stored: refused like any other wrong key.
  return code < 256 ? std::optional<char>(static_cast<char>(code)) : std::optional<char>('\x7f');
}

// Qt has no caption colours: this is the classic desktop scheme's inactive caption text.
const QColor kInactiveCaptionText(192, 192, 192);

}  // namespace

CellEditor::CellEditor(int tableRow, int column, QWidget* parent) : QLineEdit(parent), row_(tableRow), column_(column) {
  setObjectName("FloatingTextBox");
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  setFrame(false);
}

void CellEditor::SetCellText(const QString& text) {
  cellText_ = text;
  setText(text);
}

bool CellEditor::Takes(const QString& keys) {
  for (QChar key : keys)
    if (key.unicode() >= 256 ||
        profile::FilterKey(row_, column_, static_cast<char>(key.unicode())).verdict == profile::KeyVerdict::Beep)
      return false;
  return true;
}

void CellEditor::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Paste)) {
    if (Takes(QApplication::clipboard()->text())) {
      emit keyAccepted();
      QLineEdit::keyPressEvent(event);
    } else {
      emit beep();
    }
    return;
  }
  auto key = TypedKey(event);
  if (!key) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  switch (profile::FilterKey(row_, column_, *key).verdict) {
    case profile::KeyVerdict::Accept:
      emit keyAccepted();
      QLineEdit::keyPressEvent(event);
      return;
    case profile::KeyVerdict::AcceptAlone:
      emit keyAccepted();
      setText(QString(QChar(*key)));
      return;
    default:
      if (column_ == profile::kAction) setText(cellText_);
      emit beep();
      return;
  }
}

QWidget* CellDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const {
  auto* editor = new CellEditor(WorksheetModel::TableRow(index), index.column(), parent);
  connect(editor, &CellEditor::beep, this, &CellDelegate::beep);
  connect(editor, &CellEditor::keyAccepted, this, &CellDelegate::keyAccepted);
  return editor;
}

void CellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
  static_cast<CellEditor*>(editor)->SetCellText(index.data(Qt::EditRole).toString());
}

void CellDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
  model->setData(index, static_cast<CellEditor*>(editor)->text(), Qt::EditRole);
}

void CellDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  const auto* view = qobject_cast<const WorksheetView*>(option->widget);
  if (!view || index.column() == profile::kSeg) return;
  if (WorksheetModel::TableRow(index) == view->MarkedRow())
    option->backgroundBrush = kInactiveCaptionText;
  else if (index.row() == view->currentIndex().row())
    option->backgroundBrush = view->palette().button();
}

bool CellDelegate::eventFilter(QObject* object, QEvent* event) {
  auto* editor = qobject_cast<CellEditor*>(object);
  if (!editor || event->type() != QEvent::KeyPress) return QStyledItemDelegate::eventFilter(object, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  int rows = 0, columns = 0;
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: rows = key->modifiers() & Qt::ShiftModifier ? -1 : 1; break;
    case Qt::Key_Up: rows = -1; break;
    case Qt::Key_Down: rows = 1; break;
    case Qt::Key_Left:
      if (editor->cursorPosition() > 0 || editor->hasSelectedText()) return false;
      columns = -1;
      break;
    case Qt::Key_Right:
      if (editor->cursorPosition() < editor->text().size() || editor->hasSelectedText()) return false;
      columns = 1;
      break;
    default: return QStyledItemDelegate::eventFilter(object, event);
  }
  // Commit now, not on a queued call: the next key already meets the moved cell.
  emit commitData(editor);
  emit closeEditor(editor, QAbstractItemDelegate::NoHint);
  emit moveRequested(rows, columns);
  return true;
}

WorksheetView::WorksheetView(QWidget* parent) : QTableView(parent) {
  // No SelectedClicked: Qt opens that editor later, on a timer, and keys typed meanwhile were
  // lost or replaced. A click on the current cell opens its box at once (mousePressEvent).
  setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                  QAbstractItemView::EditKeyPressed);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setTabKeyNavigation(true);
}

void WorksheetView::MoveBy(int rows, int columns) {
  if (!model()) return;
  QModelIndex current = currentIndex();
  const int row = std::clamp(current.row() + rows, 0, model()->rowCount() - 1);
  const int column = std::clamp(current.column() + columns, 0, model()->columnCount() - 1);
  setCurrentIndex(model()->index(row, column));
}

void WorksheetView::CommitPendingEdit() {
  if (auto* editor = indexWidget(currentIndex())) {
    commitData(editor);
    QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
  }
}

void WorksheetView::keyPressEvent(QKeyEvent* event) {
  const QModelIndex current = currentIndex();
  if (current.isValid() && state() != EditingState) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
      MoveBy(event->modifiers() & Qt::ShiftModifier ? -1 : 1, 0);
      return;
    }
    auto key = TypedKey(event);
    const int row = WorksheetModel::TableRow(current);
    if (key && !profile::IsTypedCell(row, current.column())) {
      emit notEditable(QString::fromLatin1(profile::FilterKey(row, current.column(), *key).message.c_str()));
      return;
    }
    if (event->key() == Qt::Key_Delete) {
      model()->setData(current, QString(), Qt::EditRole);  // a spreadsheet's Delete empties the cell
      return;
    }
  }
  QTableView::keyPressEvent(event);
}

void WorksheetView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTableView::currentChanged(current, previous);
  // Moving off the marked row by keys repaints it, as a click does.
  if (markedRow_ != 0 && current.row() + 1 != markedRow_) markedRow_ = 0;
  if (current.row() != previous.row()) viewport()->update();
}

void WorksheetView::SetMarkedRow(int row) {
  markedRow_ = row;
  viewport()->update();
}

void WorksheetView::mousePressEvent(QMouseEvent* event) {
  if (markedRow_ != 0) SetMarkedRow(0);
  const QModelIndex before = currentIndex();
  const bool editing = state() == EditingState;
  QTableView::mousePressEvent(event);
  const QModelIndex at = indexAt(event->position().toPoint());
  if (event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier && !editing && at.isValid() &&
      at == before && at == currentIndex() && (model()->flags(at) & Qt::ItemIsEditable))
    edit(at);
}

void WorksheetView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  // Tab commits and moves on without opening the next cell, as a spreadsheet does.
  QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
  if (hint == QAbstractItemDelegate::EditNextItem) MoveBy(0, 1);
  if (hint == QAbstractItemDelegate::EditPreviousItem) MoveBy(0, -1);
}

}  // namespace tarvel::ui
