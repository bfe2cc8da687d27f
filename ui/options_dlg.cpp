// SPDX-License-Identifier: MIT
#include "options_dlg.h"

#include <QLineEdit>

#include <string>

#include "res/resource.h"
#include "res/strings.h"

BEGIN_MESSAGE_MAP(COptionsDlg, CDialog)
ON_BN_CLICKED(IDC_OPT_NEGOTIATE, OnNegotiate)
END_MESSAGE_MAP()

namespace {

// A whole number typed in a field; false for anything else.
bool ReadNumber(const std::string& text, long long* pValue)
{
    bool ok = false;
    *pValue = QString::fromStdString(text).trimmed().toLongLong(&ok);
    return ok;
}

} // namespace

COptionsDlg::COptionsDlg(CWnd* pParent) : CDialog(IDD_OPTIONS, pParent) {}

BOOL COptionsDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    const TransferSettings settings = AfxLoadTransferSettings();
    CheckDlgButton(IDC_OPT_NEGOTIATE, settings.bNegotiate ? 1 : 0);
    SetDlgItemText(IDC_OPT_BLOCK_SIZE, std::to_string(settings.nBlockSize));
    SetDlgItemText(IDC_OPT_WINDOW_SIZE, std::to_string(settings.nWindowSize));
    SetDlgItemText(IDC_OPT_TIMEOUT, std::to_string(settings.nTimeout));
    CheckDlgButton(IDC_OPT_FILE_SIZE, settings.bAskFileSize ? 1 : 0);
    for (int id : {IDC_OPT_BLOCK_SIZE, IDC_OPT_WINDOW_SIZE, IDC_OPT_TIMEOUT}) {
        if (auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(id)))
            edit->setMaxLength(12);
    }
    UpdateFields();
    return TRUE;
}

void COptionsDlg::OnNegotiate()
{
    UpdateFields();
}

void COptionsDlg::UpdateFields()
{
    const BOOL negotiate = IsDlgButtonChecked(IDC_OPT_NEGOTIATE) != 0;
    for (int id : {IDC_OPT_BLOCK_SIZE, IDC_OPT_WINDOW_SIZE, IDC_OPT_TIMEOUT, IDC_OPT_FILE_SIZE})
        EnableWindow(id, negotiate);
}

void COptionsDlg::OnOK()
{
    TransferSettings settings;
    settings.bNegotiate = IsDlgButtonChecked(IDC_OPT_NEGOTIATE) != 0;
    settings.bAskFileSize = IsDlgButtonChecked(IDC_OPT_FILE_SIZE) != 0;
    struct Field {
        int nID;
        bool (*valid)(long long);
        UINT nIDText;
        int* pValue;
    };
    const Field fields[] = {
        {IDC_OPT_BLOCK_SIZE, IsValidBlockSize, IDS_BAD_BLOCK_SIZE, &settings.nBlockSize},
        {IDC_OPT_WINDOW_SIZE, IsValidWindowSize, IDS_BAD_WINDOW_SIZE, &settings.nWindowSize},
        {IDC_OPT_TIMEOUT, IsValidTimeout, IDS_BAD_TIMEOUT, &settings.nTimeout},
    };
    for (const Field& field : fields) {
        long long value = 0;
        if (!ReadNumber(GetDlgItemText(field.nID), &value) || !field.valid(value)) {
            AfxMessageBox(field.nIDText, MB_OK);
            if (QWidget* edit = GetDlgItem(field.nID))
                edit->setFocus();
            return;
        }
        *field.pValue = static_cast<int>(value);
    }
    AfxSaveTransferSettings(settings);
    EndDialog(IDOK);
}
