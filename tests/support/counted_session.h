// SPDX-License-Identifier: MIT
// A transfer object that counts its deletions, for the tests of who deletes
// it and when.
#pragma once

#include "client/session.h"

template <class TSession = CTFTPSession> class CountedSession : public TSession {
public:
    CountedSession(CWnd* pReportWnd, int* pDeleted) : TSession(pReportWnd), m_pDeleted(pDeleted) {}
    ~CountedSession() override { ++*m_pDeleted; }

private:
    int* m_pDeleted;
};
