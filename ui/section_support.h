#pragma once
// Small helpers the main window's sections share: a settings edit written through the store, the form
// of a section, and the red caption under a section for the store's error texts.
// Threads: main thread only.

#include <initializer_list>
#include <optional>
#include <string>

#include <QGroupBox>
#include <QLabel>

#include "app/timecode_store.h"

class QFormLayout;

namespace quillmark {

// Copies the store's settings, lets `change` edit the copy and assigns it back (saved and applied).
template <class Change>
void editSettings(TimecodeStore& store, Change&& change) {
  Settings settings = store.settings();
  change(settings);
  store.setSettings(settings);
}

// The form of a titled section: labels on the left, fields growing to the right edge.
QFormLayout* makeForm(QGroupBox* section);

// Gives the label column of every form inside `sections` one width, the widest label's, so that the
// fields of all sections start on one line however their own labels run.
void alignLabelColumns(std::initializer_list<QWidget*> sections);

// A caption in red for an error text, hidden until there is one.
QLabel* makeErrorCaption(QWidget* parent);
// Shows `error` in the caption's row, or hides the row without one.
void showError(QFormLayout* form, QLabel* caption, const std::optional<std::string>& error);

// The label of the form row holding `field`, or null.
QLabel* rowLabel(QFormLayout* form, QWidget* field);

}  // namespace quillmark
