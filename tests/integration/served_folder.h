// SPDX-License-Identifier: MIT
// Tarnwick's server on a folder of its own, run in the test's thread (poll
// and OnTick) while a client works: a client program run to its end, or the
// test's own loop. In a network namespace of the tests' own it listens on
// port 69, elsewhere on a port the system chooses.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/socket_watcher.h"
#include "server/server.h"
#include "tests/support/temp_dir.h"

ULONGLONG SteadyMs();
// Whether a program of that name is installed.
bool Installed(const char* program);

class RecordingLog : public ITransferLog {
public:
    void LogLine(std::string_view line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};

class ServedFolder : public ::testing::Test {
protected:
    // Serves served/ on 127.0.0.1 with every upload allowed; config may change the settings first.
    void SetUp() override;
    void StartServing(const std::function<void(ServeConfig&)>& config);
    // The server's log when the test failed.
    void TearDown() override;
    // Serves until done() says so or limit passes; false on the limit.
    bool Serve(const std::function<bool()>& done, std::chrono::milliseconds limit);
    // Runs the client program to its end while the server serves; returns
    // its exit status (-1: killed at the limit).
    int Run(const std::vector<std::string>& argv, std::chrono::seconds limit = std::chrono::seconds(180));
    // The start of what the client printed.
    std::string ClientOutput() const;
    std::string Host() const { return "127.0.0.1"; }

    TempDir served;
    TempDir local;
    RecordingLog log;
    CPollSocketWatcher watcher;
    CTFTPServer server{nullptr, &log, SteadyMs};
    UINT port = 0;
};
