#include "desktop/byte_limit_validator.h"

namespace vaultwick {

QValidator::State ByteLimitValidator::validate(QString& input, int&) const {
  return input.toUtf8().size() <= maxBytes_ ? Acceptable : Invalid;
}

}  // namespace vaultwick
