#include "desktop/settings_window.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "desktop/alerts_section.h"
#include "desktop/encryption_section.h"
#include "desktop/offsite_section.h"
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
  auto* tabs = new QTabWidget(this);
  layout->addWidget(tabs);
  // What this connection keeps, and what the whole store (or the user) keeps
  // for every connection: a change on the second page reaches them all.
  QWidget* connectionPage = AddPage(tabs, QStringLiteral("&This connection"));
  AddSection(connectionPage, new KeepPolicySection(this));
  AddSection(connectionPage, new TestRestoreSection(this));
  AddSection(connectionPage, new EncryptionSection(this));
  QWidget* everyPage = AddPage(tabs, QStringLiteral("&All connections"));
  AddSection(everyPage, new OffsiteSection(this));
  AddSection(everyPage, new AlertsSection(this));
  AddSection(everyPage, new StartAtLoginSection(this));
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

QWidget* SettingsWindow::AddPage(QTabWidget* tabs, const QString& title) {
  auto* page = new QWidget(tabs);
  auto* layout = new QVBoxLayout(page);
  layout->addStretch(1);
  tabs->addTab(page, title);
  return page;
}

void SettingsWindow::AddSection(QWidget* page, SettingsSection* section) {
  auto* layout = static_cast<QVBoxLayout*>(page->layout());
  layout->insertWidget(layout->count() - 1, section);  // above the stretch
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
