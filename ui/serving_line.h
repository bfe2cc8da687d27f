// SPDX-License-Identifier: MIT
// The main window's line that says a folder is served while the Serve window
// may be hidden: "Serving /srv/tftp on port 69", left of Exit; clicking it
// opens the Serve window.
#pragma once

#include <functional>
#include <string>

class CDialog;

// The line's object name, for whoever looks for it.
inline constexpr const char* kServingLineName = "servingLine";

// Shows text in the main window's line (made on first use), or hides the
// line when text is empty; open is what a click does.
void AfxShowServingLine(CDialog& main, const std::string& text, std::function<void()> open);
