#include "desktop/dialog_template.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "desktop/banner_picture.h"
#include "desktop/middle_elided_label.h"

namespace vaultwick {

namespace {

QWidget* MakeEdit(const DialogControl& control, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  if (control.style & kStylePassword) {
    edit->setEchoMode(QLineEdit::Password);
  }
  if (control.style & kStyleDigitsOnly) {
    edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
  }
  return edit;
}

QWidget* MakeLabel(const DialogControl& control, QWidget* parent) {
  const QString text = QString::fromUtf8(control.text);
  if (control.style & kStyleMiddleEllipsis) {
    return new MiddleElidedLabel(text, parent);
  }
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QWidget* MakeControl(const DialogControl& control, QWidget* parent) {
  const QString text = QString::fromUtf8(control.text);
  switch (control.kind) {
    case ControlKind::GroupBox: {
      auto* box = new QGroupBox(text, parent);
      box->setAttribute(Qt::WA_TransparentForMouseEvents);
      box->setFocusPolicy(Qt::NoFocus);
      return box;
    }
    case ControlKind::Label:
      return MakeLabel(control, parent);
    case ControlKind::ListBox: {
      auto* list = new QListWidget(parent);
      list->setSelectionMode(QAbstractItemView::SingleSelection);
      list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
      list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      return list;
    }
    case ControlKind::Button: {
      // No default button: Enter never presses one.
      auto* button = new QPushButton(text, parent);
      button->setAutoDefault(false);
      button->setDefault(false);
      return button;
    }
    case ControlKind::Edit:
      return MakeEdit(control, parent);
    case ControlKind::ComboBox: {
      auto* combo = new QComboBox(parent);
      combo->setEditable(false);
      return combo;
    }
    case ControlKind::Picture:
      return new BannerPicture(QPixmap(text), parent);
  }
  return nullptr;
}

}  // namespace

DialogControls BuildDialogControls(QWidget* dialog, const DialogTemplate& dialogTemplate,
                                   const DialogUnits& units) {
  DialogControls controls;
  QWidget* previousInTabOrder = nullptr;
  for (const DialogControl& control : dialogTemplate.controls) {
    QWidget* widget = MakeControl(control, dialog);
    QRect geometry = units.ToPixels(control.rect);
    if (control.kind == ControlKind::ComboBox) {
      // The template's height includes the dropped-down list; the closed box
      // is as high as its style makes it.
      geometry.setHeight(widget->sizeHint().height());
    }
    widget->setGeometry(geometry);
    if (control.style & kStyleDisabled) {
      widget->setEnabled(false);
    }
    if (control.kind == ControlKind::GroupBox) {
      widget->lower();
    }
    if (control.id != 0) {
      widget->setObjectName(QString::number(control.id));
      controls.insert(control.id, widget);
    }
    if (widget->focusPolicy() & Qt::TabFocus) {
      if (previousInTabOrder != nullptr) {
        QWidget::setTabOrder(previousInTabOrder, widget);
      }
      previousInTabOrder = widget;
    }
  }
  dialog->setWindowTitle(QString::fromUtf8(dialogTemplate.title));
  dialog->setFixedSize(units.ToPixelsX(dialogTemplate.width),
                       units.ToPixelsY(dialogTemplate.height));
  return controls;
}

}  // namespace vaultwick
