// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/OriginConsent.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <thread>

namespace {

using Decision = OriginConsent::Decision;
using Outcome = OriginConsent::Outcome;

const QString A = QStringLiteral("http://localhost:8000");
const QString B = QStringLiteral("https://example.test");

class OriginConsentTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QDateTime now = QDateTime(QDate(2026, 12, 5), QTime(11, 39, 50), Qt::UTC);
    void advance(double seconds) { now = now.addMSecs(qint64(seconds * 1000)); }
    QString path() const { return dir.filePath(QStringLiteral("Velmora/einwilligungen.json")); }
    std::unique_ptr<OriginConsent> make()
    {
        return std::make_unique<OriginConsent>(path(), 60.0, [this] { return now; });
    }
    void writeFile(const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path()).absolutePath());
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray readFile() const
    {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QStringList asideFiles() const
    {
        return QDir(QFileInfo(path()).absolutePath())
            .entryList({QStringLiteral("einwilligungen.json.unreadable-*")}, QDir::Files);
    }
};

} // namespace

// A missing or empty origin is refused without opening a question; an unknown one is asked
// about, one question at a time until it times out.
TEST_F(OriginConsentTest, one_question_at_a_time_until_the_timeout)
{
    auto c = make();
    EXPECT_EQ(c->evaluate(std::nullopt), Outcome::refuse());
    EXPECT_EQ(c->evaluate(QString()), Outcome::refuse());
    EXPECT_EQ(c->evaluate(A), Outcome::refuseAndAsk(A));
    advance(59.9);
    EXPECT_EQ(c->evaluate(A), Outcome::refuse());
    EXPECT_EQ(c->evaluate(B), Outcome::refuse());
    EXPECT_EQ(c->pendingOrigin(), A);
    advance(0.1);   // exactly 60 s: the question is stale
    EXPECT_EQ(c->pendingOrigin(), std::nullopt);
    EXPECT_EQ(c->evaluate(B), Outcome::refuseAndAsk(B));
    EXPECT_EQ(c->pendingOrigin(), B);
    EXPECT_TRUE(c->allEntries().isEmpty());
}

TEST_F(OriginConsentTest, resolve_and_revoke_store_decisions_and_close_only_the_matching_question)
{
    auto c = make();
    EXPECT_EQ(c->evaluate(A), Outcome::refuseAndAsk(A));
    c->resolve(B, Decision::denied);   // another origin: question for A stays
    EXPECT_EQ(c->pendingOrigin(), A);
    EXPECT_EQ(c->evaluate(B), Outcome::refuse());

    c->resolve(A, Decision::allowed);
    EXPECT_EQ(c->pendingOrigin(), std::nullopt);
    EXPECT_EQ(c->evaluate(A), Outcome::allow());

    advance(5);
    c->resolve(A, Decision::denied);   // answering again replaces decision and time stamp
    EXPECT_EQ(c->evaluate(A), Outcome::refuse());
    const auto entries = c->allEntries();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].decidedAt, now);

    // Revoking makes an origin unknown again; revoking an unknown one is harmless.
    c->revoke(A);
    c->revoke(B);
    c->revoke(QStringLiteral("http://never.test"));
    EXPECT_TRUE(c->allEntries().isEmpty());
    EXPECT_EQ(c->evaluate(A), Outcome::refuseAndAsk(A));
    EXPECT_EQ(readFile(), "[]");
}

TEST_F(OriginConsentTest, reload_takes_over_another_writer_and_keeps_state_on_a_bad_file)
{
    auto running = make();
    EXPECT_EQ(running->evaluate(A), Outcome::refuseAndAsk(A));

    make()->resolve(A, Decision::allowed);   // a terminal tool answers from another store
    EXPECT_EQ(running->evaluate(A), Outcome::refuse());
    EXPECT_TRUE(running->reload());
    EXPECT_EQ(running->evaluate(A), Outcome::allow());
    EXPECT_EQ(running->pendingOrigin(), std::nullopt);   // the answered question is closed

    writeFile("{ broken");
    EXPECT_FALSE(running->reload());
    EXPECT_EQ(running->evaluate(A), Outcome::allow());
    EXPECT_TRUE(asideFiles().isEmpty());   // another process may still be writing: leave it
}

