#pragma once

#include "CommandTypes.h"
#include "ListSource.h"

#include <QMainWindow>

#include <memory>
#include <string>

namespace Ui {
class TfrmMain;
}

class QLineEdit;

// The main window: the study page, the iBeacon page and a placeholder page.
class TfrmMain : public QMainWindow {
    Q_OBJECT

  public:
    // Caption of every rejection's message box.
    static constexpr const char* kMessageCaption = "http://www.corvex-lumara.example/";

    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

  public slots:
    // Checks the study page's fields and shows the list or the rejection.
    void btnShowClick();
    // Checks the iBeacon page's fields and shows the list or the rejection.
    void btniBeaconClick();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Makes the list from the page's fields, and shows it or the rejection.
    void ShowOutcome(const kelvara::TListSource& source);
    // Shows the message in a modal message box, then moves focus to the named edit.
    void ShowRejection(const std::string& message, kelvara::TInputField focusField);
    // The edit text as the bytes the generators check.
    static std::string FieldText(const QLineEdit* edit);

    std::unique_ptr<Ui::TfrmMain> ui;
};
