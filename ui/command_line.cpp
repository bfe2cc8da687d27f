// SPDX-License-Identifier: MIT
#include "command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include "protocol/host_address.h"

namespace {

void Print(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
}

// The arguments without Qt's own (-platform xcb, -display :1, -reverse, ...),
// which the window's application object takes for itself.
QStringList WithoutQtOptions(const QStringList& arguments)
{
    static const QStringList withValue = {QStringLiteral("platform"),      QStringLiteral("platformpluginpath"),
                                          QStringLiteral("platformtheme"), QStringLiteral("plugin"),
                                          QStringLiteral("display"),       QStringLiteral("geometry"),
                                          QStringLiteral("title"),         QStringLiteral("name"),
                                          QStringLiteral("style"),         QStringLiteral("stylesheet"),
                                          QStringLiteral("session"),       QStringLiteral("qwindowgeometry"),
                                          QStringLiteral("qwindowtitle"),  QStringLiteral("qwindowicon"),
                                          QStringLiteral("qmljsdebugger")};
    static const QStringList alone = {QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                      QStringLiteral("nograb"), QStringLiteral("dograb"), QStringLiteral("sync")};
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString name = arguments[i];
        if (i == 0 || !name.startsWith(QLatin1Char('-')) || name == QStringLiteral("--")) {
            kept << name;
            continue;
        }
        name.remove(0, name.startsWith(QStringLiteral("--")) ? 2 : 1);
        const QString bare = name.section(QLatin1Char('='), 0, 0);
        if (withValue.contains(bare)) {
            if (!name.contains(QLatin1Char('=')))
                ++i; // its value
        } else if (!alone.contains(bare)) {
            kept << arguments[i];
        }
    }
    return kept;
}

} // namespace

