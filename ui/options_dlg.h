// SPDX-License-Identifier: MIT
// The Transfer Options dialog: whether to negotiate TFTP options, and which.
#pragma once

#include "platform/qt/dialog.h"
#include "transfer_settings.h"

class COptionsDlg : public CDialog {
public:
    explicit COptionsDlg(CWnd* pParent = nullptr);

protected:
    BOOL OnInitDialog() override;
    // Takes the values only when each is in range; otherwise says which is
    // not, and the dialog stays open. Saves them.
    void OnOK() override;
    void OnNegotiate();

private:
    // The option fields count only while negotiating.
    void UpdateFields();

    DECLARE_MESSAGE_MAP()
};
