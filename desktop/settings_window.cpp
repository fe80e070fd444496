#include "desktop/settings_window.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QVBoxLayout>

#include "desktop/alerts_section.h"
#include "desktop/encryption_section.h"
#include "desktop/settings_sections.h"

namespace vaultwick {

namespace {

// A refused section, to leave the store's transaction with nothing kept.
struct Refused {
  ChangeResult result;
};

}  // namespace

SettingsWindow::SettingsWindow(SettingsStore& store, const QString& connection, QWidget* parent)
    : QDialog(parent), store_(store), name_(connection.toStdString()) {
  setWindowTitle(QStringLiteral("Settings of %1").arg(connection));
  auto* layout = new QVBoxLayout(this);
  AddSection(new KeepPolicySection(this));
  AddSection(new TestRestoreSection(this));
  AddSection(new EncryptionSection(this));
  AddSection(new StartAtLoginSection(this));
  AddSection(new AlertsSection(this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &SettingsWindow::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SettingsWindow::reject);
  try {
    for (SettingsSection* section : sections_) {
      section->Load(store_, name_);
    }
  } catch (const SettingsStoreError& error) {
    QMessageBox::critical(this, QCoreApplication::applicationName(),
                          QString::fromStdString(error.what()));
  }
}

void SettingsWindow::AddSection(SettingsSection* section) {
  static_cast<QVBoxLayout*>(layout())->addWidget(section);
  sections_.push_back(section);
}

bool SettingsWindow::Save() {
  QString problem;
  try {
    store_.WriteTransaction([&] {
      for (SettingsSection* section : sections_) {
        if (const ChangeResult result = section->Save(store_, name_);
            result != ChangeResult::Done) {
          throw Refused{result};
        }
      }
    });
  } catch (const Refused& refused) {
    problem = QString::fromLatin1(ChangeResultText(refused.result));
  } catch (const SettingsStoreError& error) {
    problem = QString::fromStdString(error.what());
  }
  for (auto section = sections_.begin(); problem.isEmpty() && section != sections_.end();
       ++section) {
    problem = (*section)->SaveOutsideStore();
  }
  if (problem.isEmpty()) {
    return true;
  }
  auto* box = new QMessageBox(QMessageBox::Critical, QCoreApplication::applicationName(), problem,
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  return false;
}

void SettingsWindow::accept() {
  if (Save()) {
    QDialog::accept();
  }
}

}  // namespace vaultwick
