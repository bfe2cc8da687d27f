// SPDX-License-Identifier: MIT
#include "transfer_settings.h"

#include <QSettings>
#include <QString>

#include <string>

#include "protocol/host_address.h"

namespace {

constexpr char kOrganisation[] = "Tarnwick";
constexpr char kApplication[] = "Tarnwick";

// A whole number within its range, else the default (and a log line).
int ReadNumber(const QSettings& settings, const char* key, int nDefault, bool (*valid)(long long), ITransferLog* pLog)
{
    const QVariant value = settings.value(QString::fromLatin1(key));
    if (!value.isValid())
        return nDefault;
    bool ok = false;
    const long long number = value.toString().trimmed().toLongLong(&ok);
    if (ok && valid(number))
        return static_cast<int>(number);
    if (pLog != nullptr) {
        // The file's text is untrusted: bounded, and only ever shown as text.
        const std::string shown = value.toString().left(32).toStdString();
        pLog->LogLine(std::string("Settings: ") + key + " \"" + shown + "\" is out of range; " +
                      std::to_string(nDefault) + " is used");
    }
    return nDefault;
}

bool ReadFlag(const QSettings& settings, const char* key, bool bDefault, ITransferLog* pLog)
{
    const QVariant value = settings.value(QString::fromLatin1(key));
    if (!value.isValid())
        return bDefault;
    const QString text = value.toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    if (pLog != nullptr)
        pLog->LogLine(std::string("Settings: ") + key + " \"" + value.toString().left(32).toStdString() +
                      "\" is neither true nor false; " + (bDefault ? "true" : "false") + " is used");
    return bDefault;
}

QSettings OpenSettings()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(kOrganisation),
                     QString::fromLatin1(kApplication));
}

bool IsValidPort(long long nValue)
{
    return nValue >= 1 && nValue <= 65535;
}

bool IsValidLimit(long long nValue)
{
    return nValue >= 1 && nValue <= 1024;
}

} // namespace

QSettings AfxOpenSettings()
{
    return OpenSettings();
}

TftpOptions TransferSettings::RequestOptions() const
{
    if (!bNegotiate)
        return TftpOptions{};
    return TftpOptions{nBlockSize, nWindowSize, nTimeout, bAskFileSize, 0, nBlockSize == TFTP_DEFAULT_BLOCK_SIZE};
}

bool IsValidBlockSize(long long nValue)
{
    return nValue >= TFTP_MIN_BLOCK_SIZE && nValue <= TFTP_MAX_BLOCK_SIZE;
}

bool IsValidWindowSize(long long nValue)
{
    return nValue >= 1 && nValue <= TFTP_MAX_WINDOW_SIZE;
}

bool IsValidTimeout(long long nValue)
{
    return nValue >= 0 && nValue <= TFTP_MAX_TIMEOUT;
}

TransferSettings AfxLoadTransferSettings(ITransferLog* pLog)
{
    QSettings settings = OpenSettings();
    settings.beginGroup(QStringLiteral("Options"));
    TransferSettings loaded;
    const TransferSettings defaults;
    loaded.bNegotiate = ReadFlag(settings, "Negotiate", defaults.bNegotiate, pLog);
    loaded.nBlockSize = ReadNumber(settings, "BlockSize", defaults.nBlockSize, IsValidBlockSize, pLog);
    loaded.nWindowSize = ReadNumber(settings, "WindowSize", defaults.nWindowSize, IsValidWindowSize, pLog);
    loaded.bAskFileSize = ReadFlag(settings, "AskFileSize", defaults.bAskFileSize, pLog);
    loaded.nTimeout = ReadNumber(settings, "Timeout", defaults.nTimeout, IsValidTimeout, pLog);
    return loaded;
}

void AfxSaveTransferSettings(const TransferSettings& saved)
{
    QSettings settings = OpenSettings();
    settings.beginGroup(QStringLiteral("Options"));
    settings.setValue(QStringLiteral("Negotiate"), saved.bNegotiate);
    settings.setValue(QStringLiteral("BlockSize"), saved.nBlockSize);
    settings.setValue(QStringLiteral("WindowSize"), saved.nWindowSize);
    settings.setValue(QStringLiteral("AskFileSize"), saved.bAskFileSize);
    settings.setValue(QStringLiteral("Timeout"), saved.nTimeout);
}

