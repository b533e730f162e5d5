// SPDX-License-Identifier: GPL-3.0-or-later
// The PipeWire platform without a server: it must fail fast with the connection error, not
// hang. Everything that needs a running server is covered by tests/e2e on a private stack.
#include "audio/AudioError.h"
#include "audio/pipewire/PipeWirePlatform.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>

TEST(PipeWirePlatform, connect_without_server_throws_the_connection_error_quickly)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    const QByteArray dir = empty.path().toLocal8Bit();
    setenv("PIPEWIRE_RUNTIME_DIR", dir.constData(), 1);
    setenv("XDG_RUNTIME_DIR", dir.constData(), 1);
    unsetenv("PIPEWIRE_REMOTE");

    PipeWirePlatform::Options options;
    options.timeoutMs = 2000;
    const auto start = std::chrono::steady_clock::now();
    try {
        PipeWirePlatform::connect(options);
        FAIL() << "connected without a server";
    } catch (const AudioError &e) {
        EXPECT_EQ(e.operation(), "Verbindung zu PipeWire herstellen");
        EXPECT_LT(e.status(), 0);
        EXPECT_EQ(e.errorDescription(),
                  "Verbindung zu PipeWire herstellen fehlgeschlagen (" + std::to_string(e.status()) + ")");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}
