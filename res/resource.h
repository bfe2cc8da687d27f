// SPDX-License-Identifier: MIT
// Identifiers of the program's resources: dialog templates, controls,
// system-menu commands, the icon and the string table.
#pragma once

// The framework's own: IDOK, IDCANCEL, ID_HELP and its strings.
#include "platform/core/afxres.h"

// Dialog templates
#define IDD_ABOUT 100
#define IDD_MAIN 102
#define IDD_LOG 138
#define IDD_OPTIONS 139

// Icon
#define IDI_TARNWICK 132

// System-menu commands of the program (the low four bits are the platform's)
#define IDM_ABOUT 0x0010
#define IDM_LOG_WINDOW 0x0020
#define IDM_TRANSFER_OPTIONS 0x0030

// Controls of IDD_MAIN
#define IDC_PUT 7
#define IDC_GET 8
#define IDC_FILE_LIST 1003
#define IDC_ABORT 1018
#define IDC_MODE_BINARY 1019
#define IDC_MODE_ASCII 1020
#define IDC_PROGRESS 1021
#define IDC_CURRENT_DIR 1023
#define IDC_STATUS_VALUES 1024
#define IDC_DIR_LIST 1025
#define IDC_REMOTE_FILE 1027
#define IDC_REMOTE_HOST 1028
#define IDC_STATUS_LABELS 1037
#define IDC_MENU_BUTTON 1039

// Controls of IDD_ABOUT
#define IDC_DISK_SPACE 1012
#define IDC_MEMORY 1013

// Controls of IDD_LOG
#define IDC_LOG_LIST 1031

// Controls of IDD_OPTIONS
#define IDC_OPT_NEGOTIATE 1040
#define IDC_OPT_BLOCK_SIZE 1041
#define IDC_OPT_WINDOW_SIZE 1042
#define IDC_OPT_TIMEOUT 1043
#define IDC_OPT_FILE_SIZE 1044

// Controls without an identifier of their own
#define IDC_STATIC (-1)

// String table
#define IDS_ABOUTBOX 101
#define IDS_STATUS_FORMAT 102
#define IDS_SOCKETS_INIT_FAILED 103
#define IDS_MEMORY_FORMAT 104
#define IDS_DISK_SPACE_FORMAT 105
#define IDS_UNAVAILABLE 106
#define IDS_IDLE 107
#define IDS_TRANSMITTING 110
#define IDS_RECEIVING 111
#define IDS_LOG_WINDOW 112
#define IDS_CONFIRM_GET 113
#define IDS_PUT_CAPTIONS 114
#define IDS_GET_CAPTIONS 115
#define IDS_CONFIRM_PUT 116
#define IDS_SESSION_ABORTED 117
#define IDS_DESTINATION_UNAVAILABLE 118
#define IDS_DESTINATION_UNREACHABLE 119
#define IDS_GENERAL_FAILURE 120
#define IDS_SESSION_TIMEOUT 121
#define IDS_UNSPECIFIED_ERROR 122
#define IDS_PEER_FILE_NOT_FOUND 123
#define IDS_PEER_ACCESS_VIOLATION 124
#define IDS_PEER_DISK_FULL 125
#define IDS_PEER_ILLEGAL_OPERATION 126
#define IDS_PEER_UNKNOWN_TID 127
#define IDS_PEER_FILE_EXISTS 128
#define IDS_STARTING 129
#define IDS_OVERWRITE 130
#define IDS_OPEN_READ_FAILED 131
#define IDS_OPEN_WRITE_FAILED 132
#define IDS_TIP_GET 133
#define IDS_TIP_PUT 134
#define IDS_TIP_REMOTE_FILE 135
#define IDS_TIP_REMOTE_HOST 136
#define IDS_GET_NO_FILE_NAME 140
#define IDS_PUT_FILE_CHANGED 141
#define IDS_OACK_REFUSED 142
#define IDS_TRANSFER_OPTIONS 143
#define IDS_BAD_BLOCK_SIZE 144
#define IDS_BAD_WINDOW_SIZE 145
#define IDS_BAD_TIMEOUT 146
#define IDS_RESOLVING 147
#define IDS_BAD_HOST 148
#define IDS_HOST_NOT_FOUND 149
#define IDS_TIP_HOST_FORMS 150
#define IDS_CONFIRM_EXIT_BUSY 151
// Names the main window's controls give assistive technologies.
#define IDS_ACC_PUT 160
#define IDS_ACC_GET 161
#define IDS_ACC_DIR_LIST 162
#define IDS_ACC_FILE_LIST 163
#define IDS_ACC_PROGRESS 164
#define IDS_ACC_REMOTE_HOST 165
#define IDS_ACC_REMOTE_FILE 166
#define IDS_ACC_CURRENT_DIR 167
#define IDS_ACC_STATUS 168
#define IDS_ACC_LOG 169
// What a server's ERROR and a local file error tell beyond their first paragraph.
#define IDS_PEER_ERROR_GET 170
#define IDS_PEER_ERROR_PUT 171
#define IDS_TFTP_ERROR_MEANINGS 172
#define IDS_HINT_SERVER_CREATES 173
#define IDS_HINT_GET_NOT_FOUND 174
#define IDS_HINT_GET_ACCESS 175
#define IDS_HINT_DISK_FULL 176
#define IDS_HINT_FILE_EXISTS 177
#define IDS_FILE_ERROR_REASON 178
// How a transfer ended, and what the main window says around it.
#define IDS_COMPLETE 180
#define IDS_ABORTED 181
#define IDS_FAILED 182
#define IDS_LOOKS_BINARY 183
#define IDS_TIMEOUT_WHERE 184
#define IDS_ACC_MENU_BUTTON 185
#define IDS_TIP_MENU_BUTTON 186
#define IDS_PROGRESS_LEFT 187
// The log list's context menu.
#define IDS_LOG_COPY 200
#define IDS_LOG_SELECT_ALL 201
#define IDS_LOG_CLEAR 202
// Serving a folder: why the server's port could not be taken.
#define IDS_SERVE_PORT_69_DENIED 210
#define IDS_SERVE_LOW_PORT_DENIED 211
#define IDS_SERVE_PORT_IN_USE 212
#define IDS_SERVE_ADDRESS_NOT_LOCAL 213
#define IDS_SERVE_BIND_FAILED 214
