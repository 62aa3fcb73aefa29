#include "ui/section_support.h"

#include <algorithm>
#include <vector>

#include <QFormLayout>

#include "ui/system_colors.h"

namespace quillmark {

QFormLayout* makeForm(QGroupBox* section) {
  auto* form = new QFormLayout(section);
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  form->setRowWrapPolicy(QFormLayout::DontWrapRows);
  form->setHorizontalSpacing(16);
  return form;
}

void alignLabelColumns(std::initializer_list<QWidget*> sections) {
  std::vector<QWidget*> labels;
  int widest = 0;
  for (QWidget* section : sections) {
    for (QFormLayout* form : section->findChildren<QFormLayout*>()) {
      for (int row = 0; row < form->rowCount(); ++row) {
        QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole);
        if (!item || !item->widget()) continue;
        labels.push_back(item->widget());
        widest = std::max(widest, item->widget()->sizeHint().width());
      }
    }
  }
  for (QWidget* label : labels) label->setMinimumWidth(widest);
}

QLabel* makeErrorCaption(QWidget* parent) {
  auto* caption = new QLabel(parent);
  caption->setFont(captionFont(caption->font()));
  caption->setWordWrap(true);
  caption->setTextFormat(Qt::PlainText);
  setTextColor(caption, ColorRole::red);
  return caption;
}

void showError(QFormLayout* form, QLabel* caption, const std::optional<std::string>& error) {
  if (error) caption->setText(QString::fromStdString(*error));
  form->setRowVisible(caption, error.has_value());
}

QLabel* rowLabel(QFormLayout* form, QWidget* field) {
  return qobject_cast<QLabel*>(form->labelForField(field));
}

}  // namespace quillmark
