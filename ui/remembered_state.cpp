// SPDX-License-Identifier: MIT
#include "remembered_state.h"

#include <algorithm>

#include <QSettings>
#include <QStringList>

#include "protocol/tftp.h"

namespace {

QSettings OpenSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarnwick"),
                     QStringLiteral("Tarnwick"));
}

// The file's texts are untrusted: a name is kept only when it is short and
// has no control characters, and a list only up to its length.
std::vector<std::string> ReadNames(const QSettings& settings, const QString& key)
{
    std::vector<std::string> names;
    for (const QString& entry : settings.value(key).toStringList()) {
        const std::string name = entry.toStdString();
        if (IsRememberable(name) && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
        if (names.size() == kRememberedNames)
            break;
    }
    return names;
}

// An empty list is written as an empty value: QSettings writes an empty
// string list as "@Invalid()", which no one should have to read.
QVariant ToValue(const std::vector<std::string>& names)
{
    if (names.empty())
        return QString();
    QStringList list;
    for (const std::string& name : names)
        list << QString::fromStdString(name);
    return list;
}

} // namespace

bool IsRememberable(const std::string& text)
{
    return !text.empty() && text.size() <= static_cast<size_t>(TFTP_MAX_NAME) &&
           std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

void RememberFirst(std::vector<std::string>* pList, const std::string& text)
{
    std::erase(*pList, text);
    pList->insert(pList->begin(), text);
    if (pList->size() > kRememberedNames)
        pList->resize(kRememberedNames);
}

RememberedState AfxLoadRememberedState()
{
    QSettings settings = OpenSettings();
    settings.beginGroup(QStringLiteral("State"));
    RememberedState state;
    state.hosts = ReadNames(settings, QStringLiteral("Hosts"));
    state.remoteFiles = ReadNames(settings, QStringLiteral("RemoteFiles"));
    state.directory = settings.value(QStringLiteral("Directory")).toString().toStdString();
    const QStringList position = settings.value(QStringLiteral("Position")).toString().split(QLatin1Char(','));
    bool xOk = false;
    bool yOk = false;
    if (position.size() == 2) {
        const int x = position[0].trimmed().toInt(&xOk);
        const int y = position[1].trimmed().toInt(&yOk);
        if (xOk && yOk)
            state.position = QPoint(x, y);
    }
    return state;
}

void AfxSaveRememberedState(const RememberedState& state)
{
    QSettings settings = OpenSettings();
    settings.beginGroup(QStringLiteral("State"));
    settings.setValue(QStringLiteral("Hosts"), ToValue(state.hosts));
    settings.setValue(QStringLiteral("RemoteFiles"), ToValue(state.remoteFiles));
    // A Mode left by an older version is dropped: it is no longer read.
    settings.remove(QStringLiteral("Mode"));
    settings.setValue(QStringLiteral("Directory"), QString::fromStdString(state.directory));
    if (state.position.has_value())
        settings.setValue(QStringLiteral("Position"),
                          QStringLiteral("%1,%2").arg(state.position->x()).arg(state.position->y()));
}
