#include "desktop/main_dialog_template.h"

namespace vaultwick {

namespace {

using enum ControlKind;

constexpr unsigned kDetailEdit = kStyleDisabled;

// In template order, which is the tab order.
constexpr DialogControl kMainControls[] = {
    {0, GroupBox, "Connections list", {5, 41, 102, 122}, kStyleNone},
    {kConnectionListId, ListBox, "", {11, 52, 90, 105}, kStyleNone},
    {kAddButtonId, Button, "&Add", {5, 167, 49, 12}, kStyleNone},
    {kRemoveButtonId, Button, "&Remove", {59, 167, 48, 12}, kStyleDisabled},
    {0, GroupBox, "Connection details", {113, 41, 191, 80}, kStyleNone},
    {0, Label, "Name:", {120, 54, 41, 8}, kStyleNone},
    {kNameEditId, Edit, "", {168, 52, 96, 12}, kDetailEdit},
    {0, Label, "Host:", {120, 67, 41, 8}, kStyleNone},
    {kHostEditId, Edit, "", {168, 65, 96, 12}, kDetailEdit},
    {0, Label, "Login:", {120, 80, 41, 8}, kStyleNone},
    {kLoginEditId, Edit, "", {168, 78, 96, 12}, kDetailEdit},
    {0, Label, "Password:", {120, 93, 41, 8}, kStyleNone},
    {kPasswordEditId, Edit, "", {168, 91, 96, 12}, kDetailEdit | kStylePassword},
    {0, GroupBox, "Schedule", {113, 121, 191, 42}, kStyleNone},
    {0, Label, "Start at:", {120, 132, 41, 8}, kStyleNone},
    {kStartHourEditId, Edit, "", {168, 130, 18, 12}, kStyleDisabled | kStyleDigitsOnly},
    {0, Label, ":", {190, 131, 8, 8}, kStyleNone},
    {0, Label, "Update every", {120, 146, 45, 8}, kStyleNone},
    {kPeriodListId, ComboBox, "", {168, 144, 30, 84}, kStyleDisabled},
    {0, Label, "hour(s)", {202, 146, 24, 8}, kStyleNone},
    {kDownloadNowButtonId, Button, "Download &now", {235, 144, 59, 13}, kStyleDisabled},
    {kApplyButtonId, Button, "&Apply changes", {113, 167, 191, 12}, kStyleDisabled},
    {kSaveToEditId, Edit, "", {11, 191, 218, 12}, kStyleNone},
    {kBrowseButtonId, Button, "Browse", {235, 191, 59, 12}, kStyleNone},
    {kStartMinuteEditId, Edit, "", {195, 130, 18, 12}, kStyleDisabled | kStyleDigitsOnly},
    {kBannerPictureId, Picture, ":/vaultwick/banner.png", {5, 5, 299, 31}, kStyleNone},
    {0, GroupBox, "Save to", {5, 181, 299, 28}, kStyleNone},
    {0, Label, "Database:", {119, 106, 41, 8}, kStyleNone},
    {kDatabaseEditId, Edit, "", {168, 104, 96, 12}, kDetailEdit},
};

constexpr DialogTemplate kMainTemplate = {"Tessaly Vaultwick", 309, 214, kMainControls};

}  // namespace

const DialogTemplate& MainDialogTemplate() {
  return kMainTemplate;
}

}  // namespace vaultwick
