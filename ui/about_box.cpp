// SPDX-License-Identifier: MIT
#include "about_box.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/core/dirlist.h"
#include "platform/core/format.h"
#include "res/resource.h"
#include "res/strings.h"

BEGIN_MESSAGE_MAP(CAboutBox, CDialog)
END_MESSAGE_MAP()

CAboutBox::CAboutBox() : CDialog(IDD_ABOUT, nullptr) {}

ULONGLONG CAboutBox::GetTotalPhysicalMemory() const
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    return pages > 0 && pageSize > 0 ? static_cast<ULONGLONG>(pages) * static_cast<ULONGLONG>(pageSize) : 0;
}

std::string AfxMountPointOf(const std::string& path)
{
    // Up the tree until the parent lies on another device (or this is the root).
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0)
        return path;
    std::string current = path;
    while (current.size() > 1 && current.back() == '/')
        current.pop_back();
    while (current != "/") {
        const size_t slash = current.rfind('/');
        const std::string parent = slash == 0 || slash == std::string::npos ? "/" : current.substr(0, slash);
        struct stat parentStatus {};
        if (::stat(parent.c_str(), &parentStatus) != 0 || parentStatus.st_dev != status.st_dev)
            break;
        current = parent;
    }
    return current;
}

bool CAboutBox::GetCurrentDiskFree(ULONGLONG* pFreeBytes, std::string* pMountPoint) const
{
    const std::string directory = AfxGetCurrentDirectory();
    struct statvfs volume {};
    if (directory.empty() || ::statvfs(directory.c_str(), &volume) != 0)
        return false;
    *pFreeBytes = static_cast<ULONGLONG>(volume.f_bavail) * static_cast<ULONGLONG>(volume.f_frsize);
    *pMountPoint = AfxMountPointOf(directory);
    return true;
}

BOOL CAboutBox::OnInitDialog()
{
    CDialog::OnInitDialog();

    SetDlgItemText(IDC_MEMORY, AfxFormatString(AfxWidenFormat(AfxLoadString(IDS_MEMORY_FORMAT)).c_str(),
                                               static_cast<unsigned long long>(GetTotalPhysicalMemory() >> 10)));

    // The mount point stands where a drive letter and its colon would.
    ULONGLONG freeBytes = 0;
    std::string mountPoint;
    std::string disk;
    if (GetCurrentDiskFree(&freeBytes, &mountPoint)) {
        std::string format = AfxWidenFormat(AfxLoadString(IDS_DISK_SPACE_FORMAT));
        const size_t drive = format.find("%c:");
        if (drive != std::string::npos)
            format.replace(drive, 3, "%s");
        disk = AfxFormatString(format.c_str(), static_cast<unsigned long long>(freeBytes >> 10), mountPoint.c_str());
    } else {
        disk = AfxLoadString(IDS_UNAVAILABLE);
    }
    SetDlgItemText(IDC_DISK_SPACE, disk);
    return TRUE;
}
