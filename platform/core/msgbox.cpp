#include "msgbox.h"

#include <cstdio>

#include "res/strings.h"

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

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp)
{
    return AfxMessageBox(AfxLoadString(nIDPrompt), nType, nIDHelp);
}

CMessageBoxRecorder::CMessageBoxRecorder() : m_pPrevious(AfxSetMessageBoxHandler(this)) {}

CMessageBoxRecorder::~CMessageBoxRecorder()
{
    AfxSetMessageBoxHandler(m_pPrevious);
}

int CMessageBoxRecorder::Show(std::string_view text, UINT nType)
{
    Box box{std::string(text), nType};
    boxes.push_back(box);
    if (onShow)
        return onShow(box); // a copy: the callback may show further boxes
    if (!answers.empty()) {
        int answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    return IDOK;
}

std::vector<std::string> CMessageBoxRecorder::Texts() const
{
    std::vector<std::string> texts;
    for (const Box& box : boxes)
        texts.push_back(box.text);
    return texts;
}
