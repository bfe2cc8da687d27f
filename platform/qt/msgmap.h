// SPDX-License-Identifier: MIT
// Message maps: each window class names, in a table, the member that handles
// each message, notification or command it takes.
#pragma once

#include "platform/core/afxtypes.h"

class CWnd;

inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_TIMER = 0x0113;

// Notification codes carried in the high word of WM_COMMAND's wParam.
inline constexpr UINT BN_CLICKED = 0;
inline constexpr UINT LBN_SELCHANGE = 1;
inline constexpr UINT LBN_DBLCLK = 2;
inline constexpr UINT EN_UPDATE = 0x0400;
inline constexpr UINT CBN_EDITCHANGE = 5;

constexpr WPARAM MAKEWPARAM(UINT low, UINT high)
{
    return static_cast<WPARAM>((low & 0xFFFF) | ((high & 0xFFFF) << 16));
}
constexpr UINT LOWORD(WPARAM value)
{
    return static_cast<UINT>(value & 0xFFFF);
}
constexpr UINT HIWORD(WPARAM value)
{
    return static_cast<UINT>((value >> 16) & 0xFFFF);
}

struct AFX_MSGMAP_ENTRY {
    UINT nMessage; // window message
    UINT nCode;    // WM_COMMAND: notification code
    UINT nID;      // WM_COMMAND: control ID
    LRESULT (*pfn)(CWnd& wnd, WPARAM wParam, LPARAM lParam);
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries; // ends with an entry whose pfn is null
};

// The entry that handles a message in a map or in the maps it derives from,
// the nearest first: for WM_COMMAND, the notification nCode of control nID.
// Null when none does.
inline const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* pMap, UINT nMessage, UINT nCode = 0, UINT nID = 0)
{
    for (; pMap != nullptr; pMap = pMap->pfnGetBaseMap != nullptr ? pMap->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = pMap->lpEntries; entry->pfn != nullptr; ++entry) {
            if (entry->nMessage == nMessage && (nMessage != WM_COMMAND || (entry->nCode == nCode && entry->nID == nID)))
                return entry;
        }
    }
    return nullptr;
}

#define DECLARE_MESSAGE_MAP()                                                                                          \
protected:                                                                                                             \
    static const AFX_MSGMAP* GetThisMessageMap();                                                                      \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                                         \
    const AFX_MSGMAP* theClass::GetMessageMap() const                                                                  \
    {                                                                                                                  \
        return GetThisMessageMap();                                                                                    \
    }                                                                                                                  \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                                                    \
    {                                                                                                                  \
        using ThisClass [[maybe_unused]] = theClass;                                                                   \
        using TheBaseClass = baseClass;                                                                                \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                                              \
    {                                                                                                                  \
        0, 0, 0, nullptr                                                                                               \
    }                                                                                                                  \
    }                                                                                                                  \
    ;                                                                                                                  \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};                      \
    return &messageMap;                                                                                                \
    }

// LRESULT OnXxx(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFn)                                                                                  \
    {message, 0, 0, [](CWnd& wnd, WPARAM wParam, LPARAM lParam) -> LRESULT {                                           \
         return static_cast<ThisClass&>(wnd).memberFn(wParam, lParam);                                                 \
     }},

// void OnXxx()
#define ON_CONTROL(code, id, memberFn)                                                                                 \
    {WM_COMMAND, code, static_cast<UINT>(id), [](CWnd& wnd, WPARAM, LPARAM) -> LRESULT {                               \
         static_cast<ThisClass&>(wnd).memberFn();                                                                      \
         return 0;                                                                                                     \
     }},
#define ON_BN_CLICKED(id, memberFn) ON_CONTROL(BN_CLICKED, id, memberFn)
#define ON_LBN_SELCHANGE(id, memberFn) ON_CONTROL(LBN_SELCHANGE, id, memberFn)
#define ON_LBN_DBLCLK(id, memberFn) ON_CONTROL(LBN_DBLCLK, id, memberFn)
#define ON_EN_UPDATE(id, memberFn) ON_CONTROL(EN_UPDATE, id, memberFn)

// void OnDestroy()
#define ON_WM_DESTROY()                                                                                                \
    {WM_DESTROY, 0, 0, [](CWnd& wnd, WPARAM, LPARAM) -> LRESULT {                                                      \
         static_cast<ThisClass&>(wnd).OnDestroy();                                                                     \
         return 0;                                                                                                     \
     }},

// void OnTimer(UINT_PTR nIDEvent)
#define ON_WM_TIMER()                                                                                                  \
    {WM_TIMER, 0, 0, [](CWnd& wnd, WPARAM wParam, LPARAM) -> LRESULT {                                                 \
         static_cast<ThisClass&>(wnd).OnTimer(static_cast<UINT_PTR>(wParam));                                          \
         return 0;                                                                                                     \
     }},

// void OnSysCommand(UINT nID, LPARAM lParam)
#define ON_WM_SYSCOMMAND()                                                                                             \
    {WM_SYSCOMMAND, 0, 0, [](CWnd& wnd, WPARAM wParam, LPARAM lParam) -> LRESULT {                                     \
         static_cast<ThisClass&>(wnd).OnSysCommand(static_cast<UINT>(wParam), lParam);                                 \
         return 0;                                                                                                     \
     }},
