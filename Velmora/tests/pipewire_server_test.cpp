// SPDX-License-Identifier: GPL-3.0-or-later
// The PipeWire server seam without a server: connecting fails with the operation and the
// reason in words, and does not hang (the test's time-out catches a hang). Everything that
// needs a running server is covered by tests/e2e on a private stack.
#include "audio/pipewire/PipeWireServer.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>

TEST(PipeWireServer, connect_without_server_names_the_operation_and_the_reason)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    const QByteArray dir = empty.path().toLocal8Bit();
    setenv("PIPEWIRE_RUNTIME_DIR", dir.constData(), 1);
    setenv("XDG_RUNTIME_DIR", dir.constData(), 1);
    unsetenv("PIPEWIRE_REMOTE");

    PipeWireServer::Options options;
    options.timeoutMs = 2000;
    try {
        PipeWireServer::connect(options);
        FAIL() << "connected without a server";
    } catch (const AudioError &e) {
        EXPECT_LT(e.status(), 0);
        EXPECT_EQ(e.errorDescription(), "Verbindung zu PipeWire herstellen fehlgeschlagen ("
                                            + std::to_string(e.status()) + ": " + strerrordesc_np(-e.status())
                                            + ")");
    }
}
