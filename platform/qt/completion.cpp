// SPDX-License-Identifier: MIT
#include "completion.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStringListModel>

namespace {

QStringList ToList(const std::vector<std::string>& names)
{
    QStringList list;
    for (const std::string& name : names)
        list << QString::fromStdString(name);
    return list;
}

// Down on the edit box opens its completions, as a combo box opens its list;
// Shift+Delete in the open list forgets the highlighted name.
class CCompletionKeys : public QObject {
public:
    CCompletionKeys(QLineEdit* pEdit, std::function<void(const std::string&)> onRemoved)
        : QObject(pEdit), m_pEdit(pEdit), m_onRemoved(std::move(onRemoved))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        QCompleter* completer = m_pEdit->completer();
        if (completer == nullptr)
            return false;
        if (watched == m_pEdit && key->key() == Qt::Key_Down && !completer->popup()->isVisible()) {
            completer->setCompletionPrefix(m_pEdit->text());
            completer->complete();
            return true;
        }
        if (watched == completer->popup() && key->key() == Qt::Key_Delete && key->modifiers() == Qt::ShiftModifier) {
            const QModelIndex current = completer->popup()->currentIndex();
            if (!current.isValid())
                return true;
            const QString name = current.data().toString();
            if (auto* model = qobject_cast<QStringListModel*>(completer->model())) {
                QStringList names = model->stringList();
                names.removeAll(name);
                model->setStringList(names);
            }
            if (m_onRemoved)
                m_onRemoved(name.toStdString());
            // The list shows what is left, or closes when nothing fits.
            completer->setCompletionPrefix(m_pEdit->text());
            if (completer->completionCount() > 0)
                completer->complete();
            else
                completer->popup()->hide();
            return true;
        }
        return false;
    }

private:
    QLineEdit* m_pEdit;
    std::function<void(const std::string&)> m_onRemoved;
};

} // namespace

void AfxAddCompletion(QLineEdit* pEdit, const std::vector<std::string>& names,
                      std::function<void(const std::string&)> onRemoved)
{
    if (pEdit == nullptr)
        return;
    auto* completer = new QCompleter(ToList(names), pEdit);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setModelSorting(QCompleter::UnsortedModel); // most recent first
    pEdit->setCompleter(completer);
    auto* keys = new CCompletionKeys(pEdit, std::move(onRemoved));
    pEdit->installEventFilter(keys);
    completer->popup()->installEventFilter(keys);
}

void AfxSetCompletions(QLineEdit* pEdit, const std::vector<std::string>& names)
{
    QCompleter* completer = pEdit != nullptr ? pEdit->completer() : nullptr;
    if (auto* model = completer != nullptr ? qobject_cast<QStringListModel*>(completer->model()) : nullptr)
        model->setStringList(ToList(names));
}
