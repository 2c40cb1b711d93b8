#pragma once

#include "keyring.h"

#include <functional>

class QWidget;

// Runs a keyring call on a thread of its own while window goes on painting
// and ignores input (a busy cursor shows why): an unlock prompt or a
// keyring that answers slowly never freezes the window. The call's own time
// limits bound the wait; closing the window meanwhile cancels it.
KeyringAnswer WaitForKeyring(QWidget *window, const std::function<KeyringAnswer(const KeyringCancel *)> &call);
