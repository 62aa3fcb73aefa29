#include "ui/section_support.h"

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
