#pragma once
// Message boxes and file dialogs answered from a timer, so that none can hang a window test.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <deque>
#include <vector>

namespace tarvel::ui {

// Answers every message box with OK (or the answers queued with Answer) and remembers title,
// text and whether Cancel was the default; a file dialog picks the file set with Pick, or is
// cancelled.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen_.push_back({box->windowTitle(), box->text()});
        cancelFirst_.push_back(box->defaultButton() && box->defaultButton() == box->button(QMessageBox::Cancel));
        QMessageBox::StandardButton answer = QMessageBox::Ok;
        if (!answers_.empty()) answer = answers_.front(), answers_.pop_front();
        box->button(answer)->click();
      } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
        if (dialog != answered_) seen_.push_back({dialog->windowTitle(), dialog->directory().absolutePath()});
        answered_ = dialog;  // seen once, however many ticks its answer takes
        if (pick_.isEmpty()) return dialog->reject();
        dialog->selectFile(pick_);
        // The list fills from a thread of its own and may not hold the file yet; typed, the
        // name needs no list.
        if (!dialog->selectedFiles().contains(pick_))
          if (auto* typed = dialog->findChild<QLineEdit*>("fileNameEdit")) typed->setText(pick_);
        // Queued, out of this slot: Qt does not run a timer's slot again while it is in it, so a
        // box the dialog opened from here would never be answered.
        QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
      }
    });
    timer_.start(10);
  }
  const std::vector<std::pair<QString, QString>>& Seen() const { return seen_; }
  bool LastDefaultWasCancel() const { return !cancelFirst_.empty() && cancelFirst_.back(); }
  void Pick(const QString& file) { pick_ = file; }
  void Answer(QMessageBox::StandardButton answer) { answers_.push_back(answer); }

 private:
  QTimer timer_;
  QPointer<QFileDialog> answered_;
  QString pick_;
  std::vector<std::pair<QString, QString>> seen_;
  std::vector<bool> cancelFirst_;
  std::deque<QMessageBox::StandardButton> answers_;
};

}  // namespace tarvel::ui
