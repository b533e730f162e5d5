// SPDX-License-Identifier: GPL-3.0-or-later
// The consent list: a question is raised once per origin, and decisions taken by another
// process appear and close the question they answer.
#include "controller/ConsentModel.h"

#include "ControllerTestKit.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

TEST(ConsentModel, asks_once_and_follows_decisions_of_another_process)
{
    ControllerTestKit::ensureApp();
    QTemporaryDir dir;
    auto store = std::make_shared<OriginConsent>(dir.filePath(QStringLiteral("c.json")));
    ConsentModel model(store);
    QSignalSpy asked(&model, &ConsentModel::asked);
    model.ask(QStringLiteral("http://a.test"));
    model.ask(QStringLiteral("http://a.test"));
    EXPECT_EQ(asked.count(), 1);

    // velmora-cli consent, in another process, answers.
    OriginConsent other(store->storePath());
    other.resolve(QStringLiteral("http://a.test"), OriginConsent::Decision::allowed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.entries().size() == 1; }, 5000));
    EXPECT_TRUE(model.pendingOrigin().isEmpty());
    EXPECT_EQ(model.entryMaps()[0].toMap()[QStringLiteral("decision")], QStringLiteral("allowed"));

    other.resolve(QStringLiteral("http://b.test"), OriginConsent::Decision::denied);
    model.resolve(QStringLiteral("http://c.test"), true); // before the watch saw b
    EXPECT_EQ(OriginConsent(store->storePath()).allEntries().size(), 3);
    model.revoke(QStringLiteral("http://c.test"));
    EXPECT_EQ(model.entries().size(), 2);
}
