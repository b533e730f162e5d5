// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/AudioError.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

namespace {

// Every operation the audio layer reports, by its German name (what the call sites and logs
// use), with the id of its name in the tables. Keeps the call sites to plain German text.
struct OperationId {
    std::string_view german;
    const char *id;
};
constexpr OperationId operationIds[] = {
    {"Verbindung zu PipeWire herstellen", "audio.operation.connect"},
    {"Standard-Ausgabegeraet lesen", "audio.operation.readDefaultOutput"},
    {"Kein Standard-Ausgabegeraet vorhanden", "audio.operation.noDefaultOutput"},
    {"Aufnahme-Senke anlegen", "audio.operation.createCaptureSink"},
    {"Ausgabestrom anlegen", "audio.operation.createOutputStream"},
    {"Audiokette starten", "audio.operation.startChain"},
    {"Zweite Audiokette starten", "audio.operation.startSecondChain"},
    {"Ausgabe auf anderes Geraet legen", "audio.operation.moveOutput"},
    {"DSP-Objekte anlegen", "audio.operation.createDspObjects"},
    {"DSP-Engine anlegen", "audio.operation.createDelayEngine"},
    {"Stretch-Engine anlegen", "audio.operation.createStretchEngine"},
    {"Umschalter anlegen", "audio.operation.createSwitcher"},
    {"Analyse-Puffer anlegen", "audio.operation.createAnalysisBuffer"},
};

const char *const germanFrame = "%1 fehlgeschlagen (%2)";

// The text of `id` in the installed tables, `fallback` when none has it (qtTrId answers the id).
QString translated(const char *id, const QString &fallback)
{
    const QString text = qtTrId(id);
    return text == QLatin1String(id) ? fallback : text;
}

} // namespace

AudioError::AudioError(int status, std::string operation)
    : status_(status), operation_(std::move(operation)),
      description_(QString::fromLatin1(germanFrame)
                       .arg(QString::fromStdString(operation_), QString::fromStdString(statusText(status_)))
                       .toStdString())
{
}

QString AudioError::localizedDescription() const
{
    const QString german = QString::fromStdString(operation_);
    const auto *known = std::ranges::find(operationIds, std::string_view(operation_), &OperationId::german);
    const QString operation = known == std::end(operationIds) ? german : translated(known->id, german);
    return translated("audio.error.failed", QString::fromLatin1(germanFrame))
        .arg(operation, QString::fromStdString(statusText(status_)));
}

std::string AudioError::statusText(int status)
{
    // strerrordesc_np: the English text without touching the locale or a shared buffer.
    const char *reason = status < 0 && status > -4096 ? strerrordesc_np(-status) : nullptr;
    return reason ? std::to_string(status) + ": " + reason : std::to_string(status);
}