int ParseCommandLine(int argc, char** argv, CommandLine* pLine)
{
    // An application object without a display, for the parser's texts; it
    // is gone before the window's is made.
    QCoreApplication::setApplicationName(QStringLiteral("tarnwick"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWICK_VERSION));
    int count = argc;
    const QCoreApplication application(count, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Tarnwick, a TFTP client and server: sends files to a TFTP "
                                                    "server and retrieves them, or serves a folder."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption get(QStringLiteral("get"),
                                 QStringLiteral("Get REMOTE-FILE from HOST into the current directory, after the "
                                                "usual confirmation."));
    const QCommandLineOption put(QStringLiteral("put"),
                                 QStringLiteral("Put LOCAL-FILE to HOST (as REMOTE-FILE, or under its own name), after "
                                                "the usual confirmation."),
                                 QStringLiteral("LOCAL-FILE"));
    const QCommandLineOption ascii(QStringLiteral("ascii"),
                                   QStringLiteral("With --get or --put: the transfer in Ascii mode (netascii), for "
                                                  "text: characters outside plain ASCII are left out, and a Get's "
                                                  "lines end in CR LF. Without it, Binary."));
    const QCommandLineOption serve(QStringLiteral("serve"),
                                   QStringLiteral("Serve DIR by TFTP at once; the window shows the transfers. Only "
                                                  "the options below apply, never the Serve window's saved choices: "
                                                  "read-only unless --allow-upload."),
                                   QStringLiteral("DIR"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("With --serve: listen on ADDRESS only (IPv4 or IPv6, with a "
                                                   "zone where needed); default: every address."),
                                    QStringLiteral("ADDRESS"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("With --serve: the port (default 69)."),
                                  QStringLiteral("N"));
    const QCommandLineOption allowUpload(QStringLiteral("allow-upload"),
                                         QStringLiteral("With --serve: take uploads (write requests)."));
    const QCommandLineOption allowCreate(QStringLiteral("allow-create"),
                                         QStringLiteral("With --serve and --allow-upload: uploads may create files."));
    const QCommandLineOption allowReplace(
        QStringLiteral("allow-replace"),
        QStringLiteral("With --serve and --allow-upload: uploads may replace existing files."));
    const QCommandLineOption maxTransfers(QStringLiteral("max-transfers"),
                                          QStringLiteral("With --serve: transfers at once, 1 to 1024 (default 64)."),
                                          QStringLiteral("N"));
    const QCommandLineOption maxPerClient(
        QStringLiteral("max-per-client"),
        QStringLiteral("With --serve: transfers at once from one address, 1 to 1024 (default 8)."),
        QStringLiteral("N"));
    parser.addOption(get);
    parser.addOption(put);
    parser.addOption(ascii);
    for (const QCommandLineOption* option :
         {&serve, &listen, &port, &allowUpload, &allowCreate, &allowReplace, &maxTransfers, &maxPerClient})
        parser.addOption(*option);
    parser.addPositionalArgument(QStringLiteral("HOST[:PORT]"),
                                 QStringLiteral("The server, in any form the Remote Host box takes."),
                                 QStringLiteral("[HOST[:PORT]"));
    parser.addPositionalArgument(QStringLiteral("REMOTE-FILE"), QStringLiteral("The file's name on the server."),
                                 QStringLiteral("[REMOTE-FILE]]"));

    const auto mistake = [](const QString& text) {
        Print(stderr, QStringLiteral("tarnwick: %1\nTry 'tarnwick --help' for more.\n").arg(text));
        return 2;
    };
    if (!parser.parse(WithoutQtOptions(QCoreApplication::arguments())))
        return mistake(parser.errorText());
    if (parser.isSet(help)) {
        Print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        Print(stdout, QStringLiteral("tarnwick %1\n").arg(QStringLiteral(TARNWICK_VERSION)));
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 2)
        return mistake(QStringLiteral("too many arguments: at most a host and a remote file"));
    if (parser.isSet(get) && parser.isSet(put))
        return mistake(QStringLiteral("--get and --put do not go together"));
    if ((parser.isSet(get) || parser.isSet(put)) && positional.isEmpty())
        return mistake(QStringLiteral("--get and --put need a host"));
    if (parser.isSet(get) && positional.size() < 2)
        return mistake(QStringLiteral("--get needs a remote file"));
    if (parser.isSet(ascii) && !parser.isSet(get) && !parser.isSet(put))
        return mistake(QStringLiteral("--ascii goes with --get or --put"));
    const bool serving = parser.isSet(serve);
    for (const QCommandLineOption* option :
         {&listen, &port, &allowUpload, &allowCreate, &allowReplace, &maxTransfers, &maxPerClient})
        if (parser.isSet(*option) && !serving)
            return mistake(QStringLiteral("--%1 goes with --serve").arg(option->names().constFirst()));
    for (const QCommandLineOption* option : {&allowCreate, &allowReplace})
        if (parser.isSet(*option) && !parser.isSet(allowUpload))
            return mistake(QStringLiteral("--%1 needs --allow-upload").arg(option->names().constFirst()));
    if (serving && (parser.isSet(get) || parser.isSet(put) || !positional.isEmpty()))
        return mistake(QStringLiteral("--serve takes no host, remote file, --get or --put"));

    CommandLine line;
    if (!positional.isEmpty())
        line.host = positional[0].toStdString();
    if (positional.size() > 1)
        line.remote = positional[1].toStdString();
    line.bGet = parser.isSet(get);
    line.bAscii = parser.isSet(ascii);
    if (parser.isSet(put)) {
        line.putFile = QFile::encodeName(parser.value(put)).toStdString(); // a file name is bytes
        // A file that cannot be sent is a mistake of the command line: said
        // here, on the terminal, before any window opens.
        struct stat status {};
        if (::stat(line.putFile.c_str(), &status) != 0 || ::access(line.putFile.c_str(), R_OK) != 0)
            return mistake(QStringLiteral("cannot read %1: %2")
                               .arg(parser.value(put), QString::fromLocal8Bit(std::strerror(errno))));
        if (!S_ISREG(status.st_mode))
            return mistake(QStringLiteral("%1 is not a regular file").arg(parser.value(put)));
    }
    if (serving) {
        const std::string folder = QFile::encodeName(parser.value(serve)).toStdString();
        struct stat status {};
        char absolute[PATH_MAX];
        if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
            ::realpath(folder.c_str(), absolute) == nullptr)
            return mistake(QStringLiteral("%1 is not a folder").arg(parser.value(serve)));
        line.serveFolder = absolute;
        line.listen = parser.value(listen).toStdString();
        if (!IsValidListenAddress(line.listen))
            return mistake(QStringLiteral("--listen %1: not an IPv4 or IPv6 address").arg(parser.value(listen)));
        bool ok = true;
        if (parser.isSet(port))
            line.nPort = parser.value(port).toInt(&ok);
        if (!ok || line.nPort < 1 || line.nPort > 65535)
            return mistake(QStringLiteral("--port %1: not a port from 1 to 65535").arg(parser.value(port)));
        line.bAllowUpload = parser.isSet(allowUpload);
        line.bAllowCreate = parser.isSet(allowCreate);
        line.bAllowReplace = parser.isSet(allowReplace);
        for (const auto& [option, pLimit] :
             {std::pair{&maxTransfers, &line.nMaxTransfers}, std::pair{&maxPerClient, &line.nMaxPerClient}}) {
            if (!parser.isSet(*option))
                continue;
            *pLimit = parser.value(*option).toInt(&ok);
            if (!ok || *pLimit < 1 || *pLimit > 1024)
                return mistake(QStringLiteral("--%1 %2: not a number from 1 to 1024")
                                   .arg(option->names().constFirst(), parser.value(*option)));
        }
    }
    *pLine = std::move(line);
    return -1;
}

ServeSettings CommandLine::ServeChoices() const
{
    ServeSettings settings; // every limit and choice at its built-in default
    settings.folder = serveFolder;
    settings.listen = listen;
    settings.nPort = nPort;
    settings.bAllowUpload = bAllowUpload;
    settings.bAllowCreate = bAllowCreate;
    settings.bReplaceExisting = bAllowReplace;
    settings.nMaxTransfers = nMaxTransfers;
    settings.nMaxPerClient = nMaxPerClient;
    return settings;
}
