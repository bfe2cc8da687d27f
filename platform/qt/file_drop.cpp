// SPDX-License-Identifier: MIT
#include "file_drop.h"

#include <sys/stat.h>

#include <QAbstractItemView>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace {

class CFileDrop : public QObject {
public:
    CFileDrop(QObject* parent, std::function<bool()> busy, std::function<void(const std::string&)> choose)
        : QObject(parent), m_busy(std::move(busy)), m_choose(std::move(choose))
    {
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (!m_busy() && AfxDroppedFile(drag->mimeData()).has_value())
                drag->acceptProposedAction();
            else
                drag->ignore();
            return true;
        }
        if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const std::optional<std::string> path = AfxDroppedFile(drop->mimeData());
            if (m_busy() || !path.has_value())
                return true;
            drop->acceptProposedAction();
            m_choose(*path);
            return true;
        }
        return false;
    }

private:
    std::function<bool()> m_busy;
    std::function<void(const std::string&)> m_choose;
};

} // namespace

std::optional<std::string> AfxDroppedFile(const QMimeData* pData)
{
    if (pData == nullptr || !pData->hasUrls() || pData->urls().size() != 1 || !pData->urls().front().isLocalFile())
        return std::nullopt;
    const QByteArray path = QFile::encodeName(pData->urls().front().toLocalFile());
    struct stat status {};
    if (::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return path.toStdString();
}

void AfxAcceptFileDrops(QWidget* pTarget, std::function<bool()> busy, std::function<void(const std::string&)> choose)
{
    if (pTarget == nullptr)
        return;
    // A list's drops arrive at its viewport.
    QWidget* receiver = pTarget;
    if (auto* view = qobject_cast<QAbstractItemView*>(pTarget)) {
        receiver = view->viewport();
    }
    pTarget->setAcceptDrops(true);
    receiver->setAcceptDrops(true);
    receiver->installEventFilter(new CFileDrop(pTarget, std::move(busy), std::move(choose)));
}
