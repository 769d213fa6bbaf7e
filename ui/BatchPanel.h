#pragma once

// The module window's batch: how many modules, which value counts up, the record; and the table
// of the modules done, each with its values and what became of it.

#include "BatchPlan.h"
#include "RecordFile.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace Ui {
class TfrmModule;
}
class QWidget;

class TBatchPanel : public QObject {
    Q_OBJECT

  public:
    // Without a source (a list typed elsewhere), there is no batch to run.
    TBatchPanel(Ui::TfrmModule& ui, std::optional<kelvara::TListSource> source, QWidget* window);

    bool Available() const { return source_.has_value(); }
    // The batch as chosen, with its record read and every value checked; nothing, with the
    // status said and the focus on the field at fault, when it cannot run.
    std::unique_ptr<kelvara::link::TBatchPlan> Prepare();
    // An event of the batch running on the port: a module taken shows as a row, a module ended
    // is recorded (false, with the status said, when the record cannot be written).
    bool See(const kelvara::link::TEvent& event, const std::string& port);
    // The batch is over: the record is closed.
    void End();

    // "Module 3 of 9": the module the batch is at.
    QString Position(std::size_t done) const;
    std::size_t Modules() const;
    // Modules taken so far in this batch.
    std::size_t Attempts() const;

  signals:
    void status(const QString& text);

  private:
    void Browse();

    Ui::TfrmModule& ui;
    QWidget* window_;
    std::optional<kelvara::TListSource> source_;
    std::unique_ptr<kelvara::link::TRecordFile> record_;
    const kelvara::link::TBatchPlan* plan_ = nullptr;
};
