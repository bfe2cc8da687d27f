// SPDX-License-Identifier: MIT
// What every dialog template promises the keyboard: one control per access
// key, and (in the Serve window) Tab going top to bottom, left to right.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>

#include "res/dialogs.h"
#include "res/resource.h"

namespace {

TEST(DialogTemplates, NoTwoControlsShareAnAccessKey)
{
    for (const DialogTemplate& dialog : AfxDialogTemplates()) {
        std::map<char, std::string> owners; // key -> the text that has it
        for (size_t i = 0; i < dialog.nControls; ++i) {
            const std::string text = dialog.controls[i].text;
            if ((dialog.controls[i].style & SS_NOPREFIX) != 0 && dialog.controls[i].kind == ControlKind::Static)
                continue;
            for (size_t at = text.find('&'); at != std::string::npos && at + 1 < text.size();
                 at = text.find('&', at + 2)) {
                if (text[at + 1] == '&')
                    continue; // "&&" is an ampersand
                const char key = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at + 1])));
                const auto [owner, added] = owners.emplace(key, text);
                EXPECT_TRUE(added) << dialog.caption << ": \"" << text << "\" and \"" << owner->second << "\"";
            }
        }
    }
}

TEST(DialogTemplates, TabGoesDownTheServeWindowRowByRow)
{
    const DialogTemplate* serve = AfxFindDialogTemplate(IDD_SERVE);
    ASSERT_NE(serve, nullptr);
    const DialogControl* previous = nullptr;
    for (size_t i = 0; i < serve->nControls; ++i) {
        const DialogControl& control = serve->controls[i];
        if ((control.style & WS_TABSTOP) == 0)
            continue;
        if (previous != nullptr) {
            // The same row (their rectangles share a line): further right;
            // else lower.
            const bool sameRow = control.y < previous->y + previous->cy && previous->y < control.y + control.cy;
            EXPECT_TRUE(sameRow ? control.x > previous->x : control.y > previous->y)
                << control.nID << " after " << previous->nID;
        }
        previous = &control;
    }
}

} // namespace
