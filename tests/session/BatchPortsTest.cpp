// A batch over in-memory ports, by plain calls with the time given: modules taken and ended,
// probes, rows of the record written after each delivery, and a record that cannot be written.
#include "SessionRig.h"

#include "BatchPorts.h"

#include <QTemporaryDir>

namespace kelvara::testing {
namespace {

TBatchPlan Plan(std::size_t modules) {
    return std::get<TBatchPlan>(
        TBatchPlan::Make({kelvara::DefaultSource(kelvara::TListKind::Beacon), "minor", modules}, {}));
}

// A module on a port: it answers every command "OK" while `present`, then (once its list has
// come, when `leaves`) goes.
void Module(TRig& rig, bool present, bool leaves = true) {
    auto here = std::make_shared<bool>(present);
    rig.port->Answer = [here, leaves](const std::string& written) {
        if (!*here)
            return std::string();
        if (leaves && written.starts_with("AT+RESET"))
            *here = false;
        return std::string("OK\r\n");
    };
}

struct TBatchRig {
    explicit TBatchRig(std::size_t ports, std::size_t modules, TRecordFile* record = nullptr)
        : plan(Plan(modules)), batch(plan, kNoPause, record) {
        auto clock = std::make_shared<TTestClock>();
        for (std::size_t i = 0; i < ports; ++i) {
            rigs.push_back(std::make_unique<TRig>(clock));
            batch.Add("mem" + std::to_string(i), *rigs.back()->session);
        }
        QObject::connect(&batch, &TBatchPorts::batchEvent, [this](std::size_t port, std::size_t module, const TEvent& event) {
            seen.push_back(std::to_string(port) + ':' + std::to_string(module) + ' ' +
                           Describe(event).substr(Describe(event).find(' ') + 1));
        });
        QObject::connect(&batch, &TBatchPorts::recordFailed,
                         [this](std::size_t module, const QString&) { seen.push_back("record failed " + std::to_string(module)); });
        QObject::connect(&batch, &TBatchPorts::finished, [this](TResult result) {
            seen.push_back(result == TResult::Completed ? "finished completed" : "finished cancelled");
        });
    }
    std::vector<TRig*> All() {
        std::vector<TRig*> all;
        for (auto& rig : rigs)
            all.push_back(rig.get());
        return all;
    }
    // The batch's own news: modules taken and ended, and its end.
    TLog Modules() const {
        TLog modules;
        for (const std::string& line : seen)
            if (line.find(" take ") != std::string::npos || line.find(" end ") != std::string::npos ||
                !std::isdigit(static_cast<unsigned char>(line.front())))
                modules.push_back(line);
        return modules;
    }

    TBatchPlan plan;
    std::vector<std::unique_ptr<TRig>> rigs;
    TBatchPorts batch;
    TLog seen;
};

// The probe of a port still waiting for a module has its answer (or its silence) before the
// port stops, once another port has set up the last module.
TEST(BatchPorts, APortProbingWhenThePlanCompletesEndsItsProbeFirst) {
    TBatchRig rig(2, 1);
    Module(*rig.rigs[0], true);
    Module(*rig.rigs[1], false); // no module here: its "AT" goes unanswered
    rig.batch.Start();
    Pump(rig.All(), 60000);
    EXPECT_EQ(rig.seen.back(), "finished completed");
    const TLog& probing = rig.rigs[1]->log;
    ASSERT_GE(probing.size(), 3u);
    // Every "AT" written has its outcome before the run ends.
    int open = 0;
    for (const std::string& line : probing) {
        if (line.find(" > AT") != std::string::npos)
            ++open;
        if (line.find(" no answer ") != std::string::npos)
            --open;
    }
    EXPECT_EQ(open, 0) << ::testing::PrintToString(probing);
}

// A new record in a folder of its own.
struct TNewRecord {
    TNewRecord() {
        std::vector<kelvara::TRecordRow> rows;
        std::string why;
        File.Open(Path.toStdString(), rows, why);
    }
    QTemporaryDir Folder;
    QString Path = Folder.filePath(QStringLiteral("record.csv"));
    TRecordFile File;
};

TEST(BatchPorts, AModuleStoppedAtOnceEndsAsCutShortWithItsRow) {
    TNewRecord record;
    ASSERT_TRUE(record.File.IsOpen());
    const QString& path = record.Path;
    TBatchRig rig(1, 2, &record.File);
    rig.rigs[0]->port->Answer = [](const std::string& written) {
        return written.starts_with("AT+MARJ") ? std::string() : std::string("OK\r\n");
    };
    rig.batch.Start();
    Pump(rig.All(), 50); // the module under way, its list waiting for an answer
    ASSERT_TRUE(rig.batch.SettingUp());
    rig.batch.StopAtOnce();
    EXPECT_EQ(rig.Modules(), (TLog{"0:1 take 1 minor=10125", "0:1 end 1 failed (stopped at once)",
                                   "finished cancelled"}));
    EXPECT_NE(ReadFile(path).find("(stopped at once)"), std::string::npos) << ReadFile(path);
}

// A module's row is on disk when its end is told, written once the session has told its step
// (never while a handler is being told), and what the port told after it keeps its place.
TEST(BatchPorts, ARowIsWrittenAfterTheDeliveryAndBeforeTheEndIsTold) {
    TNewRecord record;
    TBatchRig rig(1, 2, &record.File);
    Module(*rig.rigs[0], true, false); // it stays: the batch waits for its removal
    TLog told;
    QObject::connect(&rig.batch, &TBatchPorts::batchEvent, [&](std::size_t, std::size_t module, const TEvent& event) {
        if (std::holds_alternative<TModuleEnded>(event))
            told.push_back("end " + std::to_string(module) + (rig.rigs[0]->session->Delivering() ? " delivering" : "") +
                           (ReadFile(record.Path).find(module == 1 ? "10125" : "10126") != std::string::npos ? " on disk" : ""));
        else if (std::holds_alternative<TModuleAwaited>(event))
            told.push_back("await " + std::to_string(module));
    });
    rig.batch.Start();
    Pump(rig.All(), 60000);
    EXPECT_EQ(told, (TLog{"await 0", "end 1 on disk", "await 0"}));
}

// A record that can take no more stops every port, and the front hears why before the end.
TEST(BatchPorts, ARecordThatCannotBeWrittenIsToldBeforeTheBatchEnds) {
    TNewRecord record;
    ASSERT_TRUE(record.File.IsOpen());
    const QString& path = record.Path;
    TBatchRig rig(1, 2, &record.File);
    Module(*rig.rigs[0], true);
    // The file may grow no more: its next row fails as a full disk would.
    WithFilesLimitedTo(ReadFile(path).size(), [&] {
        rig.batch.Start();
        Pump(rig.All(), 60000);
    });
    EXPECT_EQ(rig.Modules(), (TLog{"0:1 take 1 minor=10125", "record failed 1", "finished cancelled"}));
    EXPECT_FALSE(rig.batch.Running());
}

} // namespace
} // namespace kelvara::testing
