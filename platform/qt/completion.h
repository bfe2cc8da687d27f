// SPDX-License-Identifier: MIT
// Completions on an edit box from a list of names the program remembers.
#pragma once

#include <functional>
#include <string>
#include <vector>

class QLineEdit;

// Offers names, most recent first, as completions of what is typed; Down
// shows those that fit (all of them in an empty box). Shift+Delete removes
// the highlighted entry from the list shown and tells onRemoved its name.
void AfxAddCompletion(QLineEdit* pEdit, const std::vector<std::string>& names,
                      std::function<void(const std::string&)> onRemoved);
// Replaces the names offered by an edit box that has completions.
void AfxSetCompletions(QLineEdit* pEdit, const std::vector<std::string>& names);