bool IsValidListenAddress(const std::string& text)
{
    HostText host;
    return text.empty() || (text.size() <= static_cast<size_t>(TFTP_MAX_NAME) && ParseHostText(text, 0, &host) &&
                            host.form != HostForm::name && host.nPort == 0);
}

ServeSettings AfxLoadServeSettings(ITransferLog* pLog)
{
    QSettings settings = OpenSettings();
    settings.beginGroup(QStringLiteral("Serve"));
    ServeSettings loaded;
    const ServeSettings defaults;
    loaded.folder = settings.value(QStringLiteral("Folder")).toString().toStdString();
    const std::string listen = settings.value(QStringLiteral("Listen")).toString().trimmed().toStdString();
    if (IsValidListenAddress(listen))
        loaded.listen = listen;
    else if (pLog != nullptr)
        pLog->LogLine("Settings: Listen \"" + listen.substr(0, 64) + "\" is not an address; all addresses are used");
    loaded.nPort = ReadNumber(settings, "Port", defaults.nPort, IsValidPort, pLog);
    loaded.bAllowUpload = ReadFlag(settings, "AllowUpload", defaults.bAllowUpload, pLog);
    loaded.bAllowCreate = ReadFlag(settings, "AllowCreate", defaults.bAllowCreate, pLog);
    loaded.bReplaceExisting = ReadFlag(settings, "ReplaceExisting", defaults.bReplaceExisting, pLog);
    loaded.bLocalNetworksOnly = ReadFlag(settings, "LocalNetworksOnly", defaults.bLocalNetworksOnly, pLog);
    loaded.nMaxTransfers = ReadNumber(settings, "MaxTransfers", defaults.nMaxTransfers, IsValidLimit, pLog);
    loaded.nMaxPerClient = ReadNumber(settings, "MaxPerClient", defaults.nMaxPerClient, IsValidLimit, pLog);
    loaded.nMaxBlockSize = ReadNumber(settings, "MaxBlockSize", defaults.nMaxBlockSize, IsValidBlockSize, pLog);
    loaded.nMaxWindowSize = ReadNumber(settings, "MaxWindowSize", defaults.nMaxWindowSize, IsValidWindowSize, pLog);
    loaded.bBackslashIsSlash = ReadFlag(settings, "BackslashIsSlash", defaults.bBackslashIsSlash, pLog);
    loaded.bIgnoreCase = ReadFlag(settings, "IgnoreCase", defaults.bIgnoreCase, pLog);
    return loaded;
}

void AfxSaveServeSettings(const ServeSettings& saved)
{
    QSettings settings = OpenSettings();
    settings.beginGroup(QStringLiteral("Serve"));
    settings.setValue(QStringLiteral("Folder"), QString::fromStdString(saved.folder));
    settings.setValue(QStringLiteral("Listen"), QString::fromStdString(saved.listen));
    settings.setValue(QStringLiteral("Port"), saved.nPort);
    settings.setValue(QStringLiteral("AllowUpload"), saved.bAllowUpload);
    settings.setValue(QStringLiteral("AllowCreate"), saved.bAllowCreate);
    settings.setValue(QStringLiteral("ReplaceExisting"), saved.bReplaceExisting);
    settings.setValue(QStringLiteral("LocalNetworksOnly"), saved.bLocalNetworksOnly);
    settings.setValue(QStringLiteral("MaxTransfers"), saved.nMaxTransfers);
    settings.setValue(QStringLiteral("MaxPerClient"), saved.nMaxPerClient);
    settings.setValue(QStringLiteral("MaxBlockSize"), saved.nMaxBlockSize);
    settings.setValue(QStringLiteral("MaxWindowSize"), saved.nMaxWindowSize);
    settings.setValue(QStringLiteral("BackslashIsSlash"), saved.bBackslashIsSlash);
    settings.setValue(QStringLiteral("IgnoreCase"), saved.bIgnoreCase);
}
