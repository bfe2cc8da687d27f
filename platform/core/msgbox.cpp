// SPDX-License-Identifier: MIT
#include "msgbox.h"

#include <cstdio>

#include "afxres.h"

namespace {
IMessageBoxHandler* g_pHandler = nullptr;
}

IMessageBoxHandler* AfxSetMessageBoxHandler(IMessageBoxHandler* pHandler)
{
    IMessageBoxHandler* previous = g_pHandler;
    g_pHandler = pHandler;
    return previous;
}

int AfxMessageBox(std::string_view text, UINT nType, UINT /*nIDHelp*/)
{
    if (g_pHandler != nullptr)
        return g_pHandler->Show(text, nType);
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    return (nType & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
}
