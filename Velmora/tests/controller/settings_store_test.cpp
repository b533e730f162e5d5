// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file: only acceptable values are read back, the engine keeps its raw values,
// and a file that cannot be read is set aside before anything is written over it.
#include "controller/SettingsStore.h"

#include "ControllerTestKit.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <tuple>

using ControllerTestKit::readAll;

namespace {

// Every field, to compare whole results.
auto fields(const SettingsStore::Restored &r)
{
    return std::tuple(r.freeMode, r.presetID, r.freeA4, r.engine, r.automatic, r.statusServer, r.shouldResume);
}

struct SettingsStoreTest : ::testing::Test {
    void write(const QByteArray &bytes)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Velmora.conf"));
};

} // namespace

TEST_F(SettingsStoreTest, restore_takes_only_acceptable_values)
{
    using E = EngineKind;
    const std::optional<bool> no;
    const struct {
        QByteArray ini;
        SettingsStore::Restored restored;
    } cases[] = {
        {"presetID=gone\nengine=3\nmode=bogus\n", {no, {}, {}, {}, false, no, false}},
        {"presetID=528\nfreeA4=399.9\nengine=-1\nmode=freeA4\n", {true, "528", {}, {}, false, no, false}},
        {"freeA4=400\nengine=1\nautomatic=true\nstatusServer=false\n",
         {no, {}, 400, E::highQuality, true, false, false}},
        {"freeA4=470\nengine=2\nenabled=true\n", {no, {}, 470, E::balanced, false, no, false}},
        {"freeA4=470.1\nengine=x\nstatusServer=maybe\nenabled=true\neverStarted=true\n",
         {no, {}, {}, {}, false, no, true}},
    };
    for (const auto &c : cases) {
        write("[General]\n" + c.ini);
        SCOPED_TRACE(c.ini.constData());
        EXPECT_EQ(fields(SettingsStore(path, true).restore()), fields(c.restored));
        EXPECT_EQ(readAll(path), "[General]\n" + c.ini);
    }
}

TEST_F(SettingsStoreTest, saved_choice_reads_back_and_a_read_only_store_writes_nothing)
{
    SettingsStore(path, false).save({true, QStringLiteral("528"), 432.5, true, EngineKind::highQuality, true, false});
    EXPECT_FALSE(QFile::exists(path));
    SettingsStore store(path, true);
    store.save({true, QStringLiteral("528"), 432.5, true, EngineKind::highQuality, true, false});
    store.markEverStarted();
    EXPECT_TRUE(readAll(path).contains("engine=1\n")) << readAll(path).constData();
    EXPECT_EQ(fields(SettingsStore(path, true).restore()),
              fields({true, QStringLiteral("528"), 432.5, EngineKind::highQuality, true, false, true}));
}

TEST_F(SettingsStoreTest, unreadable_file_is_kept_aside_before_anything_is_written)
{
    const QByteArray garbage("[General\nengine=2\n\xff\x00\x01", 20);
    write(garbage);
    SettingsStore(path, true).save({false, QStringLiteral("432"), 440, false, EngineKind::balanced, false, true});
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("Velmora.conf.unreadable-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readAll(dir.filePath(aside[0])), garbage);
    EXPECT_TRUE(readAll(path).contains("engine=2"));
}

TEST_F(SettingsStoreTest, scope_and_device_tunings_round_trip)
{
    SettingsStore::Choice c{false, QStringLiteral("432"), 440, true, EngineKind::lowLatency, false, true};
    c.excludedApps = {QStringLiteral("pw-play"), QStringLiteral("Zoom, Meetings")};
    c.retuneCalls = true;
    c.perDevice = true;
    c.devices = {{QStringLiteral("alsa_output.pci-0000_00_1f.3.analog-stereo"),
                  {true, QStringLiteral("528"), 432.5, EngineKind::balanced, true, true}},
                 {QStringLiteral("bluez \"Kopfhörer\", a/b"), {}}};
    SettingsStore(path, true).save(c);
    const SettingsStore::Restored r = SettingsStore(path, true).restore();
    EXPECT_EQ(r.excludedApps, c.excludedApps);
    EXPECT_TRUE(r.retuneCalls && r.perDevice);
    EXPECT_EQ(r.devices, c.devices);
}

TEST_F(SettingsStoreTest, bad_scope_values_read_as_nothing_and_stay_in_the_file)
{
    const QByteArray whole = R"({\"mode\":\"preset\",\"presetID\":\"432\",\"freeA4\":440,\"engine\":0,\"automatic\":false,\"enabled\":true})";
    const struct {
        QByteArray ini;
        QStringList apps;
        int devices;
    } cases[] = {
        {"excludedApps=a, , a,  b\ndeviceChoices=not json\n", {"a", "b"}, 0},
        {"excludedApps=@Variant(\\0\\0\\0\\x7f)\nrememberPerDevice=maybe\n", {}, 0},
        {"deviceChoices=\"{\\\"ok\\\":" + whole + ",\\\"gone\\\":{\\\"mode\\\":\\\"preset\\\"},\\\"n\\\":3}\"\n", {}, 1},
    };
    for (const auto &c : cases) {
        write("[General]\n" + c.ini);
        SCOPED_TRACE(c.ini.constData());
        const SettingsStore::Restored r = SettingsStore(path, true).restore();
        EXPECT_EQ(r.excludedApps, c.apps);
        EXPECT_FALSE(r.perDevice);
        EXPECT_EQ(r.devices.size(), c.devices);
        EXPECT_EQ(readAll(path), "[General]\n" + c.ini);
    }
}
