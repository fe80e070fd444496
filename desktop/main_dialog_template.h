#pragma once

// The main window's template: its controls, their ids and the texts and
// limits that go with them.

#include "desktop/dialog_template.h"

namespace vaultwick {

// Control ids of the main window (also the widgets' object names).
inline constexpr int kConnectionListId = 1005;
inline constexpr int kAddButtonId = 1006;
inline constexpr int kRemoveButtonId = 1007;
inline constexpr int kNameEditId = 1008;
inline constexpr int kHostEditId = 1009;
inline constexpr int kLoginEditId = 1010;
inline constexpr int kPasswordEditId = 1011;
inline constexpr int kDatabaseEditId = 1012;
inline constexpr int kPeriodListId = 1013;
inline constexpr int kStartHourEditId = 1014;
inline constexpr int kSaveToEditId = 1015;
inline constexpr int kBrowseButtonId = 1016;
inline constexpr int kApplyButtonId = 1017;
inline constexpr int kDownloadNowButtonId = 1018;
inline constexpr int kStartMinuteEditId = 1019;
inline constexpr int kBannerPictureId = 1024;

// Field limits in characters.
inline constexpr int kNameLimit = 100;
inline constexpr int kHostLimit = 100;
inline constexpr int kLoginLimit = 32;
inline constexpr int kPasswordLimit = 32;
inline constexpr int kDatabaseLimit = 100;
inline constexpr int kStartHourLimit = 2;
// The target folder is stored with a terminating NUL in less than 1000 bytes.
inline constexpr int kSaveToByteLimit = 998;

const DialogTemplate& MainDialogTemplate();

}  // namespace vaultwick
