#pragma once

#include <functional>

class QWidget;

// Runs work on a thread of its own while window goes on painting and
// ignores input (a busy cursor shows why), so that a slow keyring or a long
// file never freezes the window. stop, when given, is called when the
// window goes meanwhile; the wait still lasts until work returns.
void WaitWhileBusy(QWidget *window, const std::function<void()> &work, const std::function<void()> &stop = {});
