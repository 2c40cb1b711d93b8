#pragma once

#include "cdialog.h"
#include "kelvotemplates.h"

// The About box: the template's text and an OK button, nothing more.
class CAboutDialog : public CDialog
{
public:
    CAboutDialog() : CDialog(kAboutTemplate) {}
};
