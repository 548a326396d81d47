#include "ui/load_fields_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "watch/load_start.h"

namespace tarvel::ui {

LoadFieldsDialog::LoadFieldsDialog(std::vector<watch::FieldRule> rules, const QString& operatorName, QWidget* parent)
    : QDialog(parent), rules_(std::move(rules)) {
  setObjectName("LoadFieldsDialog");
  setWindowTitle("Load");
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  operator_ = new QLineEdit(operatorName);
  operator_->setObjectName("LoadOperator");
  form->addRow("Operator *", operator_);
  for (const watch::FieldRule& rule : rules_) {
    auto* value = new QLineEdit;
    value->setObjectName(QString::fromStdString("LoadField " + rule.name));
    form->addRow(QString::fromStdString(rule.name + (rule.required ? " *" : "")), value);
    values_.push_back(value);
  }
  layout->addLayout(form);
  problem_ = new QLabel;
  problem_->setObjectName("LoadFieldsProblem");
  problem_->setWordWrap(true);
  layout->addWidget(problem_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &LoadFieldsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &LoadFieldsDialog::reject);
  layout->addWidget(buttons);
}

std::string LoadFieldsDialog::OperatorName() const { return operator_->text().trimmed().toStdString(); }

std::vector<watch::ShopField> LoadFieldsDialog::Fields() const {
  std::vector<watch::ShopField> fields;
  for (std::size_t i = 0; i < rules_.size(); ++i)
    if (const QString value = values_[i]->text().trimmed(); !value.isEmpty())
      fields.push_back({rules_[i].name, value.toStdString()});
  return fields;
}

void LoadFieldsDialog::accept() {
  if (Status checked = watch::CheckLoadStart(rules_, OperatorName(), Fields()); !checked.ok()) {
    problem_->setText(QString::fromStdString(checked.message()));
    return;
  }
  QDialog::accept();
}

}  // namespace tarvel::ui
