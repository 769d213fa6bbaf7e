#include "BatchPanel.h"

#include "ListPanel.h"
#include "ui_ModuleWindow.h"

#include <QFile>
#include <QFileDialog>
#include <QHeaderView>

using namespace kelvara::link;

TBatchPanel::TBatchPanel(Ui::TfrmModule& form, std::optional<kelvara::TListSource> source,
                         QWidget* window)
    : QObject(window), ui(form), window_(window), source_(std::move(source)) {
    // The value counted is a Major or Minor, for an iBeacon list.
    ui.cbCount->addItem(tr("the same list for each"), QString());
    if (source_ && source_->Kind == kelvara::TListKind::Beacon) {
        ui.cbCount->addItem(tr("Minor"), QStringLiteral("minor"));
        ui.cbCount->addItem(tr("Major"), QStringLiteral("major"));
    }
    ui.gbBatch->setEnabled(Available());
    const QFontMetrics metrics = window->fontMetrics();
    ui.lstModules->header()->setStretchLastSection(true);
    ui.lstModules->setColumnWidth(0, metrics.horizontalAdvance(QStringLiteral("ModuleWW")));
    ui.lstModules->setColumnWidth(
        1, metrics.horizontalAdvance(
               QStringLiteral("uuid=0000FFF0-0000-1000-8000-00805F9B34FB major=10123 minor=10125W")));
    connect(ui.btnRecordBrowse, &QPushButton::clicked, this, &TBatchPanel::Browse);
}

std::size_t TBatchPanel::Modules() const { return static_cast<std::size_t>(ui.spnModules->value()); }

std::size_t TBatchPanel::Attempts() const {
    return static_cast<std::size_t>(ui.lstModules->topLevelItemCount());
}

QString TBatchPanel::Position(std::size_t done) const {
    return tr("Module %1 of %2").arg(done + 1).arg(plan_ ? plan_->Job().Modules : Modules());
}

std::unique_ptr<TBatchPlan> TBatchPanel::Prepare() {
    if (!source_)
        return nullptr;
    const TBatchJob job{*source_, ui.cbCount->currentData().toString().toStdString(), Modules()};
    // The record and every value are checked before anything is sent.
    auto record = std::make_unique<TRecordFile>();
    std::vector<kelvara::TRecordRow> rows;
    const QString path = ui.edtRecord->text().trimmed();
    if (!path.isEmpty()) {
        std::string why;
        if (!record->Open(QFile::encodeName(path).toStdString(), rows, why)) {
            emit status(tr("Cannot use the record %1: %2.").arg(path, FromBytes(why)));
            ui.edtRecord->setFocus(Qt::OtherFocusReason);
            return nullptr;
        }
    } else {
        record.reset();
    }
    auto made = TBatchPlan::Make(job, rows);
    if (const auto* refused = std::get_if<TBatchRefusal>(&made)) {
        emit status(refused->Record
                        ? tr("Cannot use the record %1: %2.").arg(path, FromBytes(refused->Text))
                        : tr("Cannot set up %1 modules: %2").arg(job.Modules).arg(FromBytes(refused->Text)));
        (refused->Record ? static_cast<QWidget*>(ui.edtRecord) : ui.spnModules)
            ->setFocus(Qt::OtherFocusReason);
        return nullptr;
    }
    auto plan = std::make_unique<TBatchPlan>(std::get<TBatchPlan>(std::move(made)));
    plan_ = plan.get();
    record_ = std::move(record);
    ui.lstModules->clear();
    ui.lstModules->show();
    return plan;
}

bool TBatchPanel::See(const TEvent& event, const std::string& port) {
    if (const auto* taken = std::get_if<TModuleTaken>(&event)) {
        auto* row = new QTreeWidgetItem(ui.lstModules);
        row->setText(0, QString::number(taken->Attempt));
        row->setText(1, FromBytes(BatchValues(source_->Kind, taken->Fields)));
        row->setText(2, tr("being set up"));
        ui.lstModules->scrollToItem(row);
        emit status(tr("%1: sending %2...")
                        .arg(Position(plan_->Done()), FromBytes(BatchValues(source_->Kind, taken->Fields))));
    } else if (const auto* ended = std::get_if<TModuleEnded>(&event)) {
        std::string why;
        if (record_ && !record_->Append(plan_->Row(port, ended->Fields, ended->Failure), why)) {
            emit status(tr("Cannot write the record: %1. Stopped after module %2.")
                            .arg(FromBytes(why))
                            .arg(ended->Attempt));
            return false;
        }
        QTreeWidgetItem* row = ui.lstModules->topLevelItem(ui.lstModules->topLevelItemCount() - 1);
        row->setText(2, ended->SetUp() ? tr("set up")
                                       : tr("failed: %1: %2").arg(FromBytes(ended->Failure->Command),
                                                                  FromBytes(FailureText(*ended->Failure))));
    } else if (const auto* awaited = std::get_if<TModuleAwaited>(&event)) {
        switch (awaited->What) {
        case TAwaited::Module:
            emit status(tr("%1: waiting for a module on %2...").arg(Position(awaited->Done), FromBytes(port)));
            break;
        case TAwaited::Removal:
            emit status(tr("%1 set up; remove it, then put in the next.")
                            .arg(tr("Module %1").arg(ui.lstModules->topLevelItemCount())));
            break;
        case TAwaited::Port:
            emit status(tr("%1: waiting for %2 to come back...").arg(Position(awaited->Done), FromBytes(port)));
            break;
        }
    }
    return true;
}

void TBatchPanel::End() {
    record_.reset();
    plan_ = nullptr;
}

void TBatchPanel::Browse() {
    const QString path = QFileDialog::getSaveFileName(
        window_, tr("Record File"), ui.edtRecord->text(), tr("CSV files (*.csv);;All files (*)"),
        nullptr, QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        ui.edtRecord->setText(path);
}
