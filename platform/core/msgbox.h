// The program's one way to put a message in front of the user.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "afxtypes.h"

// Shows a message box and returns IDOK or IDCANCEL. The text is always shown
// as plain text: it may carry a server's or a user's words.
class IMessageBoxHandler {
public:
    virtual ~IMessageBoxHandler() = default;
    virtual int Show(std::string_view text, UINT nType) = 0;
};

// Installs the process-wide handler and returns the previous one. With no
// handler installed the text goes to standard error and a box with a Cancel
// button answers IDCANCEL, so nothing starts without a confirmation.
IMessageBoxHandler* AfxSetMessageBoxHandler(IMessageBoxHandler* pHandler);

int AfxMessageBox(std::string_view text, UINT nType = MB_OK, UINT nIDHelp = 0);
// Shows string nIDPrompt of the string table.
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));

// Records every box for a test and answers as the test says: by a callback
// (which may run code "inside" the box, as a nested loop would), else from a
// queue of answers, else IDOK. Installs itself for its lifetime.
class CMessageBoxRecorder : public IMessageBoxHandler {
public:
    struct Box {
        std::string text;
        UINT nType;
    };

    CMessageBoxRecorder();
    ~CMessageBoxRecorder() override;
    CMessageBoxRecorder(const CMessageBoxRecorder&) = delete;
    CMessageBoxRecorder& operator=(const CMessageBoxRecorder&) = delete;

    int Show(std::string_view text, UINT nType) override;

    std::vector<Box> boxes;
    std::vector<int> answers; // taken from the front, one per box
    std::function<int(const Box&)> onShow;

    std::vector<std::string> Texts() const;

private:
    IMessageBoxHandler* m_pPrevious;
};
