// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// What the panel shows besides the controller's own state: the preset table and its texts,
// engine titles, cents formatting, the desktop's sound settings, the hint that fits a failed
// start, and whether the last consent answer reached the disk. Main thread only.
//
#include <QObject>
#include <functional>
#include <memory>
#include <QString>
#include <QStringList>
#include <QVariantList>

class OriginConsent;
class TonvelController;

class PanelSupport : public QObject {
    Q_OBJECT
    // The factor in effect: with automatic correction, the corrected one.
    Q_PROPERTY(double effectiveFactor READ effectiveFactor NOTIFY effectiveFactorChanged)
    Q_PROPERTY(QVariantList presets READ presets CONSTANT)
    Q_PROPERTY(QVariantList engines READ engines CONSTANT)
    Q_PROPERTY(bool soundSettingsAvailable READ soundSettingsAvailable CONSTANT)
    Q_PROPERTY(QString caption READ caption CONSTANT)
    // Why the last consent answer or revocation was not saved; empty when it was.
    Q_PROPERTY(QString consentSaveError READ consentSaveError NOTIFY consentSaveErrorChanged)
public:
    // `consent`: the controller's store; `sessionManager`: whether WirePlumber (or another
    // session manager) runs. Both optional.
    explicit PanelSupport(TonvelController *controller, std::shared_ptr<OriginConsent> consent = {},
                          std::function<bool()> sessionManager = {}, QObject *parent = nullptr);

    double effectiveFactor() const;

    // [{id, title}] in display order.
    QVariantList presets() const;
    // Raw engine values in declaration order: low latency, balanced, high quality.
    QVariantList engines() const;
    bool soundSettingsAvailable() const { return !soundSettings_.isEmpty(); }
    QString caption() const;

    // Texts of the preset with `id`, or of "off" when no preset has that id. The reference
    // ("A4 = 440.000 Hz") is empty when the preset has none.
    Q_INVOKABLE QString presetKeyword(const QString &id) const;
    Q_INVOKABLE QString presetReference(const QString &id) const;
    Q_INVOKABLE QString presetBackground(const QString &id) const;
    Q_INVOKABLE QString engineTitle(int raw) const;
    Q_INVOKABLE QString engineSubtitle(int raw) const;
    Q_INVOKABLE double cents(double factor) const;
    Q_INVOKABLE QString formatCents(double cents) const;
    Q_INVOKABLE void openSoundSettings() const;
    // Where desktop autostart entries live.
    Q_INVOKABLE void openAutostartFolder() const;
    Q_INVOKABLE void quit() { emit quitRequested(); }
    // Consent answers from the panel; a failed save shows in consentSaveError.
    Q_INVOKABLE void resolveConsent(const QString &origin, bool allow);
    Q_INVOKABLE void revokeConsent(const QString &origin);
    QString consentSaveError() const { return consentSaveError_; }
    // The translation id of the hint for a failed start with `error`: another Velmora holds
    // the chain, no session manager runs, or the PipeWire session in general.
    Q_INVOKABLE QString errorHintId(const QString &error) const;

    // The first sound settings program this desktop offers, as a command line; empty when
    // none is installed.
    static QStringList findSoundSettings();

signals:
    void quitRequested();
    void effectiveFactorChanged();
    void consentSaveErrorChanged();

private:
    void takeSaveError();

    TonvelController *controller_;
    std::shared_ptr<OriginConsent> consent_;
    std::function<bool()> sessionManager_;
    QStringList soundSettings_;
    QString consentSaveError_;
};
