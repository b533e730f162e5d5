// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/StatusPayload.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

#include <cmath>
#include <limits>
#include <utility>

namespace {

// The value the document shows for "zielstimmung", as written.
QByteArray writtenTarget(double hz)
{
    const QByteArray doc = StatusPayload(QStringLiteral("0"), false, hz).jsonData();
    const qsizetype at = doc.indexOf("\"zielstimmung\":") + 15;
    return doc.mid(at, doc.size() - at - 1);
}

} // namespace

// Whole documents, byte for byte: key order, nulls for absent values and for non-finite ones,
// strings escaped.
TEST(StatusPayload, documents_are_written_byte_for_byte_and_method_names_read_back)
{
    using M = StatusPayload::Method;
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const std::pair<StatusPayload, const char *> cases[] = {
        {{QStringLiteral("0"), true, 432.0, 440.0, 0.873, M::pitchPreserving},
         R"({"aktiv":true,"app":"velmora","preset":null,"presetHz":null,"quellstimmung":440,)"
         R"("verfahren":"pitch-preserving","version":"0","vertrauen":0.873,"zielstimmung":432})"},
        {{QStringLiteral("1.2.3"), false},
         R"({"aktiv":false,"app":"velmora","preset":null,"presetHz":null,"quellstimmung":null,)"
         R"("verfahren":"pitch-preserving","version":"1.2.3","vertrauen":null,"zielstimmung":null})"},
        {{QStringLiteral("0.1.0"), true, 431.99992, std::nullopt, std::nullopt, M::resampling,
          QStringLiteral("432"), 432.0},
         R"({"aktiv":true,"app":"velmora","preset":"432","presetHz":432,"quellstimmung":null,)"
         R"("verfahren":"resampling","version":"0.1.0","vertrauen":null,"zielstimmung":432})"},
        {{QStringLiteral("0"), true, nan, inf, -inf, M::pitchPreserving, std::nullopt, inf},
         R"({"aktiv":true,"app":"velmora","preset":null,"presetHz":null,"quellstimmung":null,)"
         R"("verfahren":"pitch-preserving","version":"0","vertrauen":null,"zielstimmung":null})"},
        // Strings escaped as JSON, "/" included.
        {{QStringLiteral("1\"\\\n"), false, std::nullopt, std::nullopt, std::nullopt, M::pitchPreserving,
          QStringLiteral("ä/β")},
         R"({"aktiv":false,"app":"velmora","preset":"ä\/β","presetHz":null,"quellstimmung":null,)"
         R"("verfahren":"pitch-preserving","version":"1\"\\\n","vertrauen":null,"zielstimmung":null})"},
    };
    for (const auto &[payload, expected] : cases)
        EXPECT_EQ(payload.jsonData(), QByteArray(expected));
    // Method names read back; other spellings are refused.
    for (M m : {M::pitchPreserving, M::resampling})
        EXPECT_EQ(StatusPayload::methodFromRawValue(StatusPayload::rawValue(m)), m);
    EXPECT_EQ(StatusPayload::methodFromRawValue(u"Resampling"), std::nullopt);
}

TEST(StatusPayload, rounds_to_three_decimals_with_halves_away_from_zero_and_huge_values_stay_numbers)
{
    const std::pair<double, const char *> cases[] = {
        {432.12345, "432.123"}, {432.1235, "432.124"}, {-0.0005, "-0.001"}, {440.0, "440"}, {0.0001, "0"}};
    for (auto [hz, written] : cases)
        EXPECT_EQ(writtenTarget(hz), written) << hz;
    // Scaling by 1000 overflows here; the value must stay a valid number, not null or an error.
    const QJsonDocument huge =
        QJsonDocument::fromJson(StatusPayload(QStringLiteral("0"), false, 1.5e307).jsonData());
    EXPECT_DOUBLE_EQ(huge.object().value(QStringLiteral("zielstimmung")).toDouble(), 1.5e307);
}