// Only what a browser can send is asked about: the panel shows the origin, so markup, paths
// or spaces would let a local process dress its question up as another page. Origins compare
// as exact strings.
TEST_F(OriginConsentTest, malformed_origins_are_refused_without_a_question_and_others_match_exactly)
{
    auto c = make();
    for (const char *bad : {"<b>https://bank.example</b>", "https://a.test/path", "https://a b.test",
                            "javascript:alert(1)", "https://a.test:123456", "https://", "http://localhost:8000 "})
        EXPECT_EQ(c->evaluate(QString::fromUtf8(bad)), Outcome::refuse()) << bad;
    EXPECT_EQ(c->pendingOrigin(), std::nullopt);
    for (const char *good : {"http://[::1]:8080", "https://xn--bcher-kva.example", "null"})
        EXPECT_TRUE(OriginConsent::isWellFormedOrigin(QString::fromUtf8(good))) << good;
    const QString upper = QStringLiteral("http://Localhost:8000");
    c->resolve(A, Decision::allowed);
    EXPECT_EQ(c->evaluate(upper), Outcome::refuseAndAsk(upper));
}

// Two processes answering at once (the tray program and velmora-cli consent): the lock file
// serialises their read-modify-write, so neither undoes the other's answers.
TEST_F(OriginConsentTest, concurrent_writers_lose_no_decision)
{
    auto first = make();
    auto second = make();
    auto answer = [](OriginConsent *store, const char *host) {
        for (int i = 0; i < 12; ++i)
            store->resolve(QStringLiteral("https://%1%2.test").arg(QLatin1String(host)).arg(i), Decision::allowed);
    };
    std::thread a(answer, first.get(), "a"), b(answer, second.get(), "b");
    a.join();
    b.join();
    EXPECT_TRUE(first->saveError().isEmpty());
    EXPECT_EQ(make()->allEntries().size(), 24);
}

// While our own answer is not on disk, the folder watcher's reload must not put the older
// file (here: none) back over it.
TEST_F(OriginConsentTest, reload_keeps_an_answer_that_could_not_be_saved)
{
    auto c = make();
    c->resolve(A, Decision::allowed);
    const QString folder = QFileInfo(path()).absolutePath();
    ASSERT_TRUE(QDir().rename(folder, folder + QStringLiteral(".away")));
    QFile blocker(folder); // a plain file where the folder was: nothing can be saved
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    c->resolve(B, Decision::allowed);
    ASSERT_FALSE(c->saveError().isEmpty());
    EXPECT_FALSE(c->reload());
    EXPECT_EQ(c->evaluate(B), Outcome::allow());
}

// Quotes and control characters are escaped and read back as they were.
TEST_F(OriginConsentTest, file_is_written_in_the_exact_format_sorted_by_origin_and_read_back)
{
    const QString odd = QStringLiteral("x\"\\\t\x01/ä");
    {
        auto c = make();   // folder does not exist yet
        c->resolve(odd, Decision::denied);
        advance(1.75);   // fractions of a second are not stored
        c->resolve(A, Decision::allowed);
    }
    EXPECT_EQ(readFile(), QByteArray("[\n"
                                     "  {\n"
                                     "    \"decidedAt\" : \"2026-12-05T11:39:51Z\",\n"
                                     "    \"decision\" : \"allowed\",\n"
                                     "    \"origin\" : \"http:\\/\\/localhost:8000\"\n"
                                     "  },\n"
                                     "  {\n"
                                     "    \"decidedAt\" : \"2026-12-05T11:39:50Z\",\n"
                                     "    \"decision\" : \"denied\",\n"
                                     "    \"origin\" : \"x\\\"\\\\\\t\\u0001\\/ä\"\n"
                                     "  }\n"
                                     "]"));
    const auto entries = make()->allEntries();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].decision, Decision::allowed);
    EXPECT_EQ(entries[1].origin, odd);
    EXPECT_EQ(entries[1].decision, Decision::denied);
    EXPECT_TRUE(asideFiles().isEmpty());
}

