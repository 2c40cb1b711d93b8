#include "keyringwait.h"

#include "busywait.h"

KeyringAnswer WaitForKeyring(QWidget *window, const std::function<KeyringAnswer(const KeyringCancel *)> &call)
{
    KeyringCancel cancel;
    KeyringAnswer answer;
    WaitWhileBusy(window, [&] { answer = call(&cancel); }, [&cancel] { cancel.Cancel(); });
    return answer;
}
