// SPDX-License-Identifier: MIT
#include "msgbox_recorder.h"

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

std::vector<std::string> CMessageBoxRecorder::FirstParagraphs() const
{
    std::vector<std::string> texts;
    for (const Box& box : boxes)
        texts.push_back(box.text.substr(0, box.text.find("\n\n")));
    return texts;
}
