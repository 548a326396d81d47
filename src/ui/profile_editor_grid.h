#pragma once
// ui: the worksheet grid -- the view with spreadsheet keys, the delegate and its edit box
// FloatingTextBox, which takes only the keys the worksheet's filter accepts for its column.

#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTableView>

namespace tarvel::ui {

class CellEditor : public QLineEdit {
  Q_OBJECT

 public:
  CellEditor(int tableRow, int column, QWidget* parent);
  // The cell's text when the box opened: a refused Action key shows it again.
  void SetCellText(const QString& text);

 signals:
  void beep();
  void keyAccepted();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool Takes(const QString& keys);
  int row_;
  int column_;
  QString cellText_;
};

class CellDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void setEditorData(QWidget* editor, const QModelIndex& index) const override;
  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

 protected:
  // Columns 1..9 of the current row carry the button colour, so the row being edited stands out;
  // a row marked from the chart carries the inactive caption text colour instead.
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

 public:
 signals:
  void beep();
  void keyAccepted();
  // The box was committed by a key that also moves the current cell.
  void moveRequested(int rows, int columns);

 protected:
  bool eventFilter(QObject* object, QEvent* event) override;
};

class WorksheetView : public QTableView {
  Q_OBJECT

 public:
  explicit WorksheetView(QWidget* parent = nullptr);
  void MoveBy(int rows, int columns);
  // The box of the current cell, when one is open, is committed and closed.
  void CommitPendingEdit();
  // Table row 1..255 marked from the chart (0: none); the next click in the grid repaints it.
  void SetMarkedRow(int row);
  int MarkedRow() const { return markedRow_; }

 signals:
  // A key was typed into a cell that is not edited by hand; the message says why.
  void notEditable(const QString& message);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  int markedRow_ = 0;
};

}  // namespace tarvel::ui
