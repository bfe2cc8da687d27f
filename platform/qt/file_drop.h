// SPDX-License-Identifier: MIT
// Files dropped on a window from a file manager.
#pragma once

#include <functional>
#include <optional>
#include <string>

class QMimeData;
class QWidget;

// The one local regular file that a drop carries; none for anything else
// (several files, a directory, a remote address).
std::optional<std::string> AfxDroppedFile(const QMimeData* pData);

// Takes drops of one local regular file on pTarget while busy() is false, and
// hands the file's path to choose().
void AfxAcceptFileDrops(QWidget* pTarget, std::function<bool()> busy, std::function<void(const std::string&)> choose);
