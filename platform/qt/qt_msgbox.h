// SPDX-License-Identifier: MIT
// Message boxes shown with QMessageBox.
#pragma once

#include "platform/core/msgbox.h"

// Installs itself for its lifetime. The caption is the application title, the
// text is always plain, the icon is the exclamation mark unless the style
// names another, and the buttons are OK or OK and Cancel.
class CQtMessageBoxHandler : public IMessageBoxHandler {
public:
    CQtMessageBoxHandler();
    ~CQtMessageBoxHandler() override;
    CQtMessageBoxHandler(const CQtMessageBoxHandler&) = delete;
    CQtMessageBoxHandler& operator=(const CQtMessageBoxHandler&) = delete;

    int Show(std::string_view text, UINT nType) override;

private:
    IMessageBoxHandler* m_pPrevious;
};
