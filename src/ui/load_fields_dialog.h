#pragma once
// ui: the fields of a load, asked at Start: the operator and the shop's fields (Setup/
// LoadFields.txt), required ones marked with "*". OK is refused, with the reason under the
// fields, while the load could not be recorded (watch's CheckLoadStart decides).

#include <QDialog>

#include <vector>

#include "watch/load_record.h"

class QLabel;
class QLineEdit;

namespace tarvel::ui {

class LoadFieldsDialog : public QDialog {
  Q_OBJECT

 public:
  LoadFieldsDialog(std::vector<watch::FieldRule> rules, const QString& operatorName, QWidget* parent = nullptr);

  std::string OperatorName() const;
  // The fields given, by the rules' names; empty ones left out.
  std::vector<watch::ShopField> Fields() const;

  void accept() override;

 private:
  std::vector<watch::FieldRule> rules_;
  QLineEdit* operator_ = nullptr;
  std::vector<QLineEdit*> values_;
  QLabel* problem_ = nullptr;
};

}  // namespace tarvel::ui
