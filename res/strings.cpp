// SPDX-License-Identifier: MIT
#include "strings.h"

#include <algorithm>
#include <iterator>

#include "platform/core/afxstrings.h"
#include "resource.h"

namespace {

struct StringEntry {
    unsigned int nID;
    const char* text;
};

// Sorted by number. Texts stand exactly as the program shows them, with
// their tabs, line breaks and doubled blanks.
constexpr StringEntry kStrings[] = {
    {IDS_ABOUTBOX, "&About Tarnwick..."},
    {IDS_STATUS_FORMAT, "%s\n%lu\n%lu\n%lu bps"},
    {IDS_SOCKETS_INIT_FAILED, "Windows sockets initialization failed."},
    {IDS_MEMORY_FORMAT, "%lu KB"},
    {IDS_DISK_SPACE_FORMAT, "%lu KB Free on %c:"},
    {IDS_UNAVAILABLE, "Unavailable"},
    {IDS_IDLE, "Idle"},
    {IDS_TRANSMITTING, "Transmitting"},
    {IDS_RECEIVING, "Receiving"},
    {IDS_LOG_WINDOW, "&Log Window"},
    {IDS_CONFIRM_GET, "Please confirm the following operation:\nRetrieve file:\t%s\nfrom host:\t\t%s\nto "
                      "directory:\t%s\nusing %s mode?"},
    {IDS_PUT_CAPTIONS, "Status:\nFile Size:\nSent (bytes):\nTransmission Rate:"},
    {IDS_GET_CAPTIONS, "Status:\nFile Size:\nReceived (bytes):\nTransmission Rate:"},
    {IDS_CONFIRM_PUT, "Please confirm the following operation:\nSend file:\t%s\nto host:\t%s\nas file:\t%s\nusing "
                      "%s mode?"},
    {IDS_SESSION_ABORTED, "Your session has been aborted due to a timeout or general error."},
    {IDS_DESTINATION_UNAVAILABLE,
     "The destination you requested is not available, please check the hostname and try again."},
    {IDS_DESTINATION_UNREACHABLE, "The destination you requested in not currently reachable.  Select a new "
                                  "destination or try again later."},
    {IDS_GENERAL_FAILURE, "This session has been aborted due to a general failure.\nError code: %d"},
    {IDS_SESSION_TIMEOUT,
     "A session timeout occurred.  Your session has been aborted.\nCheck network settings and try again."},
    {IDS_UNSPECIFIED_ERROR,
     "An unspecified error occurred during transmission.\nCheck transmission settings and try again."},
    {IDS_PEER_FILE_NOT_FOUND,
     "The requested file could not be found on the remote system.\nCheck filename and try again."},
    {IDS_PEER_ACCESS_VIOLATION,
     "An access violation has occurred on the remote system.\nCheck transmission settings and try again."},
    {IDS_PEER_DISK_FULL, "There is insufficient storage space on the remote system.\nContact the TFTP site "
                         "administrator for assistance."},
    {IDS_PEER_ILLEGAL_OPERATION,
     "An illegal operation occurred during transmission.\n Check transmission settings and try again."},
    {IDS_PEER_UNKNOWN_TID,
     "The remote system has reported an invalid operation.\nCheck transmission settings and try again."},
    {IDS_PEER_FILE_EXISTS, "The file which you are trying to send already exists on the remote system.\nTry "
                           "setting the Remote File name to another name to complete the transmission."},
    {IDS_STARTING, "Starting"},
    {IDS_OVERWRITE,
     "The file you are retrieving already exists in the selected directory.\nDo you want to overwrite it?"},
    {IDS_OPEN_READ_FAILED, "Unable to open the selected file for reading.\nIt may be in use by another application."},
    {IDS_OPEN_WRITE_FAILED, "Unable to open the selected file for writing.\n It may be in use by another application."},
    {IDS_TIP_GET, "Retrieve File (Get)"},
    {IDS_TIP_PUT, "Send File (Put)"},
    {IDS_TIP_REMOTE_FILE, "File to retrieve, or rename file to on send"},
    {IDS_TIP_REMOTE_HOST, "Host name or IP address of destination device"},
    {IDS_GET_NO_FILE_NAME, "The remote file name \"%s\" does not end in a file name.\nType the name of a file, such as "
                           "pxelinux.cfg/default: it is stored under its last part, in the directory shown."},
    {IDS_PUT_FILE_CHANGED, "%s changed size while it was being sent.\nThe transfer was stopped, and the server was "
                           "told that its copy is incomplete."},
    {IDS_OACK_REFUSED, "The server's answer to the transfer options cannot be taken (option \"%s\": not asked for, "
                       "out of range or malformed).\nThe transfer was stopped."},
    {IDS_TRANSFER_OPTIONS, "&Transfer Options..."},
    {IDS_BAD_BLOCK_SIZE, "The block size must be a whole number from 8 to 65464."},
    {IDS_BAD_WINDOW_SIZE, "The window size must be a whole number from 1 to 64."},
    {IDS_BAD_TIMEOUT, "The timeout must be a whole number of seconds from 1 to 255, or 0 to send none."},
    {IDS_RESOLVING, "Resolving"},
    {IDS_BAD_HOST, "\"%s\" is not a host this program can use. Type one of these:\n"
                   "a name or IPv4 address, with an optional port:\ttftp.example.com   192.0.2.7:6969\n"
                   "an IPv6 address:\t2001:db8::5\n"
                   "an IPv6 address in brackets, with an optional port:\t[2001:db8::5]:6969\n"
                   "a link-local IPv6 address and its interface:\tfe80::1%%eth0   [fe80::1%%eth0]:69"},
    {IDS_HOST_NOT_FOUND, "The host \"%s\" was not found.\n%s"},
    {IDS_TIP_HOST_FORMS, "tftp.example.com, 192.0.2.7:6969, 2001:db8::5, [2001:db8::5]:6969, fe80::1%eth0"},
    {IDS_CONFIRM_EXIT_BUSY, "A transfer is in progress. Abort it and exit?"},
    {IDS_ACC_PUT, "Put (send the selected file)"},
    {IDS_ACC_GET, "Get (retrieve the remote file)"},
    {IDS_ACC_DIR_LIST, "Directories"},
    {IDS_ACC_FILE_LIST, "Files"},
    {IDS_ACC_PROGRESS, "Transfer progress"},
    {IDS_ACC_REMOTE_HOST, "Remote host"},
    {IDS_ACC_REMOTE_FILE, "Remote file"},
    {IDS_ACC_CURRENT_DIR, "Current directory"},
    {IDS_ACC_STATUS, "Transfer status"},
    {IDS_ACC_LOG, "Transfer log"},
    {IDS_PEER_ERROR_GET, "Get of \"%s\" from %s: the server answered TFTP error %u%s."},
    {IDS_PEER_ERROR_PUT, "Put of \"%s\" to %s: the server answered TFTP error %u%s."},
    // The standard meanings of the error codes 0 to 8, one a line.
    {IDS_TFTP_ERROR_MEANINGS, "not defined\nfile not found\naccess violation\ndisk full or allocation exceeded\n"
                              "illegal TFTP operation\nunknown transfer ID\nfile already exists\nno such user\n"
                              "option negotiation refused"},
    {IDS_HINT_SERVER_CREATES, "The server may need the file to exist, or to be started with -c to create it."},
    {IDS_HINT_GET_NOT_FOUND,
     "Check the name: it is looked up in the server's folder (the folder tftpd-hpa is given with -s)."},
    {IDS_HINT_GET_ACCESS, "The server may send only files that everyone may read."},
    {IDS_HINT_DISK_FULL, "The server has no room for the file: free space there, or ask its administrator."},
    {IDS_HINT_FILE_EXISTS, "Choose another Remote File name, or remove the file on the server."},
    {IDS_FILE_ERROR_REASON, "The system reports: %s."},
    {IDS_COMPLETE, "Complete"},
    {IDS_ABORTED, "Aborted"},
    {IDS_FAILED, "Failed"},
    {IDS_LOOKS_BINARY, "This file looks binary; Ascii mode will change it."},
    {IDS_TIMEOUT_WHERE, "No answer came from %s, port %u. Check that the address is right, that a TFTP server is "
                        "running there, and that no firewall blocks UDP port %u."},
    {IDS_ACC_MENU_BUTTON, "Window menu"},
    {IDS_TIP_MENU_BUTTON, "The window's menu: About Tarnwick, Log Window, Transfer Options, Serve Folder (F10)"},
    {IDS_PROGRESS_LEFT, "%d%%, %s left"},
    {IDS_LOG_COPY, "&Copy"},
    {IDS_LOG_SELECT_ALL, "Select &All"},
    {IDS_LOG_CLEAR, "C&lear"},
    {IDS_LOG_SAVE_TITLE, "Save the Log"},
    // The name the save dialog proposes; %s: the date and time, as 20260131-1405.
    {IDS_LOG_SAVE_NAME, "tarnwick-log-%s.txt"},
    // %s: the file; %s: the system's reason.
    {IDS_LOG_SAVE_FAILED, "The log could not be saved to %s: %s."},
    // Port 69 refused through the helper, one text per reason (AfxPort69DeniedText).
    // A line that begins with a tab is a command: the box shows it whole, with
    // a button that copies it.
    // %s: the helper's path, twice.
    {IDS_SERVE_PORT_69_DENIED,
     "Tarnwick may not serve on port 69: its helper for that port, %s, ran but does not hold the privilege to "
     "bind it (cap_net_bind_service). An administrator can give it that privilege, once, with:\n"
     "\tsudo setcap cap_net_bind_service=ep %s"
     "\n\nOn port 6969 no helper is needed. A U-Boot board is told so with:\n"
     "\tsetenv tftpdstp 6969\n"
     "PXE firmware always asks port 69 and cannot be told another."},
    // %u: the port, three times.
    {IDS_SERVE_LOW_PORT_DENIED,
     "Tarnwick may not serve on port %u: ports below 1024 need a privilege that its window does not have, and its "
     "helper binds only port 69.\n\nChoose port 69, or a port from 1024 up such as 6969. Or the administrator can "
     "let every program use ports from %u up (until the next restart):\n"
     "\tsudo sysctl net.ipv4.ip_unprivileged_port_start=%u"},
    // %u: the port; %s: the address; %u: the port again.
    {IDS_SERVE_PORT_IN_USE,
     "Port %u on %s is already taken: another TFTP server, for example tftpd-hpa, atftpd or dnsmasq, already holds "
     "it.\n\nStop that server, for example with:\n"
     "\tsudo systemctl stop tftpd-hpa\n"
     "or serve on another port, such as 6969. This command shows which program holds it:\n"
     "\tsudo ss -ulpn 'sport = :%u'"},
    // %s: the address.
    {IDS_SERVE_ADDRESS_NOT_LOCAL, "%s is not an address of this computer, so Tarnwick cannot serve on it. Choose one "
                                  "of its addresses, or all of them."},
    // %u: the port; %s: the address; %s: the system's reason.
    {IDS_SERVE_BIND_FAILED, "Port %u on %s could not be taken for serving: %s."},
    // %s: the helper's path.
    {IDS_SERVE_PORT_69_NO_HELPER,
     "Tarnwick may not serve on port 69: its helper for that port, %s, is missing. Installing Tarnwick again "
     "brings it back."
     "\n\nOn port 6969 no helper is needed. A U-Boot board is told so with:\n"
     "\tsetenv tftpdstp 6969\n"
     "PXE firmware always asks port 69 and cannot be told another."},
    // %s: the group, the user, the group, the helper's path, the user, the group.
    {IDS_SERVE_PORT_69_NOT_IN_GROUP,
     "Port 69 is for members of the group %s. Ask an administrator to run: sudo adduser %s %s (then log in "
     "again), or serve on port 6969.\n\n"
     "Only that group may run Tarnwick's helper for port 69, %s, and this session is not in it: a new member "
     "is in it from the next login. The command, to copy:\n"
     "\tsudo adduser %s %s"
     "\n\nOn port 6969 no helper is needed. A U-Boot board is told so with:\n"
     "\tsetenv tftpdstp 6969\n"
     "PXE firmware always asks port 69 and cannot be told another."},
    // %s: the helper's path, the user, the helper's path.
    {IDS_SERVE_PORT_69_NOT_RUNNABLE,
     "Tarnwick may not serve on port 69: its helper for that port, %s, may not be run by %s. An administrator "
     "chose who may run it; ask one to let you. This command shows who may:\n"
     "\tls -l %s"
     "\n\nOn port 6969 no helper is needed. A U-Boot board is told so with:\n"
     "\tsetenv tftpdstp 6969\n"
     "PXE firmware always asks port 69 and cannot be told another."},
    {IDS_SERVE_FOLDER_MENU, "&Serve Folder..."},
    {IDS_SERVE_STOPPED, "Not serving."},
    // %s: the folder; %s: the address or "all addresses"; %u: the port; %s: read-only or the uploads taken.
    {IDS_SERVE_SERVING, "Serving %s on %s, port %u, %s"},
    {IDS_SERVE_ALL_ADDRESSES, "all addresses"},
    // Below the status; the ufw and the firewalld command. %u: the port.
    {IDS_SERVE_FIREWALL, "No request has arrived yet. If the device asks and gets no answer, a firewall may drop its "
                         "requests. Allow them with sudo ufw allow %u/udp (ufw) or sudo firewall-cmd "
                         "--add-service=tftp (firewalld)."},
    {IDS_SERVE_CONFIRM_CLOSE, "Transfers are running. Stop serving, and end them?"},
    {IDS_SERVE_NO_FOLDER, "%s is not a folder. Choose a folder to serve."},
    {IDS_SERVE_BAD_PORT, "The port must be a whole number from 1 to 65535."},
    {IDS_SERVE_TICK_UPLOAD, "tick Allow uploads"},
    {IDS_SERVE_TICK_CREATE, "tick Allow new files"},
    {IDS_SERVE_TICK_REPLACE, "tick Replace existing files"},
    // %s: the name asked for; %s: the file that exists.
    {IDS_SERVE_CASE_HINT, "asked for %s; %s exists"},
    {IDS_SERVE_READ_ONLY, "read-only"},
    // What a client may upload, as the three boxes say.
    {IDS_SERVE_UPLOADS, "uploads: new files and replacing"},
    {IDS_SERVE_UPLOADS_NEW, "uploads: new files only"},
    {IDS_SERVE_UPLOADS_REPLACE, "uploads: replacing existing files only"},
    {IDS_SERVE_UPLOADS_NONE, "uploads: none yet (tick Allow new files or Replace existing files)"},
    // %u: the port, twice.
    {IDS_SERVE_FIREWALL_PORT, "No request has arrived yet. If the device asks and gets no answer, a firewall may drop "
                              "its requests. Allow them with sudo ufw allow %u/udp (ufw) or sudo firewall-cmd "
                              "--add-port=%u/udp (firewalld)."},
    {IDS_SERVE_FOLDER_MISSING, "%s does not exist. Choose an existing folder."},
    // %s: the folder; %s: the system's reason.
    {IDS_SERVE_FOLDER_UNREADABLE, "You cannot read %s (%s)."},
    {IDS_SERVE_NO_FOLDER_CHOSEN, "Choose a folder to serve."},
    // A read of a folder's name. %s: the name as asked.
    {IDS_SERVE_IS_FOLDER, "%s is a folder: ask for a file in it"},
    // Above the transfers. %u and %s: the number running and "transfer" or
    // "transfers"; then the numbers ended each way.
    {IDS_SERVE_COUNT, "%u %s running, %u done, %u refused"},
    {IDS_SERVE_COUNT_FAILED, "%u %s running, %u done, %u failed, %u refused"},
    {IDS_SERVE_TRANSFER, "transfer"},
    {IDS_SERVE_TRANSFERS, "transfers"},
    // %s: the program.
    {IDS_SERVE_STARTING, "Starting %s..."},
    // %d: its exit status.
    {IDS_SERVE_ENDED, "Not serving. The server ended with status %d."},
    // %s: how it ended ("status 3", "killed by signal 9"); %s: its last line.
    {IDS_SERVE_DIED, "The server ended unexpectedly (%s). Its last line: %s\nStart serves the folder again."},
    // %s: the program; %s: why.
    {IDS_SERVE_NOT_RUN, "Cannot run the server %s: %s. Installing Tarnwick again brings it back."},
    {IDS_SERVE_CONFIRM_RESTART, "Transfers are running. The server starts again for this change, which ends "
                                "them. Go on?"},
    // %s: the folder; %u: the port. In the main window, which opens the Serve window when clicked.
    {IDS_SERVE_SERVING_SHORT, "Serving %s on port %u"},
    {IDS_SERVE_ROW_CUT, "The server ended"},
    // The box's label once one address is chosen. %s: its network interface.
    {IDS_SERVE_NETBOOT_ON, "Net&work boot on %s"},
    // Before each firewall command in the addresses' list. %u: the TFTP port; %u: the HTTP port.
    {IDS_SERVE_NETBOOT_PORTS, "Network boot needs UDP 67, %u and 4011 and TCP %u open:"},
};

static_assert(std::is_sorted(std::begin(kStrings), std::end(kStrings),
                             [](const StringEntry& a, const StringEntry& b) { return a.nID < b.nID; }),
              "the string table must stay sorted by number");

} // namespace

const char* AfxFindString(unsigned int nID)
{
    auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), nID,
                               [](const StringEntry& entry, unsigned int id) { return entry.nID < id; });
    if (it == std::end(kStrings) || it->nID != nID)
        return AfxFindFrameworkString(nID);
    return it->text;
}

std::string AfxLoadString(unsigned int nID)
{
    const char* text = AfxFindString(nID);
    return text != nullptr ? std::string(text) : std::string();
}

int AfxMessageBox(UINT nIDPrompt, UINT nType, UINT nIDHelp)
{
    return AfxMessageBox(AfxLoadString(nIDPrompt), nType, nIDHelp);
}
