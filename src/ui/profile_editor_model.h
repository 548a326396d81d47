#pragma once
// ui: the worksheet as a Qt table model. Rows 0..254 of the model are the segment rows
// 1..255 of the profile table (the titles are the header). Every edit goes through the
// worksheet's rules and lands on the undo stack as one command with all the cells it changed.

#include <QAbstractTableModel>
#include <QUndoCommand>

#include <vector>

#include "profile/editor_session.h"

class QUndoStack;

namespace tarvel::ui {

class WorksheetModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  WorksheetModel(profile::EditorSession& session, profile::MessageSink& prompt, QUndoStack& undo,
                 QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Commits an edit box's text as a click on the grid does; always true (a refused text
  // empties the cell, which is the edit's result).
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // Cells typed in order from index, as a spreadsheet block pastes: one undo command.
  void TypeBlock(const QModelIndex& index, const std::vector<std::vector<std::string>>& cells);
  // An imported table in place of the worksheet: one undo command.
  void ReplaceTable(const profile::ProfileTable& table);
  // The worksheet was replaced (New, Open): redraw all of it.
  void Reload();
  // Puts a change list back or forward (the undo commands call it).
  void ApplyChanges(const profile::CellChanges& changes, bool undo);

  static int TableRow(const QModelIndex& index) { return index.row() + 1; }
  QModelIndex IndexOf(int tableRow, int column) const { return index(tableRow - 1, column); }

 private:
  void Push(profile::CellChanges changes, const QString& text);

  profile::EditorSession& session_;
  profile::MessageSink& prompt_;
  QUndoStack& undo_;
};

// One accepted edit: every cell it changed, with the text before and after.
class CellChangeCommand : public QUndoCommand {
 public:
  CellChangeCommand(WorksheetModel& model, profile::CellChanges changes, const QString& text);
  void undo() override;
  void redo() override;

 private:
  WorksheetModel& model_;
  profile::CellChanges changes_;
  bool applied_ = true;  // pushed after the worksheet made the change
};

// Cell text <-> QString: cells are 8-bit text, one byte per character.
QString CellText(const std::string& cell);
std::string CellBytes(const QString& text);

}  // namespace tarvel::ui
