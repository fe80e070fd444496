#pragma once

// Refuses text whose UTF-8 form is longer than a number of bytes: the limit
// of a stored value is in bytes, whatever characters the user types.

#include <QValidator>

namespace vaultwick {

class ByteLimitValidator : public QValidator {
 public:
  ByteLimitValidator(int maxBytes, QObject* parent) : QValidator(parent), maxBytes_(maxBytes) {}

  State validate(QString& input, int& position) const override;

 private:
  int maxBytes_;
};

}  // namespace vaultwick
