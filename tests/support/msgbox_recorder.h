// SPDX-License-Identifier: MIT
// A message-box handler for tests.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/msgbox.h"

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
    // Each text up to its first blank line: what a box says before the
    // paragraph that names the transfer.
    std::vector<std::string> FirstParagraphs() const;

private:
    IMessageBoxHandler* m_pPrevious;
};