TEST_F(OriginConsentTest, reader_accepts_plain_slashes_extra_members_and_later_duplicates_win)
{
    writeFile(R"([ {"origin":"http://a.test","decision":"denied","decidedAt":"2026-01-01T00:00:00Z",
                    "note":1},
                  {"decidedAt":"2026-01-02T01:00:00+01:00","decision":"allowed",
                   "origin":"http:\/\/a.test"} ])");
    auto c = make();
    const auto entries = c->allEntries();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].decision, Decision::allowed);
    EXPECT_EQ(entries[0].decidedAt, QDateTime(QDate(2026, 1, 2), QTime(0, 0), Qt::UTC));
    EXPECT_TRUE(asideFiles().isEmpty());
}

TEST(OriginConsentDecode, rejects_every_malformed_shape)
{
    const char *bad[] = {
        "", "{}", "[1]", "nonsense", "[{\"origin\":\"a\",\"decision\":\"allowed\"}]",
        R"([{"origin":"a","decision":"maybe","decidedAt":"2026-01-01T00:00:00Z"}])",
        R"([{"origin":"a","decision":"allowed","decidedAt":"2026-01-01T00:00:00.5Z"}])",
        R"([{"origin":"a","decision":"allowed","decidedAt":"2026-13-01T00:00:00Z"}])",
        R"([{"origin":"a","decision":"allowed","decidedAt":"2026-01-01"}])",
        R"([{"origin":7,"decision":"allowed","decidedAt":"2026-01-01T00:00:00Z"}])",
    };
    for (const char *b : bad)
        EXPECT_EQ(OriginConsent::decode(b), std::nullopt) << b;
}

TEST_F(OriginConsentTest, unreadable_file_is_moved_aside_not_overwritten)
{
    const QByteArray original =
        R"([{"origin":"http://a.test","decision":"allowed","decidedAt":"2026-01-01T00:00:00Z"},
            {"origin":"http://b.test","decision":"perhaps","decidedAt":"2026-01-01T00:00:00Z"}])";
    writeFile(original);
    auto c = make();
    EXPECT_TRUE(c->allEntries().isEmpty());   // one bad entry: start empty, refuse by default
    EXPECT_EQ(c->evaluate(QStringLiteral("http://a.test")),
              Outcome::refuseAndAsk(QStringLiteral("http://a.test")));
    const QString aside = path() + QStringLiteral(".unreadable-20261205T113950Z");
    EXPECT_EQ(c->setAsidePath(), aside);
    QFile kept(aside);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), original);

    c->resolve(A, Decision::allowed);
    EXPECT_TRUE(readFile().contains("localhost"));

    // A second unreadable file in the same second gets its own name.
    writeFile("garbage");
    auto again = make();
    EXPECT_EQ(again->setAsidePath(), aside + QStringLiteral("-2"));
    EXPECT_EQ(asideFiles().size(), 2);
}

TEST_F(OriginConsentTest, unreadable_file_that_cannot_be_moved_is_never_written)
{
    writeFile("{ not json");
    // Every name the file could be moved to is taken (works for root too, unlike chmod).
    const QString base = path() + QStringLiteral(".unreadable-20261205T113950Z");
    for (int n = 1; n < 100; ++n) {
        QFile f(n == 1 ? base : base + QLatin1Char('-') + QString::number(n));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    auto c = make();
    EXPECT_TRUE(c->setAsidePath().isEmpty());
    c->resolve(A, Decision::allowed);
    c->revoke(B);
    EXPECT_EQ(c->evaluate(A), Outcome::allow());   // kept in memory for this run
    EXPECT_FALSE(c->saveError().isEmpty());
    EXPECT_EQ(readFile(), "{ not json");
}
