#pragma once

// What the shell's tests share: the shell, the store, and a scratch folder
// for the store's file.

#include "platform/settings_store.h"
#include "tests/support/scratch_folder.h"
