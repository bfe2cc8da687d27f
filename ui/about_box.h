// SPDX-License-Identifier: MIT
// The About box: name, version, icon, and the machine's memory and free disk space.
#pragma once

#include <string>

#include "platform/qt/dialog.h"

class CAboutBox : public CDialog {
public:
    CAboutBox();

protected:
    // Fills both figures once, when the box opens.
    BOOL OnInitDialog() override;

    // The machine's total physical memory in bytes.
    virtual ULONGLONG GetTotalPhysicalMemory() const;
    // The free bytes of the volume holding the current directory, and where
    // that volume is mounted; false when the query fails.
    virtual bool GetCurrentDiskFree(ULONGLONG* pFreeBytes, std::string* pMountPoint) const;

    DECLARE_MESSAGE_MAP()
};

// The mount point of the volume that holds `path` (an absolute directory).
std::string AfxMountPointOf(const std::string& path);
