// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// What the panel shows besides the controller's own state: the preset table and its texts,
// engine titles, cents formatting, and the desktop's sound settings. Main thread only.
//
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

class TonvelController;

class PanelSupport : public QObject {
    Q_OBJECT
    // The factor in effect: with automatic correction, the corrected one.
    Q_PROPERTY(double effectiveFactor READ effectiveFactor NOTIFY effectiveFactorChanged)
    Q_PROPERTY(QVariantList presets READ presets CONSTANT)
    Q_PROPERTY(QVariantList engines READ engines CONSTANT)
    Q_PROPERTY(bool soundSettingsAvailable READ soundSettingsAvailable CONSTANT)
    Q_PROPERTY(QString caption READ caption CONSTANT)
public:
    explicit PanelSupport(TonvelController *controller, QObject *parent = nullptr);

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

    // The first sound settings program this desktop offers, as a command line; empty when
    // none is installed.
    static QStringList findSoundSettings();

signals:
    void quitRequested();
    void effectiveFactorChanged();

private:
    TonvelController *controller_;
    QStringList soundSettings_;
};
