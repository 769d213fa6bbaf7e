#include "PortPanel.h"

#include "StoredSettings.h"
#include "WindowSystem.h"

#include "SerialPorts.h"
#include "SettingsFinder.h"
#include "Transcript.h"
#include "ui_ModuleWindow.h"

using namespace kelvara::link;

using kelvara::ui::StoredSettings;

QString LineEndText(TLineEnd lineEnd) {
    const std::string_view name = LineEndShown(lineEnd);
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

TPortPanel::TPortPanel(Ui::TfrmModule& form, QObject* parent) : QObject(parent), ui(form) {
    for (int rate : kStandardBaudRates)
        ui.cbBaud->addItem(QString::number(rate), rate);
    for (TLineEnd lineEnd : {TLineEnd::None, TLineEnd::Cr, TLineEnd::Lf, TLineEnd::CrLf})
        ui.cbLineEnd->addItem(LineEndText(lineEnd), static_cast<int>(lineEnd));
    ui.spnTimeout->setRange(kMinTimeoutMs, kMaxTimeoutMs);
    ui.spnPause->setRange(kMinPauseMs, kMaxPauseMs);
    if (const QString tip = kelvara::ui::PortFieldToolTip(); !tip.isEmpty())
        ui.cbPort->setToolTip(tip);
    connect(ui.btnRefresh, &QPushButton::clicked, this, &TPortPanel::Refresh);
    connect(ui.cbBaud, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this] { emit baudRateChosen(Settings().BaudRate); });
    Refresh();
}

void TPortPanel::Refresh() {
    const QString typed = ui.cbPort->currentText();
    ui.cbPort->clear();
    for (const TPortDescription& port : AvailablePorts()) {
        const QString text = port.Description.isEmpty()
                                 ? port.Name
                                 : port.Name + QStringLiteral(" (") + port.Description + ')';
        ui.cbPort->addItem(text, port.Name);
    }
    // What was chosen or typed stays.
    if (const int index = ui.cbPort->findText(typed); index >= 0)
        ui.cbPort->setCurrentIndex(index);
    else
        ui.cbPort->setEditText(typed);
}

QString TPortPanel::TypedPortExample() { return kelvara::ui::TypedPortExample(); }

QString TPortPanel::ChosenPort() const {
    const int index = ui.cbPort->currentIndex();
    if (index >= 0 && ui.cbPort->currentText() == ui.cbPort->itemText(index))
        return ui.cbPort->itemData(index).toString();
    return ui.cbPort->currentText().trimmed();
}

TSendSettings TPortPanel::Settings() const {
    TSendSettings settings;
    settings.BaudRate = ui.cbBaud->currentData().toInt();
    settings.LineEnd = static_cast<TLineEnd>(ui.cbLineEnd->currentData().toInt());
    settings.TimeoutMs = ui.spnTimeout->value();
    settings.PauseMs = ui.spnPause->value();
    return settings;
}

std::optional<TPortPanel::TFindNews> TPortPanel::FindNews(const TEvent& event) {
    if (const auto* trying = std::get_if<TTrying>(&event))
        return TFindNews{tr("Trying %1 baud, line ending %2 (%3 of %4)...")
                             .arg(trying->BaudRate)
                             .arg(LineEndText(trying->LineEnd))
                             .arg(trying->Index + 1)
                             .arg(TSettingsFinder::TryCount()),
                         {}};
    const auto* found = std::get_if<TFound>(&event);
    if (!found)
        return std::nullopt;
    // The port is at that rate already.
    ui.cbBaud->blockSignals(true);
    ui.cbBaud->setCurrentIndex(ui.cbBaud->findData(found->BaudRate));
    ui.cbBaud->blockSignals(false);
    ui.cbLineEnd->setCurrentIndex(ui.cbLineEnd->findData(static_cast<int>(found->LineEnd)));
    const QString echoes = found->Echoes ? tr("; it echoes each command") : QString();
    return TFindNews{tr("Found the module at %1 baud, line ending %2%3. The settings are filled in.")
                         .arg(found->BaudRate)
                         .arg(LineEndText(found->LineEnd), echoes),
                     tr("found the module at %1 baud, line ending %2%3")
                         .arg(found->BaudRate)
                         .arg(LineEndText(found->LineEnd), echoes)};
}

void TPortPanel::Enable(bool settings, bool port) {
    for (QWidget* setting : {static_cast<QWidget*>(ui.cbBaud), static_cast<QWidget*>(ui.cbLineEnd),
                             static_cast<QWidget*>(ui.spnTimeout), static_cast<QWidget*>(ui.spnPause)})
        setting->setEnabled(settings);
    ui.cbPort->setEnabled(port);
    ui.btnRefresh->setEnabled(port);
}

void TPortPanel::Load() {
    const TSendSettings defaults;
    QSettings stored = StoredSettings();
    stored.beginGroup(QStringLiteral("module"));
    const QString port = stored.value(QStringLiteral("port")).toString();
    if (!port.isEmpty())
        ui.cbPort->setEditText(port);
    const int baud = ui.cbBaud->findData(stored.value(QStringLiteral("baud"), defaults.BaudRate).toInt());
    ui.cbBaud->setCurrentIndex(baud >= 0 ? baud : ui.cbBaud->findData(defaults.BaudRate));
    const int lineEnd = ui.cbLineEnd->findData(
        stored.value(QStringLiteral("lineEnd"), static_cast<int>(defaults.LineEnd)).toInt());
    ui.cbLineEnd->setCurrentIndex(std::max(lineEnd, 0));
    ui.spnTimeout->setValue(stored.value(QStringLiteral("timeout"), defaults.TimeoutMs).toInt());
    ui.spnPause->setValue(stored.value(QStringLiteral("pause"), defaults.PauseMs).toInt());
}

void TPortPanel::Save() const {
    const TSendSettings settings = Settings();
    QSettings stored = StoredSettings();
    stored.beginGroup(QStringLiteral("module"));
    stored.setValue(QStringLiteral("port"), ChosenPort());
    stored.setValue(QStringLiteral("baud"), settings.BaudRate);
    stored.setValue(QStringLiteral("lineEnd"), static_cast<int>(settings.LineEnd));
    stored.setValue(QStringLiteral("timeout"), settings.TimeoutMs);
    stored.setValue(QStringLiteral("pause"), settings.PauseMs);
}
